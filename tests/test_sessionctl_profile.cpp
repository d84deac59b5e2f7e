// SPDX-License-Identifier: MIT
// The provisioning profile reader: what each value of a run-only kind becomes (the
// stored kinds, through set and a profile alike: the end-to-end value table), and the
// one-line refusals of a malformed profile.
#include "Failure.h"
#include "Profile.h"

#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChatRuntimeData.h>
#include <DeskRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <SessionData.h>

#include "DataSetTestUtils.h"

using namespace sessionctl;

namespace {

const QString kSource = QStringLiteral("p.json");

std::unique_ptr<SessionData> provisioned(const QByteArray& json)
{
    auto session = std::make_unique<SessionData>();
    for (const auto& domain : parseProfile(json, kSource).domains)
        domain.apply(*session);
    return session;
}

} // namespace

TEST(SessionctlProfile, ValuesBecomeTheirPropertyTypes)
{
    const auto session = provisioned(R"({
      "provisioned": ["phone", "desk"],
      "phone": {"DTMFDuration": null, "RingToneVolume": 4294967295, "DTMFMode": 2},
      "chat": {"LastChatSync": "9007199254740993"},
      "desk": {"Port": 65535},
      "app": {"AppBytes": "AAEC/w==",
              "UserSettings": {"list": ["x", true]},
              "CmdLineOptions": {"forceUpdate": true},
              "EndpointDirectory": [{"type": 3, "ws": "w"}], "CurrentRemoteType": "Development"},
      "callFlow": {"CallerId": [{"id": 5, "number": "+1", "isDefault": true}]}
    })");
    const auto phone = session->getPhoneSessionData().lock();
    EXPECT_FALSE((phone->getData<std::optional<int>, PhoneProperty::DTMFDuration>()).has_value());
    EXPECT_EQ((phone->getData<unsigned int, PhoneProperty::RingToneVolume>()), 4294967295u);
    // The run-only enumerations by number and by name (the stored ones: the end-to-end value table).
    EXPECT_EQ((phone->getData<PhoneDefinitions::DTMFMode, PhoneProperty::DTMFMode>()),
              PhoneDefinitions::DTMFMode::InBand);
    EXPECT_EQ((session->getAppSessionData()
                   .lock()
                   ->getData<ResourcesDefs::RemoteType, AppProperty::CurrentRemoteType>()),
              ResourcesDefs::RemoteType::Development);
    // Beyond 2^53 a JSON number would round; decimal text keeps every digit.
    EXPECT_EQ((session->getChatSessionData().lock()->getData<long long, ChatProperty::LastChatSync>()),
              9007199254740993LL);
    EXPECT_EQ((session->getDeskSessionData().lock()->getData<unsigned short, DeskProperty::Port>()), 65535);

    const auto app = session->getAppSessionData().lock();
    EXPECT_EQ((app->getData<QByteArray, AppProperty::AppBytes>()), QByteArray("\x00\x01\x02\xff", 4));
    EXPECT_TRUE((app->getData<CommandLineOptions, AppProperty::CmdLineOptions>()).forceUpdate);
    const DataSets::DataSet settings = app->getData<DataSets::DataSet, AppProperty::UserSettings>();
    const auto list = valueOf<DataSets::DataSet>(settings, QStringLiteral("list"));
    EXPECT_TRUE(list && (*list)->isList() && (*list)->size() == 2);

    const CallerIds ids =
        session->getCallFlowSessionData().lock()->getData<CallerIds, CallFlowProperty::CallerId>();
    EXPECT_EQ(ids.getCallerIds(), std::vector<CallerIdDto>{CallerIdDto(5, QStringLiteral("+1"), true)});

    // Only the listed sections are reported.
    EXPECT_FALSE(session->isProvisioned());

    // Caller identities in their whole object form too.
    const auto whole = provisioned(R"({"callFlow": {"CallerId":
        {"callerIds": [{"id": 1, "number": "a"}, {"id": 2, "number": "b", "isDefault": true}],
         "lastUpdated": 1714550400000, "readOnly": true}}})");
    const CallerIds all =
        whole->getCallFlowSessionData().lock()->getData<CallerIds, CallFlowProperty::CallerId>();
    EXPECT_TRUE(all.getCallerIds().size() == 2 && all.getCallerIds()[1].getNumber() == QStringLiteral("b") &&
                all.getLastUpdated() == 1714550400000LL && all.isReadOnly());
}

TEST(SessionctlProfile, MalformedProfilesAreRefusedInOneLineWithTheirPlace)
{
    const std::pair<const char*, const char*> cases[] = {
        {R"({"user": {"UserName": "a"})", "not valid JSON"},
        {R"([1, 2])", "must be a JSON object"},
        {R"({"video": {}})", "unknown domain \"video\""},
        {R"({"user": []})", "\"user\" must be an object"},
        {R"({"user": {"Nickname": "a"}})", "unknown property \"Nickname\" in \"user\""},
        {R"({"provisioned": "all"})", "\"provisioned\" must be an array"},
        {R"({"provisioned": ["phone", "meeting"]})", "unknown section \"meeting\""},
        {R"({"callFlow": {"CallFlowConfiguration": {}}})", "callFlow.CallFlowConfiguration: read-only"},
        {R"({"app": {"AnalyticsURL": "https://x"}})", "app.AnalyticsURL: derived"},
        {R"({"user": {"UserName": 5}})", "user.UserName: expected text, found the number 5"},
        {R"({"desk": {"Port": 65536}})", "desk.Port: expected a whole number from 0 to 65535"},
        {R"({"chat": {"LastChatSync": "12abc"}})", "chat.LastChatSync: expected a whole number"},
        {R"({"phone": {"DTMFDuration": "160"}})", "phone.DTMFDuration: expected a whole number"},
        {R"({"app": {"AppBytes": "not*base64"}})", "app.AppBytes: expected base64 text"},
        {R"({"app": {"OptOutMessages": ["a", 2]}})", "app.OptOutMessages[1]: expected text"},
        {R"({"app": {"EndpointDirectory": {"type": 1}}})", "app.EndpointDirectory: expected an array"},
        {R"({"app": {"EndpointDirectory": [{"ws": "w"}]}})", "app.EndpointDirectory[0]: an endpoint needs"},
        {R"({"app": {"EndpointDirectory": [{"type": 1, "url": "w"}]}})",
         "app.EndpointDirectory[0].url: unknown member"},
        {R"({"app": {"EndpointDirectory": [{"type": 1.5}]}})", "app.EndpointDirectory[0].type: expected"},
        {R"({"app": {"CmdLineOptions": {"forceUpdate": 1}}})",
         "app.CmdLineOptions.forceUpdate: expected true"},
        {R"({"app": {"UserSettings": {"deep": {"x": null}}}})",
         "app.UserSettings.deep.x: null cannot be stored"},
        {R"({"app": {"UserSettings": ["a"]}})", "app.UserSettings: expected an object"},
        {R"({"callFlow": {"CallerId": [{"id": 1, "number": 2}]}})",
         "callFlow.CallerId[0].number: expected text"},
        {R"({"callFlow": {"CallerId": "+1"}})", "callFlow.CallerId: expected an array of caller identities"},
    };
    for (const auto& [json, mentions] : cases) {
        try {
            parseProfile(json, kSource);
            ADD_FAILURE() << "accepted: " << json;
        } catch (const Failure& f) {
            EXPECT_TRUE(f.code == ExitBadProfile && f.message.startsWith(kSource + QStringLiteral(": ")) &&
                        f.message.contains(QString::fromUtf8(mentions)) && !f.message.contains('\n'))
                << qPrintable(f.message);
        }
    }
}
