// The records' own rules, beyond what their property tables say: how the rows with a
// named hook are written and read back (opt-out list, version, rights bits, operation
// mode, ISO date-times, the chat sync time as decimal text), the phone rights, the
// valid-session rule, the call-flow URL placeholders and whole-record reads of the
// call-flow store under writes.
#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChatRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <UserRuntimeData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

#include <QTimeZone>

#include <atomic>
#include <climits>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

using DataSets::DataSet;
using DataSets::Impl::createDS;
using PhoneDefinitions::OperationMode;

namespace {

// Reads a plain set whose only entry is the given opt-out list.
std::set<QString> decode(const DataSet& list)
{
    AppSettingsDTO record;
    record.setOptOutMessages({QStringLiteral("stale")});
    record.deserializeUnencrypted(setOf({{"optOutMessages", list}}));
    return record.getOptOutMessages();
}

PhoneDefinitions::PhoneSettingsMode rights(int bits)
{
    return static_cast<PhoneDefinitions::PhoneSettingsMode>(bits);
}

int bits(const PhoneConfigurationDTO& r)
{
    return static_cast<int>(r.getLicence());
}

CallerIds callerIds(int count, std::int64_t stamp)
{
    CallerIds ids;
    for (int i = 0; i < count; ++i)
        ids.addCallerId(CallerIdDto(i, QStringLiteral("+3912345%1").arg(i), i == 0));
    ids.setLastUpdated(stamp);
    ids.setReadOnly(true);
    return ids;
}

} // namespace

TEST(AppRules, OptOutMessagesAreAListInStringOrderReadUpToTheFirstNonText)
{
    std::set<QString> messages;
    for (int i = 0; i <= 10; ++i)
        messages.insert(QStringLiteral("message %1").arg(i));
    AppSettingsDTO record;
    record.setOptOutMessages(messages);
    const DataSet list = valueOf<DataSet>(record.serializeUnencrypted(), "optOutMessages").value();
    EXPECT_TRUE(list->isList());
    EXPECT_EQ(valueOf<QString>(list, "2"), QStringLiteral("message 10"))
        << "string order, numbered positions";
    EXPECT_EQ(valueOf<QString>(list, "10"), QStringLiteral("message 9"));
    EXPECT_EQ(decode(list), messages);

    // The set's own order decides, and any key names are accepted.
    EXPECT_EQ(decode(setOf({{"z", QStringLiteral("first")},
                            {"y", QStringLiteral("second")},
                            {"a", 5},
                            {"m", QStringLiteral("after")}})),
              (std::set<QString>{QStringLiteral("first"), QStringLiteral("second")}));
    EXPECT_TRUE(decode(setOf({{"0", createDS(false)}, {"1", QStringLiteral("ignored")}})).empty());
}

TEST(AppRules, OptOutListAndVersionFollowTheStoredSetAnEmptyMeetingURLIsNotWritten)
{
    using P = AppProperty;
    const DataSet mistyped = setOf({{"optOutMessages", QStringLiteral("not a set")},
                                    {"version", 3},
                                    {"outlookImport", 0},
                                    {"meetingURL", false},
                                    {"userSettings", QStringLiteral("not a set")}});
    for (const DataSet& stored : {createDS(false), mistyped, DataSet()}) {
        AppRuntimeData store, twin;
        changeEvery<P>(store);
        changeEvery<P>(twin);
        const DataSet settings = store.getData<DataSet, P::UserSettings>();
        store.deserializeUnencrypted(stored);
        EXPECT_EQ(differing<P>(store, twin), (Names{"OptOutMessages", "Version"}));
        EXPECT_TRUE((store.getData<std::set<QString>, P::OptOutMessages>()).empty());
        EXPECT_TRUE((store.getData<QString, P::Version>()).isNull());
        EXPECT_EQ((store.getData<DataSet, P::UserSettings>()), settings) << "kept";
    }
    EXPECT_FALSE(valueOf<QString>(AppSettingsDTO().serializeUnencrypted(), "meetingURL"))
        << "an empty meeting URL is not written";
    // Stored user settings are taken as the very set, not a copy, and copies share it.
    const DataSet settings = setOf({{"volume", 3}});
    AppRuntimeData store;
    store.deserializeUnencrypted(setOf({{"userSettings", settings}}));
    EXPECT_EQ((store.getData<DataSet, P::UserSettings>()), settings);
    EXPECT_EQ((AppRuntimeData(store).getData<DataSet, P::UserSettings>()), settings);
}

TEST(PhoneRules, RightsBitsChangeOnlyWhatTheyName)
{
    // Bits beyond the two rights are carried through every change.
    for (int high : {0, 0x70, INT_MIN}) {
        PhoneConfigurationDTO r;
        r.setLicence(rights(high));
        EXPECT_FALSE(r.isCTI() || r.isSoftPhone());
        r.setSoftPhone(true);
        EXPECT_EQ(bits(r), high | 3) << "the soft phone brings CTI with it";
        r.setCTI(false);
        EXPECT_EQ(bits(r), high | 2);
        EXPECT_TRUE(r.isSoftPhone() && !r.isCTI());
        r.setCTI(true);
        r.setSoftPhone(false);
        EXPECT_EQ(bits(r), high | 1) << "CTI stays when the soft phone goes";
        EXPECT_TRUE(r.isCTI() && !r.isSoftPhone());
    }
}

TEST(PhoneRules, RightsAreStoredWholeAndReadBackOnlyWithCTIOrSoftPhone)
{
    PhoneConfigurationDTO written;
    written.setLicence(rights(0x106));
    EXPECT_EQ(valueOf<int>(written.serializeEncrypted(), "phoneLicense"), 0x106);

    const std::pair<int, int> cases[] = {
        {4, 0},     {5, 5},         {2, 2},   {1, 1},       {0, 0},
        {0x104, 0}, {0x106, 0x106}, {-1, -1}, {INT_MIN, 0}, {INT_MIN | 1, INT_MIN | 1}};
    for (const auto& [stored, expected] : cases) {
        PhoneConfigurationDTO r;
        r.setLicence(rights(3)); // whatever was there before is replaced
        r.deserializeEncrypted(setOf({{"phoneLicense", stored}}));
        EXPECT_EQ(bits(r), expected) << "stored " << stored;
    }
    // Without a usable value the current rights go through the same mask.
    for (const DataSet& bad : {createDS(false), DataSet(), setOf({{"phoneLicense", QStringLiteral("3")}})}) {
        for (const auto& [held, expected] : {std::pair{6, 6}, std::pair{4, 0}}) {
            PhoneConfigurationDTO r;
            r.setLicence(rights(held));
            r.deserializeEncrypted(bad);
            EXPECT_EQ(bits(r), expected);
        }
    }
}

TEST(PhoneRules, SyncTimeIsIsoTextWithMillisecondsAndForgottenWhenUnreadable)
{
    const std::pair<QDateTime, QString> syncs[] = {
        {QDateTime(QDate(2023, 11, 5), QTime(8, 9, 10, 123), QTimeZone(5 * 3600 + 1800)),
         "2023-11-05T08:09:10.123+05:30"},
        {QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59, 7), Qt::UTC), "2024-01-31T23:59:59.007Z"},
        {QDateTime(), ""}};
    for (const auto& [sync, text] : syncs) {
        PhoneConfigurationDTO r;
        r.setLastPhoneBookSync(sync);
        const DataSet ds = r.serializeUnencrypted();
        EXPECT_EQ(valueOf<QString>(ds, "lastPhoneBookSync"), text);
        PhoneConfigurationDTO restored;
        restored.deserializeUnencrypted(ds);
        EXPECT_EQ(restored.getLastPhoneBookSync(), sync);
        EXPECT_EQ(restored.getLastPhoneBookSync().offsetFromUtc(), sync.offsetFromUtc());
    }
    // Absent or unreadable: no synchronisation is known any more.
    for (const DataSet& ds : {DataSet(), setOf({{"lastPhoneBookSync", QStringLiteral("yesterday")}}),
                              setOf({{"lastPhoneBookSync", 1}})}) {
        PhoneConfigurationDTO r;
        r.setLastPhoneBookSync(QDateTime(QDate(2022, 6, 1), QTime(12, 0), Qt::UTC));
        r.deserializeUnencrypted(ds);
        EXPECT_TRUE(r.getLastPhoneBookSync().isNull());
    }
}

TEST(PhoneRules, OnlyTheTwoKnownOperationModesAreReadAndVolumeKeepsAllBits)
{
    const std::pair<DataSets::Impl::Value, OperationMode> modes[] = {
        {2, OperationMode::DeskPhoneMode},       {-1, OperationMode::DeskPhoneMode},
        {INT_MIN, OperationMode::DeskPhoneMode}, {INT_MAX, OperationMode::DeskPhoneMode},
        {true, OperationMode::DeskPhoneMode},    {0, OperationMode::SoftPhoneMode}};
    for (const auto& [stored, expected] : modes) {
        PhoneConfigurationDTO r;
        r.setCurrentMode(OperationMode::DeskPhoneMode);
        r.deserializeUnencrypted(setOf({{"currentMode", stored}}));
        EXPECT_EQ(r.getCurrentMode(), expected);
    }

    PhoneConfigurationDTO r;
    EXPECT_EQ(r.getRingToneVolume(), 30u) << "the default volume";
    r.setRingToneVolume(0xFFFFFFFFu); // all 32 bits survive the signed slot
    PhoneConfigurationDTO restored;
    restored.deserializeUnencrypted(r.serializeUnencrypted());
    EXPECT_EQ(restored.getRingToneVolume(), 0xFFFFFFFFu);
    restored.deserializeUnencrypted(setOf({{"ringToneVolume", 0}}));
    EXPECT_EQ(restored.getRingToneVolume(), 0u);
}

TEST(ChatRules, LastSyncIsDecimalTextAndOnlyAPositiveNumberIsReadBack)
{
    for (const auto& [value, text] : {std::pair<long long, const char*>{0, "0"},
                                      {-5, "-5"},
                                      {std::numeric_limits<long long>::max(), "9223372036854775807"},
                                      {std::numeric_limits<long long>::min(), "-9223372036854775808"}}) {
        ChatConfigurationDTO r;
        r.setLastChatSync(value);
        EXPECT_EQ(valueOf<QString>(r.serializeUnencrypted(), "chatLastSynch"), QLatin1String(text));
    }

    const auto withText = [](const char* text) {
        return setOf({{"chatLastSynch", QString::fromLatin1(text)}});
    };
    const std::pair<DataSet, long long> cases[] = {
        {createDS(false), 0}, // absent: the earlier value does not survive
        {DataSet(), 0},        {setOf({{"chatLastSynch", 42}}), 0}, // not text
        {withText("0"), 0},    {withText("-5"), 0},
        {withText(""), 0},     {withText("12abc"), 0},
        {withText("0x10"), 0}, {withText("99999999999999999999"), 0}, // beyond 64 bits
        {withText("42"), 42},  {withText("9223372036854775807"), std::numeric_limits<long long>::max()},
    };
    for (const auto& [ds, expected] : cases) {
        ChatConfigurationDTO r;
        r.setLastChatSync(1700000000123LL);
        r.deserializeUnencrypted(ds);
        EXPECT_EQ(r.getLastChatSync(), expected)
            << qPrintable(valueOf<QString>(ds, "chatLastSynch").value_or("(no text)"));
    }
}

TEST(UserRules, ValidSessionNeedsExactlyUserNameAppKeyAndWid)
{
    using P = UserProperty;
    using Setter = void (UserRuntimeData::*)(const QString&);
    const Setter needed[] = {&UserRuntimeData::setData<QString, P::UserName>,
                             &UserRuntimeData::setData<QString, P::AppKey>,
                             &UserRuntimeData::setData<QString, P::WID>};
    UserRuntimeData store;
    EXPECT_FALSE(store.isValidSession());
    for (const Setter set : needed)
        (store.*set)(QStringLiteral("x"));
    EXPECT_TRUE(store.isValidSession()) << "password and profile play no part";
    for (const Setter set : needed) {
        (store.*set)(QString());
        EXPECT_FALSE(store.isValidSession());
        (store.*set)(QStringLiteral(" ")); // length counts, no trimming
        EXPECT_TRUE(store.isValidSession());
    }
}

TEST(CallFlowStore, WholeRecordReadIsOneMoment)
{
    // The writer moves PBX, the identities and the extension forward in that order,
    // one setData each, and the identity lists change length on every step. A record
    // read in one piece therefore always has pbx >= stamp >= extension >= pbx - 1 and
    // a list that matches its own stamp; reading field by field, or copying a list
    // while it is being replaced, breaks that.
    using P = CallFlowProperty;
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
        return stamp == 0 ? ids == CallerIds() : ids == callerIds(int(stamp % 7 * 5), stamp);
    };

    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int n = 0; n < 2; ++n) {
        readers.emplace_back([&] {
            do {
                const auto r = store.getData<CallFlowConfigurationDTO, P::CallFlowConfiguration>();
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
    EXPECT_EQ((store.getData<QString, P::Extension>()), QString::number(kSteps));
}

TEST(CallFlowPlaceholders, NewValueReplacesEveryExactOccurrenceOnceAndVerbatim)
{
    const QString twice = QStringLiteral("https://h/fwd?to=%NEWVALUE%&again=%NEWVALUE%");
    const QString nearMisses = QStringLiteral("a=%newvalue%&b=%NewValue%&c=NEWVALUE&d=%NEWVALUE");
    const struct
    {
        QString url, value, expected;
    } cases[] = {
        {twice, "123", "https://h/fwd?to=123&again=123"},
        {twice, QString(), "https://h/fwd?to=&again="},
        {twice, "", "https://h/fwd?to=&again="},
        {nearMisses, "x", nearMisses}, // only the exact spelling counts
        // Inserted text is not scanned again, and occurrences do not overlap.
        {"v=%NEWVALUE%", "<%NEWVALUE%>", "v=<%NEWVALUE%>"},
        {"%NEWVALUE%NEWVALUE%", "1", "1NEWVALUE%"},
        {"q=%NEWVALUE%", " a b&c=d% ", "q= a b&c=d% "}, // no encoding, no trimming
    };
    for (const auto& c : cases) {
        QString url = c.url;
        CallFlowRuntimeData::defineNewValueURLPlaceHolder(url, c.value);
        EXPECT_EQ(url, c.expected) << qPrintable(c.url) << " with " << qPrintable(c.value);
    }
}

TEST(CallFlowPlaceholders, IncomingFillsDesktopThenMobileThenOnlyAGivenLandline)
{
    const QString all =
        QStringLiteral("d=%INCOMINGDESKTOP%&m=%INCOMINGMOBILE%&l=%INCOMINGLANDLINE%&d2=%INCOMINGDESKTOP%");
    const QString two = QStringLiteral("d=%INCOMINGDESKTOP%&m=%INCOMINGMOBILE%");
    const struct
    {
        QString url, desktop, mobile, landline, expected;
    } cases[] = {
        {all, "D", "M", "L", "d=D&m=M&l=L&d2=D"},
        {all, "D", "M", QString(), "d=D&m=M&l=%INCOMINGLANDLINE%&d2=D"},
        {all, "D", "M", "", "d=D&m=M&l=%INCOMINGLANDLINE%&d2=D"},
        {all, QString(), "", "L", "d=&m=&l=L&d2="},
        {"%incomingmobile%", "D", "M", "L", "%incomingmobile%"},
        // Each step works on the result of the one before.
        {two, "%INCOMINGMOBILE%", "M", QString(), "d=M&m=M"},
        {two, "%INCOMINGLANDLINE%", "%INCOMINGLANDLINE%", "L", "d=L&m=L"},
        {two, "%INCOMINGLANDLINE%", "M", QString(), "d=%INCOMINGLANDLINE%&m=M"}, // no landline, no step
        {two, "D", "%INCOMINGDESKTOP%", "L", "d=D&m=%INCOMINGDESKTOP%"},         // the desktop step is over
    };
    for (const auto& c : cases) {
        QString url = c.url;
        CallFlowRuntimeData::defineIncomingOnURLPlaceHolder(url, c.desktop, c.mobile, c.landline);
        EXPECT_EQ(url, c.expected) << qPrintable(c.url) << " with " << qPrintable(c.desktop) << ", "
                                   << qPrintable(c.mobile) << ", " << qPrintable(c.landline);
    }
}
