// The admin's verbs end to end: list, get, set and reset as a support engineer runs
// them against a stored session, and what they refuse without touching a file.
#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChatRuntimeData.h>
#include <DeskRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <UserRuntimeData.h>

#include "SessionctlProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <iterator>

namespace {

using SessionConfigDetail::PropertyTable;

QJsonObject parsed(const Outcome& o)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(o.out, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << o;
    return doc.object();
}

class SessionctlVerbs : public ScratchTest
{
protected:
    void SetUp() override
    {
        ScratchTest::SetUp();
        writeFile(path("profile.json"), R"({
          "user": {"UserName": "dora", "Password": "pw-never-shown-42"},
          "phone": {"SipAccount": "dora@sip.test", "Callback": true, "UnseenMissedCalls": 7,
                    "LastPhoneBookSync": "2026-03-01T08:15:30.250Z", "Token": "tok-never-shown-17"},
          "app": {"OptOutMessages": ["tips", "news"],
                  "UserSettings": {"theme": "dark", "panes": {"left": 200, "pinned": true}}}
        })");
        const Outcome run = verb("run", {"--profile", path("profile.json")});
        ASSERT_EQ(run.exitCode, 0) << run;
    }

    // The key in the file, whatever secret store the machine has.
    Outcome verb(const QByteArray& name, const QList<QByteArray>& more) const
    {
        return spawn(command(name, QList<QByteArray>{"--key-store", "file"} + more, nullptr));
    }

    QJsonObject get(const QByteArray& name) const
    {
        const Outcome o = verb("get", {"--json", name});
        EXPECT_EQ(o.exitCode, 0) << o;
        return parsed(o);
    }
};

} // namespace

TEST_F(SessionctlVerbs, ListNamesEveryRowWithItsTypeAndStoredPart)
{
    const QJsonArray listed = parsed(spawn({{"list", "--json"}}))[QStringLiteral("properties")].toArray();
    const auto rows =
        std::size(PropertyTable<AppProperty>::rows) + std::size(PropertyTable<CallFlowProperty>::rows) +
        std::size(PropertyTable<ChatProperty>::rows) + std::size(PropertyTable<PhoneProperty>::rows) +
        std::size(PropertyTable<UserProperty>::rows) + std::size(PropertyTable<DeskProperty>::rows);
    EXPECT_EQ(std::size_t(listed.size()), rows);
    EXPECT_EQ(std::size_t(spawn({{"list"}}).out.count('\n')), rows);
    // One of each stored part; a key other than the name; a property that cannot be set.
    for (const QJsonObject& row : {
             QJsonObject{{"domain", "user"},
                         {"name", "UserName"},
                         {"number", 0},
                         {"type", "text"},
                         {"stored", "encrypted"},
                         {"key", "user"},
                         {"settable", true}},
             QJsonObject{{"domain", "chat"},
                         {"name", "LastChatSync"},
                         {"number", 3},
                         {"type", "integer"},
                         {"stored", "plain"},
                         {"key", "chatLastSynch"},
                         {"settable", true}},
             QJsonObject{{"domain", "app"},
                         {"name", "AnalyticsURL"},
                         {"number", 4},
                         {"type", "text"},
                         {"stored", "none"},
                         {"key", ""},
                         {"settable", false}},
         })
        EXPECT_TRUE(listed.contains(row)) << QJsonDocument(row).toJson().constData();
}

// Each stored kind reads back as the restored session holds it, which is what the
// stored file holds under the row's key.
TEST_F(SessionctlVerbs, GetOfEachStoredKindMatchesShow)
{
    const Outcome shown = spawn({{"show", "--json", "--key-store", "file", file("session.json")}});
    const QJsonObject plain = parsed(shown)[QStringLiteral("data")].toObject();
    const struct
    {
        const char* name;
        const char* type;
        const char* key;
    } cases[] = {
        {"phone.SipAccount", "text", "sipAccount"},
        {"phone.Callback", "flag", "callback"},
        {"phone.UnseenMissedCalls", "integer", "unseenMissedCalls"},
        {"phone.LastPhoneBookSync", "date-time", "lastPhoneBookSync"},
        {"app.OptOutMessages", "list", "optOutMessages"},
        {"app.UserSettings", "nested set", "userSettings"},
    };
    for (const auto& c : cases) {
        const QJsonObject p = get(c.name)[QStringLiteral("properties")][0].toObject();
        EXPECT_EQ(p[QStringLiteral("type")].toString(), QLatin1String(c.type)) << c.name;
        const QJsonObject domain =
            plain[QString::fromLatin1(c.name).section(QLatin1Char('.'), 0, 0)].toObject();
        ASSERT_TRUE(domain.contains(QLatin1String(c.key))) << c.key;
        EXPECT_EQ(p[QStringLiteral("value")], domain[QLatin1String(c.key)]) << c.name;
    }
    // Never a secret, stored or not; a run-only property says it is not stored.
    const Outcome secrets = verb("get", {"user.Password", "phone.Token", "phone.HostName"});
    EXPECT_EQ(secrets.exitCode, 0);
    EXPECT_FALSE(secrets.out.contains("never-shown"));
    EXPECT_EQ(secrets.out.count("(hidden)"), 2);
    EXPECT_TRUE(secrets.out.contains("phone.HostName: not stored"));
}

TEST_F(SessionctlVerbs, SetAndResetRoundTripAndCountGenerations)
{
    const struct
    {
        const char* line;
        QJsonValue expected; // of the first property named
    } cases[] = {
        {"set phone.SipAccount eve@sip.test", QStringLiteral("eve@sip.test")},
        {"set phone.RingToneVolume 80 phone.Callback false", 80},
        {R"(set app.OptOutMessages ["a","b"])", QJsonArray{QStringLiteral("a"), QStringLiteral("b")}},
        {R"(set user.FirstName "42")", QStringLiteral("42")},
        {"reset phone.SipAccount", QString()},
    };
    double generation = get("phone.SipAccount")[QStringLiteral("generation")].toDouble();
    for (const auto& c : cases) {
        const QList<QByteArray> args = words(c.line);
        const Outcome o = verb(args[0], args.mid(1));
        ASSERT_EQ(o.exitCode, 0) << c.line << o;
        const QJsonObject got = get(args[1]);
        EXPECT_EQ(got[QStringLiteral("properties")][0][QStringLiteral("value")], c.expected) << c.line;
        EXPECT_EQ(got[QStringLiteral("generation")].toDouble(), ++generation) << c.line;
    }
}

TEST_F(SessionctlVerbs, RefusalsChangeNoFile)
{
    const struct
    {
        const char* line;
        const char* says;
    } cases[] = {
        {"set phone.HostName x", "would not survive"},
        {"set phone.SipAcount x", "did you mean phone.SipAccount"},
        {"get Phone.sipaccount", "phone.SipAccount"},
        {"set phone.UnseenMissedCalls many", "phone.UnseenMissedCalls"},
        {"set phone.RingToneVolume -1", "phone.RingToneVolume"},
        // The first assignment is good, the second refused: neither is written.
        {"set phone.SipAccount x app.AnalyticsURL y", "app.AnalyticsURL"},
        {"reset user.Password", "not stored"},
        {"set phone.SipAccount", "pairs"},
    };
    const auto before = snapshot();
    for (const auto& c : cases) {
        const QList<QByteArray> args = words(c.line);
        EXPECT_TRUE(exited(verb(args[0], args.mid(1)), 1, c.says)) << c.line;
        EXPECT_EQ(snapshot(), before) << c.line;
    }
}
