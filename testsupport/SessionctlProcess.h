#pragma once

// Runs the built sessionctl (or another program) as a user would, as a child of its
// own: arguments and environment as bytes, optionally under a wrapper such as strace
// and with a file size limit; collects its output, exit, time and peak memory.
// ScratchTest gives each test a scratch directory holding the state directory.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <ostream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

struct Spawn
{
    Spawn(QList<QByteArray> arguments = {}, QByteArray program = SESSIONCTL_PROGRAM)
        : args(std::move(arguments))
        , program(std::move(program))
    {}

    QList<QByteArray> args;   // after the program
    QList<QByteArray> prefix; // a wrapper such as strace, before the program
    QByteArray program;
    QList<QByteArray> env; // "NAME=value" sets NAME, "NAME" removes it; "--chdir=DIR" too
    rlim_t fileSizeLimit = RLIM_INFINITY;
    const char* stdoutPath = nullptr; // default: a pipe read back into `out`
    bool closeStdout = false;
};

struct Outcome
{
    int exitCode = -1; // -1 when ended by a signal
    int signal = 0;
    QByteArray out;
    QByteArray err;
    long peakKiB = 0;
    std::chrono::milliseconds elapsed{0};
};

inline std::ostream& operator<<(std::ostream& os, const Outcome& o)
{
    return os << "exit " << o.exitCode << " signal " << o.signal << "\n--- out:\n"
              << o.out.constData() << "--- err:\n"
              << o.err.constData();
}

// Exited with `code`, saying `saying` on the error stream.
inline ::testing::AssertionResult exited(const Outcome& o, int code, const QByteArray& saying = {})
{
    if (o.exitCode == code && o.err.contains(saying))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "expected exit " << code << " saying \"" << saying.constData() << "\", got " << o;
}

struct Running
{
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    std::chrono::steady_clock::time_point started;
};

// Output goes through pipes: a file size limit must not reach the child's output.
inline Running start(const Spawn& s)
{
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        return {};
    // The environment is changed by env(1) in front of the program (and the wrapper):
    // the test's own stays as it is.
    QList<QByteArray> argv = {"env"};
    for (const QByteArray& e : s.env)
        argv << (e.contains('=') ? e : "--unset=" + e);
    // The leak checker cannot run under ptrace: a traced child leaves it out.
    if (!s.prefix.isEmpty())
        argv << "ASAN_OPTIONS=" + qgetenv("ASAN_OPTIONS") + ":detect_leaks=0";
    argv << s.prefix << s.program << s.args;
    std::vector<char*> cargv;
    for (QByteArray& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const int sink = s.stdoutPath ? ::open(s.stdoutPath, O_WRONLY | O_CLOEXEC) : outPipe[1];

    Running r;
    r.started = std::chrono::steady_clock::now();
    r.pid = ::fork();
    if (r.pid == 0) {
        const rlimit limit{s.fileSizeLimit, s.fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
        s.closeStdout ? ::close(1) : ::dup2(sink, 1);
        ::dup2(errPipe[1], 2);
        ::execvp(cargv[0], cargv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (s.stdoutPath)
        ::close(sink);
    r.out = outPipe[0];
    r.err = errPipe[0];
    return r;
}

// Collects a started child's output, exit and peak memory. Its error stream carries a
// line or two, which fit their pipe while the output is read to its end.
inline Outcome finish(const Running& r)
{
    const auto drain = [](int fd) {
        QByteArray all;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;)
            if (n > 0)
                all.append(buffer, n);
            else if (errno != EINTR)
                break;
        ::close(fd);
        return all;
    };
    Outcome o;
    o.out = drain(r.out);
    o.err = drain(r.err);
    int status = 0;
    rusage usage{};
    ::wait4(r.pid, &status, 0, &usage);
    o.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - r.started);
    o.peakKiB = usage.ru_maxrss;
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return o;
}

inline Outcome spawn(const Spawn& s)
{
    return finish(start(s));
}

// `s` under strace with the filter or fault `expression`, its trace written to `log`.
inline Spawn traced(Spawn s, const QByteArray& expression, const QByteArray& log = "/dev/null")
{
    s.prefix = {"strace", "-f", "-qq", "-o", log, "-e", expression};
    return s;
}

// strace needs ptrace, which some containers forbid: its cases are skipped there.
inline bool straceWorks()
{
    static const bool works = std::system("strace -qq -o /dev/null true >/dev/null 2>&1") == 0;
    return works;
}

// The words of a command line (none in an empty one).
inline QList<QByteArray> words(const char* line)
{
    QList<QByteArray> out = QByteArray(line).split(' ');
    out.removeAll(QByteArray());
    return out;
}

inline QByteArray readFile(const QByteArray& path)
{
    QFile f(QFile::decodeName(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QByteArray& path, const QByteArray& bytes)
{
    QFile f(QFile::decodeName(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.constData();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class ScratchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        writeFile(path("empty.json"), "{}");
    }

    QByteArray path(const QByteArray& name) const { return QFile::encodeName(m_tmp.path()) + '/' + name; }
    QByteArray state() const { return path(m_stateName); }
    QByteArray file(const char* name) const { return state() + '/' + name; }

    // `verb --state STATE more...`; a run provisions from `profile` in the scratch
    // directory (by default one that provisions nothing and is quick), or with
    // nullptr from the built-in profile.
    Spawn command(const QByteArray& verb, const QList<QByteArray>& more = {},
                  const char* profile = "empty.json") const
    {
        Spawn s;
        s.args = QList<QByteArray>{verb, "--state", state()} + more;
        if (verb == "run" && profile)
            s.args << "--profile" << path(profile);
        return s;
    }

    Outcome sessionctl(const QByteArray& verb, const QList<QByteArray>& more = {},
                       const char* profile = "empty.json") const
    {
        return spawn(command(verb, more, profile));
    }

    // How often `s` makes the system call `syscall`.
    int countCalls(const Spawn& s, const QByteArray& syscall) const
    {
        const QByteArray log = path("count.log");
        EXPECT_EQ(spawn(traced(s, "trace=" + syscall, log)).exitCode, 0);
        return static_cast<int>(readFile(log).count('\n'));
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
