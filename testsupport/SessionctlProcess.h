// SPDX-License-Identifier: MIT
#pragma once

// Runs sessionctl (or another program) as a user would, arguments and environment as
// bytes; ScratchTest gives each test a scratch directory holding the state directory.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct Spawn
{
    QList<QByteArray> args;
    QByteArray program = SESSIONCTL_PROGRAM;
    QList<QByteArray> prefix{}; // a wrapper such as strace
    QList<QByteArray> env{};    // "NAME=value" sets, "NAME" removes; "--chdir=DIR" too
    rlim_t fileSizeLimit = RLIM_INFINITY;
};

struct Outcome
{
    int exitCode = -1; // -1 when ended by a signal
    QByteArray out{}, err{};
    long peakKiB = 0;
    std::chrono::milliseconds elapsed{0};
};

inline std::ostream& operator<<(std::ostream& os, const Outcome& o)
{
    return os << "exit " << o.exitCode << ("\n--- out:\n" + o.out + "--- err:\n" + o.err).constData();
}

// Exited with `code`, saying `saying` on the error stream.
inline ::testing::AssertionResult exited(const Outcome& o, int code, const QByteArray& saying = {})
{
    const bool ok = o.exitCode == code && o.err.contains(saying);
    return (ok ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
           << "expected exit " << code << " saying \"" << saying.constData() << "\", got " << o;
}

// Starts every child before collecting any, so that they may race. Output goes through
// pipes, out of reach of the file size limit; env(1) sets the child's environment.
inline std::vector<Outcome> spawnAll(const std::vector<Spawn>& children)
{
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::array<int, 3>> running; // pid, output, error stream
    for (const Spawn& s : children) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return {};
        QList<QByteArray> argv = {"env"};
        for (const QByteArray& e : s.env)
            argv << (e.contains('=') ? e : "--unset=" + e);
        if (!s.prefix.isEmpty()) // the leak checker cannot run under ptrace
            argv << "ASAN_OPTIONS=" + qgetenv("ASAN_OPTIONS") + ":detect_leaks=0";
        argv << s.prefix << s.program << s.args;
        std::vector<char*> cargv;
        for (QByteArray& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        running.push_back({::fork(), out[0], err[0]});
        if (running.back()[0] == 0) {
            const rlimit limit{s.fileSizeLimit, s.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::execvp(cargv[0], cargv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
    }
    const auto drain = [](int fd) {
        QFile f;
        return f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ? f.readAll() : QByteArray();
    };
    std::vector<Outcome> outcomes;
    for (const auto& [pid, out, err] : running) {
        Outcome& o = outcomes.emplace_back(Outcome{-1, drain(out), drain(err)});
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.peakKiB = usage.ru_maxrss;
        o.elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    }
    return outcomes;
}

inline Outcome spawn(const Spawn& s)
{
    return spawnAll({s}).front();
}

// `s` under strace with the filter or fault `expression`, its trace written to `log`.
inline Spawn traced(Spawn s, const QByteArray& expression, const QByteArray& log = "/dev/null")
{
    s.prefix = {"strace", "-f", "-qq", "-o", log, "-e", expression};
    return s;
}

inline QByteArray readFile(const QByteArray& path)
{
    QFile f(QFile::decodeName(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QByteArray& path, const QByteArray& bytes)
{
    QFile f(QFile::decodeName(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()) << path.constData();
}

class ScratchTest : public ::testing::Test
{
protected:
    QByteArray path(const QByteArray& name) const { return QFile::encodeName(m_tmp.path()) + '/' + name; }
    QByteArray state() const { return path(m_stateName); }
    QByteArray file(const char* name) const { return state() + '/' + name; }

    // `verb --state STATE more...` (a run provisions from the built-in profile by default).
    Spawn command(const QByteArray& verb, const QList<QByteArray>& more = {}) const
    {
        return {QList<QByteArray>{verb, "--state", state()} + more};
    }
    Outcome sessionctl(const QByteArray& verb, const QList<QByteArray>& more = {}) const
    {
        return spawn(command(verb, more));
    }

    int countCalls(const Spawn& s, const QByteArray& syscall) const
    {
        EXPECT_EQ(spawn(traced(s, "trace=" + syscall, path("count.log"))).exitCode, 0);
        return static_cast<int>(readFile(path("count.log")).count('\n'));
    }

    // The files of the state directory but the lock, which names its last holder only.
    std::map<QByteArray, QByteArray> snapshot() const
    {
        std::map<QByteArray, QByteArray> files;
        for (const QString& name : QDir(QFile::decodeName(state())).entryList(QDir::Files | QDir::System))
            if (name != QLatin1String("session.lock"))
                files[QFile::encodeName(name)] = readFile(state() + '/' + QFile::encodeName(name));
        return files;
    }

    QTemporaryDir m_tmp;
    QByteArray m_stateName = "state";
};
