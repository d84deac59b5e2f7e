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

TEST_F(KeyCustody, SecretStoreKeepsTheKeyOffDiskThroughEveryCommandAndForgetRemovesIt)
{
    // The secret store's entries of this state directory (whose name needs no encoding).
    const auto entries = [&] {
        const QByteArray account = QDir(QFile::decodeName(state())).canonicalPath().toUtf8();
        return spawn({{"search", "--all", "user", account}, "secret-tool"}).out;
    };
    for (const char* verb : {"run", "run", "sign-out", "rotate-key", "run"}) {
        const Outcome o = sessionctl(verb);
        // Said once, on stderr; session.enc and session.json only.
        EXPECT_TRUE(o.err.count("key: platform secret store") == 1 && snapshot().size() == 2) << verb << o;
    }
    EXPECT_TRUE(entries().contains("sessionconfig"));
    const Outcome shown = spawn({{"show", file("session.enc")}});
    EXPECT_TRUE(shown.err.startsWith("key: platform secret store\n") && shown.out.contains(", generation 5"))
        << shown;
    for (const char* says : {"Removed the stored session", "Nothing was stored"}) // the second finds nothing
        EXPECT_TRUE(sessionctl("forget").out.startsWith(says) && snapshot().empty() &&
                    !entries().contains("sessionconfig"));
}

// A copy elsewhere (another entry name) is refused; without a bus, so is a command
// that asks for the secret store.
TEST_F(KeyCustody, ACopyOrACommandAskingForAMissingSecretStoreIsRefused)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    const auto stored = snapshot();
    m_stateName = "copy";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(state())));
    for (const auto& [name, bytes] : stored)
        writeFile(state() + '/' + name, bytes);
    EXPECT_TRUE(exited(sessionctl("run"), 2, "session.key"));
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
    // Told to use the secret store, it is refused after the same wait.
    const Outcome refused = sessionctl("run", {"--key-store", "secret-store"});
    EXPECT_TRUE(exited(refused, 4, "did not answer within 5000 ms")) << refused;
    EXPECT_EQ(readFile(file("session.key")), key);
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
                ASSERT_EQ(sessionctl("run", mode).exitCode, 0) << fault.constData();
                EXPECT_EQ(exists(file("session.key")), !secret);
                EXPECT_FALSE(exists(file("session.key-next")));
            }
            EXPECT_GE(kills, (calls + 1) / 2) << syscall.constData();
        }
        ASSERT_EQ(sessionctl("forget", mode).exitCode, 0);
    }
}
