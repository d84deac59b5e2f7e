// The session aggregate: provisioning flags, the ready callback, sharing of stores,
// reset and clear walks, and the whole-session storage round trip.
#include "Provisioning.h"
#include "StoreTestUtils.h"

#include <SessionData.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>

using namespace DataSets::Impl;

namespace {

void roundTrip(const SessionData& from, SessionData& to)
{
    to.deserializeEncrypted(from.serializeEncrypted());
    to.deserializeUnencrypted(from.serializeUnencrypted());
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
    Provisioning::provision(session);
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

TEST(SessionStorage, AnEmptyOrMalformedTopLevelSetKeepsWhatTheStoresHeld)
{
    SessionData session, twin;
    Provisioning::provision(session);
    Provisioning::provision(twin);
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

TEST(SessionConcurrency, MixedOperationsFromManyThreadsNeverDeadlock)
{
    SessionData session;
    Provisioning::provision(session);
    std::atomic<int> alerts{0};
    session.setConfigurationReadyCallback([&] { ++alerts; });

    constexpr int kThreads = 4;
    constexpr int kRounds = 1000;
    std::vector<std::future<void>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [&session, t] {
            std::minstd_rand pick(100 + unsigned(t));
            for (int i = 0; i < kRounds; ++i) {
                switch (pick() % 7) {
                case 0:
                    Provisioning::provision(session);
                    break;
                case 1: {
                    SessionData other;
                    roundTrip(session, other);
                    break;
                }
                case 2: {
                    SessionData other;
                    Provisioning::provision(other);
                    roundTrip(other, session);
                    break;
                }
                case 3:
                    session.resetConfigurationData();
                    break;
                case 4:
                    if (pick() % 4 == 0)
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
