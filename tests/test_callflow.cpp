#include <CallFlowConfigurationDTO.h>
#include <CallFlowRuntimeData.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <optional>
#include <ostream>
#include <thread>
#include <type_traits>
#include <vector>

void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

using Record = CallFlowConfigurationDTO;
using P = CallFlowProperty;

// Which record accessors belong to which property number: written out here, apart
// from the store's table, so that a row bound to the wrong field shows up.
struct TextField
{
    P property;
    QString (Record::*get)() const;
    void (Record::*set)(QString);
};
struct Switch
{
    P property;
    bool (Record::*get)() const;
    void (Record::*set)(bool);
};

const Switch kSwitches[] = {
    {P::EnableCallFlow, &Record::getEnableCallFlow, &Record::setEnableCallFlow},
    {P::EnableCallFlowMobile, &Record::getEnableCallFlowMobile, &Record::setEnableCallFlowMobile},
    {P::EnableCallerID, &Record::getEnableCallerID, &Record::setEnableCallerID},
    {P::EnableMimit, &Record::getEnableMimit, &Record::setEnableMimit},
};

const TextField kTexts[] = {
    {P::PBX, &Record::getPBX, &Record::setPBX},
    {P::Extension, &Record::getExtension, &Record::setExtension},
    {P::MSISDN, &Record::getMSISDN, &Record::setMSISDN},
    {P::SetDefaultCallerIdURL, &Record::getSetDefaultCallerIdURL, &Record::setSetDefaultCallerIdURL},
    {P::SetWifiCallExtensionURL, &Record::getSetWifiCallExtensionURL, &Record::setSetWifiCallExtensionURL},
    {P::SetWifiCallMobileURL, &Record::getSetWifiCallMobileURL, &Record::setSetWifiCallMobileURL},
    {P::GetWifiCallExtensionURL, &Record::getGetWifiCallExtensionURL, &Record::setGetWifiCallExtensionURL},
    {P::GetWifiCallMobileURL, &Record::getGetWifiCallMobileURL, &Record::setGetWifiCallMobileURL},
    {P::GetCallForwardExtensionURL, &Record::getGetCallForwardExtensionURL,
     &Record::setGetCallForwardExtensionURL},
    {P::GetCallForwardMobileURL, &Record::getGetCallForwardMobileURL, &Record::setGetCallForwardMobileURL},
    {P::SetCallForwardOnBusyExtensionURL, &Record::getSetCallForwardOnBusyExtensionURL,
     &Record::setSetCallForwardOnBusyExtensionURL},
    {P::SetCallForwardOnNotAnsweredExtensionURL, &Record::getSetCallForwardOnNotAnsweredExtensionURL,
     &Record::setSetCallForwardOnNotAnsweredExtensionURL},
    {P::SetCallForwardOnUnReachableExtensionURL, &Record::getSetCallForwardOnUnReachableExtensionURL,
     &Record::setSetCallForwardOnUnReachableExtensionURL},
    {P::SetCallForwardImmediatelyExtensionURL, &Record::getSetCallForwardImmediatelyExtensionURL,
     &Record::setSetCallForwardImmediatelyExtensionURL},
    {P::SetCallForwardOnBusyMobileURL, &Record::getSetCallForwardOnBusyMobileURL,
     &Record::setSetCallForwardOnBusyMobileURL},
    {P::SetCallForwardOnNotAnsweredMobileURL, &Record::getSetCallForwardOnNotAnsweredMobileURL,
     &Record::setSetCallForwardOnNotAnsweredMobileURL},
    {P::SetCallForwardOnUnReachableMobileURL, &Record::getSetCallForwardOnUnReachableMobileURL,
     &Record::setSetCallForwardOnUnReachableMobileURL},
    {P::SetCallForwardImmediatelyMobileURL, &Record::getSetCallForwardImmediatelyMobileURL,
     &Record::setSetCallForwardImmediatelyMobileURL},
    {P::SetCallWaitingExtensionURL, &Record::getSetCallWaitingExtensionURL,
     &Record::setSetCallWaitingExtensionURL},
    {P::SetCallWaitingMobileURL, &Record::getSetCallWaitingMobileURL, &Record::setSetCallWaitingMobileURL},
    {P::GetVIPListURL, &Record::getGetVIPListURL, &Record::setGetVIPListUrl},
    {P::SetVIPListURL, &Record::getSetVIPListURL, &Record::setSetVIPListURL},
    {P::SendPushToMobileURL, &Record::getSendPushToMobileURL, &Record::setSendPushToMobileURL},
};

static_assert(std::size(kSwitches) + std::size(kTexts) + 1 == 28, "every field has a row above");
static_assert(std::size(PropertyTable<CallFlowProperty>::rows) == 29, "the whole record plus 28 fields");

// A recognisable value per property number.
QString textFor(P p)
{
    return QStringLiteral("https://cf.example/%1?v=%NEWVALUE%").arg(static_cast<int>(p));
}

CallerIds callerIds(int count, std::int64_t stamp = 7)
{
    CallerIds ids;
    for (int i = 0; i < count; ++i)
        ids.addCallerId(CallerIdDto(i, QStringLiteral("+3912345%1").arg(i), i == 0));
    ids.setLastUpdated(stamp);
    ids.setReadOnly(true);
    return ids;
}

// What a record looks like after property `p` was given its test value.
void applyToRecord(Record& r, P p)
{
    for (const Switch& s : kSwitches) {
        if (s.property == p)
            (r.*s.set)(true);
    }
    for (const TextField& t : kTexts) {
        if (t.property == p)
            (r.*t.set)(textFor(p));
    }
    if (p == P::CallerId)
        r.setCallerId(callerIds(3));
}

Record filledRecord()
{
    Record r;
    for (const PropertyRow& row : PropertyTable<CallFlowProperty>::rows)
        applyToRecord(r, static_cast<P>(row.number));
    return r;
}

template <class T> T valueFor(P p)
{
    if constexpr (std::is_same_v<T, QString>)
        return textFor(p);
    else if constexpr (std::is_same_v<T, bool>)
        return true;
    else
        return callerIds(3);
}

// Writes every settable property of the store (or just `only`), one setData per row.
void fill(CallFlowRuntimeData& store, std::optional<P> only = std::nullopt)
{
    PropertyTable<CallFlowProperty>::forEach([&](auto tag, const char*) {
        using Tag = decltype(tag);
        if constexpr (Tag::settable) {
            if (!only || *only == Tag::property)
                store.setData<typename Tag::Type, Tag::property>(valueFor<typename Tag::Type>(Tag::property));
        }
    });
}

Record snapshot(const CallFlowRuntimeData& store)
{
    return store.getData<Record, P::CallFlowConfiguration>();
}

bool isEmpty(const DataSets::DataSet& ds)
{
    return ds && ds->isEmpty();
}

// A set holding entries of every kind under names a stored call-flow record might use.
DataSets::DataSet populatedSet()
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    DataSets::Impl::setDataValue(*ds, QStringLiteral("pbx"), QStringLiteral("other"));
    DataSets::Impl::setDataValue(*ds, QStringLiteral("enableCallFlow"), false);
    DataSets::Impl::setDataValue(*ds, QStringLiteral("enableMimit"), 0);
    DataSets::Impl::setDataValue(*ds, QStringLiteral("callerId"), DataSets::Impl::createDS(true));
    return ds;
}

} // namespace

// ---- record ----------------------------------------------------------------------

TEST(CallFlowRecord, DefaultsAreOffNullAndWithoutIdentities)
{
    const Record r;
    for (const Switch& s : kSwitches)
        EXPECT_FALSE((r.*s.get)());
    for (const TextField& t : kTexts)
        EXPECT_TRUE((r.*t.get)().isNull());
    EXPECT_EQ(r.getCallerId(), CallerIds());
    EXPECT_EQ(r, Record());
}

TEST(CallFlowRecord, EqualityTakesEveryFieldIntoAccount)
{
    const Record base = filledRecord();
    EXPECT_EQ(Record(base), base);
    for (const Switch& s : kSwitches) {
        Record other = base;
        (other.*s.set)(false);
        EXPECT_NE(other, base) << static_cast<int>(s.property);
    }
    for (const TextField& t : kTexts) {
        Record other = base;
        (other.*t.set)((base.*t.get)().toUpper()); // differs in letter case only
        EXPECT_NE(other, base) << static_cast<int>(t.property);
        (other.*t.set)(QString());
        EXPECT_NE(other, base) << static_cast<int>(t.property);
    }
    Record other = base;
    CallerIds ids = base.getCallerId();
    ids.setReadOnly(false); // same entries, one further member differs
    other.setCallerId(ids);
    EXPECT_NE(other, base);
}

TEST(CallFlowRecord, NullAndEmptyTextCompareEqual)
{
    Record a;
    Record b;
    b.setPBX(QStringLiteral(""));
    b.setGetVIPListUrl(QStringLiteral(""));
    EXPECT_EQ(a, b);
}

TEST(CallFlowRecord, IsNeverStored)
{
    Record r = filledRecord();
    const DataSets::DataSet first = r.serializeEncrypted();
    EXPECT_TRUE(isEmpty(first));
    EXPECT_TRUE(isEmpty(r.serializeUnencrypted()));
    EXPECT_NE(r.serializeEncrypted(), first); // a new set each time

    r.deserializeEncrypted(populatedSet());
    r.deserializeUnencrypted(populatedSet());
    r.deserializeEncrypted(DataSets::DataSet());
    EXPECT_EQ(r, filledRecord());
}

// ---- store -----------------------------------------------------------------------

TEST(CallFlowStore, EachPropertyReachesItsOwnField)
{
    PropertyTable<CallFlowProperty>::forEach([](auto tag, const char* name) {
        using Tag = decltype(tag);
        if constexpr (Tag::settable) {
            CallFlowRuntimeData store;
            store.setData<typename Tag::Type, Tag::property>(valueFor<typename Tag::Type>(Tag::property));
            Record expected;
            applyToRecord(expected, Tag::property);
            EXPECT_NE(expected, Record()) << name;
            EXPECT_EQ(snapshot(store), expected) << name;
            EXPECT_EQ((store.getData<typename Tag::Type, Tag::property>()),
                      valueFor<typename Tag::Type>(Tag::property))
                << name;
        }
    });
    EXPECT_EQ(snapshot(CallFlowRuntimeData()), Record());
}

TEST(CallFlowStore, ResetKeepsExactlyMobileSwitchMimitAndPushUrl)
{
    CallFlowRuntimeData store;
    fill(store);
    ASSERT_EQ(snapshot(store), filledRecord());

    store.resetData();

    Record expected;
    applyToRecord(expected, P::EnableCallFlowMobile);
    applyToRecord(expected, P::EnableMimit);
    applyToRecord(expected, P::SendPushToMobileURL);
    const Record after = snapshot(store);
    EXPECT_EQ(after, expected);
    // Cleared to null, not merely to empty text.
    for (const TextField& t : kTexts) {
        if (t.property != P::SendPushToMobileURL) {
            EXPECT_TRUE((after.*t.get)().isNull()) << static_cast<int>(t.property);
        }
    }
    // The identities go back to the default, their further members included.
    EXPECT_EQ((store.getData<CallerIds, P::CallerId>()), CallerIds());
}

TEST(CallFlowStore, IsNeverStoredThroughEitherInterface)
{
    CallFlowRuntimeData store;
    fill(store);
    IEncryptedSerializable& storage = store;
    EXPECT_TRUE(isEmpty(storage.serializeEncrypted()));
    EXPECT_TRUE(isEmpty(storage.serializeUnencrypted()));
    storage.deserializeEncrypted(populatedSet());
    storage.deserializeUnencrypted(populatedSet());
    storage.deserializeUnencrypted(DataSets::DataSet());
    EXPECT_EQ(snapshot(store), filledRecord());

    static_cast<IConfigurationResettable&>(store).resetData();
    EXPECT_TRUE((store.getData<QString, P::PBX>()).isNull());
}

TEST(CallFlowStore, ReadsAreCopies)
{
    CallFlowRuntimeData store;
    fill(store);
    const Record before = snapshot(store);
    const CallerIds ids = store.getData<CallerIds, P::CallerId>();
    store.resetData();
    EXPECT_EQ(before, filledRecord());
    EXPECT_EQ(ids, callerIds(3));
}

TEST(CallFlowStore, CopiesAreIndependentAndMovesHandOver)
{
    CallFlowRuntimeData source;
    fill(source);

    CallFlowRuntimeData copy(source);
    copy.resetData();
    EXPECT_EQ(snapshot(source), filledRecord());
    source.setData<QString, P::PBX>(QStringLiteral("changed"));
    EXPECT_TRUE((copy.getData<QString, P::PBX>()).isNull());

    CallFlowRuntimeData assigned;
    fill(assigned, P::SetVIPListURL);
    assigned = copy;
    EXPECT_EQ(snapshot(assigned), snapshot(copy));
    assigned.setData<bool, P::EnableMimit>(false);
    EXPECT_TRUE((copy.getData<bool, P::EnableMimit>()));

    const Record sourceValues = snapshot(source);
    CallFlowRuntimeData moved(std::move(source));
    EXPECT_EQ(snapshot(moved), sourceValues);
    CallFlowRuntimeData target;
    target = std::move(moved);
    EXPECT_EQ(snapshot(target), sourceValues);
}

TEST(CallFlowStore, WholeRecordReadIsOneMoment)
{
    // The writer moves PBX, the identities and the extension forward in that order,
    // one setData each, and the identity lists change length on every step. A record
    // read in one piece therefore always has pbx >= stamp >= extension >= pbx - 1 and
    // a list that matches its own stamp; reading field by field, or copying a list
    // while it is being replaced, breaks that.
    constexpr int kSteps = 10000;
    CallFlowRuntimeData store;
    std::atomic<bool> done{false};

    std::thread writer([&] {
        for (int i = 1; i <= kSteps; ++i) {
            store.setData<QString, P::PBX>(QString::number(i));
            store.setData<CallerIds, P::CallerId>(callerIds(i % 7 * 5, i));
            store.setData<QString, P::Extension>(QString::number(i));
        }
        done = true;
    });

    auto checkList = [](const CallerIds& ids) {
        const std::int64_t stamp = ids.getLastUpdated();
        if (stamp == 0)
            return ids == CallerIds();
        return ids == callerIds(int(stamp % 7 * 5), stamp);
    };

    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int n = 0; n < 2; ++n) {
        readers.emplace_back([&] {
            do {
                const Record r = snapshot(store);
                const int pbx = r.getPBX().toInt();
                const int extension = r.getExtension().toInt();
                const std::int64_t stamp = r.getCallerId().getLastUpdated();
                if (!(pbx >= stamp && stamp >= extension && extension >= pbx - 1) ||
                    !checkList(r.getCallerId()))
                    ++failures;
                if (!checkList(store.getData<CallerIds, P::CallerId>()))
                    ++failures;
            } while (!done);
        });
    }
    writer.join();
    for (std::thread& t : readers)
        t.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(snapshot(store).getExtension(), QString::number(kSteps));
}

// ---- URL placeholders ------------------------------------------------------------

namespace {

QString withNewValue(QString url, const QString& value)
{
    CallFlowRuntimeData::defineNewValueURLPlaceHolder(url, value);
    return url;
}

QString withIncoming(QString url, const QString& desktop, const QString& mobile, const QString& landline)
{
    CallFlowRuntimeData::defineIncomingOnURLPlaceHolder(url, desktop, mobile, landline);
    return url;
}

} // namespace

TEST(CallFlowPlaceholders, NewValueReplacesEveryExactOccurrenceOnce)
{
    const QString twice = QStringLiteral("https://h/fwd?to=%NEWVALUE%&again=%NEWVALUE%");
    EXPECT_EQ(withNewValue(twice, QStringLiteral("123")), QStringLiteral("https://h/fwd?to=123&again=123"));
    EXPECT_EQ(withNewValue(twice, QString()), QStringLiteral("https://h/fwd?to=&again="));
    EXPECT_EQ(withNewValue(twice, QStringLiteral("")), QStringLiteral("https://h/fwd?to=&again="));

    // Only the exact spelling counts.
    const QString nearMisses = QStringLiteral("a=%newvalue%&b=%NewValue%&c=NEWVALUE&d=%NEWVALUE");
    EXPECT_EQ(withNewValue(nearMisses, QStringLiteral("x")), nearMisses);

    // Inserted text is not scanned again, and occurrences do not overlap.
    EXPECT_EQ(withNewValue(QStringLiteral("v=%NEWVALUE%"), QStringLiteral("<%NEWVALUE%>")),
              QStringLiteral("v=<%NEWVALUE%>"));
    EXPECT_EQ(withNewValue(QStringLiteral("%NEWVALUE%NEWVALUE%"), QStringLiteral("1")),
              QStringLiteral("1NEWVALUE%"));

    // Verbatim: no encoding, no trimming.
    EXPECT_EQ(withNewValue(QStringLiteral("q=%NEWVALUE%"), QStringLiteral(" a b&c=d% ")),
              QStringLiteral("q= a b&c=d% "));
}

TEST(CallFlowPlaceholders, IncomingFillsDesktopMobileAndOnlyAGivenLandline)
{
    const QString url =
        QStringLiteral("d=%INCOMINGDESKTOP%&m=%INCOMINGMOBILE%&l=%INCOMINGLANDLINE%&d2=%INCOMINGDESKTOP%");
    EXPECT_EQ(withIncoming(url, QStringLiteral("D"), QStringLiteral("M"), QStringLiteral("L")),
              QStringLiteral("d=D&m=M&l=L&d2=D"));
    EXPECT_EQ(withIncoming(url, QStringLiteral("D"), QStringLiteral("M"), QString()),
              QStringLiteral("d=D&m=M&l=%INCOMINGLANDLINE%&d2=D"));
    EXPECT_EQ(withIncoming(url, QStringLiteral("D"), QStringLiteral("M"), QStringLiteral("")),
              QStringLiteral("d=D&m=M&l=%INCOMINGLANDLINE%&d2=D"));
    EXPECT_EQ(withIncoming(url, QString(), QStringLiteral(""), QStringLiteral("L")),
              QStringLiteral("d=&m=&l=L&d2="));
    EXPECT_EQ(withIncoming(QStringLiteral("%incomingmobile%"), QStringLiteral("D"), QStringLiteral("M"),
                           QStringLiteral("L")),
              QStringLiteral("%incomingmobile%"));
}

TEST(CallFlowPlaceholders, LaterStepsActOnEarlierValues)
{
    const QString url = QStringLiteral("d=%INCOMINGDESKTOP%&m=%INCOMINGMOBILE%");
    EXPECT_EQ(withIncoming(url, QStringLiteral("%INCOMINGMOBILE%"), QStringLiteral("M"), QString()),
              QStringLiteral("d=M&m=M"));
    EXPECT_EQ(withIncoming(url, QStringLiteral("%INCOMINGLANDLINE%"), QStringLiteral("%INCOMINGLANDLINE%"),
                           QStringLiteral("L")),
              QStringLiteral("d=L&m=L"));
    // Without a landline that step never runs, so the inserted placeholder stays.
    EXPECT_EQ(withIncoming(url, QStringLiteral("%INCOMINGLANDLINE%"), QStringLiteral("M"), QString()),
              QStringLiteral("d=%INCOMINGLANDLINE%&m=M"));
    // The desktop step is over by the time a mobile value brings its placeholder in.
    EXPECT_EQ(
        withIncoming(url, QStringLiteral("D"), QStringLiteral("%INCOMINGDESKTOP%"), QStringLiteral("L")),
        QStringLiteral("d=D&m=%INCOMINGDESKTOP%"));
}
