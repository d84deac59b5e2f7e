// sessionctl as a user runs it: two runs in a row, tampered and half-written files,
// permissions, and what never reaches a file or the screen.
#include <DataSetCodec.h>
#include <SessionStore.h>

#include "SessionctlProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <map>

namespace {

const QByteArray kPassword = "Pa55-never-stored-7d1e";
const QByteArray kPhoneToken = "phone-token-never-stored-31c";
const QByteArray kChatToken = "chat-token-never-stored-9aa";

using Result = SessionctlResult;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << qPrintable(path);
    return f.readAll();
}

Result invoke(const QStringList& args)
{
    return runSessionctl(args);
}

class SessionctlRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_state = m_tmp.path() + QStringLiteral("/state");
        write(QStringLiteral("profile.json"), R"({
          "provisioned": ["app", "appMeeting", "callFlow", "chat", "phone", "user", "desk"],
          "user": {"UserName": "carol", "Password": ")" +
                                                  kPassword + R"(", "AppKey": "k-1", "WID": "w-1",
                   "FirstName": "Carol", "LastName": "Tester"},
          "phone": {"SipAccount": "carol@sip.test", "Token": ")" +
                                                  kPhoneToken + R"(", "UnseenMissedCalls": 5,
                    "Licence": 1},
          "chat": {"JID": "carol@chat.test", "Token": ")" +
                                                  kChatToken + R"(", "Enabled": true},
          "app": {"MeetingURL": "https://meet.test/carol", "Version": "9.1"},
          "desk": {"Enabled": true},
          "callFlow": {"MSISDN": "+15550100", "Extension": "77",
                       "SetCallForwardOnBusyMobileURL": "https://cf.test/busy?to=%NEWVALUE%"}
        })");
        // Provisions nothing: what a run shows comes from storage alone.
        write(QStringLiteral("empty.json"), "{}");
    }

    QString path(const QString& name) const { return m_tmp.path() + QLatin1Char('/') + name; }
    QString enc() const { return m_state + QStringLiteral("/session.enc"); }
    QString plain() const { return m_state + QStringLiteral("/session.json"); }
    QString key() const { return m_state + QStringLiteral("/session.key"); }

    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(name.startsWith(QLatin1Char('/')) ? name : path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    Result run(const QString& profile = QStringLiteral("profile.json"), const QStringList& more = {}) const
    {
        return invoke(QStringList{QStringLiteral("run"), QStringLiteral("--state"), m_state,
                                  QStringLiteral("--profile"), path(profile)} +
                      more);
    }

    std::map<QString, QByteArray> snapshot() const
    {
        std::map<QString, QByteArray> files;
        // The lock file names its last holder: not part of the stored state.
        for (const QString& name : QDir(m_state).entryList(QDir::Files))
            if (name != QLatin1String("session.lock"))
                files[name] = readAll(m_state + QLatin1Char('/') + name);
        return files;
    }

    // The encrypted file's data set, as JSON text.
    QByteArray decrypted() const
    {
        const SessionStore::ReadFile read = SessionStore::readFile(QFile::encodeName(enc()));
        EXPECT_FALSE(read.error) << qPrintable(read.error.message);
        return DataSets::DataSetCodec::toJson(read.file.data).bytes;
    }

    QTemporaryDir m_tmp;
    QString m_state;
};

} // namespace

TEST_F(SessionctlRun, PasswordAndTokensReachNoFileAndNoOutput)
{
    const Result first = run();
    ASSERT_EQ(first.exitCode, 0) << first.err.constData();
    const Result second = run();
    QByteArray everything = first.out + first.err + second.out + second.err;
    for (const QString& file : {enc(), plain()})
        everything += invoke({QStringLiteral("show"), file}).out + readAll(file);
    everything += decrypted();
    for (const QByteArray& secret : {kPassword, kPhoneToken, kChatToken})
        EXPECT_FALSE(everything.contains(secret)) << secret.constData();
    // The encrypted file hides what it holds.
    EXPECT_TRUE(decrypted().contains("carol"));
    EXPECT_FALSE(readAll(enc()).contains("carol"));
}

// --watch prints each change by name as it lands; the summary counts what landed.
TEST_F(SessionctlRun, WatchPrintsEachChangeByNameAndTheSummaryCountsThem)
{
    const Result watched = run(QStringLiteral("profile.json"), {QStringLiteral("--watch")});
    ASSERT_EQ(watched.exitCode, 0) << watched.err.constData();
    const long lines = watched.out.count("\n  changed: ");
    EXPECT_TRUE(watched.out.contains("\n  changed: phone.SipAccount\n")) << watched.out.constData();
    EXPECT_TRUE(watched.out.contains("\n  changed: user.Password\n"));
    EXPECT_TRUE(watched.out.contains("\n  changed: callFlow.CallFlowConfiguration\n"));
    EXPECT_TRUE(watched.out.contains(QStringLiteral("received %1 changes while").arg(lines).toUtf8()))
        << watched.out.constData();
    for (const QByteArray& secret : {kPassword, kPhoneToken, kChatToken})
        EXPECT_FALSE(watched.out.contains(secret)) << secret.constData();

    // Restored and provisioned alike: the stored values come back before anyone
    // watches, and only what provisioning changes is counted.
    const Result counted = run();
    ASSERT_EQ(counted.exitCode, 0) << counted.err.constData();
    EXPECT_FALSE(counted.out.contains("changed: "));
    EXPECT_TRUE(counted.out.contains(" changes while provisioning ran")) << counted.out.constData();
}

TEST_F(SessionctlRun, FilesAndStateDirectoryAreOwnerOnly)
{
    ASSERT_EQ(run().exitCode, 0);
    for (const QString& file : {enc(), plain(), key()})
        EXPECT_EQ(QFile::permissions(file) & 0x0077, 0) << qPrintable(file);
    EXPECT_EQ(QFile::permissions(m_state) & 0x0077, 0);
}

TEST_F(SessionctlRun, AlteredOrUnreadableStateIsRefusedAndLeftAsItWas)
{
    ASSERT_EQ(run().exitCode, 0);
    const auto stored = snapshot();
    const QByteArray good = stored.at(QStringLiteral("session.enc"));

    QByteArray flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x20);
    write(enc(), flipped);
    auto expectRefused = [&](const Result& r, int code, const QString& naming) {
        EXPECT_EQ(r.exitCode, code) << r.out.constData();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        EXPECT_TRUE(r.err.contains(naming.toUtf8())) << r.err.constData();
        EXPECT_FALSE(r.out.contains("Stored generation"));
    };
    auto withFlipped = stored;
    withFlipped[QStringLiteral("session.enc")] = flipped;
    expectRefused(run(), 2, enc());
    expectRefused(invoke({QStringLiteral("sign-out"), QStringLiteral("--state"), m_state}), 2, enc());
    expectRefused(invoke({QStringLiteral("show"), enc()}), 2, enc());
    EXPECT_EQ(snapshot(), withFlipped);

    // A wrong key and a key file of the wrong size.
    write(enc(), good);
    write(QStringLiteral("other.key"), QByteArray(32, 'k'));
    expectRefused(invoke({QStringLiteral("run"), QStringLiteral("--state"), m_state,
                          QStringLiteral("--key-file"), path(QStringLiteral("other.key"))}),
                  2, enc());
    write(key(), "short");
    expectRefused(run(), 2, key());
    write(key(), stored.at(QStringLiteral("session.key")));

    // A truncated plain file, and one from a newer version of this program.
    write(plain(), stored.at(QStringLiteral("session.json")).left(30));
    expectRefused(run(), 2, plain());
    write(plain(), QByteArray(stored.at(QStringLiteral("session.json")))
                       .replace("\"formatVersion\": 2", "\"formatVersion\": 3"));
    expectRefused(run(), 2, QStringLiteral("newer"));
    write(plain(), stored.at(QStringLiteral("session.json")));

    // A malformed profile changes nothing either.
    write(QStringLiteral("bad.json"), R"({"phone": {"HostPort": "5061"}})");
    expectRefused(run(QStringLiteral("bad.json")), 3, path(QStringLiteral("bad.json")));
    EXPECT_EQ(snapshot(), stored);
}

TEST_F(SessionctlRun, SignOutStoresTheEmptySession)
{
    ASSERT_EQ(run().exitCode, 0);
    const Result out = invoke({QStringLiteral("sign-out"), QStringLiteral("--state"), m_state});
    ASSERT_EQ(out.exitCode, 0) << out.err.constData();
    EXPECT_TRUE(out.out.contains("Signed out carol"));
    const Result after = run(QStringLiteral("empty.json"));
    EXPECT_TRUE(after.out.contains("nobody")) << after.out.constData();
    EXPECT_FALSE(decrypted().contains("carol"));
}

TEST(Sessionctl, CommandLineMistakesAreUsageErrors)
{
    const Result help = invoke({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("Exit codes"));
    for (const QStringList& args :
         {QStringList{}, QStringList{QStringLiteral("launch")}, QStringList{QStringLiteral("show")},
          QStringList{QStringLiteral("run"), QStringLiteral("--state")},
          QStringList{QStringLiteral("run"), QStringLiteral("--colour"), QStringLiteral("x")},
          QStringList{QStringLiteral("sign-out"), QStringLiteral("--profile=p.json")},
          QStringList{QStringLiteral("run"), QStringLiteral("--wait"), QStringLiteral("soon")},
          QStringList{QStringLiteral("show"), QStringLiteral("--wait=1"), QStringLiteral("f")},
          QStringList{QStringLiteral("run"), QStringLiteral("--watch=yes")},
          QStringList{QStringLiteral("sign-out"), QStringLiteral("--watch")},
          QStringList{QStringLiteral("forget"), QStringLiteral("--key-store=keyring")},
          QStringList{QStringLiteral("rotate-key"), QStringLiteral("--key-store=secret-store"),
                      QStringLiteral("--key-file=k")}}) {
        const Result r = invoke(args);
        EXPECT_EQ(r.exitCode, 1) << qPrintable(args.join(QLatin1Char(' ')));
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    }
}

namespace {

// A profile whose application section holds `settings` user settings and `messages`
// opt-out messages.
QByteArray grownProfile(int settings, int messages)
{
    QByteArray json = R"({"provisioned": ["app"], "app": {"UserSettings": {)";
    for (int i = 0; i < settings; ++i)
        json += (i ? ",\"pane/" : "\"pane/") + QByteArray::number(i) + "/width\":" + QByteArray::number(i);
    json += R"(}, "OptOutMessages": [)";
    for (int i = 0; i < messages; ++i)
        json += (i ? ",\"message " : "\"message ") + QByteArray::number(i) + '"';
    return json + "]}}";
}

} // namespace

TEST_F(SessionctlRun, GrownSessionIsStoredAndRestored)
{
    write(QStringLiteral("grown.json"), grownProfile(100000, 10000));
    const Result first = run(QStringLiteral("grown.json"));
    ASSERT_EQ(first.exitCode, 0) << first.err.constData();
    const Result second = run(QStringLiteral("empty.json"));
    ASSERT_EQ(second.exitCode, 0) << second.err.constData();
    EXPECT_TRUE(second.out.contains("Restored from storage")) << second.out.constData();
    EXPECT_TRUE(second.out.contains("10000")) << second.out.constData();

    // Stored again by the second run from what it restored.
    const SessionStore::ReadFile read = SessionStore::readFile(QFile::encodeName(plain()));
    ASSERT_FALSE(read.error) << qPrintable(read.error.message);
    DataSets::DataSet app, settings, messages;
    ASSERT_TRUE(DataSets::Impl::getDataValue(read.file.data.get(), QStringLiteral("app"), app));
    ASSERT_TRUE(DataSets::Impl::getDataValue(app.get(), QStringLiteral("userSettings"), settings));
    ASSERT_TRUE(DataSets::Impl::getDataValue(app.get(), QStringLiteral("optOutMessages"), messages));
    EXPECT_EQ(settings->size(), 100000);
    EXPECT_EQ(messages->size(), 10000);
    int width = 0;
    EXPECT_TRUE(DataSets::Impl::getDataValue(settings.get(), QStringLiteral("pane/99999/width"), width));
    EXPECT_EQ(width, 99999);
}

namespace {

// The printed summary with the state directory and the counts the threads race for
// replaced by placeholders.
QString masked(const QByteArray& out, const QString& state)
{
    QString text = QString::fromUtf8(out);
    text.replace(state, QStringLiteral("STATE"));
    static const QRegularExpression counts(QStringLiteral("read \\d+ properties and received \\d+ changes"));
    text.replace(counts, QStringLiteral("read N properties and received N changes"));
    return text;
}

QString golden(const char* name)
{
    return QString::fromUtf8(readAll(QStringLiteral(SESSIONCONFIG_GOLDEN_DIR "/") + QLatin1String(name)));
}

} // namespace

TEST_F(SessionctlRun, BuiltInProfilePrintsTheGoldenSummaryFreshAndRestored)
{
    const Result fresh = invoke({QStringLiteral("run"), QStringLiteral("--state"), m_state});
    ASSERT_EQ(fresh.exitCode, 0) << fresh.err.toStdString();
    EXPECT_EQ(masked(fresh.out, m_state).toStdString(), golden("sessionctl-run-fresh.txt").toStdString());
    const Result restored = invoke({QStringLiteral("run"), QStringLiteral("--state"), m_state});
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_EQ(masked(restored.out, m_state).toStdString(),
              golden("sessionctl-run-restored.txt").toStdString());
}

TEST_F(SessionctlRun, StateDirectoryFollowsXdgStateHome)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_state);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(SESSIONCTL_PROGRAM), {QStringLiteral("run")});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(QFile::exists(m_state + QStringLiteral("/sessionconfig/session.enc")));
    EXPECT_TRUE(QFile::exists(m_state + QStringLiteral("/sessionconfig/session.json")));
}
