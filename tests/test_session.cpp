// The session aggregate: provisioning flags, the ready callback, sharing of stores,
// reset and clear walks, hostile stored sets and many threads at once.
#include "Provisioning.h"
#include "StoreTestUtils.h"

#include <SessionData.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>

using namespace std::chrono_literals;

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

// Sets every provisioning flag but the one at `except`. Through a local copy of the
// member pointer: GCC's bounds check misreads the index when a member-function
// pointer is called straight out of an array.
void provisionAll(SessionData& s, size_t except = std::size(kFlags))
{
    for (size_t i = 0; i < std::size(kFlags); ++i) {
        const Flag flag = kFlags[i];
        if (i != except)
            (s.*flag)(true);
    }
}

} // namespace

TEST(Session, ProvisionedOnlyWhenAllSevenSectionsAreAndResetOrClearClearsEachFlag)
{
    SessionData session;
    int calls = 0;
    session.setConfigurationReadyCallback([&] { ++calls; });
    EXPECT_FALSE(session.isProvisioned());
    for (size_t i = 0; i < std::size(kFlags); ++i) {
        const Flag flag = kFlags[i];
        (session.*flag)(false);
        provisionAll(session, i);
        EXPECT_FALSE(session.isProvisioned()) << "flag " << i << " missing";
        (session.*flag)(true);
        EXPECT_TRUE(session.isProvisioned());
        for (void (SessionData::*op)() : {&SessionData::resetConfigurationData, &SessionData::clear}) {
            provisionAll(session);
            (session.*op)();
            provisionAll(session, i);
            EXPECT_FALSE(session.isProvisioned()) << "a reset or clear clears flag " << i;
        }
    }
    EXPECT_EQ(calls, 0) << "setting the last flag runs no callback";
}

TEST(Session, TheReadyCallbackRunsOnRequestOnlyAndAThrowLeavesNoLock)
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
    EXPECT_EQ(second, 1) << "the callback survives resets";

    session.setConfigurationReadyCallback([] { throw std::runtime_error("provisioning failed"); });
    EXPECT_THROW(session.alertConfigurationReady(), std::runtime_error);
    auto replace = std::async(std::launch::async, [&] { session.setConfigurationReadyCallback({}); });
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
    EXPECT_EQ(copy.getUserRuntimeData().lock(), session.getUserRuntimeData().lock());
    EXPECT_FALSE(copy.isProvisioned());
    copy.alertConfigurationReady();
    EXPECT_EQ(called, 0) << "a copy starts without a callback";

    SessionData assigned;
    provisionAll(assigned);
    assigned = copy;
    EXPECT_TRUE(assigned.isProvisioned()) << "assignment keeps the target's flags";
    EXPECT_EQ(assigned.getPhoneSessionData().lock(), session.getPhoneSessionData().lock());

    const auto phone = session.getPhoneSessionData().lock();
    SessionData moved(std::move(session));
    EXPECT_EQ(moved.getPhoneSessionData().lock(), phone);
    EXPECT_TRUE(session.getAppSessionData().expired());
    SessionData target;
    target = std::move(moved);
    EXPECT_EQ(target.getPhoneSessionData().lock(), phone);
    EXPECT_TRUE(moved.getDeskSessionData().expired());
    // Self-assignment is the case under test: Clang's warning against it is silenced here only.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wself-assign-overloaded"
#endif
    target = target;
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
    auto app = session.getAppSessionData().lock();
    auto desk = session.getDeskSessionData().lock();
    const QString privacy = app->getData<QString, AppProperty::PrivacyURL>();
    session.resetConfigurationData();
    EXPECT_TRUE(session.isValidSession());
    EXPECT_EQ((app->getData<QString, AppProperty::PrivacyURL>()), privacy);
    EXPECT_TRUE((desk->getData<QString, DeskProperty::Host>()).isEmpty());

    session.clear();
    EXPECT_FALSE(session.isValidSession());
    EXPECT_TRUE((app->getData<QString, AppProperty::PrivacyURL>()).isEmpty());
    EXPECT_FALSE(
        (session.getCallFlowSessionData().lock()->getData<bool, CallFlowProperty::EnableCallFlow>()));
}

TEST(SessionStorage, AnEmptyOrMalformedTopLevelSetKeepsWhatTheStoresHeld)
{
    SessionData session, twin;
    Provisioning::provision(session);
    Provisioning::provision(twin);
    for (const DataSets::DataSet& ds : {DataSets::Impl::createDS(false), DataSets::DataSet(),
                                        setOf({{"user", QStringLiteral("not a set")}, {"desk", 1}})}) {
        session.deserializeEncrypted(ds);
        session.deserializeUnencrypted(ds);
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
    std::vector<std::future<void>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.push_back(std::async(std::launch::async, [&session, t] {
            std::minstd_rand pick(100 + unsigned(t));
            for (int i = 0; i < 1000; ++i) {
                SessionData other;
                switch (pick() % 7) {
                case 0:
                    Provisioning::provision(session);
                    break;
                case 1:
                    roundTrip(session, other);
                    break;
                case 2:
                    Provisioning::provision(other);
                    roundTrip(other, session);
                    break;
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
