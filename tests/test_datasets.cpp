// The data-set behaviours the stores rely on.
#include <DataSets.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>

using namespace DataSets;
using namespace DataSets::Impl;

TEST(DataSets, ReadLeavesTargetUntouchedWhenAbsentOrOfAnotherKind)
{
    DataSet ds = createDS(false);
    setDataValue(*ds, QStringLiteral("text"), QStringLiteral("hello"));
    setDataValue(*ds, QStringLiteral("flag"), true);
    setDataValue(*ds, QStringLiteral("number"), -7);

    QString text = QStringLiteral("kept");
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("flag"), text));
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("missing"), text));
    EXPECT_EQ(text, QStringLiteral("kept"));

    bool flag = false;
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("number"), flag));
    EXPECT_TRUE(getDataValue(ds.get(), QStringLiteral("flag"), flag));
    EXPECT_TRUE(flag);

    int number = 99;
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("text"), number));
    EXPECT_EQ(number, 99);
    EXPECT_TRUE(getDataValue(ds.get(), QStringLiteral("number"), number));
    EXPECT_EQ(number, -7);

    DataSet nested = createDS(false);
    const DataSet before = nested;
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("text"), nested));
    EXPECT_EQ(nested, before);

    EXPECT_FALSE(getDataValue(nullptr, QStringLiteral("text"), text));
}

TEST(DataSets, EmptyTextIsAValueAndReplacingKeepsThePosition)
{
    DataSet ds = createDS(false);
    setDataValue(*ds, QStringLiteral("a"), QString());
    setDataValue(*ds, QStringLiteral("b"), 1);
    setDataValue(*ds, QStringLiteral("a"), 2); // a value of another kind replaces the old one

    QString text = QStringLiteral("x");
    EXPECT_FALSE(getDataValue(ds.get(), QStringLiteral("a"), text));
    int number = 0;
    EXPECT_TRUE(getDataValue(ds.get(), QStringLiteral("a"), number));
    EXPECT_EQ(number, 2);
    ASSERT_EQ(ds->size(), 2);
    EXPECT_EQ(ds->entries().front().key, QStringLiteral("a"));

    DataSet other = createDS(false);
    setDataValue(*other, QStringLiteral("empty"), QString());
    EXPECT_TRUE(getDataValue(other.get(), QStringLiteral("empty"), text));
    EXPECT_TRUE(text.isEmpty());
}

TEST(DataSets, NestedSetsAreSharedNotCopied)
{
    DataSet outer = createDS(false);
    DataSet inner = createDS(false);
    setDataValue(*outer, QStringLiteral("inner"), inner);
    setDataValue(*inner, QStringLiteral("late"), 5); // written after nesting

    DataSet read = createDS(false);
    ASSERT_TRUE(getDataValue(outer.get(), QStringLiteral("inner"), read));
    EXPECT_EQ(read, inner);
    int late = 0;
    EXPECT_TRUE(getDataValue(read.get(), QStringLiteral("late"), late));
    EXPECT_EQ(late, 5);

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
    for (const char* key : {"user", "chatLastSynch", "0", "x y", "\xc3\xa9t\xc3\xa9"})
        EXPECT_TRUE(isValidKey(*keyed, QString::fromUtf8(key))) << key;
    EXPECT_FALSE(isValidKey(*keyed, QString()));
    EXPECT_FALSE(isValidKey(*keyed, QString(kMaxKeyLength + 1, u'k')));
    EXPECT_TRUE(isValidKey(*keyed, QString(kMaxKeyLength, u'k')));
    EXPECT_FALSE(isValidKey(*keyed, QString(QChar(0xD800)))) << "unpaired surrogate";
    EXPECT_TRUE(isValidKey(*keyed, QString::fromUtf8("\xf0\x9f\x98\x80"))) << "a surrogate pair";

    DataSet list = createDS(true);
    EXPECT_TRUE(list->isList());
    for (const char* key : {"0", "1", "9", "10", "123456"})
        EXPECT_TRUE(isValidKey(*list, QString::fromLatin1(key))) << key;
    for (const char* key : {"", "01", "-1", "+1", "1.0", " 1", "a", "\xd9\xa1" /* Arabic-Indic one */})
        EXPECT_FALSE(isValidKey(*list, QString::fromUtf8(key))) << key;
    EXPECT_FALSE(setDataValue(*list, QStringLiteral("first"), QStringLiteral("x")));
    EXPECT_TRUE(list->isEmpty());
}

TEST(DataSets, IteratorVisitsEveryKeyOnceAndStops)
{
    DataSet ds = createDS(false);
    const std::set<QString> keys{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    for (const QString& k : keys)
        setDataValue(*ds, k, k);

    std::set<QString> seen;
    DataIterator it(ds);
    while (const DataIterator* e = it.next()) {
        EXPECT_EQ(e->getDataSet(), ds);
        QString value;
        EXPECT_TRUE(getDataValue(e->getDataSet().get(), e->getKey(), value));
        EXPECT_TRUE(seen.insert(e->getKey()).second);
    }
    EXPECT_EQ(seen, keys);
    EXPECT_EQ(it.next(), nullptr) << "stays at the end";

    DataIterator none{DataSet()};
    EXPECT_EQ(none.next(), nullptr);
    EXPECT_TRUE(none.getKey().isNull());
}

TEST(DataSets, ClearingWhileIteratingEndsTheWalk)
{
    DataSet ds = createDS(false);
    setDataValue(*ds, QStringLiteral("a"), 1);
    setDataValue(*ds, QStringLiteral("b"), 2);
    DataIterator it(ds);
    ASSERT_NE(it.next(), nullptr);
    clearDataObjects(*ds);
    EXPECT_EQ(it.next(), nullptr);
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
