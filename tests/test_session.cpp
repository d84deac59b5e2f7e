// The session aggregate: provisioning flags, the ready callback, sharing of stores,
// reset and clear walks, and the whole-session storage round trip.
#include "SessionGenerator.h"
#include "StoreTestUtils.h"

#include <SessionData.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace DataSets::Impl;

namespace {

void roundTrip(const SessionData& from, SessionData& to)
{
    to.deserializeEncrypted(from.serializeEncrypted());
    to.deserializeUnencrypted(from.serializeUnencrypted());
}

// After a round trip into `actual`, the `restored` properties of one store hold what
// `source`'s hold, and every other one, but those in `special`, still holds what `before`
// (a twin of what `actual` held) holds.
template <class Enum, class Store>
void expectPart(std::weak_ptr<Store> (SessionData::*store)() const, const SessionData& actual,
                const SessionData& source, const SessionData& before, const std::set<Enum>& restored,
                const std::set<Enum>& special = {})
{
    std::set<Enum> kept = allHeldBut(restored);
    for (Enum p : special)
        kept.erase(p);
    const auto a = (actual.*store)().lock();
    EXPECT_EQ(differing<Enum>(*a, *(source.*store)().lock(), restored), Names{}) << "restored";
    EXPECT_EQ(differing<Enum>(*a, *(before.*store)().lock(), kept), Names{}) << "kept";
}

void expectRestored(const SessionData& actual, const SessionData& source, const SessionData& before)
{
    using U = UserProperty;
    expectPart<U>(&SessionData::getUserRuntimeData, actual, source, before,
                  allHeldBut<U>({U::Password, U::Company}));
    using D = DeskProperty;
    expectPart<D>(&SessionData::getDeskSessionData, actual, source, before, {D::Enabled});
    expectPart<CallFlowProperty>(&SessionData::getCallFlowSessionData, actual, source, before, {});

    using C = ChatProperty;
    expectPart<C>(&SessionData::getChatSessionData, actual, source, before, {C::JID, C::Enabled},
                  {C::LastChatSync});
    const long long sync = source.getChatSessionData().lock()->getData<long long, C::LastChatSync>();
    EXPECT_EQ((actual.getChatSessionData().lock()->getData<long long, C::LastChatSync>()),
              sync > 0 ? sync : 0);

    using P = PhoneProperty;
    expectPart<P>(&SessionData::getPhoneSessionData, actual, source, before,
                  {P::INDevice, P::OUTDevice, P::LastLandlinePhone, P::SipAccount, P::Callback,
                   P::RingToneVolume, P::RingToneDevice, P::UnseenMissedCalls, P::LastPhoneBookSync},
                  {P::Licence, P::CurrentMode});
    const auto phone = actual.getPhoneSessionData().lock(), phoneSource = source.getPhoneSessionData().lock();
    const auto licence =
        static_cast<int>(phoneSource->getData<PhoneDefinitions::PhoneSettingsMode, P::Licence>());
    EXPECT_EQ(static_cast<int>(phone->getData<PhoneDefinitions::PhoneSettingsMode, P::Licence>()),
              (licence & 3) ? licence : 0);
    using PhoneDefinitions::OperationMode;
    const auto mode = phoneSource->getData<OperationMode, P::CurrentMode>();
    EXPECT_EQ((phone->getData<OperationMode, P::CurrentMode>()),
              (static_cast<unsigned>(mode) <= 1
                   ? mode
                   : before.getPhoneSessionData().lock()->getData<OperationMode, P::CurrentMode>()));

    using A = AppProperty;
    expectPart<A>(&SessionData::getAppSessionData, actual, source, before,
                  {A::OptOutMessages, A::Version, A::EnableOutlookImport, A::UserSettings}, {A::MeetingURL});
    const QString meeting = source.getAppSessionData().lock()->getData<QString, A::MeetingURL>();
    EXPECT_EQ(
        (actual.getAppSessionData().lock()->getData<QString, A::MeetingURL>()),
        (meeting.isEmpty() ? before.getAppSessionData().lock()->getData<QString, A::MeetingURL>() : meeting));
}

using Flag = void (SessionData::*)(bool);
const Flag kFlags[] = {&SessionData::setAppConfigurationDataProvisioned,
                       &SessionData::setAppMeetingConfigurationDataProvisioned,
                       &SessionData::setChatConfigurationDataProvisioned,
                       &SessionData::setPhoneConfigurationDataProvisioned,
                       &SessionData::setCallFlowConfigurationDataProvisioned,
                       &SessionData::setDeskConfigurationDataProvisioned,
                       &SessionData::setUserConfigurationDataProvisioned};

// Through a local copy of the member pointer: GCC's bounds check misreads the index
// when a member-function pointer is called straight out of an array.
void setFlag(SessionData& s, size_t i, bool value)
{
    const Flag flag = kFlags[i];
    (s.*flag)(value);
}

// Sets every provisioning flag but the one at `except`.
void provisionAll(SessionData& s, size_t except = std::size(kFlags))
{
    for (size_t i = 0; i < std::size(kFlags); ++i)
        if (i != except)
            setFlag(s, i, true);
}

using namespace std::chrono_literals;

} // namespace

TEST(Session, ProvisionedOnlyWhenAllSevenSectionsAreAndResetOrClearClearsEachFlag)
{
    SessionData session;
    int calls = 0;
    session.setConfigurationReadyCallback([&] { ++calls; });
    EXPECT_FALSE(session.isProvisioned());
    for (size_t i = 0; i < std::size(kFlags); ++i) {
        setFlag(session, i, false);
        provisionAll(session, i);
        EXPECT_FALSE(session.isProvisioned()) << "flag " << i << " missing";
        setFlag(session, i, true);
        EXPECT_TRUE(session.isProvisioned());

        session.resetConfigurationData();
        provisionAll(session, i);
        EXPECT_FALSE(session.isProvisioned()) << "a reset clears flag " << i;
        provisionAll(session);
        session.clear();
        provisionAll(session, i);
        EXPECT_FALSE(session.isProvisioned()) << "a clear clears flag " << i;
    }
    EXPECT_EQ(calls, 0) << "setting the last flag runs no callback";
}

TEST(Session, TheReadyCallbackRunsOnRequestOnlyAndSurvivesResets)
{
    SessionData session;
    session.alertConfigurationReady(); // none registered: nothing happens

    int first = 0, second = 0;
    session.setConfigurationReadyCallback([&] { ++first; });
    session.alertConfigurationReady(); // whatever the flags say
    session.setConfigurationReadyCallback([&] { ++second; });
    session.resetConfigurationData();
    session.clear();
    session.alertConfigurationReady();
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);

    session.setConfigurationReadyCallback({});
    session.alertConfigurationReady();
    EXPECT_EQ(second, 1);
}

TEST(Session, AnExceptionFromTheCallbackReachesTheCallerWithTheLockReleased)
{
    SessionData session;
    session.setConfigurationReadyCallback([] { throw std::runtime_error("provisioning failed"); });
    EXPECT_THROW(session.alertConfigurationReady(), std::runtime_error);
    auto replace = std::async(std::launch::async, [&] { session.setConfigurationReadyCallback([] {}); });
    ASSERT_EQ(replace.wait_for(5s), std::future_status::ready) << "the session lock was left held";
    EXPECT_NO_THROW(session.alertConfigurationReady());
}

TEST(Session, GettersCopiesAndMovesShareOrHandOverTheStores)
{
    SessionData session;
    EXPECT_EQ(session.getDeskSessionData().lock(), session.getDeskSessionData().lock());

    int called = 0;
    session.setConfigurationReadyCallback([&] { ++called; });
    provisionAll(session);
    SessionData copy(session);
    copy.getUserRuntimeData().lock()->setData<QString, UserProperty::UserName>(QStringLiteral("ada"));
    EXPECT_EQ((session.getUserRuntimeData().lock()->getData<QString, UserProperty::UserName>()),
              QStringLiteral("ada"));
    EXPECT_FALSE(copy.isProvisioned());
    copy.alertConfigurationReady();
    EXPECT_EQ(called, 0) << "a copy starts without a callback";

    SessionData assigned;
    provisionAll(assigned);
    assigned = copy; // shares the same stores, but is not provisioned
    EXPECT_TRUE(assigned.isProvisioned()) << "assignment keeps the target's flags";
    EXPECT_EQ(assigned.getPhoneSessionData().lock(), session.getPhoneSessionData().lock());

    const auto phone = session.getPhoneSessionData().lock();
    SessionData moved(std::move(session));
    EXPECT_EQ(moved.getPhoneSessionData().lock(), phone);
    EXPECT_TRUE(session.getPhoneSessionData().expired());
    EXPECT_TRUE(session.getAppSessionData().expired());

    SessionData target;
    target = std::move(moved);
    EXPECT_EQ(target.getPhoneSessionData().lock(), phone);
    EXPECT_TRUE(moved.getDeskSessionData().expired());
    // Self-assignment is the case under test: Clang's warning against writing it on
    // purpose is silenced here only.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wself-assign-overloaded"
#endif
    target = target; // self-assignment keeps everything
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
    EXPECT_EQ(target.getPhoneSessionData().lock(), phone);
}

TEST(Session, ResetKeepsTheUserAndTheApplicationClearDropsThem)
{
    SessionData session;
    SessionGenerator(7).fill(session);
    auto user = session.getUserRuntimeData().lock();
    user->setData<QString, UserProperty::UserName>(QStringLiteral("ada"));
    user->setData<QString, UserProperty::AppKey>(QStringLiteral("key"));
    user->setData<QString, UserProperty::WID>(QStringLiteral("wid"));
    auto app = session.getAppSessionData().lock();
    app->setData<QString, AppProperty::PrivacyURL>(QStringLiteral("https://privacy"));
    auto desk = session.getDeskSessionData().lock();
    desk->setData<QString, DeskProperty::Host>(QStringLiteral("desk"));

    session.resetConfigurationData();
    EXPECT_TRUE(session.isValidSession());
    EXPECT_EQ((app->getData<QString, AppProperty::PrivacyURL>()), QStringLiteral("https://privacy"));
    EXPECT_TRUE((desk->getData<QString, DeskProperty::Host>()).isEmpty());

    session.clear();
    EXPECT_FALSE(session.isValidSession());
    EXPECT_TRUE((app->getData<QString, AppProperty::PrivacyURL>()).isEmpty());
    EXPECT_EQ((session.getCallFlowSessionData().lock()->getData<bool, CallFlowProperty::EnableCallFlow>()),
              false);
}

TEST(SessionStorage, BothSetsHoldExactlyTheFiveNestedParts)
{
    SessionData session;
    for (const DataSets::DataSet& top : {session.serializeEncrypted(), session.serializeUnencrypted()}) {
        EXPECT_FALSE(top->isList());
        EXPECT_EQ(keysOf(top), (QStringList{"app", "chat", "phone", "user", "desk"}));
        for (const QString& key : keysOf(top))
            EXPECT_TRUE(valueOf<DataSets::DataSet>(top, key)) << qPrintable(key);
    }
}

TEST(SessionStorage, AnEmptyOrMalformedTopLevelSetKeepsWhatTheStoresHeld)
{
    SessionData session, twin;
    SessionGenerator(11).fill(session);
    SessionGenerator(11).fill(twin);
    for (const DataSets::DataSet& ds : {createDS(false), DataSets::DataSet(),
                                        setOf({{"user", QStringLiteral("not a set")}, {"desk", 1}})}) {
        session.deserializeEncrypted(ds);
        EXPECT_EQ(
            differing<UserProperty>(*session.getUserRuntimeData().lock(), *twin.getUserRuntimeData().lock()),
            Names{});
        EXPECT_EQ(
            differing<DeskProperty>(*session.getDeskSessionData().lock(), *twin.getDeskSessionData().lock()),
            Names{});
    }
}

TEST(SessionStorage, GeneratedSessionsRoundTripEveryStoredField)
{
    constexpr unsigned kCases = 2000;
    for (unsigned seed = 1; seed <= kCases && !HasFailure(); ++seed) {
        SessionData source, receiver, before;
        SessionGenerator(seed).fill(source);
        SessionGenerator(seed + kCases).fill(receiver);
        SessionGenerator(seed + kCases).fill(before);
        provisionAll(receiver);
        int alerts = 0;
        receiver.setConfigurationReadyCallback([&] { ++alerts; });

        roundTrip(source, receiver);
        SCOPED_TRACE(testing::Message() << "case " << seed);
        expectRestored(receiver, source, before);
        EXPECT_TRUE(receiver.isProvisioned()) << "flags are not stored";
        receiver.alertConfigurationReady();
        EXPECT_EQ(alerts, 1) << "the callback is not stored";
    }
}

TEST(SessionConcurrency, MixedOperationsFromManyThreadsNeverDeadlock)
{
    SessionData session;
    SessionGenerator(3).fill(session);
    std::atomic<int> alerts{0};
    session.setConfigurationReadyCallback([&] { ++alerts; });

    constexpr int kThreads = 4;
    constexpr int kRounds = 1000;
    std::vector<std::future<void>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [&session, t] {
            SessionGenerator gen(100 + unsigned(t));
            for (int i = 0; i < kRounds; ++i) {
                switch (gen.pick(7)) {
                case 0:
                    gen.fill(session);
                    break;
                case 1: {
                    SessionData other;
                    roundTrip(session, other);
                    break;
                }
                case 2: {
                    SessionData other;
                    gen.fill(other);
                    roundTrip(other, session);
                    break;
                }
                case 3:
                    session.resetConfigurationData();
                    break;
                case 4:
                    if (gen.pick(4) == 0)
                        session.clear();
                    break;
                case 5:
                    session.alertConfigurationReady();
                    provisionAll(session);
                    break;
                default:
                    (void)session.getCallFlowSessionData()
                        .lock()
                        ->getData<CallFlowConfigurationDTO, CallFlowProperty::CallFlowConfiguration>();
                    (void)session.isValidSession();
                }
            }
        }));
    }
    for (auto& w : workers)
        ASSERT_EQ(w.wait_for(120s), std::future_status::ready) << "a worker is stuck: deadlock";

    // Every store is still usable afterwards.
    SessionData restored;
    session.getUserRuntimeData().lock()->setData<QString, UserProperty::UserName>(QStringLiteral("last"));
    roundTrip(session, restored);
    EXPECT_EQ((restored.getUserRuntimeData().lock()->getData<QString, UserProperty::UserName>()),
              QStringLiteral("last"));
    EXPECT_GT(alerts.load(), 0);
}
