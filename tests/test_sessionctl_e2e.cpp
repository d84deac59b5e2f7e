// sessionctl as a user runs it: the printed summary, changes watched as they land,
// secrets that never reach a file or the screen, altered state and command-line
// mistakes refused, signing out, and a grown session.
#include <DataSetCodec.h>
#include <SessionStore.h>

#include "SessionctlProcess.h"

#include <QRegularExpression>

namespace {

const QByteArray kSecrets[] = {"Pa55-never-stored-7d1e", "phone-token-never-stored-31c",
                               "chat-token-never-stored-9aa"};

class SessionctlRun : public ScratchTest
{
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        writeFile(path("profile.json"), R"({
          "provisioned": ["app", "appMeeting", "callFlow", "chat", "phone", "user", "desk"],
          "user": {"UserName": "carol", "Password": ")" +
                                            kSecrets[0] +
                                            R"(", "FirstName": "Carol", "LastName": "Tester"},
          "phone": {"SipAccount": "carol@sip.test", "Token": ")" +
                                            kSecrets[1] +
                                            R"(", "UnseenMissedCalls": 5, "Licence": 1},
          "chat": {"JID": "carol@chat.test", "Token": ")" +
                                            kSecrets[2] + R"(", "Enabled": true},
          "app": {"MeetingURL": "https://meet.test/carol", "Version": "9.1"},
          "desk": {"Enabled": true},
          "callFlow": {"MSISDN": "+15550100", "Extension": "77",
                       "SetCallForwardOnBusyMobileURL": "https://cf.test/busy?to=%NEWVALUE%"}
        })");
    }

    Outcome runProfile(const QList<QByteArray>& more = {}) const
    {
        return sessionctl("run", more, "profile.json");
    }

    // The encrypted file's data set, as JSON text.
    QByteArray decrypted() const
    {
        const SessionStore::ReadFile read = SessionStore::readFile(file("session.enc"));
        EXPECT_FALSE(read.error) << qPrintable(read.error.message);
        return DataSets::DataSetCodec::toJson(read.file.data).bytes;
    }
};

// The summary with the state directory and the counts the threads race for masked.
std::string masked(const QByteArray& out, const QByteArray& state)
{
    static const QRegularExpression counts(QStringLiteral("read \\d+ properties and received \\d+ changes"));
    return QString::fromUtf8(out)
        .replace(QString::fromUtf8(state), QStringLiteral("STATE"))
        .replace(counts, QStringLiteral("read N properties and received N changes"))
        .toStdString();
}

} // namespace

TEST_F(SessionctlRun, BuiltInProfilePrintsTheGoldenSummaryFreshAndRestored)
{
    for (const char* golden : {"sessionctl-run-fresh.txt", "sessionctl-run-restored.txt"}) {
        const Outcome o = sessionctl("run", {}, nullptr);
        ASSERT_EQ(o.exitCode, 0) << o;
        EXPECT_EQ(masked(o.out, state()),
                  readFile(SESSIONCONFIG_GOLDEN_DIR "/" + QByteArray(golden)).toStdString());
    }
}

// --watch prints each change by name as it lands, and the summary counts them. No
// secret is shown or kept in clear, on the first run or on one that restores.
TEST_F(SessionctlRun, WatchNamesEachChangeAndNoSecretReachesAFileOrTheScreen)
{
    const Outcome watched = runProfile({"--watch"});
    ASSERT_EQ(watched.exitCode, 0) << watched;
    for (const QByteArray change : {"phone.SipAccount", "user.Password", "callFlow.CallFlowConfiguration"})
        EXPECT_TRUE(watched.out.contains("\n  changed: " + change + '\n')) << watched;
    const QByteArray count = QByteArray::number(watched.out.count("\n  changed: "));
    EXPECT_TRUE(watched.out.contains("received " + count + " changes while")) << watched;
    const Outcome again = runProfile();

    QByteArray everything = watched.out + watched.err + again.out + again.err + decrypted();
    for (const char* name : {"session.enc", "session.json"})
        everything += spawn({{"show", file(name)}}).out + readFile(file(name));
    for (const QByteArray& secret : kSecrets)
        EXPECT_FALSE(everything.contains(secret)) << secret.constData();
    EXPECT_TRUE(decrypted().contains("carol"));
    EXPECT_FALSE(readFile(file("session.enc")).contains("carol"));
}

TEST_F(SessionctlRun, AlteredStateOrProfileIsRefusedInOneLineAndChangesNothing)
{
    ASSERT_EQ(runProfile().exitCode, 0);
    QByteArray flipped = readFile(file("session.enc"));
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x20);
    writeFile(file("session.enc"), flipped);
    writeFile(path("bad.json"), R"({"phone": {"HostPort": "5061"}})");
    const auto altered = snapshot();
    const struct
    {
        Spawn spawn;
        int exitCode;
        QByteArray naming;
    } cases[] = {
        {command("run"), 2, file("session.enc")},
        {command("sign-out"), 2, file("session.enc")},
        {Spawn{{"show", file("session.enc")}}, 2, file("session.enc")},
        // The profile is read before the state: a malformed one is refused first.
        {command("run", {}, "bad.json"), 3, path("bad.json")},
    };
    for (const auto& c : cases) {
        const Outcome o = spawn(c.spawn);
        EXPECT_TRUE(exited(o, c.exitCode, c.naming));
        EXPECT_EQ(o.err.count('\n'), 1) << o;
        EXPECT_FALSE(o.out.contains("Stored generation")) << o;
    }
    EXPECT_EQ(snapshot(), altered);
}

TEST_F(SessionctlRun, SignOutStoresTheEmptySession)
{
    ASSERT_EQ(runProfile().exitCode, 0);
    const Outcome out = sessionctl("sign-out");
    ASSERT_EQ(out.exitCode, 0) << out;
    EXPECT_TRUE(out.out.contains("Signed out carol")) << out;
    EXPECT_TRUE(sessionctl("run").out.contains("nobody"));
    EXPECT_FALSE(decrypted().contains("carol"));
}

TEST(Sessionctl, CommandLineMistakesAreUsageErrors)
{
    const Outcome help = spawn({{"--help"}});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("Exit codes"));
    for (const char* line :
         {"", "launch", "show", "run --state", "run --colour x", "sign-out --profile=p.json",
          "run --wait soon", "show --wait=1 f", "run --watch=yes", "sign-out --watch",
          "forget --key-store=keyring", "rotate-key --key-store=secret-store --key-file=k"}) {
        const Outcome o = spawn(words(line));
        EXPECT_EQ(o.exitCode, 1) << line;
        EXPECT_EQ(o.err.count('\n'), 1) << o;
    }
}

TEST_F(SessionctlRun, GrownSessionIsStoredAndRestored)
{
    // 100,000 user settings and 10,000 opt-out messages.
    QByteArray json = R"({"provisioned": ["app"], "app": {"UserSettings": {"pane/0/width": 0)";
    for (int i = 1; i < 100000; ++i)
        json += ",\"pane/" + QByteArray::number(i) + "/width\":" + QByteArray::number(i);
    json += R"(}, "OptOutMessages": ["message 0")";
    for (int i = 1; i < 10000; ++i)
        json += ",\"message " + QByteArray::number(i) + '"';
    writeFile(path("grown.json"), json + "]}}");
    const Outcome first = sessionctl("run", {}, "grown.json");
    ASSERT_EQ(first.exitCode, 0) << first;
    const Outcome second = sessionctl("run");
    ASSERT_EQ(second.exitCode, 0) << second;
    EXPECT_TRUE(second.out.contains("opt-out messages:   10000")) << second;

    // Stored again by the second run from what it restored.
    const QByteArray stored = readFile(file("session.json"));
    EXPECT_EQ(stored.count("/width\": "), 100000);
    EXPECT_TRUE(stored.contains("\"pane/99999/width\": 99999"));
}
