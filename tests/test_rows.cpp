// Every store against its own property table: the stored parts hold exactly the keys
// the rows name, a round trip restores exactly the stored rows, a reset drops exactly
// the rows marked for it, and the whole call-flow record compares every row.
#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChatRuntimeData.h>
#include <DeskRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <UserRuntimeData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

namespace {

using SessionConfigDetail::PropertyRow;
using SessionConfigDetail::ResetRule;
using SessionConfigDetail::StoredPart;

template <class Enum> std::set<Enum> rowsWhere(bool (*keep)(const PropertyRow&))
{
    std::set<Enum> out;
    for (Enum p : allHeld<Enum>())
        if (keep(*SessionConfigDetail::findRow(p)))
            out.insert(p);
    return out;
}

template <class Enum> QStringList keysOfPart(StoredPart part)
{
    QStringList keys;
    for (const PropertyRow& row : SessionConfigDetail::PropertyTable<Enum>::rows)
        if (row.part == part)
            keys << QString::fromUtf8(row.key);
    return keys;
}

template <class Store> class Rows : public ::testing::Test
{
};

using Stores = ::testing::Types<AppRuntimeData, CallFlowRuntimeData, ChatRuntimeData, DeskRuntimeData,
                                PhoneRuntimeData, UserRuntimeData>;
TYPED_TEST_SUITE(Rows, Stores);

} // namespace

TYPED_TEST(Rows, EachPartHoldsExactlyItsRowsKeysInTableOrder)
{
    using Enum = typename TypeParam::Property;
    TypeParam store;
    changeEvery<Enum>(store);
    EXPECT_EQ(keysOf(store.serializeEncrypted()), keysOfPart<Enum>(StoredPart::Encrypted));
    EXPECT_EQ(keysOf(store.serializeUnencrypted()), keysOfPart<Enum>(StoredPart::Plain));
}

TYPED_TEST(Rows, ARoundTripRestoresTheStoredRowsAndNothingElse)
{
    using Enum = typename TypeParam::Property;
    TypeParam source, target;
    changeEvery<Enum>(source);
    target.deserializeEncrypted(source.serializeEncrypted());
    target.deserializeUnencrypted(source.serializeUnencrypted());
    EXPECT_EQ(differing<Enum>(target, source),
              namesOf(rowsWhere<Enum>([](const PropertyRow& r) { return r.part == StoredPart::None; })));
}

TYPED_TEST(Rows, ResetDropsExactlyTheRowsMarkedForIt)
{
    using Enum = typename TypeParam::Property;
    const auto dropped = rowsWhere<Enum>([](const PropertyRow& r) { return r.reset != ResetRule::Keep; });
    if constexpr (std::is_same_v<TypeParam, AppRuntimeData>)
        expectDrops<Enum, TypeParam>([](TypeParam& s) { s.clear(); }, dropped);
    else
        expectDrops<Enum, TypeParam>([](TypeParam& s) { s.resetData(); }, dropped);
}

TEST(Rows, ClearDropsEveryRowOfTheStoresThatClear)
{
    expectDrops<ChatProperty, ChatRuntimeData>([](ChatRuntimeData& s) { s.clear(); },
                                               allHeld<ChatProperty>());
    expectDrops<DeskProperty, DeskRuntimeData>([](DeskRuntimeData& s) { s.clear(); },
                                               allHeld<DeskProperty>());
    expectDrops<PhoneProperty, PhoneRuntimeData>([](PhoneRuntimeData& s) { s.clear(); },
                                                 allHeld<PhoneProperty>());
    expectDrops<UserProperty, UserRuntimeData>([](UserRuntimeData& s) { s.clear(); },
                                               allHeld<UserProperty>());
}

TEST(Rows, TheWholeCallFlowRecordComparesEveryRowItMarks)
{
    using P = CallFlowProperty;
    forEachHeld<P>([](auto tag, const char* name) {
        using Tag = decltype(tag);
        CallFlowRuntimeData store;
        const CallFlowConfigurationDTO before =
            store.getData<CallFlowConfigurationDTO, P::CallFlowConfiguration>();
        store.setData<typename Tag::Type, Tag::property>(
            otherThan(store.getData<typename Tag::Type, Tag::property>()));
        const bool equal = before == store.getData<CallFlowConfigurationDTO, P::CallFlowConfiguration>();
        EXPECT_EQ(equal, !Tag::row.compared) << name;
    });
}

TEST(Rows, RecordsLeaveOutOfEqualityOnlyTheRowsMarkedSo)
{
    PhoneConfigurationDTO recording;
    recording.setEnableCallRecording(true);
    EXPECT_TRUE(recording == PhoneConfigurationDTO());
    DeskConfigurationDTO debugging;
    debugging.setSIPDebugEnabled(true);
    EXPECT_TRUE(debugging == DeskConfigurationDTO());
    UserConfigurationDTO emptyName;
    emptyName.setUserName(QStringLiteral(""));
    EXPECT_TRUE(emptyName == UserConfigurationDTO()) << "empty text equals null";
}
