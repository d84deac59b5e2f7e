// SPDX-License-Identifier: MIT
// Every store against its own property table: stored keys, round trips, reset, clear,
// equality, copies and moves do what each row's columns say.
#include <SessionData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

namespace {

using SessionConfigDetail::ResetRule;
using SessionConfigDetail::StoredPart;

// The record member behind each FIELD row. Members are private to their store, but an
// explicit instantiation may name them, so each table's Access column binds its member.
template <auto P, class Record, class T> T Record::*memberOf = nullptr;
template <auto P, class Record, class T, T Record::*M> struct BindMember
{
    static inline const bool bound = (memberOf<P, Record, T> = M, true);
};
#define BIND_ROW(Store, Name, Number, Type, Kind, Access, ...) BIND_##Kind(Store, Name, Type, Access)
#define BIND_FIELD(Store, Name, Type, Access) \
    template struct BindMember<Store::Property::Name, Store::RecordType, Type, &Store::RecordType::Access>;
#define BIND_DERIVED(...)
#define BIND_WHOLE(...)
SESSIONCONFIG_APP_PROPERTIES(BIND_ROW, AppRuntimeData)
SESSIONCONFIG_CALLFLOW_PROPERTIES(BIND_ROW, CallFlowRuntimeData)
SESSIONCONFIG_CHAT_PROPERTIES(BIND_ROW, ChatRuntimeData)
SESSIONCONFIG_DESK_PROPERTIES(BIND_ROW, DeskRuntimeData)
SESSIONCONFIG_PHONE_PROPERTIES(BIND_ROW, PhoneRuntimeData)
SESSIONCONFIG_USER_PROPERTIES(BIND_ROW, UserRuntimeData)

template <class R, class = void> constexpr bool kHasEquality = false;
template <class R>
constexpr bool kHasEquality<R, std::void_t<decltype(std::declval<R&>() == std::declval<R&>())>> = true;

template <class Store> class Rows : public ::testing::Test
{
};

TYPED_TEST_SUITE(Rows, AllStores, );

} // namespace

TYPED_TEST(Rows, StoredKeysRoundTripsCopiesAndMovesCarryTheRows)
{
    using Store = TypeParam;
    using Enum = typename Store::Property;
    Store source, twin, target;
    changeEvery<Enum>(source);
    changeEvery<Enum>(twin);
    QStringList keys[3]; // by stored part, in table order
    Names unstored;
    for (const SessionConfigDetail::PropertyRow& row : SessionConfigDetail::PropertyTable<Enum>::rows) {
        keys[int(row.part)] << QString::fromUtf8(row.key);
        if (row.part == StoredPart::None && row.settable && !row.derived)
            unstored.push_back(row.name);
    }
    // Each part holds exactly its rows' keys in table order; a round trip restores just those rows.
    EXPECT_EQ(keysOf(source.serializeEncrypted()), keys[int(StoredPart::Encrypted)]);
    EXPECT_EQ(keysOf(source.serializeUnencrypted()), keys[int(StoredPart::Plain)]);
    target.deserializeEncrypted(source.serializeEncrypted());
    target.deserializeUnencrypted(source.serializeUnencrypted());
    EXPECT_EQ(differing<Enum>(target, source), unstored);

    if constexpr (std::is_copy_constructible_v<Store>) {
        Store copy(source), assigned;
        assigned = source;
        for (Store* c : {&copy, &assigned}) {
            EXPECT_EQ(differing<Enum>(*c, twin), Names{});
            changeEvery<Enum>(*c, source);
        }
        EXPECT_EQ(differing<Enum>(source, twin), Names{}) << "the source kept its values";
        Store moved(std::move(source));
        target = std::move(moved);
        EXPECT_EQ(differing<Enum>(target, twin), Names{});
        source = twin; // a moved-from store may be assigned again
        EXPECT_EQ(differing<Enum>(source, twin), Names{});
    } else {
        static_assert(!std::is_move_constructible_v<Store>, "a store is copyable and movable, or neither");
    }
}

// One row changed at a time: resetData (clear for the application store) drops it as its
// Reset column says, clear() drops it, operator== notices it as its Compare column says.
TYPED_TEST(Rows, ResetClearAndEqualityFollowEachRow)
{
    using Store = TypeParam;
    using Record = typename Store::RecordType;
    forEachHeld<typename Store::Property>([](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        const auto read = [](const Store& s) { return s.template getData<T, Tag::property>(); };
        const Store defaults;
        const T changed = otherThan(read(defaults));
        const auto droppedBy = [&](void (Store::*reset)()) {
            Store s;
            s.template setData<T, Tag::property>(changed);
            (s.*reset)();
            return sameValue(read(s), read(defaults));
        };
        constexpr bool resettable = std::is_base_of_v<IConfigurationResettable, Store>;
        if constexpr (resettable) {
            EXPECT_EQ(droppedBy(&Store::resetData), Tag::row.reset != ResetRule::Keep) << name << ": reset";
        }
        if constexpr (kHasClear<Store>) { // drops every row, or resets an application store
            EXPECT_EQ(droppedBy(&Store::clear), resettable || Tag::row.reset != ResetRule::Keep) << name;
        }
        if constexpr (std::is_same_v<T, DataSets::DataSet>) { // emptied in place: every holder sees it
            EXPECT_EQ(changed->isEmpty(), Tag::row.reset == ResetRule::Empty) << name;
        }
        if constexpr (kHasEquality<Record>) {
            const auto member = memberOf<Tag::property, Record, T>;
            ASSERT_NE(member, nullptr) << name << ": no member bound";
            Record a, b;
            b.*member = otherThan(a.*member);
            EXPECT_EQ(a == b, !Tag::row.compared) << name << ": equality";
        }
    });
}
