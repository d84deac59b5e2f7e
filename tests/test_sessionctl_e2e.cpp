// SPDX-License-Identifier: MIT
// sessionctl as a user and a support engineer run it: the golden summary, watched
// changes, secrets kept off files and screen, list, get, set, reset and refusals.
#include <DataSetCodec.h>
#include <SessionStore.h>

#include "SessionctlProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

class Sessionctl : public ScratchTest
{
protected:
    void SetUp() override { ASSERT_EQ(verb("run").exitCode, 0); }

    Outcome verb(const char* line) const
    {
        const QList<QByteArray> args = QByteArray(line).split(' ');
        return sessionctl(args[0], args.mid(1));
    }

    QByteArray decrypted() const
    {
        return DataSets::DataSetCodec::toJson(SessionStore::readFile(file("session.enc")).file.data).bytes;
    }
};

} // namespace

TEST_F(Sessionctl, BuiltInProfilePrintsTheGoldenSummaryFreshAndRestored)
{
    // With the state directory and the counts the threads race for masked.
    const QRegularExpression counts(QStringLiteral("read \\d+ properties and received \\d+ changes"));
    m_stateName = "fresh";
    for (const char* golden : {"sessionctl-run-fresh.txt", "sessionctl-run-restored.txt"}) {
        const QString out = QString::fromUtf8(sessionctl("run").out)
                                .replace(QString::fromUtf8(state()), QStringLiteral("STATE"))
                                .replace(counts, QStringLiteral("read N properties and received N changes"));
        EXPECT_EQ(out.toStdString(),
                  readFile(SESSIONCONFIG_GOLDEN_DIR "/" + QByteArray(golden)).toStdString());
    }
}

// --watch names each change as it lands; no secret is shown or kept in clear by a run,
// a restore, show or get, and nothing of the user after signing out.
TEST_F(Sessionctl, WatchNamesEachChangeAndNoSecretReachesAFileOrTheScreen)
{
    m_stateName = "watched";
    const Outcome watched = verb("run --watch");
    for (const QByteArray change : {"phone.SipAccount", "user.Password", "callFlow.CallFlowConfiguration"})
        EXPECT_TRUE(watched.out.contains("\n  changed: " + change + '\n')) << watched;
    const QByteArray count = QByteArray::number(watched.out.count("\n  changed: "));
    EXPECT_TRUE(watched.out.contains("received " + count + " changes while")) << watched;

    const Outcome again = verb("run"),
                  secrets = verb("get user.Password phone.Token phone.HostName phone.SipAccount");
    EXPECT_TRUE(secrets.out.count("(hidden)") == 2 && secrets.out.contains("phone.HostName: not stored") &&
                secrets.out.contains("phone.SipAccount = \"alice@sip.example.net\""))
        << secrets;
    QByteArray everything = watched.out + watched.err + again.out + again.err + secrets.out + decrypted();
    for (const char* name : {"session.enc", "session.json"})
        everything += spawn({{"show", "--json", file(name)}}).out + readFile(file(name));
    for (const char* secret : {"correct-horse-battery-staple", "chat-token-demo", "phone-token-demo"})
        EXPECT_FALSE(everything.contains(secret)) << secret;
    EXPECT_TRUE(decrypted().contains("alice") && !readFile(file("session.enc")).contains("alice"));
    // Signing out stores the empty session.
    EXPECT_TRUE(verb("sign-out").out.contains("Signed out alice"));
    EXPECT_FALSE(decrypted().contains("alice"));
    EXPECT_TRUE(sessionctl("run").out.contains("signed-in user:     nobody"));
}

// The rows of every domain, one line each (the rows themselves: test_rows.cpp).
TEST_F(Sessionctl, ListNamesEveryDomainsRows)
{
    const Outcome listed = spawn({{"list"}});
    for (const QByteArray domain : {"app", "callFlow", "chat", "desk", "phone", "user"})
        EXPECT_TRUE(listed.out.contains("\n" + domain + ".")) << domain.constData();
    EXPECT_EQ(QJsonDocument::fromJson(spawn({{"list", "--json"}}).out)["properties"].toArray().size(),
              listed.out.count('\n'));
}

// set and reset store what get reads back next, a generation each, for every kind.
TEST_F(Sessionctl, SetAndResetStoreWhatGetReadsBack)
{
    double generation =
        QJsonDocument::fromJson(sessionctl("get", {"--json", "phone.SipAccount"}).out)["generation"]
            .toDouble();
    for (const auto& [line, expected] : {
             std::pair<const char*, QJsonValue>{"set phone.SipAccount eve@sip.test", "eve@sip.test"},
             {"set phone.RingToneVolume 80 phone.Callback false", 80},
             {"set phone.Callback true", true},
             {R"(set phone.LastPhoneBookSync "2024-01-02T03:04:05.678Z")", "2024-01-02T03:04:05.678Z"},
             {R"(set app.OptOutMessages ["a","b"])", QJsonArray{"a", "b"}},
             {R"(set app.UserSettings {"pane":{"w":1}})", QJsonObject{{"pane", QJsonObject{{"w", 1}}}}},
             {R"(set user.FirstName "42")", "42"},
             {"reset phone.SipAccount", QString()},
         }) {
        ASSERT_EQ(verb(line).exitCode, 0) << line;
        const QJsonDocument got =
            QJsonDocument::fromJson(sessionctl("get", {"--json", QByteArray(line).split(' ')[1]}).out);
        EXPECT_EQ(got["properties"][0]["value"], expected) << line;
        EXPECT_EQ(got["generation"].toDouble(), ++generation) << line;
    }
}

// Refused in one line with the documented exit code, naming the culprit, changing no file.
TEST_F(Sessionctl, RefusalsAreOneLineAndChangeNoFile)
{
    const auto refused = [](const Outcome& o, int code, const QByteArray& naming) {
        EXPECT_TRUE(exited(o, code, naming) && o.err.count('\n') == 1 && !o.out.contains("Stored generation"))
            << o;
    };
    const auto before = snapshot();
    for (const auto& [line, says] :
         {std::pair<const char*, const char*>{"set phone.HostName x", "would not survive"},
          {"set phone.SipAcount x", "did you mean phone.SipAccount"},
          {"get Phone.sipaccount", "phone.SipAccount"},
          // The first assignment is good, the second refused: neither is written.
          {"set phone.SipAccount x app.AnalyticsURL y", "app.AnalyticsURL"},
          {"reset user.Password", "not stored"},
          {"set phone.SipAccount", "pairs"}}) {
        refused(verb(line), 1, says);
        EXPECT_EQ(snapshot(), before) << line;
    }

    writeFile(path("bad.json"), R"({"phone": {"HostPort": "5061"}})");
    refused(sessionctl("run", {"--profile", path("bad.json")}), 3, path("bad.json"));
    refused(sessionctl("run", {"--profile", path("missing.json")}), 4, path("missing.json"));
    EXPECT_EQ(snapshot(), before);
    m_stateName = "empty";
    refused(verb("rotate-key"), 2, "nothing is stored, so there is no key to rotate");
    // Command-line mistakes.
    for (const char* line :
         {"", "launch", "show", "run --state", "run --colour x", "sign-out --profile=p.json",
          "run --wait soon", "show --wait=1 f", "run --watch=yes", "sign-out --watch",
          "forget --key-store=keyring", "rotate-key --key-store=secret-store --key-file=k"})
        refused(spawn({QByteArray(line).split(' ')}), 1, {});
    const Outcome help = spawn({{"--help"}});
    EXPECT_TRUE(help.exitCode == 0 && help.out.contains("Exit codes")) << help;
}

TEST_F(Sessionctl, GrownSessionIsStoredAndRestored)
{
    m_stateName = "grown";
    // 100,000 user settings and 10,000 opt-out messages.
    QByteArray json = R"({"app": {"UserSettings": {"pane/0/width": 0)";
    for (int i = 1; i < 100000; ++i)
        json += ",\"pane/" + QByteArray::number(i) + "/width\":" + QByteArray::number(i);
    json += R"(}, "OptOutMessages": ["message 0")";
    for (int i = 1; i < 10000; ++i)
        json += ",\"message " + QByteArray::number(i) + '"';
    writeFile(path("grown.json"), json + "]}}");
    ASSERT_EQ(sessionctl("run", {"--profile", path("grown.json")}).exitCode, 0);
    // Stored again by a second run, which provisions nothing, from what it restored.
    writeFile(path("grown.json"), "{}");
    EXPECT_TRUE(
        sessionctl("run", {"--profile", path("grown.json")}).out.contains("opt-out messages:   10000"));
    const QByteArray stored = readFile(file("session.json"));
    EXPECT_EQ(stored.count("/width\": "), 100000);
    EXPECT_TRUE(stored.contains("\"pane/99999/width\": 99999"));
}
