// SPDX-License-Identifier: MIT
// sessionctl as a user and a support engineer run it: the golden summary, watched
// changes, secrets kept off files and screen, list, get, set, reset and refusals.
#include <DataSetCodec.h>
#include <SessionStore.h>

#include "SessionctlProcess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <sys/stat.h>

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
                secrets.out.contains("phone.SipAccount = alice@sip.example.net\n"))
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

// The contract the client is compiled against and the stored form depends on: every
// property's number, name, type, stored part and key, reset and compare rule and
// secrecy, against tests/golden/properties.json (SESSIONCONFIG_WRITE_GOLDEN=1 rewrites
// it). Any change to a table is a reviewed diff of that file. The text list has a line
// per property and says when a number is stored as text.
TEST_F(Sessionctl, ListMatchesTheGoldenPropertyContract)
{
    const QByteArray json = spawn({{"list", "--json"}}).out;
    const QByteArray golden = SESSIONCONFIG_GOLDEN_DIR "/properties.json";
    if (qEnvironmentVariableIsSet("SESSIONCONFIG_WRITE_GOLDEN")) {
        QFile file(QString::fromUtf8(golden));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(json), json.size());
    }
    EXPECT_EQ(json.toStdString(), readFile(golden).toStdString());
    const Outcome listed = spawn({{"list"}});
    EXPECT_EQ(QJsonDocument::fromJson(json)["properties"].toArray().size(), listed.out.count('\n'));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\nchat.LastChatSync +integer, stored as text +plain part"))
                    .match(QString::fromUtf8(listed.out))
                    .hasMatch());
}

// One table of values through set and through a profile: each accepted value reads
// back as get prints it, each refused one is refused alike by both (exit 1 and 3),
// naming the property and why, and changes no file.
TEST_F(Sessionctl, ValuesAreCheckedAlikeThroughSetAndAProfile)
{
    struct Case
    {
        const char* name;
        const char* typed; // as set takes it
        const char* json;  // as a profile holds it
        const char* says;  // what get prints, or what the refusal says
    };
    const Case accepted[] = {
        {"phone.SipAccount", "-eve@sip.test", R"("-eve@sip.test")", "-eve@sip.test"},
        {"user.FirstName", "42", R"("42")", "42"},
        {"phone.Callback", "true", "true", "true"},
        {"chat.Enabled", "false", "false", "false"},
        {"phone.RingToneVolume", "4294967295", "4294967295", "4294967295"},
        {"phone.UnseenMissedCalls", "0", "0", "0"},
        {"chat.LastChatSync", "9007199254740993", R"("9007199254740993")", "9007199254740993"},
        {"chat.LastChatSync", "0", "0", "0"},
        {"phone.LastPhoneBookSync", "2024-01-02T03:04:05.678Z", R"("2024-01-02T03:04:05.678Z")",
         "2024-01-02T03:04:05.678Z"},
        {"phone.LastPhoneBookSync", "", R"("")", ""},
        {"phone.Licence", "CTI", R"("CTI")", "CTI"},
        {"phone.Licence", "3", "3", "CTIAndSoftPhone"},
        {"phone.CurrentMode", "DeskPhoneMode", R"("DeskPhoneMode")", "DeskPhoneMode"},
        {"phone.CurrentMode", "0", "0", "SoftPhoneMode"},
        {"app.OptOutMessages", R"(["a","b"])", R"(["a","b"])", R"(["a","b"])"},
        {"app.UserSettings", R"({"pane":{"w":[1,"x",true]}})", R"({"pane":{"w":[1,"x",true]}})",
         R"({"pane":{"w":[1,"x",true]}})"},
        // The user's own settings are shown with what names a password or a token hidden.
        {"app.UserSettings", R"({"a":[1,{"Token":"t0"}],"b":{"c":2,"password":"p"}})",
         R"({"a":[1,{"Token":"t0"}],"b":{"c":2,"password":"p"}})",
         R"j({"a":[1,{"Token":"(hidden)"}],"b":{"c":2,"password":"(hidden)"}})j"},
        {"user.FirstName", "Zoë 😀", R"("Zoë 😀")", "Zoë 😀"},
    };
    const Case refused[] = {
        {"phone.Licence", "4", "4", "expected one of None (0), CTI (1), SoftPhone (2), CTIAndSoftPhone (3)"},
        {"phone.Licence", "cti", R"("cti")", "expected one of None (0), CTI (1)"},
        {"phone.CurrentMode", "2", "2", "expected one of SoftPhoneMode (0), DeskPhoneMode (1)"},
        {"chat.LastChatSync", "-5", "-5", "-5 would be read back as 0"},
        {"phone.RingToneVolume", "4294967296", "4294967296", "from 0 to 4294967295"},
        {"phone.RingToneVolume", "1.5", "1.5", "from 0 to 4294967295, found the number 1.5"},
        {"phone.Callback", "yes", R"("yes")", "expected true or false"},
        {"phone.LastPhoneBookSync", "yesterday", R"("yesterday")", "ISO 8601"},
        {"app.UserSettings", R"({"a":1.5})", R"({"a":1.5})", "not a 32-bit integer"},
        {"app.OptOutMessages", R"(["\ud800"])", R"(["\ud800"])", "[0]: text with a lone surrogate"},
        {"app.UserSettings", R"({"\udc00":1})", R"({"\udc00":1})", "text with a lone surrogate"},
    };
    // Accepted values in batches of distinct properties, each written by one set and
    // by one profile, then read back by one get.
    std::vector<std::vector<const Case*>> batches;
    for (const Case& c : accepted) {
        auto batch = std::find_if(batches.begin(), batches.end(), [&](const auto& b) {
            return std::none_of(b.begin(), b.end(),
                                [&](const Case* in) { return !qstrcmp(in->name, c.name); });
        });
        (batch == batches.end() ? batches.emplace_back() : *batch).push_back(&c);
    }
    // Written as text: a lone surrogate would not survive a JSON writer.
    const auto profile = [&](const std::vector<const Case*>& cases) {
        std::map<QByteArray, QByteArrayList> domains;
        for (const Case* c : cases) {
            const QList<QByteArray> parts = QByteArray(c->name).split('.');
            domains[parts[0]] << '"' + parts[1] + "\": " + c->json;
        }
        QByteArrayList json;
        for (const auto& [domain, properties] : domains)
            json << '"' + domain + "\": {" + properties.join(", ") + '}';
        writeFile(path("p.json"), '{' + json.join(", ") + '}');
        return QList<QByteArray>{"--profile", path("p.json")};
    };
    for (const bool viaProfile : {false, true}) {
        for (const auto& batch : batches) {
            QList<QByteArray> assignments{"--"}, names;
            for (const Case* c : batch) {
                assignments << c->name << c->typed;
                names << c->name;
            }
            const Outcome written =
                viaProfile ? sessionctl("run", profile(batch)) : sessionctl("set", assignments);
            ASSERT_EQ(written.exitCode, 0) << written;
            const Outcome got = sessionctl("get", names);
            for (const Case* c : batch)
                EXPECT_TRUE(got.out.contains(QByteArray(c->name) + " = " + c->says + '\n'))
                    << c->name << (viaProfile ? " (profile) " : " (set) ") << got;
        }
    }
    // A secret from standard input, never on the command line.
    const Spawn piped{
        {"-c", R"(printf 'k3y\n' | "$0" set --state "$1" user.AppKey -)", SESSIONCTL_PROGRAM, state()}, "sh"};
    ASSERT_EQ(spawn(piped).exitCode, 0);
    EXPECT_EQ(verb("get user.AppKey").out, "user.AppKey = k3y\n");

    const auto before = snapshot();
    for (const Case& c : refused) {
        EXPECT_TRUE(exited(sessionctl("set", {"--", c.name, c.typed}), 1, c.name) &&
                    exited(sessionctl("set", {c.name, c.typed}), 1, c.says))
            << c.name << ' ' << c.typed;
        EXPECT_TRUE(exited(sessionctl("run", profile({&c})), 3, c.says)) << c.name << ' ' << c.json;
        EXPECT_EQ(snapshot(), before) << c.name;
    }
}

// Refused in one line with the documented exit code, naming the culprit, changing no file.
TEST_F(Sessionctl, RefusalsAreOneLineAndChangeNoFile)
{
    const auto refused = [](const Outcome& o, int code, const QByteArray& naming) {
        EXPECT_TRUE(exited(o, code, naming) && o.err.count("sessionctl: ") == 1 &&
                    !o.out.contains("Stored generation"))
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
          {"set phone.SipAccount", "DOMAIN.PROPERTY VALUE..."},
          {"list --jsn", "unknown option --jsn; did you mean --json?"},
          {"lsit", "unknown command \"lsit\"; did you mean list"},
          {"--foo bar", "unknown option --foo"},
          {"set phone.SipAccount -x", "a value that starts with - goes after --"},
          {"set app.UserSettings {oops", "expected JSON (a list"}}) {
        refused(verb(line), 1, says);
        EXPECT_EQ(snapshot(), before) << line;
    }

    writeFile(path("bad.json"), R"({"phone": {"HostPort": "5061"}})");
    refused(sessionctl("run", {"--profile", path("bad.json")}), 3, path("bad.json"));
    refused(sessionctl("run", {"--profile", path("missing.json")}), 4, path("missing.json"));
    // Anything but a regular file within the decoder's limit, refused at once.
    ASSERT_EQ(::mkfifo(path("fifo").constData(), 0600), 0);
    writeFile(path("huge.json"), "{}");
    ASSERT_EQ(::truncate(path("huge.json").constData(), qint64{65} << 20), 0);
    for (const auto& [profile, says] : {std::pair<QByteArray, const char*>{"/dev/zero", "not a device"},
                                        {path("fifo"), "not a pipe"},
                                        {path(""), "not a directory"},
                                        {path("huge.json"), "more than the 67108864 a profile may hold"}}) {
        const Outcome o = sessionctl("run", {"--profile", profile});
        EXPECT_LT(o.elapsed, std::chrono::seconds(2));
        refused(o, 3, says);
    }
    EXPECT_EQ(snapshot(), before);
    m_stateName = "empty";
    refused(verb("rotate-key"), 2, "nothing is stored, so there is no key to rotate");
    // Command-line mistakes.
    for (const char* line :
         {"", "launch", "show", "run --state", "run --colour x", "sign-out --profile=p.json",
          "run --wait soon", "show --wait=1 f", "run --watch=yes", "sign-out --watch",
          "forget --key-store=keyring", "rotate-key --key-store=secret-store --key-file=k"})
        refused(spawn({QByteArray(line).split(' ')}), 1, {});
    const Outcome help = spawn({{"--help"}}), version = spawn({{"--version"}});
    EXPECT_TRUE(help.exitCode == 0 && help.out.contains("Exit codes")) << help;
    EXPECT_EQ(version.out, "sessionctl " SESSIONCTL_VERSION "\n");
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

// get, show and list against a missing, an empty and a held state directory: they
// create nothing, change nothing and wait for no lock.
TEST_F(Sessionctl, ReadVerbsCreateNothingAndNeverWait)
{
    for (const bool made : {false, true}) {
        m_stateName = made ? "empty" : "missing";
        if (made) {
            ASSERT_EQ(::mkdir(state().constData(), 0750), 0);
        }
        const Outcome got = verb("get phone.SipAccount");
        EXPECT_TRUE(exited(got, 2, "no stored session in " + state()) && got.out.isEmpty()) << got;
        EXPECT_EQ(QDir(QFile::decodeName(state())).exists(), made);
        EXPECT_TRUE(QDir(QFile::decodeName(state()))
                        .isEmpty(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot));
    }
    // Held from restore to store by another process, open to the group: no tightening.
    m_stateName = "state";
    ASSERT_EQ(::chmod(state().constData(), 0750), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        // A group of its own, ended as one, with no hold on the runner's output.
        ::setpgid(0, 0);
        ::dup2(::open("/dev/null", O_WRONLY), 1);
        ::dup2(1, 2);
        ::execlp("flock", "flock", file("session.lock").constData(), "sleep", "30", nullptr);
        ::_exit(127);
    }
    while (spawn({{"-n", file("session.lock"), "true"}, "flock"}).exitCode == 0)
        ;
    const auto before = snapshot();
    const Outcome shown = spawn({{"show", file("session.enc")}});
    for (const Outcome& o : {verb("get phone.SipAccount"), shown, spawn({{"list"}})})
        EXPECT_TRUE(exited(o, 0) && o.elapsed < std::chrono::seconds(1) && !o.out.isEmpty()) << o;
    EXPECT_TRUE(shown.out.contains("phoneLicense: 3 (CTIAndSoftPhone)\n"))
        << shown; // a stored enumeration by name
    struct stat st
    {
    };
    EXPECT_TRUE(::stat(state().constData(), &st) == 0 && (st.st_mode & 0777) == 0750);
    EXPECT_EQ(snapshot(), before);
    ::kill(-holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
}

// The help of two verbs as written, and the man page and completion written from the
// same table: the page renders without a warning, the completion completes a verb,
// an option and a property name.
TEST_F(Sessionctl, HelpManPageAndCompletionComeFromOneTable)
{
    for (const char* name : {"get", "set"}) {
        const Outcome help = spawn({{name, "--help"}});
        EXPECT_EQ(
            help.out.toStdString(),
            readFile(SESSIONCONFIG_GOLDEN_DIR "/sessionctl-help-" + QByteArray(name) + ".txt").toStdString());
    }
    // Written here by the program itself, as the build writes the installed ones.
    const QByteArray manPage = path("sessionctl.1"), completion = path("sessionctl.bash");
    writeFile(manPage, spawn({{"man"}}).out);
    writeFile(completion, spawn({{"completion"}}).out);
    const Outcome page = spawn({{"-c", R"(groff -man -Tutf8 -ww -z "$0" 2>&1)", manPage}, "sh"});
    EXPECT_TRUE(page.exitCode == 0 && page.out.isEmpty()) << page;
    const Outcome completed =
        spawn({{"-c",
                R"(source "$0"; for line in "$1 g" "$1 list --j" "$1 get phone.SipAc"; do
               read -ra COMP_WORDS <<< "$line"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _sessionctl
               echo "${COMPREPLY[*]}"; done)",
                completion, SESSIONCTL_PROGRAM},
               "bash"});
    EXPECT_EQ(completed.out, "get\n--json\nphone.SipAccount\n") << completed;
}
