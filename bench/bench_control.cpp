// SPDX-License-Identifier: MIT
// `sessionctl set` against a running client: the whole command's wall time (process
// start included), the client's own thread time per request, and the same set while
// 100 silent connections sit on the client, with the client's memory growth. The
// client is this process: a SessionControl on a thread of its own with its event loop.
#include <SessionControl.h>
#include <SessionData.h>
#include <SessionStore.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

QByteArray g_state;
std::atomic<SessionControl*> g_control{nullptr};

// Runs `sessionctl set --state STATE phone.SipAccount VALUE`; its exit code.
int sessionctlSet(const std::string& value)
{
    const std::string state = g_state.toStdString();
    std::vector<std::string> args{SESSIONCTL_PROGRAM, "set", "--state", state, "phone.SipAccount", value};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

int silentConnection()
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = g_state + "/session.control";
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return fd;
}

// Times `sets` commands; reports median and worst wall time and the client's thread
// time per request.
void timeSets(benchmark::State& state, int sets)
{
    std::vector<double> wall;
    const SessionControl::Statistics before = g_control.load()->statistics();
    for (auto _ : state) {
        for (int i = 0; i < sets; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (sessionctlSet("bob" + std::to_string(wall.size()) + "@sip.test") != 0)
                state.SkipWithError("sessionctl set failed");
            wall.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
    }
    const SessionControl::Statistics after = g_control.load()->statistics();
    std::sort(wall.begin(), wall.end());
    state.counters["median_ms"] = wall[wall.size() / 2];
    state.counters["worst_ms"] = wall.back();
    const auto requests = static_cast<double>(after.answered - before.answered);
    state.counters["client_us_per_request"] =
        std::chrono::duration<double, std::micro>(after.threadTime - before.threadTime).count() / requests;
}

void BM_SetAgainstRunningClient(benchmark::State& state)
{
    timeSets(state, 1);
}

// 100 connections that never send a byte, opened and accepted before each set (the
// client drops them after its request deadline), and the client's memory growth
// while they sit.
void BM_SetWith100SilentConnections(benchmark::State& state)
{
    std::vector<double> wall;
    long grownKiB = 0;
    for (auto _ : state) {
        const long rssBefore = residentKiB();
        std::vector<int> silent;
        for (int i = 0; i < 100; ++i)
            silent.push_back(silentConnection());
        // Accepted and sitting there, well within the client's request deadline.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto start = std::chrono::steady_clock::now();
        if (sessionctlSet("carol" + std::to_string(wall.size()) + "@sip.test") != 0)
            state.SkipWithError("sessionctl set failed");
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        grownKiB = std::max(grownKiB, residentKiB() - rssBefore);
        for (const int fd : silent)
            ::close(fd);
    }
    std::sort(wall.begin(), wall.end());
    state.counters["median_ms"] = wall[wall.size() / 2];
    state.counters["worst_ms"] = wall.back();
    state.counters["rss_growth_KiB"] = static_cast<double>(grownKiB);
}

} // namespace

BENCHMARK(BM_SetAgainstRunningClient)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetWith100SilentConnections)->Iterations(30)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    g_state = QFile::encodeName(dir.path()) + "/state";
    QEventLoop* loop = nullptr;
    std::atomic<bool> ready{false};
    // The client: restore, answer on its own thread's event loop.
    QThread* client = QThread::create([&] {
        SessionStore::Options options;
        options.keyStore = SessionStore::KeyStore::File;
        SessionStore store(g_state, options);
        const SessionStore::Lock lock = store.lock();
        SessionData session;
        store.restore(lock, session);
        QEventLoop events;
        SessionControl control(store, lock, session);
        loop = &events;
        g_control = &control;
        ready = true;
        events.exec();
        g_control = nullptr;
    });
    client->start();
    while (!ready)
        QThread::msleep(5);
    if (!g_control.load()->isListening()) {
        std::fprintf(stderr, "%s\n", qPrintable(g_control.load()->errorString()));
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QMetaObject::invokeMethod(loop, &QEventLoop::quit, Qt::QueuedConnection);
    client->wait();
    delete client;
    return 0;
}
