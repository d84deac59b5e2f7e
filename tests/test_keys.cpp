// SPDX-License-Identifier: MIT
// Key custody with real processes: a private keyring daemon (tests/with-secret-store.sh),
// no bus, a stopped daemon, a locked collection, kills during a key move and rotation.
#include "SessionctlProcess.h"

namespace {

// Run under tests/with-secret-store.sh, which gives the test a bus of its own.
using KeyCustody = ScratchTest;

bool exists(const QByteArray& path)
{
    return QFile::exists(QFile::decodeName(path));
}

Outcome withoutBus(Spawn s)
{
    s.env = {"DBUS_SESSION_BUS_ADDRESS"};
    return spawn(s);
}

} // namespace

namespace {

// The secret store's entries of this program, as "NAME" and "  secret=BYTES" lines.
QByteArray entries()
{
    return spawn({{"-c", "secret-tool search --all server sessionconfig 2>&1 | "
                         "sed -n 's/^attribute.user = //p; s/^secret = /  secret=/p'"},
                  "sh"})
        .out;
}

QByteArray secretStoreCall(const QByteArray& method, const QList<QByteArray>& args)
{
    return spawn({QList<QByteArray>{"call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
                                    "/org/freedesktop/secrets", "--method",
                                    "org.freedesktop.Secret.Service." + method} +
                      args,
                  "gdbus"})
        .out;
}

} // namespace

TEST_F(KeyCustody, SecretStoreKeepsTheKeyOffDiskThroughEveryCommandAndForgetRemovesIt)
{
    for (const char* verb : {"run", "run", "sign-out", "rotate-key", "run"}) {
        const Outcome o = sessionctl(verb);
        // Said once, on stderr; session.enc, session.json and the directory's identity only.
        EXPECT_TRUE(o.err.count("key: platform secret store") == 1 && snapshot().size() == 3) << verb << o;
    }
    EXPECT_EQ(entries().count("directory "), 1) << entries().constData();
    const Outcome shown = spawn({{"show", file("session.enc")}});
    EXPECT_TRUE(shown.err.startsWith("key: platform secret store\n") && shown.out.contains(", generation 5"))
        << shown;
    for (const char* says : {"Removed the stored session", "Nothing was stored"}) // the second finds nothing
        EXPECT_TRUE(sessionctl("forget").out.startsWith(says) && snapshot().empty() && entries().isEmpty());
}

// The key follows the directory: renamed, bind-mounted or copied under the same login it
// opens (a copy gets an entry of its own, so forgetting it leaves the original); in
// another login's secret store a copy is refused. Without a bus, so is a command that
// asks for the secret store.
TEST_F(KeyCustody, TheKeyFollowsTheDirectoryNotItsPath)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    const auto stored = snapshot();
    const auto opens = [&](const QByteArray& name) {
        m_stateName = name;
        const Outcome o = sessionctl("get", {"phone.SipAccount"});
        return exited(o, 0) && o.out.contains("alice@sip.example.net");
    };
    ASSERT_TRUE(QDir().rename(QFile::decodeName(state()), QFile::decodeName(path("moved"))));
    EXPECT_TRUE(opens("moved"));
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(path("alias"))));
    if (spawn({{"--bind", path("moved"), path("alias")}, "mount"}).exitCode == 0) {
        EXPECT_TRUE(opens("alias") && opens("moved"));
        spawn({{path("alias")}, "umount"});
        EXPECT_TRUE(opens("moved"));
    }
    ASSERT_EQ(spawn({{"-a", path("moved"), path("copy")}, "cp"}).exitCode, 0);
    EXPECT_TRUE(opens("copy"));
    EXPECT_EQ(sessionctl("forget").exitCode, 0);
    EXPECT_TRUE(opens("moved"));

    ASSERT_EQ(spawn({{"-a", path("moved"), path("elsewhere")}, "cp"}).exitCode, 0);
    const Spawn otherLogin{{SESSIONCTL_PROGRAM, "run", "--state", path("elsewhere")}, WITH_SECRET_STORE};
    EXPECT_TRUE(exited(spawn(otherLogin), 2, "session.key"));
    m_stateName = "elsewhere";
    EXPECT_EQ(snapshot(), stored);
    for (const char* verb : {"run", "sign-out", "rotate-key", "forget"})
        EXPECT_TRUE(exited(withoutBus(command(verb, {"--key-store", "secret-store"})), 4,
                           "no platform secret store: no D-Bus session bus"))
            << verb;
    EXPECT_EQ(snapshot(), stored);
    m_stateName = "fresh"; // not even a state directory is made for it
    EXPECT_EQ(withoutBus(command("sign-out", {"--key-store", "secret-store"})).exitCode, 4);
    EXPECT_FALSE(exists(state()));
}

// Key places that hold something odd; each is followed by the open that must succeed.
TEST_F(KeyCustody, EveryKeyThatCouldOpenTheSessionIsTriedAndLeftoversGo)
{
    const auto keyFileRun = [&](const QByteArray& name) {
        m_stateName = name;
        ASSERT_EQ(sessionctl("run", {"--key-store", "file"}).exitCode, 0);
    };
    // An entry that holds no key (an interrupted move left one) beside a good key file.
    keyFileRun("empty-entry");
    const QByteArray account = QDir(QFile::decodeName(state())).canonicalPath().toUtf8();
    spawn({{"-c",
            "printf '' | secret-tool store --label=x user \"$0\" server sessionconfig type base64 "
            "xdg:schema org.qt.keychain",
            account},
           "sh"});
    Outcome o = sessionctl("run");
    EXPECT_TRUE(exited(o, 0, "holds no key") && o.err.contains("key: platform secret store")) << o;
    EXPECT_TRUE(!exists(file("session.key")) && !entries().contains("secret=\n")) << entries().constData();

    // Leftovers of interrupted writes of a key go at the next writing command.
    for (const char* leftover : {"session.key-next.0123456789ab", "session.key.0123456789ab"})
        writeFile(file(leftover), QByteArray(32, 'k'));
    EXPECT_EQ(sessionctl("run").exitCode, 0);
    EXPECT_EQ(snapshot().size(), 3u);

    // A default collection held in memory only: the key stays in its file, and says why;
    // a key that was in the store comes back to a file.
    m_stateName = "was-kept";
    ASSERT_TRUE(sessionctl("run").err.contains("key: platform secret store"));
    keyFileRun("memory");
    const QByteArray login = "/org/freedesktop/secrets/collection/login";
    secretStoreCall("SetAlias", {"default", "/org/freedesktop/secrets/collection/session"});
    o = sessionctl("run");
    m_stateName = "was-kept";
    const Outcome back = sessionctl("run");
    secretStoreCall("SetAlias", {"default", login});
    EXPECT_TRUE(back.exitCode == 0 && exists(file("session.key")) &&
                sessionctl("get", {"--key-store", "file", "phone.SipAccount"}).exitCode == 0)
        << back;
    m_stateName = "memory";
    EXPECT_TRUE(
        o.err.contains("key: file " + file("session.key") +
                       " (no secret store: the secret store's default collection is kept in memory only)"))
        << o;
    EXPECT_TRUE(exists(file("session.key")));

    // A read leaves a key file others can read as it is, and says so; a write tightens it.
    ::chmod(file("session.key").constData(), 0644);
    EXPECT_TRUE(exited(sessionctl("get", {"phone.SipAccount"}), 0, "can be read by others"));
    EXPECT_TRUE(QFile(QFile::decodeName(file("session.key"))).permissions() & QFileDevice::ReadOther);
    EXPECT_TRUE(exited(sessionctl("run"), 0, "it is now owner-only"));
    // An identity that is not one is refused, not replaced: the key is named by it.
    writeFile(file("session.id"), "garbage\n");
    EXPECT_TRUE(exited(sessionctl("get", {"phone.SipAccount"}), 2, "not the identity of a state directory"));

    // A key file shared by two directories outlives forgetting one; a key file that
    // would be a state file is refused before anything is made.
    const QByteArray shared = path("shared.key");
    for (const QByteArray name : {"a", "b"}) {
        m_stateName = name;
        ASSERT_EQ(sessionctl("run", {"--key-file", shared}).exitCode, 0);
    }
    EXPECT_TRUE(exited(sessionctl("rotate-key", {"--key-file", shared}), 1, "rotating would replace it"));
    o = sessionctl("forget", {"--key-file", shared});
    EXPECT_TRUE(exited(o, 0, "lies outside the state directory") && exists(shared)) << o;
    m_stateName = "a";
    EXPECT_EQ(sessionctl("get", {"--key-file", shared, "phone.SipAccount"}).exitCode, 0);
    m_stateName = "collide";
    for (const char* name : {"session.json", "session.enc.tmp"})
        EXPECT_TRUE(exited(sessionctl("run", {"--key-file", file(name)}), 1, "would be the state file"))
            << name;
    EXPECT_FALSE(exists(state()));
}

TEST_F(KeyCustody, ALockedCollectionMeansTheKeyFile)
{
    // In a keyring of its own: a locked collection opens again only through a prompt.
    Spawn s{{"sh", "-c",
             "s=$1; r() { \"$0\" run --state \"$s/$1\" 2>&1; echo \"exit $?\"; }\n"
             "r a >/dev/null && gdbus call --session --dest org.freedesktop.secrets --object-path "
             "/org/freedesktop/secrets --method org.freedesktop.Secret.Service.Lock "
             "\"['/org/freedesktop/secrets/collection/login']\" >/dev/null && r a && r b",
             SESSIONCTL_PROGRAM, state()},
            WITH_SECRET_STORE};
    const Outcome o = spawn(s);
    EXPECT_EQ(o.exitCode, 0) << o;
    EXPECT_EQ(o.out.count("(no secret store: the secret store's collection is locked)"), 2) << o;
    // The session whose key is locked away is refused; a new one keeps its key in a file.
    EXPECT_TRUE(o.out.contains("exit 2\n") && o.out.contains("exit 0\n")) << o;
    EXPECT_TRUE(!exists(file("a/session.key")) && exists(file("b/session.key")));
}

TEST_F(KeyCustody, AStoreThatNeverAnswersCostsTheLimitOnly)
{
    ASSERT_EQ(sessionctl("run", {"--key-store", "file"}).exitCode, 0);
    const QByteArray key = readFile(file("session.key"));
    // The pid of the process that owns the secret store's bus name.
    const Spawn owner{{"-c",
                       "gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                       "--method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets "
                       "| awk '{print $2 + 0}'"},
                      "sh"};
    const pid_t daemon = spawn(owner).out.trimmed().toInt();
    ASSERT_GT(daemon, 0);
    ::kill(daemon, SIGSTOP);
    // The program waits its 5 s and keeps the key file.
    const Outcome hung = sessionctl("run");
    EXPECT_TRUE(exited(hung, 0) && hung.err.contains("did not answer within 5000 ms")) << hung;
    EXPECT_LT(hung.elapsed, std::chrono::seconds(9));
    // Told to use the secret store, it is refused after the same wait, and told the way out.
    const Outcome refused = sessionctl("run", {"--key-store", "secret-store"});
    EXPECT_TRUE(exited(refused, 4, "did not answer within 5000 ms") &&
                refused.err.contains("exists: --key-store file uses it"))
        << refused;
    EXPECT_EQ(readFile(file("session.key")), key);
    // A session whose key is in the hung store is refused for that cause, not a missing file.
    m_stateName = "kept";
    ::kill(daemon, SIGCONT);
    ASSERT_TRUE(sessionctl("run").err.contains("key: platform secret store"));
    ::kill(daemon, SIGSTOP);
    EXPECT_TRUE(exited(sessionctl("get", {"phone.SipAccount"}), 2,
                       "could not be asked: the secret store did not answer within 5000 ms"));
    ::kill(daemon, SIGCONT);
}

TEST_F(KeyCustody, AKeyFileMovesIntoTheStoreThroughFailuresAndKills)
{
    ASSERT_EQ(sessionctl("run", {"--key-store", "file"}).exitCode, 0);
    const QByteArray key = readFile(file("session.key"));
    // Failing or killed at removing the file: the key is in both places until the next run.
    for (const char* fault : {"error=EIO", "signal=KILL"}) {
        const Outcome o = spawn(traced(command("run"), "inject=unlinkat:" + QByteArray(fault)));
        EXPECT_EQ(readFile(file("session.key")), key) << fault;
        EXPECT_TRUE(o.exitCode != 0 || o.err.contains("its old file stays")) << o;
    }
    EXPECT_TRUE(sessionctl("run").err.contains("key: platform secret store") && !exists(file("session.key")));

    // Killed at any of its questions to the secret store, each in a directory of its own.
    m_stateName = "count";
    ASSERT_EQ(sessionctl("run", {"--key-store", "file"}).exitCode, 0);
    const int calls = countCalls(command("run"), "sendmsg");
    int kills = 0;
    for (int when = 1; when <= calls; ++when) {
        m_stateName = "move-" + QByteArray::number(when);
        ASSERT_EQ(sessionctl("run", {"--key-store", "file"}).exitCode, 0);
        kills += spawn(traced(command("run"), "inject=sendmsg:signal=KILL:when=" + QByteArray::number(when)))
                     .exitCode == -1;
        const Outcome next = sessionctl("run");
        EXPECT_TRUE(next.out.contains("(generation 1)") || next.out.contains("(generation 2)"))
            << when << next;
        EXPECT_FALSE(exists(file("session.key"))) << when;
    }
    // A run asks a little more or less depending on what it finds; most are killed.
    EXPECT_GT(kills, calls / 2);
}

// Killed at each rename and each question to the secret store: the next run opens the files.
TEST_F(KeyCustody, AKillAtAnyStepOfARotationLeavesFilesThatOpen)
{
    for (const bool secret : {true, false}) {
        const QList<QByteArray> mode = {"--key-store", secret ? "secret-store" : "file"};
        ASSERT_EQ(sessionctl("run", mode).exitCode, 0);
        for (const QByteArray syscall : {"renameat", "sendmsg"}) {
            const int calls = countCalls(command("rotate-key", mode), syscall);
            // Both stored files (and the key file's two); a read, write and read back per entry.
            ASSERT_GE(calls, syscall == "renameat" ? (secret ? 2 : 4) : (secret ? 10 : 0))
                << syscall.constData();
            int kills = 0;
            for (int when = 1; when <= calls; ++when) {
                const QByteArray fault =
                    "inject=" + syscall + ":signal=KILL:when=" + QByteArray::number(when);
                kills += spawn(traced(command("rotate-key", mode), fault)).exitCode == -1;
                // Run with the same key place, or with a store answering where there was none.
                const Outcome next = secret || when % 2 ? sessionctl("run", mode) : sessionctl("run");
                ASSERT_EQ(next.exitCode, 0) << fault.constData() << next;
                EXPECT_EQ(exists(file("session.key")), !secret && when % 2);
                EXPECT_FALSE(exists(file("session.key-next")));
                if (!secret && !(when % 2)) { // back to a key file for the next round
                    ASSERT_EQ(sessionctl("forget").exitCode + sessionctl("run", mode).exitCode, 0);
                }
            }
            EXPECT_GE(kills, (calls + 1) / 2) << syscall.constData();
        }
        ASSERT_EQ(sessionctl("forget", mode).exitCode, 0);
    }
}
