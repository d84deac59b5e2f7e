// SPDX-License-Identifier: MIT
// Which container fits a data set of one to a dozen entries? Each candidate holds the
// same (key, value) pairs; the benchmarks build a set the way a record serializes
// (insert n keys) and read it the way a record deserializes (look every key up).
#include <DataSets.h>

#include <QHash>
#include <QMap>

#include <benchmark/benchmark.h>

#include <map>
#include <unordered_map>
#include <vector>

using DataSets::Impl::Value;

namespace {

const std::vector<QString>& keys()
{
    static const std::vector<QString> k = {
        QStringLiteral("audioInputDevice"),  QStringLiteral("audioOutputDevice"),
        QStringLiteral("currentMode"),       QStringLiteral("lastLandlinePhone"),
        QStringLiteral("sipAccount"),        QStringLiteral("callback"),
        QStringLiteral("ringToneVolume"),    QStringLiteral("ringToneDevice"),
        QStringLiteral("unseenMissedCalls"), QStringLiteral("lastPhoneBookSync"),
        QStringLiteral("optOutMessages"),    QStringLiteral("userSettings")};
    return k;
}

struct FlatVector
{
    std::vector<std::pair<QString, Value>> entries;
    void set(const QString& k, Value v)
    {
        for (auto& e : entries)
            if (e.first == k) {
                e.second = std::move(v);
                return;
            }
        entries.emplace_back(k, std::move(v));
    }
    const Value* find(const QString& k) const
    {
        for (const auto& e : entries)
            if (e.first == k)
                return &e.second;
        return nullptr;
    }
};

struct StdMap
{
    std::map<QString, Value> entries;
    void set(const QString& k, Value v) { entries[k] = std::move(v); }
    const Value* find(const QString& k) const
    {
        auto it = entries.find(k);
        return it == entries.end() ? nullptr : &it->second;
    }
};

struct StdUnorderedMap
{
    struct Hash
    {
        size_t operator()(const QString& s) const { return qHash(s); }
    };
    std::unordered_map<QString, Value, Hash> entries;
    void set(const QString& k, Value v) { entries[k] = std::move(v); }
    const Value* find(const QString& k) const
    {
        auto it = entries.find(k);
        return it == entries.end() ? nullptr : &it->second;
    }
};

struct QtHash
{
    QHash<QString, Value> entries;
    void set(const QString& k, Value v) { entries.insert(k, std::move(v)); }
    const Value* find(const QString& k) const
    {
        auto it = entries.constFind(k);
        return it == entries.cend() ? nullptr : &it.value();
    }
};

struct QtMap
{
    QMap<QString, Value> entries;
    void set(const QString& k, Value v) { entries.insert(k, std::move(v)); }
    const Value* find(const QString& k) const
    {
        auto it = entries.constFind(k);
        return it == entries.cend() ? nullptr : &it.value();
    }
};

template <class Set> void BM_Build(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Set s;
        for (int i = 0; i < n; ++i)
            s.set(keys()[size_t(i)], Value(i));
        benchmark::DoNotOptimize(s);
    }
}

template <class Set> void BM_LookupAll(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    Set s;
    for (int i = 0; i < n; ++i)
        s.set(keys()[size_t(i)], Value(i));
    for (auto _ : state) {
        for (int i = 0; i < n; ++i)
            benchmark::DoNotOptimize(s.find(keys()[size_t(i)]));
    }
}

// The component itself: the flat vector behind its per-set lock.
void BM_Build_DataSet(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        DataSets::DataSet ds = DataSets::Impl::createDS(false);
        for (int i = 0; i < n; ++i)
            DataSets::Impl::setDataValue(*ds, keys()[size_t(i)], i);
        benchmark::DoNotOptimize(ds);
    }
}

void BM_LookupAll_DataSet(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    for (int i = 0; i < n; ++i)
        DataSets::Impl::setDataValue(*ds, keys()[size_t(i)], i);
    for (auto _ : state) {
        for (int i = 0; i < n; ++i) {
            int v = 0;
            benchmark::DoNotOptimize(DataSets::Impl::getDataValue(ds.get(), keys()[size_t(i)], v));
        }
    }
}

} // namespace

#define SIZES ->Arg(1)->Arg(4)->Arg(8)->Arg(12)
BENCHMARK_TEMPLATE(BM_Build, FlatVector) SIZES;
BENCHMARK_TEMPLATE(BM_Build, StdMap) SIZES;
BENCHMARK_TEMPLATE(BM_Build, StdUnorderedMap) SIZES;
BENCHMARK_TEMPLATE(BM_Build, QtHash) SIZES;
BENCHMARK_TEMPLATE(BM_Build, QtMap) SIZES;
BENCHMARK(BM_Build_DataSet) SIZES;
BENCHMARK_TEMPLATE(BM_LookupAll, FlatVector) SIZES;
BENCHMARK_TEMPLATE(BM_LookupAll, StdMap) SIZES;
BENCHMARK_TEMPLATE(BM_LookupAll, StdUnorderedMap) SIZES;
BENCHMARK_TEMPLATE(BM_LookupAll, QtHash) SIZES;
BENCHMARK_TEMPLATE(BM_LookupAll, QtMap) SIZES;
BENCHMARK(BM_LookupAll_DataSet) SIZES;

BENCHMARK_MAIN();
