// The admin's verbs end to end: list, get, set and reset as a support engineer runs
// them against a stored session, and what they refuse without touching a file.
#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChatRuntimeData.h>
#include <DeskRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <UserRuntimeData.h>

#include "SessionctlProcess.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

namespace {

using SessionConfigDetail::PropertyTable;
using SessionConfigDetail::StoredPart;

using Result = SessionctlResult;

Result invoke(const QStringList& args)
{
    return runSessionctl(args);
}

QJsonObject parsed(const Result& r)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out.constData();
    EXPECT_TRUE(doc.isObject());
    return doc.object();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SessionctlVerbs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_state = m_tmp.path() + QStringLiteral("/state");
        QFile profile(m_tmp.path() + QStringLiteral("/profile.json"));
        ASSERT_TRUE(profile.open(QIODevice::WriteOnly));
        profile.write(R"({
          "user": {"UserName": "dora", "Password": "pw-never-shown-42"},
          "phone": {"SipAccount": "dora@sip.test", "Callback": true, "UnseenMissedCalls": 7,
                    "LastPhoneBookSync": "2026-03-01T08:15:30.250Z", "Token": "tok-never-shown-17"},
          "app": {"OptOutMessages": ["tips", "news"],
                  "UserSettings": {"theme": "dark", "panes": {"left": 200, "pinned": true}}}
        })");
        profile.close();
        const Result run =
            invoke({QStringLiteral("run"), QStringLiteral("--state"), m_state, QStringLiteral("--key-store"),
                    QStringLiteral("file"), QStringLiteral("--profile"), profile.fileName()});
        ASSERT_EQ(run.exitCode, 0) << run.err.constData();
    }

    Result verb(QStringList args) const
    {
        args.insert(1, QStringLiteral("--state"));
        args.insert(2, m_state);
        args.insert(3, QStringLiteral("--key-store"));
        args.insert(4, QStringLiteral("file"));
        return invoke(args);
    }

    QJsonObject get(const QString& name) const
    {
        const Result r = verb({QStringLiteral("get"), QStringLiteral("--json"), name});
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        return parsed(r);
    }

    QJsonObject show(const QString& file) const
    {
        const Result r =
            invoke({QStringLiteral("show"), QStringLiteral("--json"), QStringLiteral("--key-store"),
                    QStringLiteral("file"), m_state + QLatin1Char('/') + file});
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        return parsed(r);
    }

    QByteArray files() const
    {
        return readAll(m_state + QStringLiteral("/session.enc")) +
               readAll(m_state + QStringLiteral("/session.json")) +
               readAll(m_state + QStringLiteral("/session.key"));
    }

    QTemporaryDir m_tmp;
    QString m_state;
};

template <class Enum> void expectRows(const char* domain, const QJsonArray& listed, int& seen)
{
    for (const auto& row : PropertyTable<Enum>::rows) {
        const auto it = std::find_if(listed.begin(), listed.end(), [&](const QJsonValue& v) {
            return v[QStringLiteral("domain")].toString() == QLatin1String(domain) &&
                   v[QStringLiteral("name")].toString() == QLatin1String(row.name);
        });
        ASSERT_NE(it, listed.end()) << domain << '.' << row.name;
        const QJsonObject o = it->toObject();
        EXPECT_EQ(o[QStringLiteral("key")].toString(), QLatin1String(row.key)) << row.name;
        const char* part = row.part == StoredPart::Encrypted ? "encrypted"
                           : row.part == StoredPart::Plain   ? "plain"
                                                             : "none";
        EXPECT_EQ(o[QStringLiteral("stored")].toString(), QLatin1String(part)) << row.name;
        ++seen;
    }
}

TEST_F(SessionctlVerbs, ListCoversEveryTableRow)
{
    const Result r = invoke({QStringLiteral("list"), QStringLiteral("--json")});
    ASSERT_EQ(r.exitCode, 0);
    const QJsonArray listed = parsed(r)[QStringLiteral("properties")].toArray();
    int seen = 0;
    expectRows<AppProperty>("app", listed, seen);
    expectRows<CallFlowProperty>("callFlow", listed, seen);
    expectRows<ChatProperty>("chat", listed, seen);
    expectRows<PhoneProperty>("phone", listed, seen);
    expectRows<UserProperty>("user", listed, seen);
    expectRows<DeskProperty>("desk", listed, seen);
    EXPECT_EQ(listed.size(), seen);
    EXPECT_EQ(invoke({QStringLiteral("list")}).out.count('\n'), seen);
}

// Each stored kind reads back as the restored session holds it, which is what the
// stored file holds under the row's key.
TEST_F(SessionctlVerbs, GetOfEachStoredKindMatchesShow)
{
    const QJsonObject plain = show(QStringLiteral("session.json"))[QStringLiteral("data")].toObject();
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
        const QJsonObject p = get(QLatin1String(c.name))[QStringLiteral("properties")][0].toObject();
        EXPECT_EQ(p[QStringLiteral("type")].toString(), QLatin1String(c.type)) << c.name;
        const QJsonObject domain =
            plain[QString::fromLatin1(c.name).section(QLatin1Char('.'), 0, 0)].toObject();
        ASSERT_TRUE(domain.contains(QLatin1String(c.key))) << c.key;
        EXPECT_EQ(p[QStringLiteral("value")], domain[QLatin1String(c.key)]) << c.name;
    }
    // Never a secret, stored or not; a run-only property says it is not stored.
    const Result secrets = verb({QStringLiteral("get"), QStringLiteral("user.Password"),
                                 QStringLiteral("phone.Token"), QStringLiteral("phone.HostName")});
    EXPECT_EQ(secrets.exitCode, 0);
    EXPECT_FALSE(secrets.out.contains("never-shown"));
    EXPECT_EQ(secrets.out.count("(hidden)"), 2);
    EXPECT_TRUE(secrets.out.contains("phone.HostName: not stored"));
}

TEST_F(SessionctlVerbs, SetAndResetRoundTripAndCountGenerations)
{
    const struct
    {
        QStringList args;
        const char* name;
        QJsonValue expected;
    } cases[] = {
        {{QStringLiteral("set"), QStringLiteral("phone.SipAccount"), QStringLiteral("eve@sip.test")},
         "phone.SipAccount",
         QStringLiteral("eve@sip.test")},
        {{QStringLiteral("set"), QStringLiteral("phone.RingToneVolume"), QStringLiteral("80"),
          QStringLiteral("phone.Callback"), QStringLiteral("false")},
         "phone.RingToneVolume",
         80},
        {{QStringLiteral("set"), QStringLiteral("app.OptOutMessages"), QStringLiteral(R"(["a","b"])")},
         "app.OptOutMessages",
         QJsonArray{QStringLiteral("a"), QStringLiteral("b")}},
        {{QStringLiteral("set"), QStringLiteral("user.FirstName"), QStringLiteral(R"("42")")},
         "user.FirstName",
         QStringLiteral("42")},
        {{QStringLiteral("reset"), QStringLiteral("phone.SipAccount")}, "phone.SipAccount", QString()},
    };
    double generation = get(QStringLiteral("phone.SipAccount"))[QStringLiteral("generation")].toDouble();
    for (const auto& c : cases) {
        const Result r = verb(c.args);
        ASSERT_EQ(r.exitCode, 0) << qPrintable(c.args.join(QLatin1Char(' '))) << r.err.constData();
        const QJsonObject got = get(QLatin1String(c.name));
        EXPECT_EQ(got[QStringLiteral("properties")][0][QStringLiteral("value")], c.expected) << c.name;
        EXPECT_EQ(got[QStringLiteral("generation")].toDouble(), ++generation) << c.name;
    }
}

TEST_F(SessionctlVerbs, RefusalsChangeNoFile)
{
    const struct
    {
        QStringList args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{QStringLiteral("set"), QStringLiteral("phone.HostName"), QStringLiteral("x")},
         1,
         "would not survive"},
        {{QStringLiteral("set"), QStringLiteral("phone.SipAcount"), QStringLiteral("x")},
         1,
         "did you mean phone.SipAccount"},
        {{QStringLiteral("get"), QStringLiteral("Phone.sipaccount")}, 1, "phone.SipAccount"},
        {{QStringLiteral("set"), QStringLiteral("phone.UnseenMissedCalls"), QStringLiteral("many")},
         1,
         "phone.UnseenMissedCalls"},
        {{QStringLiteral("set"), QStringLiteral("phone.RingToneVolume"), QStringLiteral("-1")},
         1,
         "phone.RingToneVolume"},
        // The first assignment is good, the second refused: neither is written.
        {{QStringLiteral("set"), QStringLiteral("phone.SipAccount"), QStringLiteral("x"),
          QStringLiteral("app.AnalyticsURL"), QStringLiteral("y")},
         1,
         "app.AnalyticsURL"},
        {{QStringLiteral("reset"), QStringLiteral("user.Password")}, 1, "not stored"},
        {{QStringLiteral("set"), QStringLiteral("phone.SipAccount")}, 1, "pairs"},
    };
    const QByteArray before = files();
    for (const auto& c : cases) {
        const Result r = verb(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << qPrintable(c.args.join(QLatin1Char(' ')));
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.constData();
        EXPECT_EQ(files(), before) << qPrintable(c.args.join(QLatin1Char(' ')));
    }
}

} // namespace
