// SPDX-License-Identifier: MIT
// sessionctl under real faults: full disks, failing syncs and renames, kills, racing
// processes, hostile files, names that are not UTF-8, lost output, no home.
#include <PhoneRuntimeData.h>
#include <SessionData.h>
#include <SessionStore.h>

#include "SessionctlProcess.h"

#include <QJsonDocument>

#include <grp.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace {

// Sanitizer and coverage builds: slower, and with writes of their own among the store's.
#ifndef SESSIONCONFIG_INSTRUMENTED
#define SESSIONCONFIG_INSTRUMENTED 0
#endif

using SessionctlFaults = ScratchTest;

// A stored file's generation (0 when it cannot be read).
std::uint64_t generation(const QByteArray& path)
{
    return SessionStore::readFile(path).file.generation;
}

} // namespace

// A failed write (past the file size limit: the same failed write(2) as a full disk's
// ENOSPC), fsync or rename changes nothing; output that cannot be written is an error.
TEST_F(SessionctlFaults, FailedWritesSyncsAndRenamesChangeNothing)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    const auto stored = snapshot();
    const std::pair<rlim_t, QByteArray> cases[] = {
        {0, {}},                                                         // no space at all
        {static_cast<rlim_t>(stored.at("session.enc").size() + 16), {}}, // space for the encrypted file only
        {RLIM_INFINITY, "inject=fsync:error=EIO"},
        {RLIM_INFINITY, "inject=renameat:error=EIO"},
    };
    for (const auto& [limit, inject] : cases) {
        Spawn s = inject.isEmpty() ? command("run") : traced(command("run"), inject);
        s.fileSizeLimit = limit;
        const Outcome o = spawn(s);
        EXPECT_TRUE(exited(o, 4, file("session.")) && !o.out.contains("Stored generation")) << o;
        EXPECT_EQ(snapshot(), stored) << limit << inject.constData(); // no temporary file left either
    }
    // A first run on a full disk cannot even keep the key: nothing is stored.
    Spawn first{{"run", "--state", path("fresh")}};
    first.fileSizeLimit = 0;
    EXPECT_EQ(spawn(first).exitCode, 4);
    EXPECT_EQ(QDir(QFile::decodeName(path("fresh"))).entryList(QDir::Files), QStringList{"session.lock"});
    EXPECT_TRUE(sessionctl("run").out.contains("Stored generation 2"));
    // Output that cannot be written: a full device, a closed stream.
    for (const QByteArray sink : {">/dev/full", ">&-"}) {
        const Spawn show{{"-c", "exec \"$0\" show \"$1\" " + sink, SESSIONCTL_PROGRAM, file("session.json")},
                         "sh"};
        EXPECT_EQ(spawn(show).exitCode, 4) << sink.constData();
    }
    // A reader that stops early has what it wanted: a quiet end, and the run still stores.
    const Spawn cut{{"-c", R"(set -o pipefail; "$0" run --state "$1" | true)", SESSIONCTL_PROGRAM, state()},
                    "bash"};
    const Outcome o = spawn(cut);
    EXPECT_TRUE(exited(o, 0) && !o.err.contains("sessionctl:") && generation(file("session.enc")) == 3) << o;
}

TEST_F(SessionctlFaults, KillAtAStoreSystemCallLeavesOldOrNewFiles)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    // The store is the last part of a run, so the last calls of each kind matter.
    int kills = 0, mixed = 0; // mixed: kills between the two renames
    for (const QByteArray syscall : {"openat", "write", "fsync", "renameat"}) {
        const int calls = countCalls(command("run"), syscall);
        for (int back = 0; back < (SESSIONCONFIG_INSTRUMENTED ? 2 : 4) && back < calls; ++back) {
            const std::uint64_t before = generation(file("session.enc"));
            const QByteArray fault =
                "inject=" + syscall + ":signal=KILL:when=" + QByteArray::number(calls - back);
            kills += spawn(traced(command("run"), fault)).exitCode != 0;
            // Each file whole, old or new; the encrypted one is replaced first.
            const std::uint64_t enc = generation(file("session.enc")),
                                plain = generation(file("session.json"));
            EXPECT_TRUE((enc == before || enc == before + 1) && (plain == before || plain == enc))
                << fault.constData();
            mixed += enc != plain;
            // A read meanwhile sees the pair the next run restores, and changes nothing.
            const auto left = snapshot();
            const Outcome read = sessionctl("get", {"--json", "phone.SipAccount"});
            EXPECT_TRUE(exited(read, 0) && !read.err.contains("not written together") &&
                        QJsonDocument::fromJson(read.out)["generation"].toInteger() == qint64(enc))
                << fault.constData() << read;
            EXPECT_EQ(snapshot(), left);
            // The next run finishes an interrupted store: no mixed pair, no temporary file.
            const Outcome next = sessionctl("run");
            EXPECT_TRUE(exited(next, 0) && !next.err.contains("not written together")) << next;
            EXPECT_TRUE(next.out.contains("Stored generation " + QByteArray::number(enc + 1))) << next;
            EXPECT_EQ(snapshot().size(), 3u) << "session.enc, session.json, session.key only";
        }
    }
    EXPECT_TRUE(kills > 0 && mixed > 0) << kills << " kills, " << mixed << " between the renames";
}

// Failing after the first rename (EIO, or a file system gone read-only): the new plain
// file waits whole and the next start completes the change. A failed directory sync
// after both renames is no failure of the store, and says what it could not confirm.
TEST_F(SessionctlFaults, AStoreFailingAfterItsFirstRenameIsCompletedAtTheNextStart)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    const Outcome failed = spawn(traced(command("set", {"phone.SipAccount", "new", "user.FirstName", "newf"}),
                                        "inject=renameat:error=EIO:when=2"));
    EXPECT_TRUE(exited(failed, 4, "the change is completed at the next start")) << failed;
    const Outcome next = sessionctl("get", {"phone.SipAccount", "user.FirstName"});
    EXPECT_TRUE(exited(next, 0) && !next.err.contains("not written together") &&
                next.out == "phone.SipAccount = new\nuser.FirstName = newf\n")
        << next;

    ASSERT_EQ(sessionctl("set", {"phone.SipAccount", "w"}).exitCode, 0); // completes the pair under the lock
    const int syncs = countCalls(command("set", {"phone.SipAccount", "x"}), "fsync");
    const Outcome unsynced = spawn(traced(command("set", {"phone.SipAccount", "y"}),
                                          "inject=fsync:error=EIO:when=" + QByteArray::number(syncs)));
    EXPECT_TRUE(exited(unsynced, 0, "both stored files were replaced, but their durability is not confirmed"))
        << unsynced;
    EXPECT_EQ(sessionctl("get", {"phone.SipAccount"}).out, "phone.SipAccount = y\n");
}

// Root repairing another user's state directory leaves it that user's; a third user is
// refused before anything changes, and a shared directory is refused, never tightened.
TEST_F(SessionctlFaults, OwnershipOfTheStateDirectoryIsKept)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act for other users";
    ::chmod(path("").constData(), 0711); // the other users pass through the scratch directory
    const QByteArray home = path("home"), dir = home + "/state";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(home)));
    ASSERT_EQ(::chown(home.constData(), 12345, 12345), 0);
    // The user's own program, in a child that is that user: the build tree may be out of
    // its reach, so the library is called in place of an exec. 0: opened; 4: refused as
    // another user's directory; anything else: some other failure.
    const auto openAs = [](uid_t uid, const QByteArray& at) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
                ::setresuid(uid, uid, uid) != 0)
                ::_exit(126);
            SessionStore::Options options;
            options.keyStore = SessionStore::KeyStore::File;
            SessionStore store(at, options);
            const SessionStore::Lock lock = store.lock();
            if (lock.error())
                ::_exit(lock.error().message.contains("belongs to user 12345") ? 4 : 5);
            SessionData session;
            const bool opened =
                !store.restore(lock, session).error &&
                session.getPhoneSessionData().lock()->getData<QString, PhoneProperty::SipAccount>() ==
                    QLatin1String("by-root");
            ::_exit(opened ? 0 : 2);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_TRUE(exited(spawn({{"set", "--state", dir, "phone.SipAccount", "by-root"}}), 0));
    for (const QString& name : QDir(QFile::decodeName(dir)).entryList(QDir::Files)) {
        struct stat st
        {
        };
        ::stat((dir + '/' + QFile::encodeName(name)).constData(), &st);
        EXPECT_TRUE(st.st_uid == 12345 && st.st_gid == 12345 && (st.st_mode & 0777) == 0600)
            << qPrintable(name);
    }
    EXPECT_EQ(openAs(12345, dir), 0);
    ::chmod(home.constData(), 0755);
    const auto stored = [&] { return readFile(dir + "/session.enc") + readFile(dir + "/session.json"); };
    const QByteArray before = stored();
    EXPECT_NE(openAs(23456, dir), 0);
    EXPECT_EQ(openAs(23456, home), 4);
    EXPECT_EQ(stored(), before);

    const QByteArray shared = path("shared");
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(shared)));
    ::chmod(shared.constData(), 01777);
    EXPECT_TRUE(exited(spawn({{"run", "--state", shared}}), 4, "is a shared directory"));
    struct stat st
    {
    };
    EXPECT_TRUE(::stat(shared.constData(), &st) == 0 && (st.st_mode & 07777) == 01777);
}

// A sessionctl that aborts while it holds the password, the tokens and the key leaves
// no core file, where the same abort of another program does.
TEST_F(SessionctlFaults, AnAbortLeavesNoCoreHoldingSecrets)
{
    const QByteArray cores = path("cores");
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(cores)));
    const auto abortIn = [&](QList<QByteArray> command) {
        Spawn s{QList<QByteArray>{"-c", "ulimit -c unlimited; exec \"$@\"", "sh"} + command, "sh"};
        s.env = {"--chdir=" + cores};
        return spawn(s);
    };
    abortIn({"sh", "-c", "kill -ABRT $$"});
    if (QDir(QFile::decodeName(cores)).entryList(QDir::Files).isEmpty())
        GTEST_SKIP() << "cores do not land in the working directory here (see core_pattern)";
    QFile::remove(QFile::decodeName(cores + "/core"));
    const Outcome o =
        abortIn({"strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=renameat:signal=ABRT:when=1",
                 SESSIONCTL_PROGRAM, "run", "--state", state()});
    EXPECT_EQ(o.exitCode, -1) << o;
    EXPECT_EQ(QDir(QFile::decodeName(cores)).entryList(QDir::Files), QStringList{});
}

TEST_F(SessionctlFaults, RacingProcessesEachStoreOnce)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    // Writers queue for the lock; readers take none and never see a mixed pair.
    std::vector<Spawn> racers; // each one's output fits its pipe while the others are collected
    for (int i = 0; i < 16; ++i)
        racers.push_back(i % 4 == 3 ? command("get", {"phone.SipAccount"})
                                    : command(i % 2 ? "sign-out" : "run", {"--wait=60"}));
    for (const Outcome& o : spawnAll(racers))
        EXPECT_TRUE(exited(o, 0) && !o.err.contains("not written together")) << o;
    EXPECT_EQ(generation(file("session.enc")), 13u);
    EXPECT_EQ(generation(file("session.json")), 13u);
}

TEST_F(SessionctlFaults, HostileFilesAreRefusedQuicklyAndSmall)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    const auto stored = snapshot();
    const std::pair<const char*, void (*)(const QByteArray&)> kinds[] = {
        {"FIFO", [](const QByteArray& p) { ASSERT_EQ(::mkfifo(p.constData(), 0600), 0); }},
        {"link to /dev/zero",
         [](const QByteArray& p) { ASSERT_EQ(::symlink("/dev/zero", p.constData()), 0); }},
        {"socket",
         [](const QByteArray& p) {
             const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un addr{AF_UNIX, {}};
             qstrncpy(addr.sun_path, p.constData(), sizeof addr.sun_path);
             ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
             ::close(s);
         }},
        {"100 MB file", [](const QByteArray& p) {
             writeFile(p, {});
             ASSERT_EQ(::truncate(p.constData(), 100'000'000), 0); // sparse
         }}};
    for (const char* target : {"session.enc", "session.json", "session.key"}) {
        for (const auto& [kind, make] : kinds) {
            ASSERT_EQ(::rename(file(target).constData(), path("other").constData()), 0);
            make(file(target));
            const Outcome o = sessionctl("run");
            EXPECT_TRUE(exited(o, 2, file(target))) << target << " as " << kind;
            // Refused at once; sanitizers add their own shadow and time.
            EXPECT_LT(o.elapsed, std::chrono::seconds(SESSIONCONFIG_INSTRUMENTED ? 5 : 1))
                << target << " as " << kind;
            EXPECT_LT(o.peakKiB, (SESSIONCONFIG_INSTRUMENTED ? 512 : 64) * 1024) << target << " as " << kind;
            ASSERT_EQ(::unlink(file(target).constData()), 0);
            ASSERT_EQ(::rename(path("other").constData(), file(target).constData()), 0);
        }
    }
    // A lock file that is no regular file: a write is refused, a read needs no lock.
    ASSERT_EQ(::unlink(file("session.lock").constData()), 0);
    ASSERT_EQ(::mkfifo(file("session.lock").constData(), 0600), 0);
    EXPECT_TRUE(
        exited(sessionctl("set", {"phone.SipAccount", "x"}), 4, "the lock file is not a regular file"));
    EXPECT_TRUE(exited(sessionctl("get", {"phone.SipAccount"}), 0, {}));
    EXPECT_EQ(snapshot(), stored);
}

// A state directory on a file system mounted read-only, as a misbehaving desktop
// leaves one: reads work, writes and a new state directory are refused naming the
// cause, and nothing changes.
TEST_F(SessionctlFaults, AReadOnlyMountIsReadAndNeverWritten)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    const QByteArray dir = state();
    if (::mount(dir.constData(), dir.constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    struct Unmount
    {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{dir};
    ASSERT_EQ(::mount(nullptr, dir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    const auto before = snapshot();
    EXPECT_TRUE(exited(sessionctl("set", {"phone.SipAccount", "x"}), 4,
                       "session.lock: cannot open the lock file: Read-only file system"));
    EXPECT_TRUE(exited(sessionctl("run"), 4, "Read-only file system"));
    const Outcome got = sessionctl("get", {"phone.SipAccount"});
    EXPECT_TRUE(exited(got, 0, {}) && got.out.startsWith("phone.SipAccount = ")) << got;
    // A new state directory below it, named with a trailing slash.
    const Outcome made = spawn({{"set", "--state", dir + "/new/", "phone.SipAccount", "x"}});
    EXPECT_TRUE(exited(made, 4, "cannot create the state directory: Read-only file system")) << made;
    EXPECT_EQ(snapshot(), before);
}

// State directories named in non-UTF-8 bytes: under an absolute $XDG_STATE_HOME, else
// ~/.local/state, else refused; or relative to a working directory so named.
TEST_F(SessionctlFaults, StateDirectoriesNamedInBytesThatAreNotUtf8)
{
    const QByteArray home = path("home\xff"), xdg = path("xdg\xff");
    for (const auto& [env, dir] : std::initializer_list<std::pair<QList<QByteArray>, QByteArray>>{
             {{"HOME=" + home, "XDG_STATE_HOME=" + xdg}, xdg + "/sessionconfig"},
             {{"HOME=" + home, "XDG_STATE_HOME=relative"}, home + "/.local/state/sessionconfig"},
             {{"HOME=relative", "XDG_STATE_HOME"}, {}}}) {
        Spawn run{{"run"}};
        run.env = QList<QByteArray>{"--chdir=" + path("")} + env;
        const Outcome o = spawn(run);
        EXPECT_TRUE(dir.isEmpty() ? exited(o, 1, "--state") : exited(o, 0)) << env.join(' ').constData();
        EXPECT_TRUE(dir.isEmpty() || ::access((dir + "/session.enc").constData(), F_OK) == 0)
            << dir.constData();
    }
    EXPECT_FALSE(QFile::exists(QFile::decodeName(path("relative"))));
    Spawn relative{{"run", "--state", "state"}};
    relative.env = {"--chdir=" + home};
    for (const QByteArray stored : {"Stored generation 1", "Stored generation 2"})
        EXPECT_TRUE(spawn(relative).out.contains(stored));
    EXPECT_FALSE(QFile::exists(QFile::decodeName(home + "/state"))); // not where the decoded name leads
    EXPECT_TRUE(spawn({{"show", home + "/state/session.enc"}}).out.contains("generation 2"));
    spawn({{"-rf", home, xdg}, "rm"}); // names Qt cannot remove
}
