// SPDX-License-Identifier: MIT
// The data-set behaviours the stores rely on.
#include <DataSetCodec.h>
#include <DataSets.h>

#include "DataSetTestUtils.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>

using namespace DataSets;
using namespace DataSets::Impl;

TEST(DataSets, ReplacingKeepsThePositionNestedSetsAreSharedAndWalksEndOnClearing)
{
    DataSet ds = setOf({{"a", QStringLiteral("x")}, {"b", 1}});
    setDataValue(*ds, QStringLiteral("a"), 2); // a value of another kind replaces the old one
    EXPECT_EQ(keysOf(ds), (QStringList{"a", "b"}));
    EXPECT_FALSE(valueOf<QString>(ds, "a"));

    const DataSet inner = createDS(false);
    setDataValue(*ds, QStringLiteral("inner"), inner);
    setDataValue(*inner, QStringLiteral("late"), 5); // written after nesting
    const DataSet read = valueOf<DataSet>(ds, "inner").value();
    EXPECT_EQ(valueOf<int>(read, "late"), 5);
    clearDataObjects(*inner);
    EXPECT_TRUE(read->isEmpty()) << "every holder sees the cleared set";

    DataIterator it(ds);
    ASSERT_NE(it.next(), nullptr);
    EXPECT_EQ(it.next()->getDataSet(), ds);
    EXPECT_EQ(DataIterator(DataSet()).next(), nullptr);
    clearDataObjects(*ds);
    EXPECT_EQ(it.next(), nullptr) << "clearing while walking ends the walk";
    EXPECT_EQ(it.next(), nullptr) << "and it stays at the end";
}

// Crossed nesting (a in b in a) is the race below.
TEST(DataSets, SelfNestingAndNullSetsAreRefusedSharedSetsAreNot)
{
    const DataSet a = createDS(false), b = createDS(false), shared = setOf({{"x", 1}});
    EXPECT_FALSE(setDataValue(*a, QStringLiteral("self"), a));
    EXPECT_FALSE(setDataValue(*a, QStringLiteral("null"), DataSet()));
    EXPECT_TRUE(a->isEmpty());
    // A set shared twice below (a diamond) is no cycle.
    EXPECT_TRUE(setDataValue(*a, QStringLiteral("b"), b) && setDataValue(*b, QStringLiteral("s"), shared) &&
                setDataValue(*a, QStringLiteral("s"), shared));
    EXPECT_TRUE(setDataValue(*createDS(false), QStringLiteral("a"), a));
    EXPECT_FALSE(setDataValue(*shared, QStringLiteral("a"), a));
}

TEST(DataSets, KeyRules)
{
    const DataSet keyed = createDS(false);
    const DataSet list = createDS(true);
    // Positions (ASCII digits only, no Arabic-Indic one) fit both kinds of set; other text
    // only keyed sets; empty, over-long text or an unpaired surrogate neither.
    const QStringList positions{"0", "123456"};
    const QStringList text{
        "x y", "01", "-1", "+1", "1.0", " 1", QString(QChar(0x661)), QString(kMaxKeyLength, u'k')};
    const QStringList neither{QString(), QString(kMaxKeyLength + 1, u'k'), QString(QChar(0xD800))};
    for (const QString& key : positions + text + neither) {
        EXPECT_EQ(isValidKey(*keyed, key), !neither.contains(key)) << qPrintable(key.left(20));
        EXPECT_EQ(isValidKey(*list, key), positions.contains(key)) << qPrintable(key.left(20));
    }
    EXPECT_FALSE(setDataValue(*list, QStringLiteral("first"), QStringLiteral("x")));
    EXPECT_TRUE(list->isEmpty());
}

// Two threads storing a into b and b into a at the same moment: exactly one store
// succeeds every time, so no set ever comes to contain itself. Each also walks the set
// the other is writing, so the sets' own locks race too.
TEST(DataSets, CrossedNestedStoresNeverFormACycle)
{
    constexpr int kTries = 3000;
    std::vector<std::array<DataSet, 2>> pairs(kTries);
    for (auto& pair : pairs)
        pair = {createDS(false), createDS(false)};
    std::vector<char> stored[2] = {std::vector<char>(kTries), std::vector<char>(kTries)};
    std::atomic<int> arrived{0};
    const auto racer = [&](int side) {
        for (size_t i = 0; i < kTries; ++i) {
            arrived.fetch_add(1); // both threads start each try together
            while (arrived.load() < 2 * int(i + 1))
                std::this_thread::yield();
            stored[side][i] = setDataValue(*pairs[i][side], QStringLiteral("k"), pairs[i][1 - side]);
            // Walking and encoding the set the other thread stores into race its lock
            // (an encode holds it, and a nested set's, while it writes them).
            DataIterator it(pairs[i][1 - side]);
            while (it.next()) {
            }
            EXPECT_TRUE(DataSetCodec::toCbor(pairs[i][1 - side]).ok());
        }
    };
    std::thread forward(racer, 0), backward(racer, 1);
    forward.join();
    backward.join();
    int alike = 0; // both stored (a cycle) or neither
    for (size_t i = 0; i < kTries; ++i)
        alike += stored[0][i] == stored[1][i];
    EXPECT_EQ(alike, 0);
    for (auto& [a, b] : pairs) // a cycle, had one formed, would keep both alive
        clearDataObjects(*a), clearDataObjects(*b);
}
