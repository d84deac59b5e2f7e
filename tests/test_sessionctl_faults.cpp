// sessionctl under real faults: a full disk, failing syncs and renames, a kill at
// system calls of a store, processes racing on one directory, hostile files in place
// of the state files, names that are not UTF-8, and output that cannot be written.
#include <DataSetCodec.h>
#include <SessionStore.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// A sanitizer's runtime, or the coverage profile written at exit, makes writes of its
// own, so counting system calls does not find the store's writes there.
#ifdef SESSIONCONFIG_COVERAGE_BUILD
constexpr bool kForeignWrites = true;
#else
constexpr bool kForeignWrites = kSanitized;
#endif

struct Outcome
{
    int exitCode = -1; // -1 when ended by a signal
    int signal = 0;
    QByteArray out;
    QByteArray err;
    long peakKiB = 0;
    std::chrono::milliseconds elapsed{0};
};

struct Spawn
{
    QList<QByteArray> args;   // after the program
    QList<QByteArray> prefix; // a wrapper such as strace, before the program
    rlim_t fileSizeLimit = RLIM_INFINITY;
    QList<QByteArray> unsetEnv;
    const char* stdoutPath = nullptr; // default: a file read back into `out`
    bool closeStdout = false;
};

QByteArray readAll(const QByteArray& path)
{
    QFile f(QFile::decodeName(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Running
{
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    std::chrono::steady_clock::time_point started;
};

// Starts the program as a child of its own, with argv as bytes. Output goes through
// pipes: a file size limit must not reach the child's output.
Running start(const Spawn& s)
{
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
        return {};
    QList<QByteArray> argv = s.prefix;
    argv << QByteArray(SESSIONCTL_PROGRAM) << s.args;
    std::vector<char*> cargv;
    for (QByteArray& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    QList<QByteArray> env;
    for (char** e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (!std::any_of(s.unsetEnv.begin(), s.unsetEnv.end(),
                         [&](const QByteArray& name) { return entry.startsWith(name + '='); }))
            env << entry;
    }
    // The leak checker cannot run under ptrace: a traced child leaves it out.
    if (!s.prefix.isEmpty()) {
        const auto asan = std::find_if(env.begin(), env.end(),
                                       [](const QByteArray& e) { return e.startsWith("ASAN_OPTIONS="); });
        if (asan == env.end())
            env << "ASAN_OPTIONS=detect_leaks=0";
        else
            *asan += ":detect_leaks=0";
    }
    std::vector<char*> cenv;
    for (QByteArray& e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);
    const int sink = s.stdoutPath ? ::open(s.stdoutPath, O_WRONLY | O_CLOEXEC) : outPipe[1];

    Running r;
    r.started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{s.fileSizeLimit, s.fileSizeLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
        s.closeStdout ? ::close(1) : ::dup2(sink, 1);
        ::dup2(errPipe[1], 2);
        ::execvpe(cargv[0], cargv.data(), cenv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (s.stdoutPath)
        ::close(sink);
    r.pid = pid;
    r.out = outPipe[0];
    r.err = errPipe[0];
    return r;
}

// Collects a started child's output, exit and peak memory.
Outcome finish(const Running& r)
{
    Outcome o;
    pollfd fds[2] = {{r.out, POLLIN, 0}, {r.err, POLLIN, 0}};
    QByteArray* into[2] = {&o.out, &o.err};
    for (int open = 2; open > 0;) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, n);
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
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

Outcome spawn(const Spawn& s)
{
    return finish(start(s));
}

// strace needs ptrace, which some containers forbid: its cases are skipped there.
bool straceWorks()
{
    static const bool works = std::system("strace -qq -o /dev/null true >/dev/null 2>&1") == 0;
    return works;
}

class SessionctlFaults : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        QFile empty(m_tmp.filePath(QStringLiteral("empty.json")));
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        empty.write("{}");
    }

    QByteArray tmp() const { return QFile::encodeName(m_tmp.path()); }
    QByteArray state() const { return tmp() + "/state"; }
    QByteArray file(const char* name) const { return state() + '/' + name; }

    // A run (or another command) on the state directory; the built-in profile
    // signs a user in, the empty one provisions nothing and is quick.
    Spawn command(const char* what = "run", bool builtInProfile = false) const
    {
        Spawn s;
        s.args = {what, "--state", state()};
        if (QByteArray(what) == "run" && !builtInProfile)
            s.args << "--profile" << tmp() + "/empty.json";
        return s;
    }

    std::map<QByteArray, QByteArray> snapshot() const
    {
        std::map<QByteArray, QByteArray> files;
        for (const char* name : {"session.enc", "session.json", "session.key"})
            files[name] = readAll(file(name));
        return files;
    }

    // Only the stored files and the lock: no temporary file left behind.
    QStringList entries() const
    {
        return QDir(QFile::decodeName(state())).entryList(QDir::Files | QDir::System);
    }

    // How often a quick run makes the system call `name`. A store comes last in a
    // run, so the last calls of each kind are the store's.
    int countCalls(const char* name) const
    {
        const QByteArray log = tmp() + "/count.log";
        Spawn count = command();
        count.prefix = {"strace", "-f", "-qq", "-o", log, "-e", QByteArray("trace=") + name};
        EXPECT_EQ(spawn(count).exitCode, 0);
        return static_cast<int>(readAll(log).count('\n'));
    }

    std::uint64_t generation(const char* name) const
    {
        const SessionStore::ReadFile read = SessionStore::readFile(file(name));
        EXPECT_FALSE(read.error) << qPrintable(read.error.message);
        return read.file.generation;
    }

    QTemporaryDir m_tmp;
};

const QStringList kStoredFiles = {QStringLiteral("session.enc"), QStringLiteral("session.json"),
                                  QStringLiteral("session.key"), QStringLiteral("session.lock")};

} // namespace

TEST_F(SessionctlFaults, FailedWritesSyncsAndRenamesChangeNothing)
{
    if (!straceWorks())
        GTEST_SKIP() << "strace cannot trace here";
    ASSERT_EQ(spawn(command("run", true)).exitCode, 0);
    const QByteArray strace = "strace";
    // The writes of a store: the encrypted file, the plain file, then the summary line.
    const QByteArray firstStoreWrite = QByteArray::number(countCalls("write") - 2);
    const auto stored = snapshot();
    struct Case
    {
        const char* what;
        rlim_t limit;
        QByteArray inject; // a strace fault, or empty
    };
    // File size limits: nothing fits; the encrypted file fits but not the plain one.
    const Case cases[] = {
        {"no space at all", 0, {}},
        {"space for one file", static_cast<rlim_t>(stored.at("session.enc").size() + 16), {}},
        {"write fails with ENOSPC", RLIM_INFINITY, "inject=write:error=ENOSPC:when=" + firstStoreWrite},
        {"fsync fails with EIO", RLIM_INFINITY, "inject=fsync:error=EIO"},
        {"rename fails with EIO", RLIM_INFINITY, "inject=renameat:error=EIO"},
    };
    for (const Case& c : cases) {
        // Where other writes mix in (see kForeignWrites), the file size limits fail
        // the store's writes all the same.
        if (kForeignWrites && c.inject.startsWith("inject=write"))
            continue;
        Spawn s = command();
        s.fileSizeLimit = c.limit;
        if (!c.inject.isEmpty())
            s.prefix = {strace, "-f", "-qq", "-o", "/dev/null", "-e", c.inject};
        const Outcome o = spawn(s);
        EXPECT_EQ(o.exitCode, 4) << c.what << ": " << o.err.constData();
        EXPECT_TRUE(o.err.contains(file("session.").constData())) << c.what << ": " << o.err.constData();
        EXPECT_FALSE(o.out.contains("Stored generation")) << c.what;
        EXPECT_EQ(snapshot(), stored) << c.what;
        EXPECT_EQ(entries(), kStoredFiles) << c.what;
    }
    // A first run on a full disk cannot even keep the key: nothing is stored.
    const QByteArray fresh = tmp() + "/fresh";
    Spawn first = command("run", true);
    first.args[2] = fresh;
    first.fileSizeLimit = 0;
    EXPECT_EQ(spawn(first).exitCode, 4);
    EXPECT_EQ(QDir(QFile::decodeName(fresh)).entryList(QDir::Files), QStringList{"session.lock"});

    const Outcome next = spawn(command("run"));
    EXPECT_EQ(next.exitCode, 0) << next.err.constData();
    EXPECT_TRUE(next.out.contains("Stored generation 3")) << next.out.constData();
}

TEST_F(SessionctlFaults, KillAtAStoreSystemCallLeavesOldOrNewFiles)
{
    if (!straceWorks())
        GTEST_SKIP() << "strace cannot trace here";
    ASSERT_EQ(spawn(command("run", true)).exitCode, 0);
    // The calls of one run, counted; the store is the last part of a run, so the
    // last calls of each kind are the ones that matter. Sanitized builds sample fewer.
    const char* const syscalls[] = {"openat", "write", "fsync", "renameat"};
    const int samples = kSanitized ? 2 : 4;
    int kills = 0;
    for (const char* syscall : syscalls) {
        const int calls = countCalls(syscall);
        for (int back = 0; back < samples && back < calls; ++back) {
            const std::uint64_t before = generation("session.enc");
            ASSERT_EQ(generation("session.json"), before);
            Spawn s = command();
            // Another run costs one call more than the counted one for each file it reads.
            s.prefix = {"strace",
                        "-f",
                        "-qq",
                        "-o",
                        "/dev/null",
                        "-e",
                        QByteArray("inject=") + syscall +
                            ":signal=KILL:when=" + QByteArray::number(calls - back)};
            const Outcome o = spawn(s);
            kills += o.signal == SIGKILL || o.exitCode != 0;
            // Each file whole, old or new; the encrypted one is replaced first.
            const std::uint64_t enc = generation("session.enc");
            const std::uint64_t plain = generation("session.json");
            EXPECT_TRUE(enc == before || enc == before + 1) << syscall << " " << calls - back;
            EXPECT_TRUE(plain == before || plain == enc) << syscall << " " << calls - back;
            // The next run restores whatever is there, warns about a pair that was
            // not written together, and leaves no temporary file behind.
            const Outcome next = spawn(command());
            EXPECT_EQ(next.exitCode, 0) << next.err.constData();
            EXPECT_EQ(next.err.contains("not written together"), enc != plain) << next.err.constData();
            EXPECT_EQ(entries(), kStoredFiles);
        }
    }
    EXPECT_GT(kills, 0);
}

TEST_F(SessionctlFaults, RacingProcessesEachStoreOnce)
{
    constexpr int kProcesses = 4;
    constexpr int kRounds = 3;
    int succeeded = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        // All started before any is collected; each one's output fits its pipe.
        std::vector<Running> racers;
        for (int i = 0; i < kProcesses; ++i) {
            Spawn s = command(i % 2 ? "sign-out" : "run");
            s.args << "--wait=60";
            racers.push_back(start(s));
        }
        for (const Running& racer : racers) {
            const Outcome o = finish(racer);
            EXPECT_EQ(o.exitCode, 0) << o.err.constData();
            EXPECT_FALSE(o.err.contains("not written together")) << o.err.constData();
            succeeded += o.exitCode == 0;
        }
    }
    EXPECT_EQ(generation("session.enc"), std::uint64_t(succeeded));
    EXPECT_EQ(generation("session.json"), std::uint64_t(succeeded));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

TEST_F(SessionctlFaults, HostileFilesAreRefusedQuicklyAndSmall)
{
    ASSERT_EQ(spawn(command("run", true)).exitCode, 0);
    const auto stored = snapshot();
    const QByteArray other = tmp() + "/other";
    const std::pair<const char*, std::function<void(const QByteArray&)>> kinds[] = {
        {"FIFO", [](const QByteArray& p) { ASSERT_EQ(::mkfifo(p.constData(), 0600), 0); }},
        {"directory", [](const QByteArray& p) { ASSERT_EQ(::mkdir(p.constData(), 0700), 0); }},
        {"link to /dev/zero",
         [](const QByteArray& p) { ASSERT_EQ(::symlink("/dev/zero", p.constData()), 0); }},
        {"socket",
         [](const QByteArray& p) {
             const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             std::memcpy(addr.sun_path, p.constData(), static_cast<size_t>(p.size()));
             ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
             ::close(s);
         }},
        {"100 MB file", [](const QByteArray& p) {
             QFile f(QFile::decodeName(p));
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             ASSERT_TRUE(f.resize(100 * 1000 * 1000)); // sparse
         }}};
    // Peak memory of a child that refuses at once; sanitizers add their own shadow.
    const long limitKiB = (kSanitized ? 512 : 64) * 1024;
    for (const char* target : {"session.enc", "session.json", "session.key", "--key-file"}) {
        const bool keyFile = QByteArray(target) == "--key-file";
        const QByteArray path = keyFile ? other : file(target);
        for (const auto& [kind, make] : kinds) {
            if (!keyFile) {
                ASSERT_EQ(::rename(path.constData(), other.constData()), 0);
            }
            make(path);
            Spawn s = command();
            if (keyFile)
                s.args << "--key-file" << path;
            const Outcome o = spawn(s);
            EXPECT_EQ(o.exitCode, 2) << target << " as " << kind << ": " << o.err.constData();
            EXPECT_TRUE(o.err.contains(path.constData())) << o.err.constData();
            EXPECT_LT(o.elapsed, std::chrono::seconds(kSanitized ? 5 : 1)) << target << " as " << kind;
            EXPECT_LT(o.peakKiB, limitKiB) << target << " as " << kind;
            if (::unlink(path.constData()) != 0) {
                ASSERT_EQ(::rmdir(path.constData()), 0);
            }
            if (!keyFile) {
                ASSERT_EQ(::rename(other.constData(), path.constData()), 0);
            }
        }
    }
    EXPECT_EQ(snapshot(), stored);
}

TEST_F(SessionctlFaults, StateDirectoryNamedWithBytesThatAreNotUtf8)
{
    const QByteArray dir = tmp() + "/st\xff\xfe"
                                   "ate";
    Spawn s = command();
    s.args[2] = dir;
    ASSERT_EQ(spawn(s).exitCode, 0);
    const Outcome again = spawn(s);
    EXPECT_EQ(again.exitCode, 0) << again.err.constData();
    EXPECT_TRUE(again.out.contains("Stored generation 2"));
    struct stat st
    {
    };
    EXPECT_EQ(::stat((dir + "/session.enc").constData(), &st), 0);
    // Not the directory that decoding the name would give.
    EXPECT_NE(::stat((tmp() + "/st\xef\xbf\xbd\xef\xbf\xbd"
                              "ate")
                         .constData(),
                     &st),
              0);

    Spawn show;
    show.args = {"show", dir + "/session.enc"};
    const Outcome shown = spawn(show);
    EXPECT_EQ(shown.exitCode, 0) << shown.err.constData();
    EXPECT_TRUE(shown.out.contains("generation 2"));
    // Qt cannot name it to remove it.
    for (const char* name : {"/session.enc", "/session.json", "/session.key", "/session.lock"})
        EXPECT_EQ(::unlink((dir + name).constData()), 0);
    EXPECT_EQ(::rmdir(dir.constData()), 0);
}

TEST_F(SessionctlFaults, LostOutputBusyDirectoryAndNoHomeAreReported)
{
    ASSERT_EQ(spawn(command()).exitCode, 0);
    Spawn show;
    show.args = {"show", file("session.json")};
    show.stdoutPath = "/dev/full";
    EXPECT_EQ(spawn(show).exitCode, 4);
    show.stdoutPath = nullptr;
    show.closeStdout = true;
    EXPECT_EQ(spawn(show).exitCode, 4);

    {
        SessionStore holder(state());
        const SessionStore::Lock lock = holder.lock();
        ASSERT_TRUE(lock.isHeld());
        Spawn s = command("sign-out");
        s.args << "--wait=0.2";
        const Outcome busy = spawn(s);
        EXPECT_EQ(busy.exitCode, 4);
        EXPECT_TRUE(busy.err.contains(QByteArray("busy (held by process ") + QByteArray::number(::getpid())))
            << busy.err.constData();
    }

    Spawn homeless;
    homeless.args = {"run"};
    homeless.unsetEnv = {"HOME", "XDG_STATE_HOME"};
    const Outcome o = spawn(homeless);
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_TRUE(o.err.contains("--state")) << o.err.constData();
}
