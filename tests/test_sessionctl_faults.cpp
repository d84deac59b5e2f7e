// sessionctl under real faults: a full disk, failing syncs and renames, a kill at
// system calls of a store, processes racing on one directory, hostile files in place
// of the state files, names that are not UTF-8, output that cannot be written, a busy
// directory and the default place for one.
#include <SessionStore.h>

#include "SessionctlProcess.h"

#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace {

// Built with sanitizers or for coverage (see tests/CMakeLists.txt): slower, and with
// writes of the runtime's own that counting system calls must not take for the store's.
#ifdef SESSIONCONFIG_INSTRUMENTED
constexpr bool kInstrumented = true;
#else
constexpr bool kInstrumented = false;
#endif

class SessionctlFaults : public ScratchTest
{
protected:
    std::uint64_t generation(const char* name) const
    {
        const SessionStore::ReadFile read = SessionStore::readFile(file(name));
        EXPECT_FALSE(read.error) << qPrintable(read.error.message);
        return read.file.generation;
    }
};

} // namespace

TEST_F(SessionctlFaults, FailedWritesSyncsAndRenamesChangeNothing)
{
    if (!straceWorks())
        GTEST_SKIP() << "strace cannot trace here";
    ASSERT_EQ(sessionctl("run", {}, nullptr).exitCode, 0);
    // The writes of a store come last: the encrypted file, the plain file, the summary line.
    const QByteArray firstStoreWrite = QByteArray::number(countCalls(command("run"), "write") - 2);
    const auto stored = snapshot();
    struct Case
    {
        const char* what;
        rlim_t limit;
        QByteArray inject; // a strace fault, or empty
    };
    const Case cases[] = {
        {"no space at all", 0, {}},
        {"space for the encrypted file only", static_cast<rlim_t>(stored.at("session.enc").size() + 16), {}},
        {"write fails with ENOSPC", RLIM_INFINITY, "inject=write:error=ENOSPC:when=" + firstStoreWrite},
        {"fsync fails with EIO", RLIM_INFINITY, "inject=fsync:error=EIO"},
        {"rename fails with EIO", RLIM_INFINITY, "inject=renameat:error=EIO"},
    };
    for (const Case& c : cases) {
        // Where other writes mix in, the file size limits fail the store's writes all the same.
        if (kInstrumented && c.inject.startsWith("inject=write"))
            continue;
        Spawn s = c.inject.isEmpty() ? command("run") : traced(command("run"), c.inject);
        s.fileSizeLimit = c.limit;
        const Outcome o = spawn(s);
        EXPECT_TRUE(exited(o, 4, file("session."))) << c.what;
        EXPECT_FALSE(o.out.contains("Stored generation")) << c.what;
        // Nothing changed, and no temporary file is left behind.
        EXPECT_EQ(snapshot(), stored) << c.what;
    }
    // A first run on a full disk cannot even keep the key: nothing is stored.
    Spawn first = command("run", {}, nullptr);
    first.args[2] = path("fresh");
    first.fileSizeLimit = 0;
    EXPECT_EQ(spawn(first).exitCode, 4);
    EXPECT_EQ(QDir(QFile::decodeName(path("fresh"))).entryList(QDir::Files), QStringList{"session.lock"});

    const Outcome next = sessionctl("run");
    EXPECT_EQ(next.exitCode, 0) << next;
    EXPECT_TRUE(next.out.contains("Stored generation 3")) << next;
}

TEST_F(SessionctlFaults, KillAtAStoreSystemCallLeavesOldOrNewFiles)
{
    if (!straceWorks())
        GTEST_SKIP() << "strace cannot trace here";
    ASSERT_EQ(sessionctl("run", {}, nullptr).exitCode, 0);
    // The store is the last part of a run, so the last calls of each kind are the
    // ones that matter. Instrumented builds sample fewer.
    const int samples = kInstrumented ? 2 : 4;
    int kills = 0;
    int mixed = 0; // kills that landed between the two renames
    for (const QByteArray syscall : {"openat", "write", "fsync", "renameat"}) {
        const int calls = countCalls(command("run"), syscall);
        for (int back = 0; back < samples && back < calls; ++back) {
            const std::uint64_t before = generation("session.enc");
            ASSERT_EQ(generation("session.json"), before);
            const QByteArray when = QByteArray::number(calls - back);
            const Outcome o =
                spawn(traced(command("run"), "inject=" + syscall + ":signal=KILL:when=" + when));
            kills += o.signal == SIGKILL || o.exitCode != 0;
            // Each file whole, old or new; the encrypted one is replaced first.
            const std::uint64_t enc = generation("session.enc");
            const std::uint64_t plain = generation("session.json");
            EXPECT_TRUE(enc == before || enc == before + 1) << syscall.constData() << " " << when.constData();
            EXPECT_TRUE(plain == before || plain == enc) << syscall.constData() << " " << when.constData();
            mixed += enc != plain;
            // The next run finishes a store stopped between its two renames, so it
            // never restores a mixed pair, and leaves no temporary file behind.
            const Outcome next = sessionctl("run");
            EXPECT_EQ(next.exitCode, 0) << next;
            EXPECT_FALSE(next.err.contains("not written together")) << next;
            EXPECT_TRUE(next.out.contains("Stored generation " + QByteArray::number(enc + 1))) << next;
            EXPECT_EQ(snapshot().size(), 3u) << "session.enc, session.json, session.key only";
        }
    }
    EXPECT_GT(kills, 0);
    EXPECT_GT(mixed, 0);
}

TEST_F(SessionctlFaults, RacingProcessesEachStoreOnce)
{
    int succeeded = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int round = 0; round < 3; ++round) {
        // All started before any is collected; each one's output fits its pipe.
        std::vector<Running> racers;
        for (const char* verb : {"run", "sign-out", "run", "sign-out"})
            racers.push_back(start(command(verb, {"--wait=60"})));
        for (const Running& racer : racers) {
            const Outcome o = finish(racer);
            EXPECT_EQ(o.exitCode, 0) << o;
            EXPECT_FALSE(o.err.contains("not written together")) << o;
            succeeded += o.exitCode == 0;
        }
    }
    EXPECT_EQ(generation("session.enc"), std::uint64_t(succeeded));
    EXPECT_EQ(generation("session.json"), std::uint64_t(succeeded));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

TEST_F(SessionctlFaults, HostileFilesAreRefusedQuicklyAndSmall)
{
    ASSERT_EQ(sessionctl("run", {}, nullptr).exitCode, 0);
    const auto stored = snapshot();
    const QByteArray other = path("other");
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
    const long limitKiB = (kInstrumented ? 512 : 64) * 1024;
    for (const char* target : {"session.enc", "session.json", "session.key", "--key-file"}) {
        const bool keyFile = QByteArray(target) == "--key-file";
        const QByteArray at = keyFile ? other : file(target);
        for (const auto& [kind, make] : kinds) {
            if (!keyFile) {
                ASSERT_EQ(::rename(at.constData(), other.constData()), 0);
            }
            make(at);
            const Outcome o =
                sessionctl("run", keyFile ? QList<QByteArray>{"--key-file", at} : QList<QByteArray>{});
            EXPECT_TRUE(exited(o, 2, at)) << target << " as " << kind;
            EXPECT_LT(o.elapsed, std::chrono::seconds(kInstrumented ? 5 : 1)) << target << " as " << kind;
            EXPECT_LT(o.peakKiB, limitKiB) << target << " as " << kind;
            if (::unlink(at.constData()) != 0) {
                ASSERT_EQ(::rmdir(at.constData()), 0);
            }
            if (!keyFile) {
                ASSERT_EQ(::rename(other.constData(), at.constData()), 0);
            }
        }
    }
    EXPECT_EQ(snapshot(), stored);
}

// Named relative to a working directory whose name is not UTF-8 either.
TEST_F(SessionctlFaults, StateDirectoryNamedWithBytesThatAreNotUtf8)
{
    const QByteArray work = path("w\xff\xfe"
                                 "d");
    m_stateName = "w\xff\xfe"
                  "d/state";
    ASSERT_EQ(::mkdir(work.constData(), 0700), 0);
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    Spawn relative{{"run", "--state", "state", "--profile", path("empty.json")}};
    relative.env = {"--chdir=" + work};
    const Outcome again = spawn(relative);
    EXPECT_EQ(again.exitCode, 0) << again;
    EXPECT_TRUE(again.out.contains("Stored generation 2"));
    // Not the directory that decoding the name would give.
    EXPECT_FALSE(QFile::exists(QFile::decodeName(state())));
    const Outcome shown = spawn({{"show", file("session.enc")}});
    EXPECT_EQ(shown.exitCode, 0) << shown;
    EXPECT_TRUE(shown.out.contains("generation 2"));
    // Qt cannot name it to remove it.
    for (const char* name : {"session.enc", "session.json", "session.key", "session.lock"})
        EXPECT_EQ(::unlink(file(name).constData()), 0);
    EXPECT_EQ(::rmdir(state().constData()), 0);
    EXPECT_EQ(::rmdir(work.constData()), 0);
}

TEST_F(SessionctlFaults, LostOutputBusyDirectoryAndNoHomeAreReported)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    Spawn show{{"show", file("session.json")}};
    show.stdoutPath = "/dev/full";
    EXPECT_EQ(spawn(show).exitCode, 4);
    show.stdoutPath = nullptr;
    show.closeStdout = true;
    EXPECT_EQ(spawn(show).exitCode, 4);
    {
        SessionStore holder(state());
        const SessionStore::Lock lock = holder.lock();
        ASSERT_TRUE(lock.isHeld());
        EXPECT_TRUE(exited(sessionctl("sign-out", {"--wait=0.2"}), 4,
                           "busy (held by process " + QByteArray::number(::getpid())));
    }
    // Without --state: under an absolute $XDG_STATE_HOME, else under ~/.local/state, both
    // named in bytes; refused without a usable home. Run where a wrong guess would show.
    const QByteArray home = path("home\xff"), xdg = path("xdg\xff");
    for (const auto& [env, dir] : std::initializer_list<std::pair<QList<QByteArray>, QByteArray>>{
             {{"HOME=" + home, "XDG_STATE_HOME=" + xdg}, xdg + "/sessionconfig"},
             {{"HOME=" + home, "XDG_STATE_HOME=relative"}, home + "/.local/state/sessionconfig"},
             {{"HOME=" + home, "XDG_STATE_HOME"}, home + "/.local/state/sessionconfig"},
             {{"HOME=", "XDG_STATE_HOME="}, {}},
             {{"HOME=relative", "XDG_STATE_HOME"}, {}},
             {{"HOME", "XDG_STATE_HOME"}, {}}}) {
        Spawn run{{"run", "--profile", path("empty.json")}};
        run.env = QList<QByteArray>{"--chdir=" + path("")} + env;
        const Outcome o = spawn(run);
        EXPECT_TRUE(dir.isEmpty() ? exited(o, 1, "--state") : exited(o, 0)) << env.join(' ').constData();
        EXPECT_TRUE(dir.isEmpty() || ::access((dir + "/session.enc").constData(), F_OK) == 0)
            << dir.constData();
    }
    EXPECT_FALSE(QFile::exists(QFile::decodeName(path("relative"))));
    spawn({{"-rf", home, xdg}, "rm"}); // names Qt cannot remove
}
