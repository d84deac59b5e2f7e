// SPDX-License-Identifier: MIT
// What the runtime stores cost against the bare minimum (the same work without the
// store) and against the usual alternatives, measured in one run. After the Google
// Benchmark table the program prints the ratios and checks them against its goals.
//
// Every time used in the summary is CPU time per operation, the fastest of the
// repetitions: the machines this runs on are shared, and interference only ever makes
// a run slower (wall time also counts the time other processes held the core).
#include "Provisioning.h"

#include <AppRuntimeData.h>
#include <CallFlowConfigurationDTO.h>
#include <CallFlowRuntimeData.h>
#include <DataSets.h>
#include <DeskConfigurationDTO.h>
#include <DeskRuntimeData.h>
#include <SessionData.h>

#include <ChangeSubscription.h>

#include <QCoreApplication>
#include <QHash>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

// ---------------------------------------------------------------------------------
// Heap accounting. A counting global operator new/delete gives the bytes the library
// allocates with new; Qt allocates text and byte buffers with malloc, so the C
// allocator's entry points are counted too (forwarding to glibc's own), which gives
// everything the heap holds. Both count only while a measurement runs, so the timed
// benchmarks pay one relaxed load per allocation.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long long> g_newBytes{0};
std::atomic<long long> g_heapBytes{0};

long long usable(void* p) noexcept
{
    return static_cast<long long>(malloc_usable_size(p));
}

void* counted(std::atomic<long long>& counter, void* p) noexcept
{
    if (p && g_counting.load(std::memory_order_relaxed))
        counter.fetch_add(usable(p), std::memory_order_relaxed);
    return p;
}

void uncount(std::atomic<long long>& counter, void* p) noexcept
{
    if (p && g_counting.load(std::memory_order_relaxed))
        counter.fetch_sub(usable(p), std::memory_order_relaxed);
}

void* countedNew(std::size_t n)
{
    if (void* p = std::malloc(n == 0 ? 1 : n))
        return counted(g_newBytes, p);
    throw std::bad_alloc();
}

void countedDelete(void* p) noexcept
{
    uncount(g_newBytes, p);
    std::free(p);
}

} // namespace

extern "C" {
void* malloc(std::size_t n) noexcept
{
    return counted(g_heapBytes, __libc_malloc(n));
}
void* calloc(std::size_t n, std::size_t size) noexcept
{
    return counted(g_heapBytes, __libc_calloc(n, size));
}
void* realloc(void* p, std::size_t n) noexcept
{
    uncount(g_heapBytes, p);
    void* q = __libc_realloc(p, n);
    return counted(g_heapBytes, q ? q : (n ? p : nullptr));
}
void* memalign(std::size_t alignment, std::size_t n) noexcept
{
    return counted(g_heapBytes, __libc_memalign(alignment, n));
}
void* aligned_alloc(std::size_t alignment, std::size_t n) noexcept
{
    return memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) noexcept
{
    void* p = memalign(alignment, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) noexcept
{
    uncount(g_heapBytes, p);
    __libc_free(p);
}
}

void* operator new(std::size_t n)
{
    return countedNew(n);
}
void* operator new[](std::size_t n)
{
    return countedNew(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    return counted(g_newBytes, std::malloc(n == 0 ? 1 : n));
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept
{
    return counted(g_newBytes, std::malloc(n == 0 ? 1 : n));
}
void operator delete(void* p) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p) noexcept
{
    countedDelete(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    countedDelete(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    countedDelete(p);
}

namespace {

struct HeapUse
{
    long long newBytes = 0;  // held through operator new
    long long heapBytes = 0; // held on the heap in all, Qt's text buffers included
};

// Heap held by the object that `make` returns, while it is alive (usable sizes of
// the blocks, without the allocator's own bookkeeping).
template <class Make> HeapUse heapOf(Make&& make)
{
    g_newBytes = 0;
    g_heapBytes = 0;
    g_counting = true;
    auto object = make();
    g_counting = false;
    const HeapUse use{g_newBytes.load(), g_heapBytes.load()};
    benchmark::DoNotOptimize(object);
    return use;
}

// ---------------------------------------------------------------------------------
// The floor of storing: the same nested sets, built and read with nothing but the
// data-set calls. A plan is a lock-free copy of a stored set's shape and values, taken
// once, so that walking it costs next to nothing.
struct Plan
{
    using Value = std::variant<QString, bool, int, std::shared_ptr<Plan>>;
    bool list = false;
    std::vector<std::pair<QString, Value>> entries;
};

std::shared_ptr<Plan> planOf(const DataSets::DataSet& ds)
{
    auto plan = std::make_shared<Plan>();
    plan->list = ds->isList();
    for (const DataSets::Impl::Entry& e : ds->entries()) {
        if (const auto* nested = std::get_if<DataSets::DataSet>(&e.value))
            plan->entries.emplace_back(e.key, planOf(*nested));
        else if (const auto* text = std::get_if<QString>(&e.value))
            plan->entries.emplace_back(e.key, *text);
        else if (const auto* flag = std::get_if<bool>(&e.value))
            plan->entries.emplace_back(e.key, *flag);
        else
            plan->entries.emplace_back(e.key, std::get<int>(e.value));
    }
    return plan;
}

int countEntries(const Plan& plan)
{
    int n = 0;
    for (const auto& [key, value] : plan.entries) {
        ++n;
        if (const auto* nested = std::get_if<std::shared_ptr<Plan>>(&value))
            n += countEntries(**nested);
    }
    return n;
}

DataSets::DataSet build(const Plan& plan)
{
    DataSets::DataSet ds = DataSets::Impl::createDS(plan.list);
    for (const auto& [key, value] : plan.entries) {
        if (const auto* nested = std::get_if<std::shared_ptr<Plan>>(&value))
            DataSets::Impl::setDataValue(*ds, key, build(**nested));
        else if (const auto* text = std::get_if<QString>(&value))
            DataSets::Impl::setDataValue(*ds, key, *text);
        else if (const auto* flag = std::get_if<bool>(&value))
            DataSets::Impl::setDataValue(*ds, key, *flag);
        else
            DataSets::Impl::setDataValue(*ds, key, std::get<int>(value));
    }
    return ds;
}

// Reads every value the plan names, each into a local of its kind.
void readAll(const Plan& plan, const DataSets::DataSet& ds)
{
    for (const auto& [key, value] : plan.entries) {
        if (const auto* nested = std::get_if<std::shared_ptr<Plan>>(&value)) {
            DataSets::DataSet inner = DataSets::Impl::createDS();
            DataSets::Impl::getDataValue(ds.get(), key, inner);
            readAll(**nested, inner);
        } else if (std::holds_alternative<QString>(value)) {
            QString text;
            DataSets::Impl::getDataValue(ds.get(), key, text);
            benchmark::DoNotOptimize(text);
        } else if (std::holds_alternative<bool>(value)) {
            bool flag = false;
            DataSets::Impl::getDataValue(ds.get(), key, flag);
            benchmark::DoNotOptimize(flag);
        } else {
            int number = 0;
            DataSets::Impl::getDataValue(ds.get(), key, number);
            benchmark::DoNotOptimize(number);
        }
    }
}

// ---------------------------------------------------------------------------------
// What the benchmarks work on, set up once before they run.
struct Fixture
{
    QString host = QStringLiteral("desk-%1.example.net").arg(7); // a heap text, as provisioned
    DeskConfigurationDTO record;
    DeskRuntimeData desk;
    DeskRuntimeData otherDesk;

    // The bare lock around a text and a flag: what a store does at the least.
    struct Bare
    {
        mutable std::shared_mutex lock;
        QString text;
        bool flag = false;
        int number = 0;
    } bare;

    // A hash of variants behind a reader-writer lock.
    struct Hashed
    {
        mutable std::shared_mutex lock;
        QHash<QString, QVariant> values;
    } hashed;

    QTemporaryDir dir;
    std::unique_ptr<QSettings> settings;

    // A fully provisioned call-flow store, and its record unlocked.
    CallFlowRuntimeData callFlow;
    CallFlowConfigurationDTO callFlowRecord;

    // A fully provisioned session, what it stores, and the plans of those sets.
    SessionData session;
    SessionData restored;
    DataSets::DataSet storedEncrypted;
    DataSets::DataSet storedPlain;
    std::shared_ptr<Plan> planEncrypted;
    std::shared_ptr<Plan> planPlain;

    const QString textKey = QStringLiteral("desk/host");
    const QString flagKey = QStringLiteral("desk/enabled");
    const QString numberKey = QStringLiteral("desk/port");

    Fixture()
    {
        record.setHost(host);
        record.setEnabled(true);
        record.setPort(5061);
        for (DeskRuntimeData* d : {&desk, &otherDesk}) {
            d->setData<QString, DeskProperty::Host>(host);
            d->setData<bool, DeskProperty::Enabled>(true);
            d->setData<unsigned short, DeskProperty::Port>(5061);
        }
        bare.text = host;
        bare.flag = true;
        bare.number = 5061;
        hashed.values.insert(textKey, host);
        hashed.values.insert(flagKey, true);
        hashed.values.insert(numberKey, 5061);
        settings =
            std::make_unique<QSettings>(dir.filePath(QStringLiteral("peer.ini")), QSettings::IniFormat);
        settings->setValue(textKey, host);
        settings->setValue(flagKey, true);
        settings->setValue(numberKey, 5061);
        settings->sync();

        Provisioning::provision(callFlow);
        callFlowRecord =
            callFlow.getData<CallFlowConfigurationDTO, CallFlowProperty::CallFlowConfiguration>();

        Provisioning::provision(session);
        storedEncrypted = session.serializeEncrypted();
        storedPlain = session.serializeUnencrypted();
        planEncrypted = planOf(storedEncrypted);
        planPlain = planOf(storedPlain);
    }
};

Fixture* g_fixture = nullptr;

// ---------------------------------------------------------------------------------
// Reads. The floor copies the field from a record nobody locks; the record's address
// escapes each time so the copy cannot be hoisted out of the loop.
template <class Read> void loop(benchmark::State& state, Read&& read)
{
    for (auto _ : state) {
        auto value = read();
        benchmark::DoNotOptimize(value);
    }
}

void readTextStore(benchmark::State& s)
{
    const DeskRuntimeData& d = g_fixture->desk;
    loop(s, [&d] { return d.getData<QString, DeskProperty::Host>(); });
}
void readFlagStore(benchmark::State& s)
{
    const DeskRuntimeData& d = g_fixture->desk;
    loop(s, [&d] { return d.getData<bool, DeskProperty::Enabled>(); });
}
void readNumberStore(benchmark::State& s)
{
    const DeskRuntimeData& d = g_fixture->desk;
    loop(s, [&d] { return d.getData<unsigned short, DeskProperty::Port>(); });
}

template <class Get> void readFloor(benchmark::State& s, Get get)
{
    const DeskConfigurationDTO* r = &g_fixture->record;
    loop(s, [&r, &get] {
        benchmark::DoNotOptimize(r);
        return get(*r);
    });
}
void readTextFloor(benchmark::State& s)
{
    readFloor(s, [](const DeskConfigurationDTO& r) { return r.getHost(); });
}
void readFlagFloor(benchmark::State& s)
{
    readFloor(s, [](const DeskConfigurationDTO& r) { return r.isEnabled(); });
}
void readNumberFloor(benchmark::State& s)
{
    readFloor(s, [](const DeskConfigurationDTO& r) { return r.getPort(); });
}

template <class Member> void readBare(benchmark::State& s, Member member)
{
    const Fixture::Bare& b = g_fixture->bare;
    loop(s, [&b, member] {
        std::shared_lock<std::shared_mutex> lock(b.lock);
        return b.*member;
    });
}
void readTextBare(benchmark::State& s)
{
    readBare(s, &Fixture::Bare::text);
}
void readFlagBare(benchmark::State& s)
{
    readBare(s, &Fixture::Bare::flag);
}
void readNumberBare(benchmark::State& s)
{
    readBare(s, &Fixture::Bare::number);
}

void readTextSettings(benchmark::State& s)
{
    loop(s, [] { return g_fixture->settings->value(g_fixture->textKey).toString(); });
}
void readFlagSettings(benchmark::State& s)
{
    loop(s, [] { return g_fixture->settings->value(g_fixture->flagKey).toBool(); });
}
void readNumberSettings(benchmark::State& s)
{
    loop(s, [] { return g_fixture->settings->value(g_fixture->numberKey).toInt(); });
}

template <class Convert> void readHashed(benchmark::State& s, const QString& key, Convert convert)
{
    const Fixture::Hashed& h = g_fixture->hashed;
    loop(s, [&h, &key, convert] {
        std::shared_lock<std::shared_mutex> lock(h.lock);
        return convert(h.values.value(key));
    });
}
void readTextHashed(benchmark::State& s)
{
    readHashed(s, g_fixture->textKey, [](const QVariant& v) { return v.toString(); });
}
void readFlagHashed(benchmark::State& s)
{
    readHashed(s, g_fixture->flagKey, [](const QVariant& v) { return v.toBool(); });
}
void readNumberHashed(benchmark::State& s)
{
    readHashed(s, g_fixture->numberKey, [](const QVariant& v) { return v.toInt(); });
}

// ---------------------------------------------------------------------------------
// Writes: a property against the same assignment under a bare exclusive lock.
void writeTextStore(benchmark::State& s)
{
    DeskRuntimeData& d = g_fixture->desk;
    const QString& v = g_fixture->host;
    for (auto _ : s)
        d.setData<QString, DeskProperty::Host>(v);
}
void writeTextBare(benchmark::State& s)
{
    Fixture::Bare& b = g_fixture->bare;
    const QString& v = g_fixture->host;
    for (auto _ : s) {
        std::unique_lock<std::shared_mutex> lock(b.lock);
        b.text = v;
        benchmark::ClobberMemory();
    }
}
void writeFlagStore(benchmark::State& s)
{
    DeskRuntimeData& d = g_fixture->desk;
    for (auto _ : s)
        d.setData<bool, DeskProperty::Enabled>(true);
}
void writeFlagBare(benchmark::State& s)
{
    Fixture::Bare& b = g_fixture->bare;
    for (auto _ : s) {
        std::unique_lock<std::shared_mutex> lock(b.lock);
        b.flag = true;
        benchmark::ClobberMemory();
    }
}

// ---------------------------------------------------------------------------------
// Writes that change the value, with and without a subscriber, so that every write
// has something to report. The flag alternates; the stores are desks of their own.
// "quiet" never had a subscriber; "cancelled" had one, so its hub exists and is idle
// (the relaxed check); "direct" runs a counting callback on the writing thread;
// "context here" has its context on the writing thread (called within the write);
// "context queued" posts each change to a context on another thread's event loop.
std::atomic<long> g_told{0};

void toggle(benchmark::State& s, DeskRuntimeData& d)
{
    bool flag = false;
    for (auto _ : s) {
        flag = !flag;
        d.setData<bool, DeskProperty::Tls>(flag);
    }
}
void writeChangeQuiet(benchmark::State& s)
{
    DeskRuntimeData d;
    toggle(s, d);
}
void writeChangeCancelled(benchmark::State& s)
{
    DeskRuntimeData d;
    d.subscribe([](DeskProperty) {}).cancel();
    toggle(s, d);
}
void writeChangeDirect(benchmark::State& s)
{
    DeskRuntimeData d;
    const ChangeSubscription sub =
        d.subscribe([](DeskProperty) { g_told.fetch_add(1, std::memory_order_relaxed); });
    toggle(s, d);
}
void writeChangeContextHere(benchmark::State& s)
{
    DeskRuntimeData d;
    QObject here;
    const ChangeSubscription sub =
        d.subscribe(&here, [](DeskProperty) { g_told.fetch_add(1, std::memory_order_relaxed); });
    toggle(s, d);
}
void writeChangeContextQueued(benchmark::State& s)
{
    DeskRuntimeData d;
    QThread loop;
    loop.start();
    QObject there;
    there.moveToThread(&loop);
    {
        const ChangeSubscription sub =
            d.subscribe(&there, [](DeskProperty) { g_told.fetch_add(1, std::memory_order_relaxed); });
        toggle(s, d);
    }
    loop.quit();
    loop.wait();
}
// The application store compares 24 rows, four of them derived endpoint URLs. With no
// endpoint of the current type their getters throw, before and after every write.
void toggleApp(benchmark::State& s, bool withEndpoint)
{
    AppRuntimeData app;
    if (withEndpoint)
        app.setData<Endpoints, AppProperty::EndpointDirectory>(Endpoints(
            {EndpointData(app.getData<ResourcesDefs::RemoteType, AppProperty::CurrentRemoteType>(),
                          "https://ws.example.net", "https://a.example.net", "https://n.example.net",
                          "https://r.example.net", "https://m.example.net")}));
    const ChangeSubscription sub =
        app.subscribe([](AppProperty) { g_told.fetch_add(1, std::memory_order_relaxed); });
    bool flag = false;
    for (auto _ : s) {
        flag = !flag;
        app.setData<bool, AppProperty::EnableOutlookImport>(flag);
    }
}
void writeChangeAppDirect(benchmark::State& s)
{
    toggleApp(s, true);
}
void writeChangeAppDirectThrowing(benchmark::State& s)
{
    toggleApp(s, false);
}

// The same alternating write under a bare exclusive lock.
void writeChangeBare(benchmark::State& s)
{
    Fixture::Bare& b = g_fixture->bare;
    bool flag = false;
    for (auto _ : s) {
        flag = !flag;
        std::unique_lock<std::shared_mutex> lock(b.lock);
        b.flag = flag;
        benchmark::ClobberMemory();
    }
}

// ---------------------------------------------------------------------------------
// Readers side by side: the same store from one and two threads, and two threads on
// a store each. An integer read, so only the lock is shared, not a text's counter.
void readersOneStore(benchmark::State& s)
{
    const DeskRuntimeData& d = g_fixture->desk;
    loop(s, [&d] { return d.getData<unsigned short, DeskProperty::Port>(); });
}
void readersTwoStores(benchmark::State& s)
{
    const DeskRuntimeData& d = s.thread_index() == 0 ? g_fixture->desk : g_fixture->otherDesk;
    loop(s, [&d] { return d.getData<unsigned short, DeskProperty::Port>(); });
}

// ---------------------------------------------------------------------------------
// The whole call-flow record: one copy under the store's lock against a plain copy.
void readRecordStore(benchmark::State& s)
{
    const CallFlowRuntimeData& c = g_fixture->callFlow;
    loop(s, [&c] { return c.getData<CallFlowConfigurationDTO, CallFlowProperty::CallFlowConfiguration>(); });
}
void readRecordFloor(benchmark::State& s)
{
    const CallFlowConfigurationDTO* r = &g_fixture->callFlowRecord;
    loop(s, [&r] {
        benchmark::DoNotOptimize(r);
        return CallFlowConfigurationDTO(*r);
    });
}

// ---------------------------------------------------------------------------------
// The whole session stored (both sets) and read back (both sets), against building
// and reading the very same sets with the data-set calls alone.
void sessionSerialize(benchmark::State& s)
{
    const SessionData& session = g_fixture->session;
    for (auto _ : s) {
        DataSets::DataSet encrypted = session.serializeEncrypted();
        DataSets::DataSet plain = session.serializeUnencrypted();
        benchmark::DoNotOptimize(encrypted);
        benchmark::DoNotOptimize(plain);
    }
}
void sessionBuildFloor(benchmark::State& s)
{
    const Plan& encryptedPlan = *g_fixture->planEncrypted;
    const Plan& plainPlan = *g_fixture->planPlain;
    for (auto _ : s) {
        DataSets::DataSet encrypted = build(encryptedPlan);
        DataSets::DataSet plain = build(plainPlan);
        benchmark::DoNotOptimize(encrypted);
        benchmark::DoNotOptimize(plain);
    }
}
void sessionDeserialize(benchmark::State& s)
{
    SessionData& restored = g_fixture->restored;
    for (auto _ : s) {
        restored.deserializeEncrypted(g_fixture->storedEncrypted);
        restored.deserializeUnencrypted(g_fixture->storedPlain);
    }
}
void sessionReadFloor(benchmark::State& s)
{
    for (auto _ : s) {
        readAll(*g_fixture->planEncrypted, g_fixture->storedEncrypted);
        readAll(*g_fixture->planPlain, g_fixture->storedPlain);
    }
}

// ---------------------------------------------------------------------------------
// The summary: collects every run while the console reporter prints as usual.
class Collector : public benchmark::ConsoleReporter
{
public:
    Collector()
        : ConsoleReporter(OO_Tabular)
    {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown;
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                const double ns =
                    r.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(r.time_unit);
                auto [it, fresh] = m_fastest.emplace(r.benchmark_name(), ns);
                if (!fresh)
                    it->second = std::min(it->second, ns);
            }
            if (r.repetitions <= 1 || r.run_type == Run::RT_Aggregate)
                shown.push_back(r);
        }
        if (!shown.empty())
            ConsoleReporter::ReportRuns(shown);
    }

    // Nanoseconds per operation, fastest repetition; 0 when the benchmark did not run.
    double ns(const std::string& name) const
    {
        const auto it = m_fastest.find(name);
        return it == m_fastest.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> m_fastest;
};

double ratio(double a, double b)
{
    return b > 0 ? a / b : 0.0;
}

// One stated goal: `value` (a ratio or a size) against its limit.
struct Goal
{
    std::string what;
    double value;
    double limit;
    bool atLeast; // the value must reach the limit rather than stay under it
    const char* unit;

    void print() const
    {
        const char* verdict = value <= 0                                    ? "not run"
                              : (atLeast ? value >= limit : value <= limit) ? "met"
                                                                            : "MISSED";
        std::printf("  [%-7s] %-62s %9.2f%s (goal %s %.1f%s)\n", verdict, what.c_str(), value, unit,
                    atLeast ? ">=" : "<=", limit, unit);
    }
};

struct Heaps
{
    HeapUse deskDefault, deskProvisioned, sessionDefault, sessionProvisioned;
};

void summarize(const Collector& c, const Heaps& heap, int storedEntries)
{
    std::vector<Goal> goals;
    std::printf("\n== Summary: ns per operation (fastest repetition) and ratios ==\n");
    std::printf("%-8s %9s %9s %7s %9s %7s %10s %8s %10s %8s\n", "read", "store", "floor", "x floor",
                "bare lock", "x bare", "QSettings", "faster", "QHash+lock", "faster");
    for (const char* kind : {"text", "flag", "integer"}) {
        const std::string base = std::string("read/") + kind + "/";
        const double store = c.ns(base + "store"), floor = c.ns(base + "floor"),
                     bare = c.ns(base + "bare lock");
        const double settings = c.ns(base + "QSettings"), hashed = c.ns(base + "QHash+lock");
        std::printf("%-8s %9.2f %9.2f %7.2f %9.2f %7.2f %10.2f %8.1f %10.2f %8.1f\n", kind, store, floor,
                    ratio(store, floor), bare, ratio(store, bare), settings, ratio(settings, store), hashed,
                    ratio(hashed, store));
        goals.push_back(
            {std::string("store read of a ") + kind + " / floor", ratio(store, floor), 2.5, false, "x"});
        goals.push_back({std::string("QSettings::value / store read of a ") + kind, ratio(settings, store),
                         4.0, true, "x"});
    }

    {
        const double store = c.ns("read/call-flow record/store"), floor = c.ns("read/call-flow record/floor");
        std::printf("%-8s %9.2f %9.2f %7.2f   (the whole provisioned call-flow record)\n", "record", store,
                    floor, ratio(store, floor));
        goals.push_back({"store read of the call-flow record / floor", ratio(store, floor), 2.5, false, "x"});
    }

    std::printf("\n%-8s %9s %9s %7s\n", "write", "store", "bare lock", "x bare");
    for (const char* kind : {"text", "flag"}) {
        const std::string base = std::string("write/") + kind + "/";
        const double store = c.ns(base + "store"), bare = c.ns(base + "bare lock");
        std::printf("%-8s %9.2f %9.2f %7.2f\n", kind, store, bare, ratio(store, bare));
        goals.push_back({std::string("store write of a ") + kind + " / bare exclusive-lock assignment",
                         ratio(store, bare), 1.5, false, "x"});
    }

    {
        const double quiet = c.ns("write/change/quiet"), bare = c.ns("write/change/bare lock");
        std::printf(
            "\nwrite that changes a flag, ns: bare lock %.2f; no subscriber %.2f (%.2fx bare); after a "
            "cancel %.2f; one direct subscriber %.2f; one context subscriber on the writing thread "
            "%.2f, on another thread (queued) %.2f\n",
            bare, quiet, ratio(quiet, bare), c.ns("write/change/cancelled"), c.ns("write/change/direct"),
            c.ns("write/change/context here"), c.ns("write/change/context queued"));
        std::printf(
            "application store, one direct subscriber: %.2f with an endpoint of the current type, %.2f "
            "without (the derived getters throw)\n",
            c.ns("write/change/app direct"), c.ns("write/change/app direct, no endpoint"));
    }

    const double one = c.ns("readers/one store/real_time/threads:1");
    const double sameTwo = c.ns("readers/one store/real_time/threads:2");
    const double twoTwo = c.ns("readers/two stores/real_time/threads:2");
    std::printf("\nreaders (integer read, ns per read per thread): one reader %.2f; two readers on one store "
                "%.2f (%.2fx); two readers on two stores %.2f (%.2fx)\n",
                one, sameTwo, ratio(sameTwo, one), twoTwo, ratio(twoTwo, one));

    {
        const double ser = c.ns("session/serialize/store"), build = c.ns("session/serialize/floor");
        const double deser = c.ns("session/deserialize/store"), read = c.ns("session/deserialize/floor");
        std::printf("\nwhole provisioned session, both sets (%d entries), ns:\n", storedEntries);
        std::printf("  serialize   %10.0f   floor (build the same sets) %10.0f   %5.2fx\n", ser, build,
                    ratio(ser, build));
        std::printf("  deserialize %10.0f   floor (read the same sets)  %10.0f   %5.2fx\n", deser, read,
                    ratio(deser, read));
        std::printf("  round trip  %10.0f   floor                       %10.0f   %5.2fx\n", ser + deser,
                    build + read, ratio(ser + deser, build + read));
        goals.push_back(
            {"whole-session round trip / floor", ratio(ser + deser, build + read), 2.0, false, "x"});
    }

    std::printf("\nheap held, bytes (through operator new / on the heap in all, Qt's buffers included):\n");
    const std::pair<const char*, HeapUse> rows[] = {{"default desk store", heap.deskDefault},
                                                    {"provisioned desk store", heap.deskProvisioned},
                                                    {"default session", heap.sessionDefault},
                                                    {"fully provisioned session", heap.sessionProvisioned}};
    for (const auto& [name, use] : rows)
        std::printf("  %-26s %7lld / %7lld\n", name, use.newBytes, use.heapBytes);
    goals.push_back(
        {"default session heap", double(heap.sessionDefault.heapBytes) / 1024.0, 4.0, false, " KiB"});
    goals.push_back({"fully provisioned session heap", double(heap.sessionProvisioned.heapBytes) / 1024.0,
                     16.0, false, " KiB"});

    std::printf("\n== Goals ==\n");
    for (const Goal& g : goals)
        g.print();
}

} // namespace

int main(int argc, char** argv)
{
    // Defaults that keep the whole run short yet steady; later arguments override them.
    std::vector<char*> args{argv[0]};
    std::string repetitions = "--benchmark_repetitions=5", minTime = "--benchmark_min_time=0.1";
    args.push_back(repetitions.data());
    args.push_back(minTime.data());
    for (int i = 1; i < argc; ++i)
        args.push_back(argv[i]);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;

    // The queued-context benchmark needs an event loop on another thread.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    Fixture fixture;
    g_fixture = &fixture;

    const auto reg = [](const char* name, void (*fn)(benchmark::State&)) {
        return benchmark::RegisterBenchmark(name, fn);
    };
    reg("read/text/store", readTextStore);
    reg("read/text/floor", readTextFloor);
    reg("read/text/bare lock", readTextBare);
    reg("read/text/QSettings", readTextSettings);
    reg("read/text/QHash+lock", readTextHashed);
    reg("read/flag/store", readFlagStore);
    reg("read/flag/floor", readFlagFloor);
    reg("read/flag/bare lock", readFlagBare);
    reg("read/flag/QSettings", readFlagSettings);
    reg("read/flag/QHash+lock", readFlagHashed);
    reg("read/integer/store", readNumberStore);
    reg("read/integer/floor", readNumberFloor);
    reg("read/integer/bare lock", readNumberBare);
    reg("read/integer/QSettings", readNumberSettings);
    reg("read/integer/QHash+lock", readNumberHashed);
    reg("write/text/store", writeTextStore);
    reg("write/text/bare lock", writeTextBare);
    reg("write/flag/store", writeFlagStore);
    reg("write/flag/bare lock", writeFlagBare);
    reg("write/change/quiet", writeChangeQuiet);
    reg("write/change/cancelled", writeChangeCancelled);
    reg("write/change/direct", writeChangeDirect);
    reg("write/change/context here", writeChangeContextHere);
    reg("write/change/context queued", writeChangeContextQueued);
    reg("write/change/bare lock", writeChangeBare);
    reg("write/change/app direct", writeChangeAppDirect);
    reg("write/change/app direct, no endpoint", writeChangeAppDirectThrowing);
    reg("read/call-flow record/store", readRecordStore);
    reg("read/call-flow record/floor", readRecordFloor);
    reg("session/serialize/store", sessionSerialize);
    reg("session/serialize/floor", sessionBuildFloor);
    reg("session/deserialize/store", sessionDeserialize);
    reg("session/deserialize/floor", sessionReadFloor);
    reg("readers/one store", readersOneStore)->Threads(1)->Threads(2)->UseRealTime();
    reg("readers/two stores", readersTwoStores)->Threads(2)->UseRealTime();

    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    Heaps heap;
    heap.deskDefault = heapOf([] { return std::make_unique<DeskRuntimeData>(); });
    heap.deskProvisioned = heapOf([] {
        auto d = std::make_unique<DeskRuntimeData>();
        Provisioning::provision(*d);
        return d;
    });
    heap.sessionDefault = heapOf([] { return std::make_unique<SessionData>(); });
    heap.sessionProvisioned = heapOf([] {
        auto session = std::make_unique<SessionData>();
        Provisioning::provision(*session);
        return session;
    });
    summarize(collector, heap, countEntries(*fixture.planEncrypted) + countEntries(*fixture.planPlain));
    return 0;
}
