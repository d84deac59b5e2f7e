// Desk link settings: what is compared, what is kept between runs, what a reset drops.
#include <DeskRuntimeData.h>

#include <gtest/gtest.h>

#include <limits>

using namespace DataSets::Impl;

namespace {

void fill(DeskRuntimeData& desk)
{
    desk.setData<bool, DeskProperty::Enabled>(true);
    desk.setData<QString, DeskProperty::Host>(QStringLiteral("Desk.Example"));
    desk.setData<unsigned short, DeskProperty::Port>(std::numeric_limits<unsigned short>::max());
    desk.setData<bool, DeskProperty::Tls>(true);
    desk.setData<bool, DeskProperty::SIPDebugEnabled>(true);
}

} // namespace

TEST(DeskRecord, EqualityIgnoresSipDebuggingOnly)
{
    DeskConfigurationDTO a, b;
    EXPECT_TRUE(a == b);
    b.setSIPDebugEnabled(true);
    EXPECT_TRUE(a == b);

    DeskConfigurationDTO host = a, port = a, tls = a, enabled = a;
    host.setHost(QStringLiteral("h"));
    port.setPort(1);
    tls.setTls(true);
    enabled.setEnabled(true);
    for (const auto* other : {&host, &port, &tls, &enabled})
        EXPECT_FALSE(a == *other);

    DeskConfigurationDTO upper = a;
    host.setHost(QStringLiteral("desk.example"));
    upper.setHost(QStringLiteral("DESK.example"));
    EXPECT_FALSE(host == upper) << "host compares case-sensitively";
}

TEST(DeskRecord, OnlyTheEnabledFlagIsStored)
{
    DeskConfigurationDTO record;
    record.setEnabled(true);
    record.setHost(QStringLiteral("h"));
    record.setPort(65535);
    record.setTls(true);
    record.setSIPDebugEnabled(true);

    const DataSets::DataSet encrypted = record.serializeEncrypted();
    ASSERT_EQ(encrypted->size(), 1);
    bool enabled = false;
    EXPECT_TRUE(getDataValue(encrypted.get(), QStringLiteral("enabled"), enabled));
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(record.serializeUnencrypted()->isEmpty());

    DeskConfigurationDTO restored;
    restored.deserializeEncrypted(encrypted);
    restored.deserializeUnencrypted(record.serializeUnencrypted());
    EXPECT_TRUE(restored.isEnabled());
    EXPECT_TRUE(restored.getHost().isEmpty());
    EXPECT_EQ(restored.getPort(), 0);
    EXPECT_FALSE(restored.getTls());
    EXPECT_FALSE(restored.isSIPDebugEnabled());
}

TEST(DeskRecord, AMissingOrMistypedEntryKeepsTheFlag)
{
    DeskConfigurationDTO record;
    record.setEnabled(true);
    record.deserializeEncrypted(createDS(false));
    EXPECT_TRUE(record.isEnabled());

    DataSets::DataSet wrongKind = createDS(false);
    setDataValue(*wrongKind, QStringLiteral("enabled"), 0);
    record.deserializeEncrypted(wrongKind);
    EXPECT_TRUE(record.isEnabled());

    record.deserializeEncrypted(DataSets::DataSet()); // no set at all
    EXPECT_TRUE(record.isEnabled());
}

TEST(DeskStore, ResetDropsTheConnectionAndClearDropsEverything)
{
    DeskRuntimeData desk;
    fill(desk);
    EXPECT_EQ((desk.getData<unsigned short, DeskProperty::Port>()), 65535)
        << "the largest port is kept whole";

    desk.resetData();
    EXPECT_TRUE((desk.getData<QString, DeskProperty::Host>()).isNull());
    EXPECT_EQ((desk.getData<unsigned short, DeskProperty::Port>()), 0);
    EXPECT_FALSE((desk.getData<bool, DeskProperty::Tls>()));
    EXPECT_TRUE((desk.getData<bool, DeskProperty::Enabled>()));
    EXPECT_TRUE((desk.getData<bool, DeskProperty::SIPDebugEnabled>()));

    fill(desk);
    desk.clear();
    EXPECT_FALSE((desk.getData<bool, DeskProperty::Enabled>()));
    EXPECT_FALSE((desk.getData<bool, DeskProperty::SIPDebugEnabled>()));
    EXPECT_TRUE((desk.getData<QString, DeskProperty::Host>()).isEmpty());
}

TEST(DeskStore, AValueReadIsASnapshotAndStorageGoesThroughTheStore)
{
    DeskRuntimeData desk;
    fill(desk);
    const QString host = desk.getData<QString, DeskProperty::Host>();
    desk.setData<QString, DeskProperty::Host>(QStringLiteral("other"));
    EXPECT_EQ(host, QStringLiteral("Desk.Example"));

    DeskRuntimeData restored;
    IEncryptedSerializable& asStorage = restored;
    asStorage.deserializeEncrypted(desk.serializeEncrypted());
    EXPECT_TRUE((restored.getData<bool, DeskProperty::Enabled>()));
    EXPECT_TRUE(restored.serializeUnencrypted()->isEmpty());
}
