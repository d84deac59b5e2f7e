// SPDX-License-Identifier: MIT
// What the runtime stores cost against the bare minimum (the same work without the
// store) and against the usual alternatives, measured in one run. After the Google
// Benchmark table the program prints the ratios and checks them against its goals.
//
// Every time used in the summary is real (wall-clock) time per operation, the fastest
// of the repetitions: the machines this runs on are shared, and interference, which
// real time counts, only ever makes a run slower, so the fastest repetition is the one
// least disturbed. The allocator interposer that measures heap use is HeapCounter.cpp,
// the summary and its goals StoresReport.cpp.
#include "DeskToggle.h"
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

#include "HeapCounter.h"
#include "StoresReport.h"

namespace {

using HeapCounter::heapOf;
using HeapCounter::HeapUse;

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

void writeChangeQuiet(benchmark::State& s)
{
    DeskRuntimeData d;
    toggleDeskFlag(s, d);
}
void writeChangeCancelled(benchmark::State& s)
{
    DeskRuntimeData d;
    d.subscribe([](DeskProperty) {}).cancel();
    toggleDeskFlag(s, d);
}
void writeChangeDirect(benchmark::State& s)
{
    DeskRuntimeData d;
    const ChangeSubscription sub =
        d.subscribe([](DeskProperty) { g_told.fetch_add(1, std::memory_order_relaxed); });
    toggleDeskFlag(s, d);
}
void writeChangeContextHere(benchmark::State& s)
{
    DeskRuntimeData d;
    QObject here;
    const ChangeSubscription sub =
        d.subscribe(&here, [](DeskProperty) { g_told.fetch_add(1, std::memory_order_relaxed); });
    toggleDeskFlag(s, d);
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
        toggleDeskFlag(s, d);
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

    // Each benchmark's fastest run lands in the field of the figures named beside it.
    StoresReport::Figures f;
    StoresReport::Collector c;
    c.add("read/text/store", readTextStore, &f.readText.store);
    c.add("read/text/floor", readTextFloor, &f.readText.floor);
    c.add("read/text/bare lock", readTextBare, &f.readText.bare);
    c.add("read/text/QSettings", readTextSettings, &f.readText.settings);
    c.add("read/text/QHash+lock", readTextHashed, &f.readText.hashed);
    c.add("read/flag/store", readFlagStore, &f.readFlag.store);
    c.add("read/flag/floor", readFlagFloor, &f.readFlag.floor);
    c.add("read/flag/bare lock", readFlagBare, &f.readFlag.bare);
    c.add("read/flag/QSettings", readFlagSettings, &f.readFlag.settings);
    c.add("read/flag/QHash+lock", readFlagHashed, &f.readFlag.hashed);
    c.add("read/integer/store", readNumberStore, &f.readInteger.store);
    c.add("read/integer/floor", readNumberFloor, &f.readInteger.floor);
    c.add("read/integer/bare lock", readNumberBare, &f.readInteger.bare);
    c.add("read/integer/QSettings", readNumberSettings, &f.readInteger.settings);
    c.add("read/integer/QHash+lock", readNumberHashed, &f.readInteger.hashed);
    c.add("write/text/store", writeTextStore, &f.writeText.store);
    c.add("write/text/bare lock", writeTextBare, &f.writeText.bare);
    c.add("write/flag/store", writeFlagStore, &f.writeFlag.store);
    c.add("write/flag/bare lock", writeFlagBare, &f.writeFlag.bare);
    c.add("write/change/quiet", writeChangeQuiet, &f.change.quiet);
    c.add("write/change/cancelled", writeChangeCancelled, &f.change.cancelled);
    c.add("write/change/direct", writeChangeDirect, &f.change.direct);
    c.add("write/change/context here", writeChangeContextHere, &f.change.contextHere);
    c.add("write/change/context queued", writeChangeContextQueued, &f.change.contextQueued);
    c.add("write/change/bare lock", writeChangeBare, &f.change.bare);
    c.add("write/change/app direct", writeChangeAppDirect, &f.change.appDirect);
    c.add("write/change/app direct, no endpoint", writeChangeAppDirectThrowing, &f.change.appDirectThrowing);
    c.add("read/call-flow record/store", readRecordStore, &f.readRecord.store);
    c.add("read/call-flow record/floor", readRecordFloor, &f.readRecord.floor);
    c.add("session/serialize/store", sessionSerialize, &f.session.serialize);
    c.add("session/serialize/floor", sessionBuildFloor, &f.session.build);
    c.add("session/deserialize/store", sessionDeserialize, &f.session.deserialize);
    c.add("session/deserialize/floor", sessionReadFloor, &f.session.read);
    c.add("readers/one store", readersOneStore, &f.readers.one)->Threads(1)->Threads(2)->UseRealTime();
    c.alsoAt("readers/one store", 2, &f.readers.twoOnOneStore);
    c.add("readers/two stores", readersTwoStores, &f.readers.twoOnTwoStores, 2)->Threads(2)->UseRealTime();

    benchmark::RunSpecifiedBenchmarks(&c);
    benchmark::Shutdown();

    f.deskDefault = heapOf([] { return std::make_unique<DeskRuntimeData>(); });
    f.deskProvisioned = heapOf([] {
        auto d = std::make_unique<DeskRuntimeData>();
        Provisioning::provision(*d);
        return d;
    });
    f.sessionDefault = heapOf([] { return std::make_unique<SessionData>(); });
    f.sessionProvisioned = heapOf([] {
        auto session = std::make_unique<SessionData>();
        Provisioning::provision(*session);
        return session;
    });
    f.storedEntries = countEntries(*fixture.planEncrypted) + countEntries(*fixture.planPlain);
    StoresReport::summarize(f);
    return 0;
}
