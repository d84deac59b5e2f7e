// SPDX-License-Identifier: MIT
// The session aggregate: provisioning flags, the ready callback, sharing of stores,
// reset and clear walks, hostile stored sets and many threads at once.
#include "StoreTestUtils.h"

#include <SessionData.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>

using namespace std::chrono_literals;

namespace {

using Flag = void (SessionData::*)(bool);
const Flag kFlags[] = {&SessionData::setAppConfigurationDataProvisioned,
                       &SessionData::setAppMeetingConfigurationDataProvisioned,
                       &SessionData::setChatConfigurationDataProvisioned,
                       &SessionData::setPhoneConfigurationDataProvisioned,
                       &SessionData::setCallFlowConfigurationDataProvisioned,
                       &SessionData::setDeskConfigurationDataProvisioned,
                       &SessionData::setUserConfigurationDataProvisioned};

// Sets every provisioning flag but `except`.
void provisionAll(SessionData& s, Flag except = nullptr)
{
    for (const Flag flag : kFlags)
        if (flag != except)
            (s.*flag)(true);
}

} // namespace

TEST(Session, ProvisionedOnlyWhenAllSevenSectionsAreTheCallbackRunsOnRequestOnly)
{
    SessionData session;
    int calls = 0;
    session.setConfigurationReadyCallback([&] { ++calls; });
    for (const Flag flag : kFlags) {
        for (void (SessionData::*op)() : {&SessionData::resetConfigurationData, &SessionData::clear}) {
            provisionAll(session);
            (session.*op)();
            provisionAll(session, flag);
            EXPECT_FALSE(session.isProvisioned()) << "each flag is needed, and cleared";
            (session.*flag)(true);
            EXPECT_TRUE(session.isProvisioned());
        }
    }
    EXPECT_EQ(calls, 0) << "setting the last flag runs no callback";
    session.alertConfigurationReady(); // whatever the flags say
    EXPECT_EQ(calls, 1) << "the callback survives resets and clears";

    session.setConfigurationReadyCallback([] { throw std::runtime_error("provisioning failed"); });
    EXPECT_THROW(session.alertConfigurationReady(), std::runtime_error);
    auto replace = std::async(std::launch::async, [&] { session.setConfigurationReadyCallback({}); });
    ASSERT_EQ(replace.wait_for(5s), std::future_status::ready) << "the session lock was left held";
    EXPECT_NO_THROW(session.alertConfigurationReady()); // none registered: nothing happens
}

TEST(Session, CopiesShareTheStoresAndMovesHandThemOver)
{
    SessionData session;
    int called = 0;
    session.setConfigurationReadyCallback([&] { ++called; });
    provisionAll(session);
    SessionData copy(session), assigned;
    provisionAll(assigned);
    assigned = copy;
    EXPECT_TRUE(assigned.isProvisioned()) << "assignment keeps the target's flags";
    EXPECT_FALSE(copy.isProvisioned());
    copy.alertConfigurationReady();
    EXPECT_EQ(called, 0) << "a copy starts without a callback";
    const auto phone = session.getPhoneSessionData().lock();
    EXPECT_EQ(copy.getPhoneSessionData().lock(), phone);
    EXPECT_EQ(assigned.getPhoneSessionData().lock(), phone);
    SessionData moved(std::move(session)), target;
    EXPECT_TRUE(session.getAppSessionData().expired());
    target = std::move(moved);
    EXPECT_TRUE(moved.getDeskSessionData().expired());
    SessionData& alias = target; // self-assignment, past the compiler's warning
    target = alias;
    EXPECT_EQ(target.getPhoneSessionData().lock(), phone);
}

TEST(Session, ResetKeepsTheUserAndTheApplicationClearDropsThemMalformedSetsKeepAll)
{
    SessionData session;
    Provisioning::provision(session);
    // The encrypted part holds no row that a missing key resets.
    const DataSets::DataSet before = session.serializeEncrypted();
    for (const DataSets::DataSet& ds : {DataSets::Impl::createDS(false), DataSets::DataSet(),
                                        setOf({{"user", QStringLiteral("not a set")}, {"desk", 1}})}) {
        session.deserializeEncrypted(ds);
        session.deserializeUnencrypted(ds);
        EXPECT_TRUE(sameContent(session.serializeEncrypted(), before));
    }
    const auto app = session.getAppSessionData().lock();
    const QString privacy = app->getData<QString, AppProperty::PrivacyURL>();
    session.resetConfigurationData();
    EXPECT_TRUE(session.isValidSession());
    EXPECT_EQ((app->getData<QString, AppProperty::PrivacyURL>()), privacy);
    EXPECT_TRUE((session.getDeskSessionData().lock()->getData<QString, DeskProperty::Host>()).isEmpty());
    session.clear();
    EXPECT_FALSE(session.isValidSession());
    EXPECT_TRUE((app->getData<QString, AppProperty::PrivacyURL>()).isEmpty());
}

TEST(SessionConcurrency, MixedOperationsFromManyThreadsNeverDeadlock)
{
    SessionData session;
    std::atomic<int> alerts{0};
    session.setConfigurationReadyCallback([&] { ++alerts; });
    void (*const ops[])(SessionData&) = {
        [](SessionData& s) { s.deserializeEncrypted(s.serializeEncrypted()); },
        [](SessionData& s) { s.deserializeUnencrypted(s.serializeUnencrypted()); },
        [](SessionData& s) { Provisioning::provision(s); },
        [](SessionData& s) { s.resetConfigurationData(); },
        [](SessionData& s) { s.clear(); },
        [](SessionData& s) { s.alertConfigurationReady(); },
        [](SessionData& s) { provisionAll(s); },
    };
    std::vector<std::future<void>> workers;
    for (unsigned t = 0; t < 4; ++t) {
        workers.push_back(std::async(std::launch::async, [&session, &ops, t] {
            std::minstd_rand pick(100 + t);
            for (int i = 0; i < 1000; ++i)
                ops[pick() % std::size(ops)](session);
        }));
    }
    for (auto& w : workers)
        ASSERT_EQ(w.wait_for(120s), std::future_status::ready) << "a worker is stuck: deadlock";
    EXPECT_GT(alerts.load(), 0);
}
