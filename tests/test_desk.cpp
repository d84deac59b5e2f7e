// Desk link settings: what is compared, what is kept between runs, what a reset drops.
#include <DeskRuntimeData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

using P = DeskProperty;

TEST(DeskRecord, EqualityIgnoresSipDebuggingOnly)
{
    DeskConfigurationDTO sip, host, upper, port, tls, enabled;
    sip.setSIPDebugEnabled(true);
    EXPECT_TRUE(sip == DeskConfigurationDTO());

    host.setHost(QStringLiteral("desk.example"));
    upper.setHost(QStringLiteral("DESK.example"));
    port.setPort(1);
    tls.setTls(true);
    enabled.setEnabled(true);
    for (const auto* other : {&host, &port, &tls, &enabled})
        EXPECT_FALSE(DeskConfigurationDTO() == *other);
    EXPECT_FALSE(host == upper) << "host compares case-sensitively";
}

TEST(DeskRecord, OnlyTheEnabledFlagIsStoredAndAnUnusableEntryKeepsIt)
{
    DeskConfigurationDTO record;
    record.setEnabled(true);
    record.setHost(QStringLiteral("h"));
    record.setPort(65535);
    record.setTls(true);
    record.setSIPDebugEnabled(true);
    const DataSets::DataSet encrypted = record.serializeEncrypted();
    EXPECT_EQ(keysOf(encrypted), QStringList{"enabled"});
    EXPECT_EQ(valueOf<bool>(encrypted, "enabled"), true);
    EXPECT_TRUE(record.serializeUnencrypted()->isEmpty());

    DeskConfigurationDTO restored;
    restored.deserializeEncrypted(encrypted);
    restored.deserializeUnencrypted(setOf({{"host", QStringLiteral("h")}}));
    DeskConfigurationDTO expected;
    expected.setEnabled(true);
    EXPECT_TRUE(restored == expected);

    for (const DataSets::DataSet& unusable :
         {DataSets::Impl::createDS(false), DataSets::DataSet(), setOf({{"enabled", 0}})}) {
        restored.deserializeEncrypted(unusable);
        EXPECT_TRUE(restored.isEnabled());
    }
}

TEST(DeskStore, ResetDropsTheConnectionAndClearDropsEverything)
{
    expectDrops<P, DeskRuntimeData>([](DeskRuntimeData& s) { s.resetData(); }, {P::Host, P::Port, P::Tls});
    expectDrops<P, DeskRuntimeData>([](DeskRuntimeData& s) { s.clear(); }, allHeld<P>());
}
