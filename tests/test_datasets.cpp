// The data-set behaviours the stores rely on.
#include <DataSets.h>

#include "DataSetTestUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

using namespace DataSets;
using namespace DataSets::Impl;

TEST(DataSets, ReadLeavesTargetUntouchedWhenAbsentOrOfAnotherKind)
{
    const DataSet ds =
        setOf({{"text", QStringLiteral("hello")}, {"flag", true}, {"number", -7}, {"empty", QString()}});
    QString text = QStringLiteral("kept");
    bool flag = false;
    int number = 99;
    DataSet nested = createDS(false);
    const DataSet before = nested;
    for (const char* key : {"text", "flag", "number", "missing"}) {
        const QString k = QString::fromLatin1(key);
        EXPECT_EQ(getDataValue(ds.get(), k, text), k == "text") << key;
        EXPECT_EQ(getDataValue(ds.get(), k, flag), k == "flag") << key;
        EXPECT_EQ(getDataValue(ds.get(), k, number), k == "number") << key;
        EXPECT_FALSE(getDataValue(ds.get(), k, nested)) << key;
        EXPECT_FALSE(getDataValue(nullptr, k, text)) << key;
    }
    EXPECT_EQ(std::make_tuple(text, flag, number, nested),
              std::make_tuple(QStringLiteral("hello"), true, -7, before));
    EXPECT_TRUE(getDataValue(ds.get(), QStringLiteral("empty"), text)) << "empty text is a value";
    EXPECT_TRUE(text.isEmpty());
}

TEST(DataSets, ReplacingKeepsThePositionAndNestedSetsAreSharedNotCopied)
{
    DataSet ds = setOf({{"a", QStringLiteral("x")}, {"b", 1}});
    setDataValue(*ds, QStringLiteral("a"), 2); // a value of another kind replaces the old one
    EXPECT_EQ(keysOf(ds), (QStringList{"a", "b"}));
    EXPECT_EQ(valueOf<int>(ds, "a"), 2);
    EXPECT_FALSE(valueOf<QString>(ds, "a"));

    const DataSet inner = createDS(false);
    setDataValue(*ds, QStringLiteral("inner"), inner);
    setDataValue(*inner, QStringLiteral("late"), 5); // written after nesting
    const DataSet read = valueOf<DataSet>(ds, "inner").value();
    EXPECT_EQ(read, inner);
    EXPECT_EQ(valueOf<int>(read, "late"), 5);
    clearDataObjects(*inner);
    EXPECT_TRUE(read->isEmpty()) << "every holder sees the cleared set";
}

TEST(DataSets, CyclesAndNullSetsAreRefusedSharedSetsAreNot)
{
    DataSet a = createDS(false);
    DataSet b = createDS(false);
    EXPECT_FALSE(setDataValue(*a, QStringLiteral("self"), a));
    ASSERT_TRUE(setDataValue(*a, QStringLiteral("b"), b));
    EXPECT_FALSE(setDataValue(*b, QStringLiteral("a"), a)) << "a would contain itself through b";
    EXPECT_FALSE(setDataValue(*a, QStringLiteral("null"), DataSet()));
    EXPECT_EQ(a->size(), 1);
    EXPECT_TRUE(b->isEmpty());

    // A set shared twice below (a diamond) is no cycle, and is walked once.
    const DataSet shared = setOf({{"x", 1}});
    ASSERT_TRUE(setDataValue(*b, QStringLiteral("s"), shared) &&
                setDataValue(*a, QStringLiteral("s"), shared));
    EXPECT_TRUE(setDataValue(*createDS(false), QStringLiteral("a"), a));
    EXPECT_FALSE(setDataValue(*shared, QStringLiteral("a"), a));
}

TEST(DataSets, KeyRules)
{
    DataSet keyed = createDS(false);
    for (const char* key : {"user", "chatLastSynch", "0", "x y", "\xc3\xa9t\xc3\xa9", "\xf0\x9f\x98\x80"})
        EXPECT_TRUE(isValidKey(*keyed, QString::fromUtf8(key))) << key;
    EXPECT_TRUE(isValidKey(*keyed, QString(kMaxKeyLength, u'k')));
    EXPECT_FALSE(isValidKey(*keyed, QString(kMaxKeyLength + 1, u'k')));
    EXPECT_FALSE(isValidKey(*keyed, QString()));
    EXPECT_FALSE(isValidKey(*keyed, QString(QChar(0xD800)))) << "unpaired surrogate";

    DataSet list = createDS(true);
    for (const char* key : {"0", "1", "9", "10", "123456"})
        EXPECT_TRUE(isValidKey(*list, QString::fromLatin1(key))) << key;
    for (const char* key : {"", "01", "-1", "+1", "1.0", " 1", "a", "\xd9\xa1" /* Arabic-Indic one */})
        EXPECT_FALSE(isValidKey(*list, QString::fromUtf8(key))) << key;
    EXPECT_FALSE(setDataValue(*list, QStringLiteral("first"), QStringLiteral("x")));
    EXPECT_TRUE(list->isEmpty());
}

TEST(DataSets, IteratorVisitsEveryKeyOnceAndStops)
{
    DataSet ds = setOf({{"a", 1}, {"b", 2}, {"c", 3}});
    DataIterator it(ds);
    ASSERT_NE(it.next(), nullptr);
    EXPECT_EQ(it.next()->getDataSet(), ds);
    EXPECT_EQ(keysOf(ds), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(DataIterator(DataSet()).next(), nullptr);
    clearDataObjects(*ds);
    EXPECT_EQ(it.next(), nullptr) << "clearing while walking ends the walk";
    EXPECT_EQ(it.next(), nullptr) << "and it stays at the end";
}

TEST(DataSets, ConcurrentWritersAndReadersOnOneSet)
{
    DataSet ds = createDS(false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([ds, t] {
            for (int i = 0; i < 2000; ++i) {
                const QString key = QString::number((i + t) % 8) + QStringLiteral("k");
                setDataValue(*ds, key, i);
                int v = 0;
                getDataValue(ds.get(), key, v);
                if (i % 500 == 0)
                    clearDataObjects(*ds);
                DataIterator it(ds);
                while (it.next()) {
                }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_LE(ds->size(), 8);
}

// Two threads storing a into b and b into a at the same moment: exactly one store
// succeeds every time, so no set ever comes to contain itself.
TEST(DataSets, CrossedNestedStoresNeverFormACycle)
{
    constexpr int kTries = 3000;
    std::vector<std::pair<DataSet, DataSet>> pairs;
    for (int i = 0; i < kTries; ++i)
        pairs.emplace_back(createDS(false), createDS(false));
    std::vector<char> storedAB(kTries), storedBA(kTries);
    std::atomic<int> arrived{0};
    const auto racer = [&](bool forward) {
        for (int i = 0; i < kTries; ++i) {
            // Both threads start each try together.
            arrived.fetch_add(1);
            while (arrived.load() < 2 * (i + 1))
                std::this_thread::yield();
            const auto& [a, b] = pairs[static_cast<size_t>(i)];
            if (forward)
                storedAB[static_cast<size_t>(i)] = setDataValue(*a, QStringLiteral("k"), b);
            else
                storedBA[static_cast<size_t>(i)] = setDataValue(*b, QStringLiteral("k"), a);
        }
    };
    std::thread forward(racer, true);
    std::thread backward(racer, false);
    forward.join();
    backward.join();
    int cycles = 0;
    int neither = 0;
    for (int i = 0; i < kTries; ++i) {
        cycles += storedAB[static_cast<size_t>(i)] && storedBA[static_cast<size_t>(i)];
        neither += !storedAB[static_cast<size_t>(i)] && !storedBA[static_cast<size_t>(i)];
    }
    EXPECT_EQ(cycles, 0);
    EXPECT_EQ(neither, 0);
    for (auto& [a, b] : pairs) // a cycle, had one formed, would keep both alive
        clearDataObjects(*a), clearDataObjects(*b);
}

// A large set keeps insertion order, finds every key and replaces in place.
TEST(DataSets, LargeSetKeepsOrderAndFindsEveryKey)
{
    constexpr int kKeys = 1 << 17;
    const DataSet ds = createDS(false);
    for (int i = 0; i < kKeys; ++i)
        ASSERT_TRUE(setDataValue(*ds, QStringLiteral("key%1").arg(kKeys - i), i));
    ASSERT_TRUE(setDataValue(*ds, QStringLiteral("key%1").arg(kKeys), QStringLiteral("first")));
    EXPECT_EQ(ds->size(), kKeys);
    int position = 0;
    bool inOrder = true;
    DataIterator it(ds);
    while (const DataIterator* e = it.next())
        inOrder = inOrder && e->getKey() == QStringLiteral("key%1").arg(kKeys - position++);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(valueOf<QString>(ds, QStringLiteral("key%1").arg(kKeys)), QStringLiteral("first"));
    int misses = 0;
    for (int i = 1; i < kKeys; ++i)
        misses += valueOf<int>(ds, QStringLiteral("key%1").arg(kKeys - i)) != i;
    EXPECT_EQ(misses, 0);
}
