// Phone settings: the rights bits, what each part stores and how it is read back,
// equality, and what a reset and a clear drop.
#include <PhoneRuntimeData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

#include <QTimeZone>

#include <climits>
#include <utility>

using PhoneDefinitions::OperationMode;
using PhoneDefinitions::PhoneSettingsMode;
using P = PhoneProperty;
using R = PhoneConfigurationDTO;

namespace {

PhoneSettingsMode rights(int bits)
{
    return static_cast<PhoneSettingsMode>(bits);
}

int bits(const R& r)
{
    return static_cast<int>(r.getLicence());
}

} // namespace

TEST(PhoneConfiguration, RightsBitsChangeOnlyWhatTheyName)
{
    // Bits beyond the two rights are carried through every change.
    for (int high : {0, 0x70, INT_MIN}) {
        R r;
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
        r.setCTI(false);
        EXPECT_EQ(bits(r), high);
    }
}

TEST(PhoneConfiguration, RightsAreStoredWholeAndReadBackOnlyWithCTIOrSoftPhone)
{
    R written;
    written.setLicence(rights(0x106));
    written.setToken(QStringLiteral("secret"));
    const DataSets::DataSet ds = written.serializeEncrypted();
    EXPECT_EQ(valueOf<int>(ds, "phoneLicense"), 0x106);

    const std::pair<int, int> cases[] = {
        {4, 0},     {5, 5},         {2, 2},   {1, 1},       {0, 0},
        {0x104, 0}, {0x106, 0x106}, {-1, -1}, {INT_MIN, 0}, {INT_MIN | 1, INT_MIN | 1}};
    for (const auto& [stored, expected] : cases) {
        R r;
        r.setLicence(rights(3)); // whatever was there before is replaced
        r.deserializeEncrypted(setOf({{"phoneLicense", stored}}));
        EXPECT_EQ(bits(r), expected) << "stored " << stored;
    }

    // Without a usable value the current rights go through the same mask.
    for (const DataSets::DataSet& bad :
         {DataSets::Impl::createDS(false), DataSets::DataSet(),
          setOf({{"phoneLicense", QStringLiteral("3")}}), setOf({{"phoneLicense", true}})}) {
        R r;
        r.setLicence(rights(6));
        r.deserializeEncrypted(bad);
        EXPECT_EQ(bits(r), 6);
        r.setLicence(rights(4));
        r.deserializeEncrypted(bad);
        EXPECT_EQ(bits(r), 0);
    }
}

TEST(PhoneConfiguration, PlainPartRoundTripsTheTenValuesAndTheSyncTimeAsText)
{
    const std::pair<QDateTime, QString> syncs[] = {
        {QDateTime(QDate(2023, 11, 5), QTime(8, 9, 10, 123), QTimeZone(5 * 3600 + 1800)),
         "2023-11-05T08:09:10.123+05:30"},
        {QDateTime(QDate(2024, 1, 31), QTime(23, 59, 59, 7), Qt::UTC), "2024-01-31T23:59:59.007Z"},
        {QDateTime(), ""}};
    for (const auto& [sync, text] : syncs) {
        R r;
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
        EXPECT_EQ(valueOf<QString>(ds, "lastPhoneBookSync"), text);

        R restored;
        restored.deserializeUnencrypted(ds);
        EXPECT_TRUE(restored == r); // every other field is at its default on both sides
        EXPECT_EQ(restored.getLastPhoneBookSync().offsetFromUtc(), sync.offsetFromUtc());
    }
}

TEST(PhoneConfiguration, PlainReadKeepsWhatIsMissingButForgetsTheSyncTime)
{
    R before;
    before.setINDevice(QStringLiteral("in"));
    before.setSipAccount(QStringLiteral("sip:bob@example.net"));
    before.setCallback(true);
    before.setCurrentMode(OperationMode::DeskPhoneMode);
    before.setRingToneVolume(55);
    before.setUnseenMissedCalls(4);
    before.setLastPhoneBookSync(QDateTime(QDate(2022, 6, 1), QTime(12, 0), Qt::UTC));

    // Absent, unreadable or mistyped entries: only the sync time changes, to null.
    for (const DataSets::DataSet& ds :
         {DataSets::DataSet(), setOf({{"sipAccount", 17}, {"ringToneVolume", QStringLiteral("5")}}),
          setOf({{"lastPhoneBookSync", QStringLiteral("yesterday")}, {"callback", 1}})}) {
        R r = before;
        r.deserializeUnencrypted(ds);
        EXPECT_TRUE(r.getLastPhoneBookSync().isNull());
        r.setLastPhoneBookSync(before.getLastPhoneBookSync());
        EXPECT_TRUE(r == before) << "only the sync time may change";
    }

    // Only the two known operation modes are read.
    const std::pair<DataSets::Impl::Value, OperationMode> modes[] = {
        {2, OperationMode::DeskPhoneMode},       {-1, OperationMode::DeskPhoneMode},
        {INT_MIN, OperationMode::DeskPhoneMode}, {INT_MAX, OperationMode::DeskPhoneMode},
        {true, OperationMode::DeskPhoneMode},    {0, OperationMode::SoftPhoneMode}};
    for (const auto& [stored, expected] : modes) {
        R r;
        r.setCurrentMode(OperationMode::DeskPhoneMode);
        r.deserializeUnencrypted(setOf({{"currentMode", stored}}));
        EXPECT_EQ(r.getCurrentMode(), expected);
    }

    R fresh;
    fresh.deserializeUnencrypted(DataSets::Impl::createDS(false));
    EXPECT_EQ(fresh.getRingToneVolume(), 30u) << "the default volume";
    fresh.deserializeUnencrypted(setOf({{"ringToneVolume", 0}}));
    EXPECT_EQ(fresh.getRingToneVolume(), 0u);
}
