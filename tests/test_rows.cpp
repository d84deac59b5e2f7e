// SPDX-License-Identifier: MIT
// Every store against its own property table: each part holds its rows' keys, a round
// trip restores the stored rows, copies and moves carry every row.
#include <SessionData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

namespace {

using SessionConfigDetail::StoredPart;

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
