// Key custody with real processes: a private keyring daemon (tests/with-secret-store.sh
// starts one), no session bus at all, a daemon that is stopped, and kills during a
// key rotation.
#include <SessionData.h>
#include <SessionStore.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <map>

namespace {

struct Outcome
{
    int exitCode = -1; // -1 when killed
    QByteArray out;
    QByteArray err;
    std::chrono::milliseconds elapsed{0};
};

Outcome runProgram(const QString& program, QStringList args, bool withBus = true, bool traced = false)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!withBus)
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    // The leak checker cannot run under ptrace: a traced child leaves it out.
    if (traced)
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    p.setProcessEnvironment(env);
    const auto started = std::chrono::steady_clock::now();
    p.start(program, args);
    p.waitForFinished(60000);
    Outcome o;
    o.elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = p.readAllStandardOutput();
    o.err = p.readAllStandardError();
    return o;
}

// The pid of the process that owns the secret store's bus name.
qint64 keyringDaemon()
{
    const Outcome o = runProgram(
        QStringLiteral("gdbus"),
        {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
         "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID", "org.freedesktop.secrets"});
    const QByteArray digits = o.out.mid(o.out.indexOf(' ') + 1).split(',').first();
    return digits.toLongLong();
}

class KeyCustody : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            << "run under tests/with-secret-store.sh";
        QFile empty(m_tmp.filePath(QStringLiteral("empty.json")));
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
        empty.write("{}");
    }

    QString state() const { return m_tmp.filePath(m_stateName); }
    QString file(const char* name) const { return state() + '/' + QLatin1String(name); }
    bool exists(const char* name) const { return QFile::exists(file(name)); }

    Outcome sessionctl(QStringList args, bool withBus = true, QStringList prefix = {}) const
    {
        if (args.first() == QLatin1String("run"))
            args << "--profile" << m_tmp.filePath(QStringLiteral("empty.json"));
        if (args.first() != QLatin1String("show"))
            args << "--state" << state();
        QStringList all = prefix;
        all << QStringLiteral(SESSIONCTL_PROGRAM) << args;
        const QString program = all.takeFirst();
        return runProgram(program, all, withBus, !prefix.isEmpty());
    }

    Outcome killedAt(const QStringList& args, const QByteArray& syscall, int when) const
    {
        return sessionctl(
            args, true,
            {"strace", "-f", "-qq", "-o", "/dev/null", "-e",
             QStringLiteral("inject=%1:signal=KILL:when=%2").arg(QLatin1String(syscall)).arg(when)});
    }

    int countCalls(const QStringList& args, const QByteArray& syscall) const
    {
        const QString log = m_tmp.filePath(QStringLiteral("count.log"));
        EXPECT_EQ(
            sessionctl(args, true, {"strace", "-f", "-qq", "-o", log, "-e", "trace=" + syscall}).exitCode, 0);
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? static_cast<int>(f.readAll().count('\n')) : 0;
    }

    std::map<QString, QByteArray> snapshot() const
    {
        std::map<QString, QByteArray> files;
        for (const QString& name : QDir(state()).entryList(QDir::Files)) {
            if (name == QLatin1String("session.lock"))
                continue; // names the last holder only
            QFile f(state() + '/' + name);
            files[name] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?");
        }
        return files;
    }

    // The secret store's entries of this state directory (whose name needs no encoding).
    QByteArray entries() const
    {
        const QString account = QDir(state()).canonicalPath();
        return runProgram(QStringLiteral("secret-tool"), {"search", "--all", "user", account}).out;
    }

    QTemporaryDir m_tmp;
    QString m_stateName = QStringLiteral("state");
};

} // namespace

TEST_F(KeyCustody, SecretStoreKeepsTheKeyOffDiskThroughEveryCommand)
{
    const QStringList commands[] = {{"run"}, {"run"}, {"sign-out"}, {"rotate-key"}, {"run"}};
    for (const QStringList& c : commands) {
        const Outcome o = sessionctl(c);
        EXPECT_EQ(o.exitCode, 0) << c.first().toStdString() << ": " << o.err.constData();
        EXPECT_EQ(o.out.count("key: platform secret store"), 1) << o.out.constData();
        EXPECT_FALSE(exists("session.key")) << c.first().toStdString();
        EXPECT_EQ(QDir(state()).entryList(QDir::Files).size(), 3) << "session.enc, .json, .lock only";
    }
    EXPECT_TRUE(entries().contains("sessionconfig")) << entries().constData();
    const Outcome shown = sessionctl({"show", file("session.enc")});
    EXPECT_EQ(shown.exitCode, 0) << shown.err.constData();
    EXPECT_TRUE(shown.out.contains("key: platform secret store\n")) << shown.out.constData();
    EXPECT_TRUE(shown.out.contains("generation 5")) << shown.out.constData();
}

TEST_F(KeyCustody, ACopyWithoutTheSecretStoreIsRefusedAndUntouched)
{
    ASSERT_EQ(sessionctl({"run"}).exitCode, 0);
    const std::map<QString, QByteArray> before = snapshot();
    for (const bool withBus : {false, true}) {
        // Elsewhere: another directory, so another entry name; without a bus, no store at all.
        const QString copy = m_tmp.filePath(withBus ? QStringLiteral("copy-bus") : QStringLiteral("copy"));
        ASSERT_TRUE(QDir().mkpath(copy));
        for (const auto& [name, bytes] : before) {
            QFile f(copy + '/' + name);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        const Outcome o =
            runProgram(QStringLiteral(SESSIONCTL_PROGRAM),
                       {"run", "--state", copy, "--profile", m_tmp.filePath("empty.json")}, withBus);
        EXPECT_EQ(o.exitCode, 2) << o.err.constData();
        EXPECT_TRUE(o.err.contains("session.key")) << o.err.constData();
        EXPECT_FALSE(QFile::exists(copy + "/session.key"));
    }
    EXPECT_EQ(snapshot(), before);
}

TEST_F(KeyCustody, WithoutASecretStoreTheKeyFileIsUsedOrTheCommandRefused)
{
    const Outcome fallback = sessionctl({"run"}, false);
    EXPECT_EQ(fallback.exitCode, 0) << fallback.err.constData();
    EXPECT_TRUE(fallback.out.contains("key: file " + file("session.key").toUtf8() +
                                      " (no secret store: no D-Bus session bus)"))
        << fallback.out.constData();
    const std::map<QString, QByteArray> before = snapshot();
    for (const char* command : {"run", "sign-out", "rotate-key", "forget"}) {
        const Outcome o = sessionctl({command, "--key-store", "secret-store"}, false);
        EXPECT_EQ(o.exitCode, 4) << command;
        EXPECT_TRUE(o.err.contains("no platform secret store: no D-Bus session bus")) << o.err.constData();
    }
    EXPECT_EQ(snapshot(), before);
    // Not even a state directory is made for it.
    const QString fresh = m_tmp.filePath(QStringLiteral("fresh"));
    EXPECT_EQ(runProgram(QStringLiteral(SESSIONCTL_PROGRAM),
                         {"sign-out", "--key-store", "secret-store", "--state", fresh}, false)
                  .exitCode,
              4);
    EXPECT_FALSE(QFile::exists(fresh));
}

TEST_F(KeyCustody, ALockedCollectionMeansTheKeyFile)
{
    // In a keyring of its own: a locked collection opens again only through a prompt.
    const QString script = QStringLiteral(
        "\"$1\" run --state \"$2/a\" --profile \"$3\" >/dev/null || exit 10\n"
        "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets --method "
        "org.freedesktop.Secret.Service.Lock \"['/org/freedesktop/secrets/collection/login']\" >/dev/null || "
        "exit 11\n"
        "\"$1\" run --state \"$2/a\" --profile \"$3\"; echo \"exit $?\"\n"
        "\"$1\" run --state \"$2/b\" --profile \"$3\"; echo \"exit $?\"\n");
    const Outcome o =
        runProgram(QStringLiteral(WITH_SECRET_STORE),
                   {"sh", "-c", script, "sh", SESSIONCTL_PROGRAM, state(), m_tmp.filePath("empty.json")});
    EXPECT_EQ(o.exitCode, 0) << o.err.constData();
    EXPECT_EQ(o.out.count("(no secret store: the secret store's collection is locked)"), 2)
        << o.out.constData();
    // The sealed session whose key is locked away is refused and left as it was; a new
    // one keeps its key in the file.
    EXPECT_TRUE(o.out.contains("exit 2\n") && o.out.contains("exit 0\n")) << o.out.constData();
    EXPECT_FALSE(QFile::exists(state() + "/a/session.key"));
    EXPECT_TRUE(QFile::exists(state() + "/b/session.key"));
}

TEST_F(KeyCustody, AKeyFileMovesIntoTheStoreAndStaysWhenAStepFails)
{
    ASSERT_EQ(sessionctl({"run", "--key-store", "file"}).exitCode, 0);
    const std::map<QString, QByteArray> before = snapshot();
    ASSERT_TRUE(exists("session.key"));

    // The store does not answer: stopped daemon. Bounded by the limit, the file is used.
    const qint64 daemon = keyringDaemon();
    ASSERT_GT(daemon, 0);
    ::kill(static_cast<pid_t>(daemon), SIGSTOP);
    const Outcome hung = sessionctl({"run"});
    ::kill(static_cast<pid_t>(daemon), SIGCONT);
    EXPECT_EQ(hung.exitCode, 0) << hung.err.constData();
    EXPECT_TRUE(hung.out.contains("did not answer within 5000 ms")) << hung.out.constData();
    EXPECT_LT(hung.elapsed, std::chrono::seconds(9));
    EXPECT_EQ(snapshot()["session.key"], before.at("session.key"));

    // The file cannot be removed, or the process is killed there: the key is in both
    // places, and the next run finishes the move.
    for (const char* fault : {"error=EIO", "signal=KILL"}) {
        const Outcome o = sessionctl({"run"}, true,
                                     {"strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                      QStringLiteral("inject=unlinkat:%1").arg(QLatin1String(fault))});
        EXPECT_TRUE(exists("session.key")) << fault;
        EXPECT_EQ(snapshot()["session.key"], before.at("session.key")) << fault;
        if (o.exitCode == 0) {
            EXPECT_TRUE(o.err.contains("its old file stays")) << o.err.constData();
        }
    }
    const Outcome moved = sessionctl({"run"});
    EXPECT_EQ(moved.exitCode, 0) << moved.err.constData();
    EXPECT_TRUE(moved.out.contains("key: platform secret store")) << moved.out.constData();
    EXPECT_FALSE(exists("session.key"));
    EXPECT_EQ(sessionctl({"run", "--key-store", "secret-store"}).exitCode, 0);
}

TEST_F(KeyCustody, AKillAtAnyStepOfAMoveLeavesTheSessionReadable)
{
    m_stateName = QStringLiteral("count");
    ASSERT_EQ(sessionctl({"run", "--key-store", "file"}).exitCode, 0);
    const int calls = countCalls({"run"}, "sendmsg");
    int kills = 0;
    for (int when = 1; when <= calls; ++when) {
        m_stateName = QStringLiteral("move-%1").arg(when);
        ASSERT_EQ(sessionctl({"run", "--key-store", "file"}).exitCode, 0);
        kills += killedAt({"run"}, "sendmsg", when).exitCode == -1;
        const Outcome next = sessionctl({"run"});
        EXPECT_EQ(next.exitCode, 0) << when << ": " << next.err.constData();
        EXPECT_TRUE(next.out.contains("(generation 1)") || next.out.contains("(generation 2)"))
            << next.out.constData();
        EXPECT_FALSE(exists("session.key")) << when;
    }
    // A run asks a little more or less depending on what it finds; most are killed.
    EXPECT_GT(kills, calls / 2);
}

TEST_F(KeyCustody, AStoreThatNeverAnswersCostsTheLimitOnly)
{
    int argc = 1;
    char name[] = "test_keys";
    char* argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    const qint64 daemon = keyringDaemon();
    ASSERT_GT(daemon, 0);
    ::kill(static_cast<pid_t>(daemon), SIGSTOP);
    for (const auto mode : {SessionStore::KeyStore::Auto, SessionStore::KeyStore::SecretStore}) {
        SessionStore store(QFile::encodeName(state()), {mode, {}, std::chrono::milliseconds(300)});
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
    ::kill(static_cast<pid_t>(daemon), SIGCONT);
    EXPECT_TRUE(exists("session.key"));
}

TEST_F(KeyCustody, AKillAtAnyStepOfARotationLeavesFilesThatOpen)
{
    for (const bool secret : {true, false}) {
        const QStringList mode = {"--key-store", secret ? "secret-store" : "file"};
        ASSERT_EQ(sessionctl(QStringList{"run"} + mode).exitCode, 0);
        // renameat: the pending key file, both stored files, the key; sendmsg: the
        // questions to the secret store.
        for (const QByteArray& syscall : {QByteArray("renameat"), QByteArray("sendmsg")}) {
            const int calls = countCalls(QStringList{"rotate-key"} + mode, syscall);
            // Both stored files, and in a file the pending key and its rename over the
            // old one; at least a read, write and read back of each entry.
            const int least = syscall == "renameat" ? (secret ? 2 : 4) : (secret ? 10 : 0);
            ASSERT_GE(calls, least) << syscall.constData();
            int kills = 0;
            for (int when = 1; when <= calls; ++when) {
                kills += killedAt(QStringList{"rotate-key"} + mode, syscall, when).exitCode == -1;
                const Outcome next = sessionctl(QStringList{"run"} + mode);
                ASSERT_EQ(next.exitCode, 0)
                    << syscall.constData() << " " << when << ": " << next.err.constData();
                EXPECT_EQ(exists("session.key"), !secret);
                EXPECT_FALSE(exists("session.key-next"));
            }
            EXPECT_GE(kills, (calls + 1) / 2) << syscall.constData();
        }
        ASSERT_EQ(sessionctl(QStringList{"forget"} + mode).exitCode, 0);
    }
}

TEST_F(KeyCustody, ForgetRemovesEverythingTwice)
{
    ASSERT_EQ(sessionctl({"run"}).exitCode, 0);
    ASSERT_TRUE(entries().contains("sessionconfig"));
    for (int i = 0; i < 2; ++i) {
        const Outcome o = sessionctl({"forget"});
        EXPECT_EQ(o.exitCode, 0) << o.err.constData();
        EXPECT_EQ(QDir(state()).entryList(QDir::Files), QStringList{"session.lock"});
        EXPECT_FALSE(entries().contains("sessionconfig"));
    }
}
