// Change notifications of the runtime stores: what a write reports, where and when the
// callback runs, and what cancelling and destroying guarantee, with real threads.
#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChangeSubscription.h>
#include <ChatRuntimeData.h>
#include <DeskRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <SessionData.h>
#include <UserRuntimeData.h>

#include "StoreTestUtils.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

using namespace std::chrono_literals;

// What a subscriber was told, in order, from any thread.
template <class Enum> class Recorder
{
public:
    std::function<void(Enum)> callback()
    {
        return [this](Enum p) {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_seen.push_back(p);
        };
    }
    std::vector<Enum> take()
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        return std::exchange(m_seen, {});
    }

private:
    mutable std::mutex m_lock;
    std::vector<Enum> m_seen;
};

// Every row's value as the public getters show it (a throwing getter as "none"); the
// returned function tells which properties of a later state read differently.
template <class Store> auto snapshot(const Store& store)
{
    using Enum = typename Store::Property;
    std::vector<std::pair<Enum, std::function<bool(const Store&)>>> rows;
    SessionConfigDetail::PropertyTable<Enum>::forEach([&](auto tag, const char*) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        const auto read = [](const Store& s) -> std::optional<T> {
            try {
                return s.template getData<T, Tag::property>();
            } catch (const std::bad_optional_access&) {
                return std::nullopt;
            }
        };
        rows.push_back({Tag::property, [was = read(store), read](const Store& s) { return was == read(s); }});
    });
    return [rows](const Store& later) {
        std::vector<Enum> changed;
        for (const auto& [property, same] : rows)
            if (!same(later))
                changed.push_back(property);
        return changed;
    };
}

template <class Enum> std::vector<Enum> sorted(std::vector<Enum> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

template <class Store> class Notify : public testing::Test
{
};
using Stores = testing::Types<AppRuntimeData, CallFlowRuntimeData, ChatRuntimeData, DeskRuntimeData,
                              PhoneRuntimeData, UserRuntimeData>;
// The empty last argument is the default test-name generator (Clang asks for one).
TYPED_TEST_SUITE(Notify, Stores, );

// Runs `op` on `store` and expects exactly one report for each property that reads
// differently afterwards, and at least `atLeast` of them.
template <class Store, class Op>
void expectReportsOfWhatChanged(Store& store, Recorder<typename Store::Property>& seen, Op op,
                                std::size_t atLeast, const char* what)
{
    const auto changedSince = snapshot(store);
    op(store);
    const auto changed = changedSince(store);
    EXPECT_GE(changed.size(), atLeast) << what << ": the operation changed nothing to report";
    const auto reported = seen.take();
    EXPECT_EQ(sorted(reported), sorted(changed)) << what;
}

TYPED_TEST(Notify, EachWriteReportsEveryChangedPropertyOnceAndEqualWritesNothing)
{
    using Store = TypeParam;
    using Enum = typename Store::Property;
    Store store;
    Recorder<Enum> seen;
    const ChangeSubscription sub = store.subscribe(seen.callback());

    // One property at a time, then the same value again.
    forEachHeld<Enum>([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        const T next = otherThan(store.template getData<T, Tag::property>());
        expectReportsOfWhatChanged(
            store, seen, [&](Store& s) { s.template setData<T, Tag::property>(next); }, 1, name);
        store.template setData<T, Tag::property>(T(next));
        EXPECT_EQ(seen.take(), std::vector<Enum>{}) << name << ": an equal write reports nothing";
    });

    // Restores from the stored forms of a default and of a changed store, a reset and
    // a clear, each over a store changed in every row.
    const Store defaults;
    Store changed;
    changeEvery<Enum>(changed);
    std::vector<std::pair<const char*, std::function<void(Store&)>>> ops;
    for (const Store* from : std::initializer_list<const Store*>{&defaults, &changed})
        ops.push_back({"restore", [from](Store& s) {
                           s.deserializeEncrypted(from->serializeEncrypted());
                           s.deserializeUnencrypted(from->serializeUnencrypted());
                       }});
    if constexpr (std::is_base_of_v<IConfigurationResettable, Store>)
        ops.push_back({"resetData", [](Store& s) { s.resetData(); }});
    if constexpr (kHasClear<Store>)
        ops.push_back({"clear", [](Store& s) { s.clear(); }});
    for (const auto& [what, op] : ops) {
        changeEvery<Enum>(store, changed);
        seen.take();
        expectReportsOfWhatChanged(store, seen, op, what == std::string("clear") ? 1 : 0, what);
    }
    if constexpr (kHasClear<Store>)
        expectReportsOfWhatChanged(
            store, seen, [](Store& s) { s.clear(); }, 0, "clear again");
}

// The endpoint URLs are derived from the first endpoint of the current remote type:
// reported when that changes, including from "no endpoint of this type" (the getters
// throw, and leave no lock behind) to one and back; writing one does nothing. The user
// settings are a shared handle: a new handle is a change, entries written straight
// into the set are not.
TEST(NotifyDerived, EndpointUrlsFollowTheFirstEndpointOfTheTypeAndUserSettingsTheHandle)
{
    using P = AppProperty;
    using ResourcesDefs::RemoteType;
    auto app = std::make_shared<AppRuntimeData>();
    Recorder<P> seen;
    const ChangeSubscription sub = app->subscribe(seen.callback());
    const auto urls = [&app] {
        std::vector<QString> out;
        SessionConfigDetail::PropertyTable<P>::forEach([&](auto tag, const char*) {
            if constexpr (decltype(tag)::derived) {
                try {
                    out.push_back(app->getData<QString, decltype(tag)::property>());
                } catch (const std::bad_optional_access&) {
                    out.push_back(QStringLiteral("none"));
                }
            }
        });
        return out;
    };
    const std::vector<QString> none(4, QStringLiteral("none"));
    const auto withURLs = [](P first) {
        return sorted(std::vector<P>{first, P::AnalyticsURL, P::WhatsNewURL, P::PasswordResetURL,
                                     P::DiscoverMobileOfferURL});
    };
    EXPECT_EQ(urls(), none);
    // A production entry of another type is no fallback.
    app->setData<Endpoints, P::EndpointDirectory>(
        Endpoints{EndpointData(RemoteType::Production, "ws0", "a0", "w0", "p0", "d0"),
                  EndpointData(RemoteType::Staging, "ws1", "a1", "w1", "p1", "d1"),
                  EndpointData(RemoteType::Staging, "ws2", "a2", "w2", "p2", "d2")});
    EXPECT_EQ(seen.take(), std::vector<P>{P::EndpointDirectory});
    EXPECT_EQ(urls(), none);
    // From another thread, so that a lock left behind by a throw shows as a failure.
    auto written = std::async(std::launch::async,
                              [app] { app->setData<RemoteType, P::CurrentRemoteType>(RemoteType::Staging); });
    if (written.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "the writer is still waiting for the lock";
        static_cast<void>(new std::future<void>(std::move(written))); // its destructor would wait too
        return;
    }
    EXPECT_EQ(sorted(seen.take()), withURLs(P::CurrentRemoteType));
    EXPECT_EQ(urls(), (std::vector<QString>{"a1", "w1", "p1", "d1"}));
    app->setData<QString, P::AnalyticsURL>(QStringLiteral("ignored"));
    EXPECT_EQ(seen.take(), std::vector<P>{}) << "writing a derived property changes nothing";
    EXPECT_EQ(urls(), (std::vector<QString>{"a1", "w1", "p1", "d1"}));
    app->setData<RemoteType, P::CurrentRemoteType>(RemoteType::Test);
    EXPECT_EQ(sorted(seen.take()), withURLs(P::CurrentRemoteType)) << "back to no endpoint";
    EXPECT_EQ(urls(), none);

    const DataSets::DataSet set = setOf({{QStringLiteral("theme"), QStringLiteral("dark")}});
    app->setData<DataSets::DataSet, P::UserSettings>(set);
    EXPECT_EQ(seen.take(), std::vector<P>{P::UserSettings});
    DataSets::Impl::setDataValue(*set, QStringLiteral("theme"), QStringLiteral("light"));
    app->setData<DataSets::DataSet, P::UserSettings>(set);
    EXPECT_EQ(seen.take(), std::vector<P>{});
}

// A callback may read and write its own store: it runs with the lock released, and the
// change it makes is reported after the one that caused it.
TEST(NotifyThreads, CallbackReadsAndWritesItsOwnStore)
{
    using P = DeskProperty;
    DeskRuntimeData desk;
    std::vector<P> order;
    ChangeSubscription sub = desk.subscribe([&](P p) {
        order.push_back(p);
        if (p == P::Host)
            desk.setData<unsigned short, P::Port>(
                static_cast<unsigned short>(desk.getData<QString, P::Host>().size()));
        if (p == P::Port)
            sub.cancel(); // from inside the callback: returns at once
    });
    desk.setData<QString, P::Host>(QStringLiteral("desk.example.net"));
    EXPECT_EQ(order, (std::vector<P>{P::Host, P::Port}));
    EXPECT_EQ((desk.getData<unsigned short, P::Port>()), 16);
    EXPECT_FALSE(sub.isActive());
    desk.setData<QString, P::Host>(QStringLiteral("other"));
    EXPECT_EQ(order.size(), 2u) << "cancelled from inside: nothing more";
}

// A throwing direct subscriber: the write stands, every other subscriber is told, and
// the exception reaches the writer; cancelling one of two subscribers keeps the other.
TEST(NotifyThreads, AThrowingCallbackReachesTheWriterAfterEveryoneIsTold)
{
    using P = DeskProperty;
    DeskRuntimeData desk;
    Recorder<P> seen;
    ChangeSubscription throwing = desk.subscribe([](P) { throw std::runtime_error("subscriber"); });
    const ChangeSubscription other = desk.subscribe(seen.callback());
    EXPECT_THROW((desk.setData<bool, P::Tls>(true)), std::runtime_error);
    EXPECT_TRUE((desk.getData<bool, P::Tls>()));
    EXPECT_EQ(seen.take(), std::vector<P>{P::Tls});
    throwing.cancel();
    desk.setData<bool, P::Tls>(false);
    EXPECT_EQ(seen.take(), std::vector<P>{P::Tls});
}

// A thread running an event loop, for contexts that live elsewhere.
class EventThread
{
public:
    EventThread() { m_thread.start(); }
    ~EventThread()
    {
        m_thread.quit();
        m_thread.wait();
    }
    QThread* thread() { return &m_thread; }

private:
    QThread m_thread;
};

template <class Pred> bool eventually(Pred pred)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A context subscriber is called on the context's thread, in the order one writer
// made its changes; on the context's own thread directly, within the write.
TEST(NotifyThreads, ContextDeliveryLandsOnTheContextThreadInOrder)
{
    using P = DeskProperty;
    DeskRuntimeData desk;
    EventThread worker;
    QObject there;
    there.moveToThread(worker.thread());
    Recorder<P> seen;
    std::atomic<int> wrongThread{0};
    ChangeSubscription sub = desk.subscribe(&there, [&, record = seen.callback()](P p) {
        wrongThread += QThread::currentThread() != worker.thread();
        record(p);
    });
    std::vector<P> written, delivered;
    for (int i = 1; i <= 200; ++i) {
        const P p = i % 3 == 0 ? P::Host : i % 3 == 1 ? P::Port : P::Tls;
        if (p == P::Host)
            desk.setData<QString, P::Host>(QString::number(i));
        else if (p == P::Port)
            desk.setData<unsigned short, P::Port>(static_cast<unsigned short>(i));
        else
            desk.setData<bool, P::Tls>(!desk.getData<bool, P::Tls>());
        written.push_back(p);
    }
    ASSERT_TRUE(eventually([&] {
        for (P p : seen.take())
            delivered.push_back(p);
        return delivered.size() == written.size();
    }));
    sub.cancel();
    EXPECT_EQ(delivered, written);
    EXPECT_EQ(wrongThread.load(), 0);

    // A context on the writing thread is called within the write.
    QObject here;
    Recorder<P> direct;
    const ChangeSubscription local = desk.subscribe(&here, direct.callback());
    desk.setData<bool, P::Enabled>(true);
    EXPECT_EQ(direct.take(), std::vector<P>{P::Enabled});
}

// Cancelling while another thread writes: once cancel() returns, no callback runs, and
// what the callback touches can be freed at once (AddressSanitizer would see a late
// one). A running callback is waited for.
TEST(NotifyThreads, CancelRacingWithWritesOnAnotherThread)
{
    using P = ChatProperty;
    ChatRuntimeData chat;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i)
            chat.setData<int, P::TimeToLive>(i);
    });
    std::atomic<int> late{0};
    for (int round = 0; round < 200; ++round) {
        auto counter = std::make_unique<std::atomic<int>>(0);
        std::atomic<bool> cancelled{false};
        // Slow enough to be still running when cancel() comes; what it touches last is
        // freed as soon as cancel() returns.
        ChangeSubscription sub = chat.subscribe([&late, &cancelled, c = counter.get()](P) {
            std::this_thread::sleep_for(20us);
            c->fetch_add(1);
            if (cancelled.load())
                ++late;
        });
        while (counter->load() == 0)
            std::this_thread::yield();
        if (round % 2)
            sub.cancel();
        else
            sub = ChangeSubscription(); // replacing the handle cancels too
        cancelled.store(true);
        counter.reset();
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(late.load(), 0);
}

// A context destroyed while deliveries to it are queued: none of them runs, the
// subscription ends, and writes go on.
TEST(NotifyThreads, ContextDestroyedWhileWritesAreQueued)
{
    using P = PhoneProperty;
    PhoneRuntimeData phone;
    auto context = std::make_unique<QObject>();
    std::atomic<int> calls{0};
    ChangeSubscription sub = phone.subscribe(context.get(), [&calls](P) { ++calls; });
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i)
            phone.setData<int, P::HostPort>(i + 1);
    });
    writer.join(); // 100 deliveries wait in this thread's queue
    context.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls.load(), 0);
    EXPECT_FALSE(sub.isActive());
    phone.setData<int, P::HostPort>(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls.load(), 0);
    sub.cancel();
}

// Handles outlive their store; copies of a store start without subscribers; a
// session's stores are the ones subscribed to.
TEST(NotifyLifetime, StoresAndHandles)
{
    using P = UserProperty;
    ChangeSubscription kept;
    {
        auto user = std::make_unique<UserRuntimeData>();
        Recorder<P> seen;
        kept = user->subscribe(seen.callback());
        UserRuntimeData copy(*user);
        copy.setData<QString, P::UserName>(QStringLiteral("ada"));
        EXPECT_EQ(seen.take(), std::vector<P>{}) << "a copy has no subscribers";
        user->setData<QString, P::UserName>(QStringLiteral("ada"));
        EXPECT_EQ(seen.take(), std::vector<P>{P::UserName});
    }
    EXPECT_TRUE(kept.isActive());
    kept.cancel(); // the store is gone: nothing to do
    kept.cancel();
    EXPECT_FALSE(kept.isActive());
    EXPECT_FALSE(ChangeSubscription().isActive());

    SessionData session;
    Recorder<P> seen;
    const ChangeSubscription sub = session.getUserRuntimeData().lock()->subscribe(seen.callback());
    changeEvery<P>(*session.getUserRuntimeData().lock());
    seen.take();
    session.clear();
    EXPECT_EQ(seen.take().size(), heldCount<P>()) << "sign-out clears every user property";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
