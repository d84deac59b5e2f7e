// The session aggregate: provisioning flags, the ready callback, sharing of stores,
// reset and clear walks, and the whole-session storage round trip.
#include "SessionGenerator.h"

#include <SessionData.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace DataSets::Impl;

namespace {

// Deep equality of two sets: same kind, same keys, same values, nested sets alike.
bool sameContent(const DataSets::DataSet& a, const DataSets::DataSet& b)
{
    if (!a || !b)
        return a == b;
    if (a->isList() != b->isList() || a->size() != b->size())
        return false;
    for (const Entry& e : a->entries()) {
        Value other;
        if (!b->value(e.key, other) || e.value.index() != other.index())
            return false;
        if (const auto* nested = std::get_if<DataSets::DataSet>(&e.value)) {
            if (!sameContent(*nested, std::get<DataSets::DataSet>(other)))
                return false;
        } else if (e.value != other) {
            return false;
        }
    }
    return true;
}

template <class T> bool same(const T& a, const T& b)
{
    if constexpr (std::is_same_v<T, DataSets::DataSet>)
        return sameContent(a, b);
    else
        return a == b;
}

// Compares every non-derived property for which `select` is true.
template <class Enum, class Store, class Select>
void expectProperties(const Store& actual, const Store& expected, Select select, const char* domain,
                      unsigned seed)
{
    PropertyTable<Enum>::forEach([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        if constexpr (!Tag::derived) {
            if (select(Tag::property)) {
                EXPECT_TRUE(same(actual.template getData<T, Tag::property>(),
                                 expected.template getData<T, Tag::property>()))
                    << domain << "." << name << " (case " << seed << ")";
            }
        }
    });
}

template <class Enum> auto in(std::initializer_list<Enum> list)
{
    return [set = std::set<Enum>(list)](Enum p) { return set.count(p) > 0; };
}

template <class Enum> auto notIn(std::initializer_list<Enum> list)
{
    return [set = std::set<Enum>(list)](Enum p) { return set.count(p) == 0; };
}

void roundTrip(const SessionData& from, SessionData& to)
{
    to.deserializeEncrypted(from.serializeEncrypted());
    to.deserializeUnencrypted(from.serializeUnencrypted());
}

// `actual` received `source`'s data sets; `before` is a twin of what `actual` held.
void expectRestored(const SessionData& actual, const SessionData& source, const SessionData& before,
                    unsigned seed)
{
    {
        using P = UserProperty;
        const auto a = actual.getUserRuntimeData().lock(), s = source.getUserRuntimeData().lock(),
                   b = before.getUserRuntimeData().lock();
        const std::initializer_list<P> runOnly{P::Password, P::Company};
        expectProperties<P>(*a, *s, notIn(runOnly), "user", seed);
        expectProperties<P>(*a, *b, in(runOnly), "user", seed);
    }
    {
        using P = ChatProperty;
        const auto a = actual.getChatSessionData().lock(), s = source.getChatSessionData().lock(),
                   b = before.getChatSessionData().lock();
        expectProperties<P>(*a, *s, in({P::JID, P::Enabled}), "chat", seed);
        expectProperties<P>(*a, *b, in({P::Token, P::TimeToLive}), "chat", seed);
        const long long sync = s->getData<long long, P::LastChatSync>();
        EXPECT_EQ((a->getData<long long, P::LastChatSync>()), sync > 0 ? sync : 0) << "case " << seed;
    }
    {
        using P = PhoneProperty;
        const auto a = actual.getPhoneSessionData().lock(), s = source.getPhoneSessionData().lock(),
                   b = before.getPhoneSessionData().lock();
        const std::initializer_list<P> plain{P::INDevice,       P::OUTDevice,         P::LastLandlinePhone,
                                             P::SipAccount,     P::Callback,          P::RingToneVolume,
                                             P::RingToneDevice, P::UnseenMissedCalls, P::LastPhoneBookSync};
        expectProperties<P>(*a, *s, in(plain), "phone", seed);
        expectProperties<P>(
            *a, *b, [&](P p) { return notIn(plain)(p) && p != P::Licence && p != P::CurrentMode; }, "phone",
            seed);
        using PhoneDefinitions::PhoneSettingsMode;
        const auto licence = static_cast<int>(s->getData<PhoneSettingsMode, P::Licence>());
        EXPECT_EQ(static_cast<int>(a->getData<PhoneSettingsMode, P::Licence>()), (licence & 3) ? licence : 0)
            << "case " << seed;
        using PhoneDefinitions::OperationMode;
        const auto mode = s->getData<OperationMode, P::CurrentMode>();
        EXPECT_EQ((a->getData<OperationMode, P::CurrentMode>()),
                  (static_cast<unsigned>(mode) <= 1 ? mode : b->getData<OperationMode, P::CurrentMode>()))
            << "case " << seed;
    }
    {
        using P = AppProperty;
        const auto a = actual.getAppSessionData().lock(), s = source.getAppSessionData().lock(),
                   b = before.getAppSessionData().lock();
        const std::initializer_list<P> plain{P::OptOutMessages, P::Version, P::EnableOutlookImport,
                                             P::UserSettings};
        expectProperties<P>(*a, *s, in(plain), "app", seed);
        expectProperties<P>(
            *a, *b, [&](P p) { return notIn(plain)(p) && p != P::MeetingURL; }, "app", seed);
        const QString meeting = s->getData<QString, P::MeetingURL>();
        EXPECT_EQ((a->getData<QString, P::MeetingURL>()),
                  (meeting.isEmpty() ? b->getData<QString, P::MeetingURL>() : meeting))
            << "case " << seed;
    }
    {
        using P = DeskProperty;
        const auto a = actual.getDeskSessionData().lock(), s = source.getDeskSessionData().lock(),
                   b = before.getDeskSessionData().lock();
        expectProperties<P>(*a, *s, in({P::Enabled}), "desk", seed);
        expectProperties<P>(*a, *b, notIn({P::Enabled}), "desk", seed);
    }
    expectProperties<CallFlowProperty>(
        *actual.getCallFlowSessionData().lock(), *before.getCallFlowSessionData().lock(),
        [](CallFlowProperty) { return true; }, "callFlow", seed);
}

void provisionAll(SessionData& s)
{
    s.setAppConfigurationDataProvisioned(true);
    s.setAppMeetingConfigurationDataProvisioned(true);
    s.setChatConfigurationDataProvisioned(true);
    s.setPhoneConfigurationDataProvisioned(true);
    s.setCallFlowConfigurationDataProvisioned(true);
    s.setDeskConfigurationDataProvisioned(true);
    s.setUserConfigurationDataProvisioned(true);
}

using namespace std::chrono_literals;

} // namespace

TEST(Session, ProvisionedOnlyWhenAllSevenSectionsAre)
{
    using Setter = void (SessionData::*)(bool);
    const Setter setters[] = {&SessionData::setAppConfigurationDataProvisioned,
                              &SessionData::setAppMeetingConfigurationDataProvisioned,
                              &SessionData::setChatConfigurationDataProvisioned,
                              &SessionData::setPhoneConfigurationDataProvisioned,
                              &SessionData::setCallFlowConfigurationDataProvisioned,
                              &SessionData::setDeskConfigurationDataProvisioned,
                              &SessionData::setUserConfigurationDataProvisioned};
    SessionData session;
    int calls = 0;
    session.setConfigurationReadyCallback([&] { ++calls; });
    EXPECT_FALSE(session.isProvisioned());
    for (auto it = std::rbegin(setters); it != std::rend(setters); ++it) { // any order will do
        EXPECT_FALSE(session.isProvisioned());
        (session.*(*it))(true);
    }
    EXPECT_TRUE(session.isProvisioned());
    EXPECT_EQ(calls, 0) << "setting the last flag runs no callback";

    for (Setter s : setters) {
        (session.*s)(false);
        EXPECT_FALSE(session.isProvisioned());
        (session.*s)(true);
    }
    session.resetConfigurationData();
    EXPECT_FALSE(session.isProvisioned());
    provisionAll(session);
    session.clear();
    EXPECT_FALSE(session.isProvisioned());
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
    assigned = session;
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
    target = target; // self-assignment keeps everything
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
        std::set<QString> keys;
        for (const Entry& e : top->entries()) {
            keys.insert(e.key);
            EXPECT_TRUE(std::holds_alternative<DataSets::DataSet>(e.value)) << qPrintable(e.key);
        }
        EXPECT_EQ(keys,
                  (std::set<QString>{QStringLiteral("app"), QStringLiteral("chat"), QStringLiteral("phone"),
                                     QStringLiteral("user"), QStringLiteral("desk")}));
    }
}

TEST(SessionStorage, AnEmptyOrMalformedTopLevelSetKeepsWhatTheStoresHeld)
{
    SessionData session, twin;
    SessionGenerator(11).fill(session);
    SessionGenerator(11).fill(twin);

    DataSets::DataSet malformed = createDS(false);
    setDataValue(*malformed, QStringLiteral("user"), QStringLiteral("not a set"));
    setDataValue(*malformed, QStringLiteral("desk"), 1);
    for (const DataSets::DataSet& ds : {createDS(false), malformed, DataSets::DataSet()}) {
        session.deserializeEncrypted(ds);
        EXPECT_EQ((session.getUserRuntimeData().lock()->getData<QString, UserProperty::UserName>()),
                  (twin.getUserRuntimeData().lock()->getData<QString, UserProperty::UserName>()));
        EXPECT_EQ((session.getDeskSessionData().lock()->getData<bool, DeskProperty::Enabled>()),
                  (twin.getDeskSessionData().lock()->getData<bool, DeskProperty::Enabled>()));
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
        expectRestored(receiver, source, before, seed);
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
                switch (gen.pick(9)) {
                case 0:
                    gen.fill<PhoneProperty>(*session.getPhoneSessionData().lock());
                    break;
                case 1:
                    gen.fill<AppProperty>(*session.getAppSessionData().lock());
                    break;
                case 2: {
                    SessionData other;
                    roundTrip(session, other);
                    break;
                }
                case 3: {
                    SessionData other;
                    gen.fill(other);
                    roundTrip(other, session);
                    break;
                }
                case 4:
                    session.resetConfigurationData();
                    break;
                case 5:
                    if (gen.pick(4) == 0)
                        session.clear();
                    break;
                case 6:
                    session.alertConfigurationReady();
                    provisionAll(session);
                    break;
                case 7:
                    (void)session.getCallFlowSessionData()
                        .lock()
                        ->getData<CallFlowConfigurationDTO, CallFlowProperty::CallFlowConfiguration>();
                    (void)session.isValidSession();
                    break;
                default:
                    gen.fill<UserProperty>(*session.getUserRuntimeData().lock());
                    gen.fill<ChatProperty>(*session.getChatSessionData().lock());
                    gen.fill<DeskProperty>(*session.getDeskSessionData().lock());
                    break;
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
