// Key custody with real processes: a private keyring daemon (tests/with-secret-store.sh
// starts one), no session bus at all, a daemon that is stopped, and kills during a
// key move and a key rotation.
#include <SessionData.h>
#include <SessionStore.h>

#include "SessionctlProcess.h"

#include <QCoreApplication>

namespace {

const QByteArray kNoBus = "DBUS_SESSION_BUS_ADDRESS";

// The pid of the process that owns the secret store's bus name.
pid_t keyringDaemon()
{
    const QByteArray out =
        spawn({words("call --session --dest org.freedesktop.DBus --object-path "
                     "/org/freedesktop/DBus --method "
                     "org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets"),
               "gdbus"})
            .out;
    return static_cast<pid_t>(out.mid(out.indexOf(' ') + 1).split(',').first().toLongLong());
}

class KeyCustody : public ScratchTest
{
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        ASSERT_FALSE(qEnvironmentVariableIsEmpty(kNoBus.constData()))
            << "run under tests/with-secret-store.sh";
    }

    bool exists(const char* name) const { return QFile::exists(QFile::decodeName(file(name))); }

    Outcome withoutBus(Spawn s) const
    {
        s.env = {kNoBus};
        return spawn(s);
    }

    // The secret store's entries of this state directory (whose name needs no encoding).
    QByteArray entries() const
    {
        const QByteArray account = QFile::encodeName(QDir(QFile::decodeName(state())).canonicalPath());
        return spawn({{"search", "--all", "user", account}, "secret-tool"}).out;
    }
};

} // namespace

TEST_F(KeyCustody, SecretStoreKeepsTheKeyOffDiskThroughEveryCommandAndForgetRemovesIt)
{
    for (const char* verb : {"run", "run", "sign-out", "rotate-key", "run"}) {
        const Outcome o = sessionctl(verb);
        EXPECT_EQ(o.exitCode, 0) << verb << o;
        EXPECT_EQ(o.out.count("key: platform secret store"), 1) << o;
        EXPECT_EQ(snapshot().size(), 2u) << "session.enc and session.json only, after " << verb;
    }
    EXPECT_TRUE(entries().contains("sessionconfig")) << entries().constData();
    const Outcome shown = spawn({{"show", file("session.enc")}});
    EXPECT_EQ(shown.exitCode, 0) << shown;
    EXPECT_TRUE(shown.out.contains("key: platform secret store\n")) << shown;
    EXPECT_TRUE(shown.out.contains("generation 5")) << shown;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(sessionctl("forget").exitCode, 0);
        EXPECT_TRUE(snapshot().empty());
        EXPECT_FALSE(entries().contains("sessionconfig"));
    }
}

TEST_F(KeyCustody, ACopyWithoutTheSecretStoreIsRefusedAndUntouched)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    const auto stored = snapshot();
    // Elsewhere: another directory, so another entry name; without a bus, no store at all.
    for (const bool bus : {false, true}) {
        m_stateName = bus ? "copy-bus" : "copy";
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(state())));
        for (const auto& [name, bytes] : stored)
            writeFile(state() + '/' + name, bytes);
        const Outcome o = bus ? sessionctl("run") : withoutBus(command("run"));
        EXPECT_TRUE(exited(o, 2, "session.key"));
        EXPECT_FALSE(exists("session.key"));
        EXPECT_EQ(snapshot(), stored);
    }
}

TEST_F(KeyCustody, WithoutASecretStoreTheKeyFileIsUsedOrTheCommandRefused)
{
    const Outcome fallback = withoutBus(command("run"));
    EXPECT_EQ(fallback.exitCode, 0) << fallback;
    EXPECT_TRUE(fallback.out.contains("key: file " + file("session.key") +
                                      " (no secret store: no D-Bus session bus)"))
        << fallback;
    const auto stored = snapshot();
    for (const char* verb : {"run", "sign-out", "rotate-key", "forget"})
        EXPECT_TRUE(exited(withoutBus(command(verb, {"--key-store", "secret-store"})), 4,
                           "no platform secret store: no D-Bus session bus"))
            << verb;
    EXPECT_EQ(snapshot(), stored);
    // Not even a state directory is made for it.
    m_stateName = "fresh";
    EXPECT_EQ(withoutBus(command("sign-out", {"--key-store", "secret-store"})).exitCode, 4);
    EXPECT_FALSE(QFile::exists(QFile::decodeName(state())));
}

TEST_F(KeyCustody, ALockedCollectionMeansTheKeyFile)
{
    // In a keyring of its own: a locked collection opens again only through a prompt.
    Spawn s{{"sh", "-c",
             "\"$1\" run --state \"$2/a\" --profile \"$3\" >/dev/null || exit 10\n"
             "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
             "--method org.freedesktop.Secret.Service.Lock \"['/org/freedesktop/secrets/collection/login']\" "
             ">/dev/null || exit 11\n"
             "\"$1\" run --state \"$2/a\" --profile \"$3\"; echo \"exit $?\"\n"
             "\"$1\" run --state \"$2/b\" --profile \"$3\"; echo \"exit $?\"\n",
             "sh", SESSIONCTL_PROGRAM, state(), path("empty.json")},
            WITH_SECRET_STORE};
    const Outcome o = spawn(s);
    EXPECT_EQ(o.exitCode, 0) << o;
    EXPECT_EQ(o.out.count("(no secret store: the secret store's collection is locked)"), 2) << o;
    // The sealed session whose key is locked away is refused and left as it was; a new
    // one keeps its key in the file.
    EXPECT_TRUE(o.out.contains("exit 2\n") && o.out.contains("exit 0\n")) << o;
    EXPECT_FALSE(exists("a/session.key"));
    EXPECT_TRUE(exists("b/session.key"));
}

TEST_F(KeyCustody, AStoreThatNeverAnswersCostsTheLimitOnly)
{
    ASSERT_EQ(sessionctl("run", {"--key-store", "file"}).exitCode, 0);
    const QByteArray key = readFile(file("session.key"));
    int argc = 1;
    char name[] = "test_keys";
    char* argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    const pid_t daemon = keyringDaemon();
    ASSERT_GT(daemon, 0);
    ::kill(daemon, SIGSTOP);
    // The program waits its 5 s and keeps the key file.
    const Outcome hung = sessionctl("run");
    EXPECT_EQ(hung.exitCode, 0) << hung;
    EXPECT_TRUE(hung.out.contains("did not answer within 5000 ms")) << hung;
    EXPECT_LT(hung.elapsed, std::chrono::seconds(9));
    EXPECT_EQ(readFile(file("session.key")), key);
    // The library with a limit of its own: the key file, or the store refused.
    m_stateName = "library";
    for (const auto mode : {SessionStore::KeyStore::Auto, SessionStore::KeyStore::SecretStore}) {
        SessionStore store(state(), {mode, {}, std::chrono::milliseconds(300)});
        const auto started = std::chrono::steady_clock::now();
        const SessionStore::Lock lock = store.lock();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        if (mode == SessionStore::KeyStore::Auto) {
            ASSERT_TRUE(lock.isHeld()) << qPrintable(lock.error().message);
            EXPECT_EQ(store.keyPlace().reason,
                      QStringLiteral("the secret store did not answer within 300 ms"));
            EXPECT_EQ(store.store(lock, SessionData()).error.message, QString());
        } else {
            EXPECT_EQ(lock.error().kind, SessionStore::ErrorKind::Io);
            EXPECT_TRUE(lock.error().message.contains(QStringLiteral("did not answer")))
                << qPrintable(lock.error().message);
        }
    }
    ::kill(daemon, SIGCONT);
    EXPECT_TRUE(exists("session.key"));
}

TEST_F(KeyCustody, AKeyFileMovesIntoTheStoreThroughFailuresAndKills)
{
    ASSERT_EQ(sessionctl("run", {"--key-store", "file"}).exitCode, 0);
    const QByteArray key = readFile(file("session.key"));
    // The file cannot be removed, or the process is killed there: the key is in both
    // places, and the next run finishes the move.
    for (const char* fault : {"error=EIO", "signal=KILL"}) {
        const Outcome o = spawn(traced(command("run"), "inject=unlinkat:" + QByteArray(fault)));
        EXPECT_EQ(readFile(file("session.key")), key) << fault;
        if (o.exitCode == 0) {
            EXPECT_TRUE(o.err.contains("its old file stays")) << o;
        }
    }
    const Outcome moved = sessionctl("run");
    EXPECT_TRUE(moved.out.contains("key: platform secret store")) << moved;
    EXPECT_FALSE(exists("session.key"));
    EXPECT_EQ(sessionctl("run", {"--key-store", "secret-store"}).exitCode, 0);

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
        EXPECT_EQ(next.exitCode, 0) << when << next;
        EXPECT_TRUE(next.out.contains("(generation 1)") || next.out.contains("(generation 2)")) << next;
        EXPECT_FALSE(exists("session.key")) << when;
    }
    // A run asks a little more or less depending on what it finds; most are killed.
    EXPECT_GT(kills, calls / 2);
}

TEST_F(KeyCustody, AKillAtAnyStepOfARotationLeavesFilesThatOpen)
{
    for (const bool secret : {true, false}) {
        const QList<QByteArray> mode = {"--key-store", secret ? "secret-store" : "file"};
        ASSERT_EQ(sessionctl("run", mode).exitCode, 0);
        // renameat: the pending key file, both stored files, the key; sendmsg: the
        // questions to the secret store.
        for (const QByteArray syscall : {"renameat", "sendmsg"}) {
            const int calls = countCalls(command("rotate-key", mode), syscall);
            // Both stored files, and in a file the pending key and its rename over the
            // old one; at least a read, write and read back of each entry.
            const int least = syscall == "renameat" ? (secret ? 2 : 4) : (secret ? 10 : 0);
            ASSERT_GE(calls, least) << syscall.constData();
            int kills = 0;
            for (int when = 1; when <= calls; ++when) {
                const QByteArray fault =
                    "inject=" + syscall + ":signal=KILL:when=" + QByteArray::number(when);
                kills += spawn(traced(command("rotate-key", mode), fault)).exitCode == -1;
                const Outcome next = sessionctl("run", mode);
                ASSERT_EQ(next.exitCode, 0) << fault.constData() << next;
                EXPECT_EQ(exists("session.key"), !secret);
                EXPECT_FALSE(exists("session.key-next"));
            }
            EXPECT_GE(kills, (calls + 1) / 2) << syscall.constData();
        }
        ASSERT_EQ(sessionctl("forget", mode).exitCode, 0);
    }
}
