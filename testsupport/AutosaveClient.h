// SPDX-License-Identifier: MIT
#pragma once

// A client that keeps changing its session under a SessionAutosave, for the kill
// test and the crash-window benchmark, and the reading back of what it left stored.
//
//   client STATE_DIR DELAY_MS PERIOD_MS SECONDS
//
// restores STATE_DIR (key in a file: no secret store), attaches an autosave with
// DELAY_MS, then every PERIOD_MS writes step n into the user store (department, in
// the encrypted part) and into the user settings (key "step", in the plain part),
// and prints "ack n NANOS" (CLOCK_MONOTONIC) once both writes returned. After SECONDS
// it prints "done longest NANOS stores N unpreempted NANOS blocked B" and ends
// normally, the autosave's destructor storing the rest: the longest pair of writes,
// the stores the autosave made so far, the longest pair during which the scheduler did
// not take the core away (the machine's load left out), and how many pairs blocked at
// all (the thread's voluntary context switches: a wait for a lock). Started under
// strace with delayed syncs, these show whether a writer ever waited for the disk.

#include <DataSets.h>
#include <SessionAutosave.h>
#include <SessionData.h>
#include <SessionStore.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace AutosaveClient {

inline long long monotonicNanos()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

inline SessionStore::Options keyInFile()
{
    SessionStore::Options options;
    options.keyStore = SessionStore::KeyStore::File;
    return options;
}

// What a state directory holds of the client's steps; -1 where none is stored.
struct Steps
{
    long department = -1;
    long setting = -1;
    std::uint64_t generation = 0;
    QString error;
};

inline Steps readSteps(const QByteArray& stateDirectory)
{
    Steps steps;
    SessionStore store(stateDirectory, keyInFile());
    const SessionStore::Lock lock = store.lock();
    SessionData session;
    const SessionStore::Restored restored =
        lock.error() ? SessionStore::Restored{} : store.restore(lock, session);
    if (lock.error() || restored.error) {
        steps.error = lock.error() ? lock.error().message : restored.error.message;
        return steps;
    }
    steps.generation = restored.generation();
    bool ok = false;
    const long department =
        session.getUserRuntimeData().lock()->getData<QString, UserProperty::Department>().toLong(&ok);
    if (ok)
        steps.department = department;
    int setting = -1;
    if (DataSets::Impl::getDataValue(
            session.getAppSessionData().lock()->getData<DataSets::DataSet, AppProperty::UserSettings>().get(),
            QStringLiteral("step"), setting))
        steps.setting = setting;
    return steps;
}

// The client's main, from the arguments after the word "client".
inline int run(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: client STATE_DIR DELAY_MS PERIOD_MS SECONDS\n");
        return 2;
    }
    SessionStore store(argv[0], keyInFile());
    const SessionStore::Lock lock = store.lock();
    SessionData session;
    if (lock.error() || store.restore(lock, session).error) {
        std::fprintf(stderr, "cannot restore %s\n", argv[0]);
        return 1;
    }
    SessionAutosave::Options options;
    options.delay = std::chrono::milliseconds(std::atol(argv[1]));
    options.firstRetry = std::chrono::milliseconds(50);
    SessionAutosave autosave(store, lock, session, options);
    const auto period = std::chrono::milliseconds(std::atol(argv[2]));
    const long long end = monotonicNanos() + std::atoll(argv[3]) * 1000000000LL;
    const auto user = session.getUserRuntimeData().lock();
    const DataSets::DataSet settings =
        session.getAppSessionData().lock()->getData<DataSets::DataSet, AppProperty::UserSettings>();
    long long longest = 0, unpreempted = 0, blocked = 0;
    for (int step = 1; monotonicNanos() < end; ++step) {
        rusage was{}, is{};
        ::getrusage(RUSAGE_THREAD, &was);
        const long long before = monotonicNanos();
        user->setData<QString, UserProperty::Department>(QString::number(step));
        DataSets::Impl::setDataValue(*settings, QStringLiteral("step"), step);
        const long long after = monotonicNanos();
        ::getrusage(RUSAGE_THREAD, &is);
        longest = std::max(longest, after - before);
        if (is.ru_nivcsw == was.ru_nivcsw)
            unpreempted = std::max(unpreempted, after - before);
        blocked += is.ru_nvcsw != was.ru_nvcsw;
        std::printf("ack %d %lld\n", step, after);
        std::fflush(stdout);
        std::this_thread::sleep_for(period);
    }
    std::printf("done longest %lld stores %llu unpreempted %lld blocked %lld\n", longest,
                static_cast<unsigned long long>(autosave.storeCount()), unpreempted, blocked);
    std::fflush(stdout);
    return 0;
}

// One run of the client killed with SIGKILL `killAfter` after its start, and what it
// left stored.
struct KilledRun
{
    std::vector<std::pair<long, long long>> acks; // step, when it returned
    long long killedAt = 0;
    Steps stored;

    // The oldest acknowledged step that was not stored (both values count), or 0.
    long firstLost() const
    {
        const long stored_ = std::min(stored.department, stored.setting);
        for (const auto& ack : acks)
            if (ack.first > stored_)
                return ack.first;
        return 0;
    }
    // How long before the kill that step was acknowledged: the changes lost span this
    // much of the run's end; 0 when none was lost.
    long long lostWindowNanos() const
    {
        const long lost = firstLost();
        for (const auto& ack : acks)
            if (ack.first == lost)
                return killedAt - ack.second;
        return 0;
    }
};

// Runs `program client STATE_DIR DELAY PERIOD 3600` and kills it after `killAfter`.
inline KilledRun runAndKill(const QByteArray& program, const QByteArray& stateDirectory,
                            std::chrono::milliseconds delay, std::chrono::milliseconds period,
                            std::chrono::milliseconds killAfter)
{
    KilledRun run;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return run;
    const QByteArray delayText = QByteArray::number(static_cast<qlonglong>(delay.count()));
    const QByteArray periodText = QByteArray::number(static_cast<qlonglong>(period.count()));
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::execl(program.constData(), program.constData(), "client", stateDirectory.constData(),
                delayText.constData(), periodText.constData(), "3600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    QByteArray text;
    const long long killAt = monotonicNanos() + static_cast<long long>(killAfter.count()) * 1000000LL;
    auto drain = [&](int timeoutMs) {
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, n);
        return n > 0;
    };
    for (long long now = monotonicNanos(); now < killAt; now = monotonicNanos())
        drain(static_cast<int>(std::max(1LL, (killAt - now) / 1000000LL)));
    ::kill(pid, SIGKILL);
    run.killedAt = monotonicNanos();
    ::waitpid(pid, nullptr, 0);
    while (drain(0)) {
    }
    ::close(out[0]);
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        // Acknowledged before the kill only: the last line may be cut short.
        if (words.size() == 3 && words[0] == "ack" && words[2].toLongLong() < run.killedAt)
            run.acks.emplace_back(words[1].toLong(), words[2].toLongLong());
    }
    run.stored = readSteps(stateDirectory);
    return run;
}

} // namespace AutosaveClient
