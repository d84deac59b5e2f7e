// The data-set behaviours the stores rely on.
#include <DataSets.h>

#include "DataSetTestUtils.h"

#include <gtest/gtest.h>

#include <thread>

using namespace DataSets;
using namespace DataSets::Impl;

TEST(DataSets, ReadLeavesTargetUntouchedWhenAbsentOrOfAnotherKind)
{
    const DataSet ds =
        setOf({{"text", QStringLiteral("hello")}, {"flag", true}, {"number", -7}, {"empty", QString()}});

    QString text = QStringLiteral("kept");
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("flag"), text));
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("missing"), text));
    EXPECT_FALSE(getDataValue(nullptr, QStringLiteral("text"), text));
    EXPECT_EQ(text, QStringLiteral("kept"));
    EXPECT_TRUE(getDataValue(ds.get(), QStringLiteral("empty"), text)) << "empty text is a value";
    EXPECT_TRUE(text.isEmpty());

    bool flag = false;
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("number"), flag));
    EXPECT_TRUE(getDataValue(ds.get(), QStringLiteral("flag"), flag));
    EXPECT_TRUE(flag);

    int number = 99;
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("text"), number));
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("flag"), number));
    EXPECT_EQ(number, 99);

    DataSet nested = createDS(false);
    const DataSet before = nested;
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("text"), nested));
    EXPECT_EQ(nested, before);
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

TEST(DataSets, CyclesAndNullSetsAreRefused)
{
    DataSet a = createDS(false);
    DataSet b = createDS(false);
    EXPECT_FALSE(setDataValue(*a, QStringLiteral("self"), a));
    ASSERT_TRUE(setDataValue(*a, QStringLiteral("b"), b));
    EXPECT_FALSE(setDataValue(*b, QStringLiteral("a"), a)) << "a would contain itself through b";
    EXPECT_FALSE(setDataValue(*a, QStringLiteral("null"), DataSet()));
    EXPECT_EQ(a->size(), 1);
    EXPECT_TRUE(b->isEmpty());
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
    QStringList seen;
    while (const DataIterator* e = it.next()) {
        EXPECT_EQ(e->getDataSet(), ds);
        seen << e->getKey();
    }
    EXPECT_EQ(seen, (QStringList{"a", "b", "c"}));
    EXPECT_EQ(it.next(), nullptr) << "stays at the end";

    DataIterator none{DataSet()};
    EXPECT_EQ(none.next(), nullptr);

    DataIterator cleared(ds);
    ASSERT_NE(cleared.next(), nullptr);
    clearDataObjects(*ds);
    EXPECT_EQ(cleared.next(), nullptr) << "clearing while walking ends the walk";
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
