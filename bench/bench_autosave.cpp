// SPDX-License-Identifier: MIT
// What an autosave costs the writers and how much a crash can lose.
//
// - A write with the autosave attached against the same write with one direct
//   subscriber (the autosave subscribes to all six stores; a write notes a change
//   with one atomic load once a store is pending).
// - A write straight into the user settings (which bumps the set's change counter)
//   and the autosave's reading of those counters over a tree of sets.
// - A burst of 10^4 writes: how many stores it costs.
// - The longest pair of writes while every fsync is slowed to 400 ms (strace).
// - The crash window: a client writing every 10 ms under a 300 ms delay, killed with
//   SIGKILL at random moments; how long before the kill the oldest lost change was
//   acknowledged (median and worst over the runs).
//
// The process runs itself as the client ("bench_autosave client ..."), see
// testsupport/AutosaveClient.h.
#include "AutosaveClient.h"
#include "DeskToggle.h"

#include <SessionAutosave.h>
#include <SessionData.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <thread>

namespace {

using namespace std::chrono_literals;
using AutosaveClient::keyInFile;

std::atomic<long> g_told{0};
QByteArray g_self;

// A restored session in a scratch state directory, for the length of one benchmark.
struct Scratch
{
    QTemporaryDir dir;
    SessionStore store{QFile::encodeName(dir.path()) + "/state", keyInFile()};
    SessionStore::Lock lock = store.lock();
    SessionData session;
    Scratch() { store.restore(lock, session); }
};

void writeOneDirectSubscriber(benchmark::State& state)
{
    Scratch s;
    const auto desk = s.session.getDeskSessionData().lock();
    const ChangeSubscription sub =
        desk->subscribe([](DeskProperty) { g_told.fetch_add(1, std::memory_order_relaxed); });
    toggleDeskFlag(state, *desk);
}

// The default delay: a store every two seconds of the run, on the autosave's thread.
void writeWithAutosave(benchmark::State& state)
{
    Scratch s;
    SessionAutosave autosave(s.store, s.lock, s.session);
    toggleDeskFlag(state, *s.session.getDeskSessionData().lock());
    state.counters["stores"] = static_cast<double>(autosave.storeCount());
}

// As above with a 10 ms delay: stores run all the time on the other core, each taking
// the desk store's shared lock while it serializes it.
void writeWithAutosaveStoring(benchmark::State& state)
{
    Scratch s;
    SessionAutosave::Options options;
    options.delay = 10ms;
    SessionAutosave autosave(s.store, s.lock, s.session, options);
    toggleDeskFlag(state, *s.session.getDeskSessionData().lock());
    state.counters["stores"] = static_cast<double>(autosave.storeCount());
}

// Into the user settings: each store bumps the set's change counter.
void writeUserSetting(benchmark::State& state)
{
    Scratch s;
    SessionAutosave autosave(s.store, s.lock, s.session);
    const DataSets::DataSet settings =
        s.session.getAppSessionData().lock()->getData<DataSets::DataSet, AppProperty::UserSettings>();
    int i = 0;
    for (auto _ : state)
        DataSets::Impl::setDataValue(*settings, QStringLiteral("volume"), ++i);
}

// The autosave's reading of a user-settings tree: each set's counter and nested sets,
// over range(0) keys of which one in ten holds a nested set of ten keys.
void readSettingsCounters(benchmark::State& state)
{
    const DataSets::DataSet root = DataSets::Impl::createDS();
    for (int i = 0; i < state.range(0); ++i) {
        if (i % 10 == 0) {
            const DataSets::DataSet nested = DataSets::Impl::createDS();
            for (int k = 0; k < 10; ++k)
                DataSets::Impl::setDataValue(*nested, QStringLiteral("k%1").arg(k), k);
            DataSets::Impl::setDataValue(*root, QStringLiteral("chat%1").arg(i), nested);
        } else {
            DataSets::Impl::setDataValue(*root, QStringLiteral("key%1").arg(i), i);
        }
    }
    for (auto _ : state) {
        std::uint64_t sum = 0;
        std::vector<DataSets::DataSet> pending{root};
        while (!pending.empty()) {
            const DataSets::DataSet set = std::move(pending.back());
            pending.pop_back();
            sum += set->changeCount();
            for (DataSets::DataSet& n : set->nestedSets())
                pending.push_back(std::move(n));
        }
        benchmark::DoNotOptimize(sum);
    }
}

// 10^4 writes over the stores and the user settings from two threads, as provisioning
// does; then the stores it cost once the delay passed.
void burstOfWrites(benchmark::State& state)
{
    for (auto _ : state) {
        Scratch s;
        SessionAutosave::Options options;
        options.delay = 300ms;
        SessionAutosave autosave(s.store, s.lock, s.session, options);
        const auto user = s.session.getUserRuntimeData().lock();
        const DataSets::DataSet settings =
            s.session.getAppSessionData().lock()->getData<DataSets::DataSet, AppProperty::UserSettings>();
        std::thread other([&] {
            for (int i = 0; i < 5000; ++i)
                user->setData<QString, UserProperty::Department>(QString::number(i));
        });
        for (int i = 0; i < 5000; ++i)
            DataSets::Impl::setDataValue(*settings, QStringLiteral("n%1").arg(i % 100), i);
        other.join();
        std::this_thread::sleep_for(4 * options.delay);
        state.counters["stores"] = static_cast<double>(autosave.storeCount());
    }
}

// Runs the client under strace with every fsync delayed 400 ms, writing every 1 ms for
// four seconds under a 50 ms delay (about three stores of 1.2 s each), five times, and
// reports the longest pair of writes of the median and of the worst run, the longest
// the scheduler did not interrupt, and the writes that blocked at all (all runs).
void writesWhileSyncsTake400ms(benchmark::State& state)
{
    for (auto _ : state) {
        std::vector<double> longest, unpreempted;
        double stores = 0, blocked = 0;
        for (int run = 0; run < 5; ++run) {
            QTemporaryDir dir;
            QProcess client;
            client.start(QStringLiteral("strace"),
                         {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("--seccomp-bpf"),
                          QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-e"),
                          QStringLiteral("trace=fsync"), QStringLiteral("-e"),
                          QStringLiteral("inject=fsync:delay_enter=400000"), QFile::decodeName(g_self),
                          QStringLiteral("client"), dir.path() + QStringLiteral("/state"),
                          QStringLiteral("50"), QStringLiteral("1"), QStringLiteral("4")});
            client.waitForFinished(60000);
            const QList<QByteArray> done =
                client.readAllStandardOutput().trimmed().split('\n').last().split(' ');
            if (done.size() != 9 || done[0] != "done") {
                state.SkipWithError("the client under strace did not finish");
                return;
            }
            longest.push_back(done[2].toDouble() / 1000.0);
            stores += done[4].toDouble();
            unpreempted.push_back(done[6].toDouble() / 1000.0);
            blocked += done[8].toDouble();
        }
        std::sort(longest.begin(), longest.end());
        std::sort(unpreempted.begin(), unpreempted.end());
        state.counters["longest_write_us_median"] = longest[longest.size() / 2];
        state.counters["longest_write_us_worst"] = longest.back();
        state.counters["unpreempted_us_worst"] = unpreempted.back();
        state.counters["blocked_writes"] = blocked;
        state.counters["stores_per_run"] = stores / static_cast<double>(longest.size());
    }
}

// One store's time, as the autosave's thread spends it: serializing, sealing, two
// writes and three syncs.
void storeTime(benchmark::State& state)
{
    Scratch s;
    SessionAutosave::Options options;
    options.delay = 1h;
    SessionAutosave autosave(s.store, s.lock, s.session, options);
    const auto user = s.session.getUserRuntimeData().lock();
    int i = 0;
    for (auto _ : state) {
        user->setData<QString, UserProperty::Department>(QString::number(++i));
        benchmark::DoNotOptimize(autosave.flush());
    }
}

// kill -9 at random moments of a client writing every 10 ms under a 300 ms delay.
void crashWindow(benchmark::State& state)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> moment(400, 2500);
    for (auto _ : state) {
        std::vector<double> windows;
        int lossy = 0;
        for (int run = 0; run < state.range(0); ++run) {
            QTemporaryDir dir;
            const AutosaveClient::KilledRun killed =
                AutosaveClient::runAndKill(g_self, QFile::encodeName(dir.path()) + "/state", 300ms, 10ms,
                                           std::chrono::milliseconds(moment(random)));
            if (!killed.stored.error.isEmpty()) {
                state.SkipWithError(killed.stored.error.toUtf8().constData());
                return;
            }
            windows.push_back(static_cast<double>(killed.lostWindowNanos()) / 1e6);
            lossy += killed.firstLost() != 0;
        }
        std::sort(windows.begin(), windows.end());
        state.counters["median_lost_ms"] = windows[windows.size() / 2];
        state.counters["worst_lost_ms"] = windows.back();
        state.counters["runs_losing_any"] = lossy;
        state.counters["runs"] = static_cast<double>(windows.size());
    }
}

} // namespace

BENCHMARK(writeOneDirectSubscriber);
BENCHMARK(writeWithAutosave);
BENCHMARK(writeWithAutosaveStoring);
BENCHMARK(writeUserSetting);
BENCHMARK(readSettingsCounters)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(burstOfWrites)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(storeTime)->Unit(benchmark::kMillisecond);
BENCHMARK(writesWhileSyncsTake400ms)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(crashWindow)->Arg(40)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "client") == 0)
        return AutosaveClient::run(argc - 2, argv + 2);
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    g_self = n > 0 ? QByteArray(self, static_cast<int>(n)) : QByteArray(argv[0]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
