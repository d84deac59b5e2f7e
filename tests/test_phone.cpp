#include <PhoneConfigurationDTO.h>
#include <PhoneRuntimeData.h>

#include <gtest/gtest.h>

#include <QTimeZone>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

using PhoneDefinitions::OperationMode;
using PhoneDefinitions::PhoneSettingsMode;

namespace {

PhoneSettingsMode rights(int bits)
{
    return static_cast<PhoneSettingsMode>(bits);
}

int bits(PhoneSettingsMode mode)
{
    return static_cast<int>(mode);
}

QStringList keysOf(const DataSets::DataSet& ds)
{
    QStringList keys;
    DataSets::DataIterator it(ds);
    while (const DataSets::DataIterator* e = it.next())
        keys << e->getKey();
    return keys;
}

bool sameEntries(const DataSets::DataSet& a, const DataSets::DataSet& b)
{
    const std::vector<DataSets::Impl::Entry> x = a->entries();
    const std::vector<DataSets::Impl::Entry> y = b->entries();
    return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                      [](const auto& l, const auto& r) { return l.key == r.key && l.value == r.value; });
}

DataSets::DataSet setWith(const QString& key, const DataSets::Impl::Value& value)
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    ds->set(key, value);
    return ds;
}

// A value of the same type that differs from `v`.
QString otherThan(const QString& v)
{
    return v + QStringLiteral("-changed");
}
bool otherThan(bool v)
{
    return !v;
}
int otherThan(int v)
{
    return v + 7;
}
unsigned int otherThan(unsigned int v)
{
    return v + 7;
}
std::optional<int> otherThan(const std::optional<int>& v)
{
    return v ? std::nullopt : std::optional<int>(0);
}
template <class E> std::enable_if_t<std::is_enum_v<E>, E> otherThan(E v)
{
    return static_cast<E>(static_cast<int>(v) + 1);
}
QDateTime otherThan(const QDateTime& v)
{
    return v.isValid() ? v.addMSecs(1) : QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 678), Qt::UTC);
}

// Every property of `store` set to something other than its default.
void changeEveryProperty(PhoneRuntimeData& store)
{
    const PhoneRuntimeData defaults;
    PropertyTable<PhoneProperty>::forEach([&](auto tag, const char*) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        store.setData<T, Tag::property>(otherThan(defaults.getData<T, Tag::property>()));
    });
}

// The names of the properties among `only` on which `a` and `b` disagree.
std::vector<std::string> mismatches(const PhoneRuntimeData& a, const PhoneRuntimeData& b,
                                    const std::set<PhoneProperty>& only)
{
    std::vector<std::string> out;
    PropertyTable<PhoneProperty>::forEach([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        if (only.count(Tag::property) && !(a.getData<T, Tag::property>() == b.getData<T, Tag::property>()))
            out.push_back(name);
    });
    return out;
}

std::set<PhoneProperty> allProperties()
{
    std::set<PhoneProperty> all;
    for (const PropertyRow& row : PropertyTable<PhoneProperty>::rows)
        all.insert(static_cast<PhoneProperty>(row.number));
    return all;
}

std::set<PhoneProperty> allBut(const std::set<PhoneProperty>& excluded)
{
    std::set<PhoneProperty> rest;
    for (PhoneProperty p : allProperties())
        if (!excluded.count(p))
            rest.insert(p);
    return rest;
}

const std::set<PhoneProperty> kResettable = {PhoneProperty::HostName,  PhoneProperty::HostPort,
                                             PhoneProperty::Registrar, PhoneProperty::DTMFDuration,
                                             PhoneProperty::SRTP,      PhoneProperty::EnableCallRecording,
                                             PhoneProperty::CodecList};

const std::set<PhoneProperty> kStored = {
    PhoneProperty::Licence,           PhoneProperty::INDevice,          PhoneProperty::OUTDevice,
    PhoneProperty::CurrentMode,       PhoneProperty::LastLandlinePhone, PhoneProperty::SipAccount,
    PhoneProperty::Callback,          PhoneProperty::RingToneVolume,    PhoneProperty::RingToneDevice,
    PhoneProperty::UnseenMissedCalls, PhoneProperty::LastPhoneBookSync};

using Strings = std::vector<std::string>;

} // namespace

TEST(PhoneConfiguration, RightsBitsChangeOnlyWhatTheyName)
{
    PhoneConfigurationDTO r;
    r.setSoftPhone(true);
    EXPECT_EQ(bits(r.getLicence()), 3) << "soft phone brings CTI with it";
    r.setSoftPhone(false);
    EXPECT_EQ(bits(r.getLicence()), 1) << "CTI stays when the soft phone goes";
    EXPECT_TRUE(r.isCTI());
    EXPECT_FALSE(r.isSoftPhone());

    r.setLicence(rights(3));
    r.setCTI(false);
    EXPECT_EQ(bits(r.getLicence()), 2);
    EXPECT_TRUE(r.isSoftPhone());
    EXPECT_FALSE(r.isCTI());
    r.setCTI(true);
    EXPECT_EQ(bits(r.getLicence()), 3);

    // Bits beyond the two rights are carried through every change.
    for (int high : {0x70, INT_MIN}) {
        r.setLicence(rights(high));
        EXPECT_FALSE(r.isCTI());
        EXPECT_FALSE(r.isSoftPhone());
        r.setSoftPhone(true);
        EXPECT_EQ(bits(r.getLicence()), high | 3);
        r.setCTI(false);
        EXPECT_EQ(bits(r.getLicence()), high | 2);
        r.setSoftPhone(false);
        EXPECT_EQ(bits(r.getLicence()), high);
        r.setCTI(true);
        EXPECT_EQ(bits(r.getLicence()), high | 1);
    }
}

TEST(PhoneConfiguration, RightsAreStoredWholeAndReadBackOnlyWithCTIOrSoftPhone)
{
    PhoneConfigurationDTO written;
    written.setLicence(rights(0x106));
    written.setToken(QStringLiteral("secret"));
    const DataSets::DataSet ds = written.serializeEncrypted();
    EXPECT_EQ(keysOf(ds), QStringList{"phoneLicense"});
    int stored = 0;
    DataSets::Impl::getDataValue(ds.get(), QStringLiteral("phoneLicense"), stored);
    EXPECT_EQ(stored, 0x106);

    const std::vector<std::pair<int, int>> cases = {
        {4, 0},     {5, 5},         {2, 2},   {1, 1},       {0, 0},
        {0x104, 0}, {0x106, 0x106}, {-1, -1}, {INT_MIN, 0}, {INT_MIN | 1, INT_MIN | 1}};
    for (const auto& [value, expected] : cases) {
        PhoneConfigurationDTO r;
        r.setLicence(rights(3)); // whatever was there before is replaced
        r.deserializeEncrypted(setWith(QStringLiteral("phoneLicense"), value));
        EXPECT_EQ(bits(r.getLicence()), expected) << "stored " << value;
    }

    // Without a usable value the current rights go through the same mask.
    const std::vector<DataSets::DataSet> withoutRights = {
        DataSets::Impl::createDS(false), setWith(QStringLiteral("phoneLicense"), QStringLiteral("3")),
        setWith(QStringLiteral("phoneLicense"), true), DataSets::DataSet()};
    for (const DataSets::DataSet& bad : withoutRights) {
        PhoneConfigurationDTO r;
        r.setLicence(rights(6));
        r.deserializeEncrypted(bad);
        EXPECT_EQ(bits(r.getLicence()), 6);
        r.setLicence(rights(4));
        r.deserializeEncrypted(bad);
        EXPECT_EQ(bits(r.getLicence()), 0);
    }
}

TEST(PhoneConfiguration, PlainPartRoundTripsTheTenValues)
{
    const QDateTime offsetTime(QDate(2023, 11, 5), QTime(8, 9, 10, 123), QTimeZone(5 * 3600 + 1800));
    const QDateTime utcTime(QDate(2024, 1, 31), QTime(23, 59, 59, 7), Qt::UTC);
    for (const QDateTime& sync : {offsetTime, utcTime}) {
        PhoneConfigurationDTO r;
        r.setINDevice(QStringLiteral("Headset In"));
        r.setOUTDevice(QStringLiteral("Headset Out"));
        r.setCurrentMode(OperationMode::DeskPhoneMode);
        r.setLastLandlinePhone(QStringLiteral("+49 30 123456"));
        r.setSipAccount(QStringLiteral("sip:alice@example.net"));
        r.setCallback(true);
        r.setRingToneVolume(0xFFFFFFFFu); // all 32 bits survive the signed slot
        r.setRingToneDevice(QStringLiteral("Speakers"));
        r.setUnseenMissedCalls(3000000000u);
        r.setLastPhoneBookSync(sync);

        const DataSets::DataSet ds = r.serializeUnencrypted();
        EXPECT_EQ(keysOf(ds), (QStringList{"audioInputDevice", "audioOutputDevice", "currentMode",
                                           "lastLandlinePhone", "sipAccount", "callback", "ringToneVolume",
                                           "ringToneDevice", "unseenMissedCalls", "lastPhoneBookSync"}));

        PhoneConfigurationDTO restored;
        restored.deserializeUnencrypted(ds);
        EXPECT_TRUE(restored == r); // every other field is at its default on both sides
        EXPECT_EQ(restored.getRingToneVolume(), 0xFFFFFFFFu);
        EXPECT_EQ(restored.getUnseenMissedCalls(), 3000000000u);
        EXPECT_EQ(restored.getLastPhoneBookSync().toMSecsSinceEpoch(), sync.toMSecsSinceEpoch());
        EXPECT_EQ(restored.getLastPhoneBookSync().offsetFromUtc(), sync.offsetFromUtc());
    }

    // The text form carries the milliseconds and the offset.
    PhoneConfigurationDTO r;
    r.setLastPhoneBookSync(offsetTime);
    QString text;
    DataSets::Impl::getDataValue(r.serializeUnencrypted().get(), QStringLiteral("lastPhoneBookSync"), text);
    EXPECT_EQ(text, QStringLiteral("2023-11-05T08:09:10.123+05:30"));
    r.setLastPhoneBookSync(utcTime);
    DataSets::Impl::getDataValue(r.serializeUnencrypted().get(), QStringLiteral("lastPhoneBookSync"), text);
    EXPECT_EQ(text, QStringLiteral("2024-01-31T23:59:59.007Z"));
    r.setLastPhoneBookSync(QDateTime());
    DataSets::Impl::getDataValue(r.serializeUnencrypted().get(), QStringLiteral("lastPhoneBookSync"), text);
    EXPECT_TRUE(text.isEmpty());
}

TEST(PhoneConfiguration, PlainReadLeavesMissingFieldsButForgetsTheSyncTime)
{
    PhoneConfigurationDTO before;
    before.setINDevice(QStringLiteral("in"));
    before.setSipAccount(QStringLiteral("sip:bob@example.net"));
    before.setCallback(true);
    before.setCurrentMode(OperationMode::DeskPhoneMode);
    before.setRingToneVolume(55);
    before.setUnseenMissedCalls(4);
    before.setLastPhoneBookSync(QDateTime(QDate(2022, 6, 1), QTime(12, 0), Qt::UTC));

    for (const QString& syncText : {QString(), QStringLiteral("yesterday")}) {
        PhoneConfigurationDTO r = before;
        const DataSets::DataSet ds = DataSets::Impl::createDS(false);
        if (!syncText.isNull())
            DataSets::Impl::setDataValue(*ds, QStringLiteral("lastPhoneBookSync"), syncText);
        DataSets::Impl::setDataValue(*ds, QStringLiteral("sipAccount"), 17); // wrong kind
        r.deserializeUnencrypted(ds);
        EXPECT_TRUE(r.getLastPhoneBookSync().isNull());
        r.setLastPhoneBookSync(before.getLastPhoneBookSync());
        EXPECT_TRUE(r == before) << "only the sync time may change";
    }

    PhoneConfigurationDTO fresh;
    fresh.deserializeUnencrypted(DataSets::Impl::createDS(false));
    EXPECT_EQ(fresh.getRingToneVolume(), 30u);
    fresh.deserializeUnencrypted(setWith(QStringLiteral("ringToneVolume"), 0));
    EXPECT_EQ(fresh.getRingToneVolume(), 0u);
}

TEST(PhoneConfiguration, OnlyTheTwoKnownOperationModesAreRead)
{
    for (int bad : {2, -1, INT_MIN, INT_MAX}) {
        PhoneConfigurationDTO r;
        r.setCurrentMode(OperationMode::DeskPhoneMode);
        r.deserializeUnencrypted(setWith(QStringLiteral("currentMode"), bad));
        EXPECT_EQ(r.getCurrentMode(), OperationMode::DeskPhoneMode) << bad;
    }
    PhoneConfigurationDTO r;
    r.deserializeUnencrypted(setWith(QStringLiteral("currentMode"), true)); // wrong kind
    EXPECT_EQ(r.getCurrentMode(), OperationMode::SoftPhoneMode);
    r.deserializeUnencrypted(setWith(QStringLiteral("currentMode"), 1));
    EXPECT_EQ(r.getCurrentMode(), OperationMode::DeskPhoneMode);
    r.deserializeUnencrypted(setWith(QStringLiteral("currentMode"), 0));
    EXPECT_EQ(r.getCurrentMode(), OperationMode::SoftPhoneMode);
}

TEST(PhoneConfiguration, EqualityCoversEveryFieldButCallRecording)
{
    using Change = void (*)(PhoneConfigurationDTO&);
    const std::vector<std::pair<const char*, Change>> changes = {
        {"host name", [](PhoneConfigurationDTO& r) { r.setHostName("h"); }},
        {"host port", [](PhoneConfigurationDTO& r) { r.setHostPort(5060); }},
        {"user name", [](PhoneConfigurationDTO& r) { r.setUsername("u"); }},
        {"token", [](PhoneConfigurationDTO& r) { r.setToken("t"); }},
        {"flavour", [](PhoneConfigurationDTO& r) { r.setFlavour("f"); }},
        {"registrar", [](PhoneConfigurationDTO& r) { r.setRegistrar("r"); }},
        {"DTMF duration 0", [](PhoneConfigurationDTO& r) { r.setDTMFDuration(0); }},
        {"SRTP", [](PhoneConfigurationDTO& r) { r.setSRTP(false); }},
        {"input device", [](PhoneConfigurationDTO& r) { r.setINDevice("i"); }},
        {"output device", [](PhoneConfigurationDTO& r) { r.setOUTDevice("o"); }},
        {"SIP logging", [](PhoneConfigurationDTO& r) { r.setSIPLogging(true); }},
        {"RED", [](PhoneConfigurationDTO& r) { r.setEnableRED(true); }},
        {"dejittering", [](PhoneConfigurationDTO& r) { r.setEnableDejittering(true); }},
        {"codec list", [](PhoneConfigurationDTO& r) { r.setCodecList("opus"); }},
        {"rights, high bit only", [](PhoneConfigurationDTO& r) { r.setLicence(rights(0x100)); }},
        {"current mode", [](PhoneConfigurationDTO& r) { r.setCurrentMode(OperationMode::DeskPhoneMode); }},
        {"last landline", [](PhoneConfigurationDTO& r) { r.setLastLandlinePhone("1"); }},
        {"SIP account", [](PhoneConfigurationDTO& r) { r.setSipAccount("s"); }},
        {"callback", [](PhoneConfigurationDTO& r) { r.setCallback(true); }},
        {"ring-tone volume", [](PhoneConfigurationDTO& r) { r.setRingToneVolume(31); }},
        {"ring-tone device", [](PhoneConfigurationDTO& r) { r.setRingToneDevice("d"); }},
        {"unseen missed calls", [](PhoneConfigurationDTO& r) { r.setUnseenMissedCalls(1); }},
        {"GPS check", [](PhoneConfigurationDTO& r) { r.setEnableGPSCheck(true); }},
        {"foreign check", [](PhoneConfigurationDTO& r) { r.setEnableForeignCheck(true); }},
        {"GPS interval", [](PhoneConfigurationDTO& r) { r.setGPSCheckInterval(60); }},
        {"DTMF mode", [](PhoneConfigurationDTO& r) { r.setDTMFMode(PhoneDefinitions::DTMFMode::InBand); }},
        {"Vorn version", [](PhoneConfigurationDTO& r) { r.setVornVersion("v"); }},
        {"extended logging", [](PhoneConfigurationDTO& r) { r.setEnableExtendedLoggingVD(true); }},
        {"phone-book sync",
         [](PhoneConfigurationDTO& r) { r.setLastPhoneBookSync(QDateTime::currentDateTimeUtc()); }},
    };
    const PhoneConfigurationDTO base;
    for (const auto& [what, change] : changes) {
        PhoneConfigurationDTO other;
        change(other);
        EXPECT_FALSE(other == base) << what;
        EXPECT_TRUE(other != base) << what;
    }

    PhoneConfigurationDTO recording;
    recording.setEnableCallRecording(true);
    EXPECT_TRUE(recording == base);

    PhoneConfigurationDTO emptyText;
    emptyText.setHostName(QStringLiteral("")); // empty equals null
    EXPECT_TRUE(emptyText == base);
}

TEST(PhoneRuntimeData, ResetDropsOnlyTheConnectionSettingsAndClearDropsEverything)
{
    const PhoneRuntimeData defaults;
    PhoneRuntimeData store;
    changeEveryProperty(store);
    const PhoneRuntimeData changed = store;
    EXPECT_EQ(mismatches(changed, defaults, allProperties()).size(), allProperties().size());

    store.resetData();
    EXPECT_EQ(mismatches(store, defaults, kResettable), Strings{});
    EXPECT_EQ(mismatches(store, changed, allBut(kResettable)), Strings{});
    EXPECT_TRUE((store.getData<bool, PhoneProperty::SRTP>()));

    store.clear();
    EXPECT_EQ(mismatches(store, defaults, allProperties()), Strings{});

    // The defaults that are not zero, empty or null.
    const PhoneConfigurationDTO fresh;
    EXPECT_TRUE(fresh.isSRTP());
    EXPECT_EQ(fresh.getRingToneVolume(), 30u);
    EXPECT_FALSE(fresh.getDTMFDuration().has_value());
    EXPECT_TRUE(fresh.getLastPhoneBookSync().isNull());
}

TEST(PhoneRuntimeData, RunOnlySettingsAreNeverStored)
{
    PhoneRuntimeData store;
    changeEveryProperty(store);

    EXPECT_EQ(keysOf(store.serializeEncrypted()), QStringList{"phoneLicense"});
    EXPECT_EQ(keysOf(store.serializeUnencrypted()).size(), 10);

    PhoneRuntimeData restored;
    restored.deserializeEncrypted(store.serializeEncrypted());
    restored.deserializeUnencrypted(store.serializeUnencrypted());
    EXPECT_EQ(mismatches(restored, store, kStored), Strings{});
    EXPECT_EQ(mismatches(restored, PhoneRuntimeData(), allBut(kStored)), Strings{});
}

TEST(PhoneRuntimeData, PropertiesCarryValuesUnchecked)
{
    PhoneRuntimeData store;
    store.setData<PhoneSettingsMode, PhoneProperty::Licence>(rights(4));
    EXPECT_EQ(bits(store.getData<PhoneSettingsMode, PhoneProperty::Licence>()), 4);
    store.setData<OperationMode, PhoneProperty::CurrentMode>(static_cast<OperationMode>(2));

    // Only reading the stored parts back applies the rules.
    store.deserializeEncrypted(store.serializeEncrypted());
    EXPECT_EQ(bits(store.getData<PhoneSettingsMode, PhoneProperty::Licence>()), 0);
    PhoneRuntimeData fresh;
    fresh.deserializeUnencrypted(store.serializeUnencrypted());
    EXPECT_EQ((fresh.getData<OperationMode, PhoneProperty::CurrentMode>()), OperationMode::SoftPhoneMode);
}

TEST(PhoneRuntimeData, CopiesAreIndependentAndMovesHandTheRecordOver)
{
    PhoneRuntimeData source;
    changeEveryProperty(source);

    PhoneRuntimeData copy(source);
    EXPECT_TRUE(sameEntries(copy.serializeEncrypted(), source.serializeEncrypted()));
    EXPECT_TRUE(sameEntries(copy.serializeUnencrypted(), source.serializeUnencrypted()));
    EXPECT_EQ(mismatches(copy, source, allProperties()), Strings{});

    copy.setData<QString, PhoneProperty::SipAccount>(QStringLiteral("copy"));
    source.setData<int, PhoneProperty::HostPort>(1);
    EXPECT_EQ(mismatches(copy, source, allProperties()), (Strings{"HostPort", "SipAccount"}));

    PhoneRuntimeData assigned;
    assigned = source;
    EXPECT_EQ(mismatches(assigned, source, allProperties()), Strings{});
    assigned.clear();
    EXPECT_EQ((source.getData<int, PhoneProperty::HostPort>()), 1);

    const PhoneRuntimeData snapshot(source);
    PhoneRuntimeData moved(std::move(source));
    EXPECT_EQ(mismatches(moved, snapshot, allProperties()), Strings{});
    PhoneRuntimeData moveAssigned;
    moveAssigned = std::move(moved);
    EXPECT_EQ(mismatches(moveAssigned, snapshot, allProperties()), Strings{});
    source = snapshot; // a moved-from store can be assigned again
    EXPECT_EQ(mismatches(source, snapshot, allProperties()), Strings{});

    // Assigning a store to itself changes nothing.
    PhoneRuntimeData& same = moveAssigned;
    moveAssigned = same;
    EXPECT_EQ(mismatches(moveAssigned, snapshot, allProperties()), Strings{});
    moveAssigned = std::move(same);
    EXPECT_EQ(mismatches(moveAssigned, snapshot, allProperties()), Strings{});
}
