// SPDX-License-Identifier: MIT
// Change notifications of the runtime stores: what a write reports, where and when the
// callback runs, what cancelling and destroying guarantee.
#include <SessionData.h>

#include "StoreTestUtils.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A subscriber that records what it was told, in order, from any thread.
template <class Enum> struct Recorder
{
    std::mutex lock;
    std::vector<Enum> seen;
    void operator()(Enum p)
    {
        const std::lock_guard<std::mutex> guard(lock);
        seen.push_back(p);
    }
    std::vector<Enum> take()
    {
        const std::lock_guard<std::mutex> guard(lock);
        return std::exchange(seen, {});
    }
};

// The rows as the getters show them (a throw as "none"); the returned function tells
// which of them a later state reads differently.
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
TYPED_TEST_SUITE(Notify, AllStores, );

TYPED_TEST(Notify, EachWriteReportsEveryChangedPropertyOnceAndEqualWritesNothing)
{
    using Store = TypeParam;
    using Enum = typename Store::Property;
    Store store;
    Recorder<Enum> seen;
    const ChangeSubscription sub = store.subscribe(std::ref(seen));
    const auto expectReportsOf = [&](const std::function<void(Store&)>& op, const char* what) {
        const auto changedSince = snapshot(store);
        op(store);
        EXPECT_EQ(sorted(seen.take()), sorted(changedSince(store))) << what;
    };

    forEachHeld<Enum>([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        const T next = otherThan(store.template getData<T, Tag::property>());
        for (int n = 0; n < 2; ++n) // the second write is equal: nothing to report
            expectReportsOf([&](Store& s) { s.template setData<T, Tag::property>(next); }, name);
    });

    // A restore, a reset and a clear, each over a store changed in every row.
    Store changed;
    changeEvery<Enum>(changed);
    std::vector<std::pair<const char*, std::function<void(Store&)>>> ops{
        {"restore", [&changed](Store& s) {
             s.deserializeEncrypted(changed.serializeEncrypted());
             s.deserializeUnencrypted(changed.serializeUnencrypted());
         }}};
    if constexpr (std::is_base_of_v<IConfigurationResettable, Store>)
        ops.push_back({"resetData", [](Store& s) { s.resetData(); }});
    if constexpr (kHasClear<Store>)
        ops.push_back({"clear", [](Store& s) { s.clear(); }});
    for (const auto& [what, op] : ops) {
        changeEvery<Enum>(store, changed);
        seen.take();
        expectReportsOf(op, what);
    }
}

// The endpoint URLs follow the current remote type's endpoint (which one: test_commondefs),
// also from none (the getters throw, leaving no lock behind) and back; writing one does
// nothing. A new user-settings handle is a change, entries written into the set are not.
TEST(NotifyDerived, EndpointUrlsFollowTheRemoteTypeAndUserSettingsTheHandle)
{
    using P = AppProperty;
    using ResourcesDefs::RemoteType;
    auto app = std::make_shared<AppRuntimeData>();
    Recorder<P> seen;
    const ChangeSubscription sub = app->subscribe(std::ref(seen));
    const std::vector<P> urlsAndType =
        sorted(std::vector<P>{P::CurrentRemoteType, P::AnalyticsURL, P::WhatsNewURL, P::PasswordResetURL,
                              P::DiscoverMobileOfferURL});
    app->setData<Endpoints, P::EndpointDirectory>(
        Endpoints{EndpointData(RemoteType::Staging, "ws", "a", "w", "p", "d")});
    EXPECT_EQ(seen.take(), std::vector<P>{P::EndpointDirectory});
    EXPECT_THROW((app->getData<QString, P::AnalyticsURL>()), std::bad_optional_access);
    // From another thread, so that a lock left behind by the throw shows as a hang.
    auto written = std::async(std::launch::async,
                              [app] { app->setData<RemoteType, P::CurrentRemoteType>(RemoteType::Staging); });
    ASSERT_EQ(written.wait_for(30s), std::future_status::ready) << "the writer is still waiting for the lock";
    EXPECT_EQ(sorted(seen.take()), urlsAndType);
    app->setData<QString, P::AnalyticsURL>(QStringLiteral("ignored"));
    EXPECT_EQ(seen.take(), std::vector<P>{}) << "writing a derived property changes nothing";
    EXPECT_EQ((app->getData<QString, P::AnalyticsURL>()), "a");
    app->setData<RemoteType, P::CurrentRemoteType>(RemoteType::Test);
    EXPECT_EQ(sorted(seen.take()), urlsAndType) << "back to no endpoint";

    const DataSets::DataSet set = setOf({{QStringLiteral("theme"), QStringLiteral("dark")}});
    app->setData<DataSets::DataSet, P::UserSettings>(set);
    EXPECT_EQ(seen.take(), std::vector<P>{P::UserSettings});
    DataSets::Impl::setDataValue(*set, QStringLiteral("theme"), QStringLiteral("light"));
    app->setData<DataSets::DataSet, P::UserSettings>(set);
    EXPECT_EQ(seen.take(), std::vector<P>{});
}

// Callbacks run without the lock: one may write its own store, reported after the cause.
TEST(NotifyThreads, CallbacksMayWriteTheirStore)
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
    desk.setData<QString, P::Host>(QStringLiteral("other"));
    EXPECT_EQ(order.size(), 2u) << "cancelled from inside: nothing more";
}

// A throwing subscriber, direct or on a context's thread, never breaks the write: it
// returns normally, every other subscriber is told (and the thrower of its other
// properties), and the exception reaches the client's handler on the thread where it
// was thrown; without a handler, or from a handler that throws itself, it is dropped.
TEST(NotifyThreads, AThrowingSubscriberNeverBreaksAWrite)
{
    using P = DeskProperty;
    struct Caught
    {
        std::mutex lock;
        std::vector<std::pair<std::string, QThread*>> seen;
    } caught;
    ChangeSubscription::setExceptionHandler([&caught](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            const std::lock_guard<std::mutex> guard(caught.lock);
            caught.seen.emplace_back(x.what(), QThread::currentThread());
        }
    });
    DeskRuntimeData desk;
    Recorder<P> told;
    Recorder<P> thrower;
    ChangeSubscription throwing = desk.subscribe([&thrower](P p) {
        thrower(p);
        throw std::runtime_error(p == P::Host ? "host" : "other");
    });
    const ChangeSubscription other = desk.subscribe(std::ref(told));
    QThread loop;
    loop.start();
    QObject there;
    there.moveToThread(&loop);
    std::promise<void> queuedRan;
    ChangeSubscription queued = desk.subscribe(&there, [&queuedRan](P) {
        queuedRan.set_value();
        throw std::logic_error("queued");
    });

    EXPECT_NO_THROW((desk.setData<QString, P::Host>(QStringLiteral("h"))));
    EXPECT_EQ((desk.getData<QString, P::Host>()), QStringLiteral("h"));
    EXPECT_EQ(told.take(), std::vector<P>{P::Host});
    EXPECT_EQ(queuedRan.get_future().wait_for(10s), std::future_status::ready);
    queued.cancel(); // waits for the callback, and so for its handler
    loop.quit();
    loop.wait();
    {
        const std::lock_guard<std::mutex> guard(caught.lock);
        ASSERT_EQ(caught.seen.size(), 2u);
        EXPECT_EQ(caught.seen[0].first, "host");
        EXPECT_EQ(caught.seen[0].second, QThread::currentThread());
        EXPECT_EQ(caught.seen[1].first, "queued");
        EXPECT_EQ(caught.seen[1].second, &loop);
    }

    // A reset reports several properties: the thrower is told of each one.
    desk.setData<unsigned short, P::Port>(5061);
    thrower.take();
    told.take();
    EXPECT_NO_THROW(desk.resetData());
    EXPECT_EQ(thrower.take(), (std::vector<P>{P::Host, P::Port}));
    EXPECT_EQ(told.take(), (std::vector<P>{P::Host, P::Port}));

    ChangeSubscription::setExceptionHandler([](std::exception_ptr e) { std::rethrow_exception(e); });
    EXPECT_NO_THROW((desk.setData<bool, P::Tls>(true)));
    ChangeSubscription::setExceptionHandler(nullptr);
    EXPECT_NO_THROW((desk.setData<bool, P::Tls>(false)));
    EXPECT_FALSE((desk.getData<bool, P::Tls>()));
    EXPECT_EQ(told.take(), (std::vector<P>{P::Tls, P::Tls}));
}

// A context subscriber is called on the context's thread, in the order one writer made
// its changes; with a context on the writing thread, within the write.
TEST(NotifyThreads, ContextDeliveryLandsOnTheContextThreadInOrder)
{
    using P = DeskProperty;
    DeskRuntimeData desk;
    QThread worker;
    worker.start();
    QObject there;
    there.moveToThread(&worker);
    Recorder<P> seen;
    ChangeSubscription sub = desk.subscribe(&there, [&worker, &seen](P p) {
        if (QThread::currentThread() == &worker)
            seen(p);
    });
    std::vector<P> written;
    for (int i = 1; i <= 100; ++i) {
        desk.setData<QString, P::Host>(QString::number(i));
        desk.setData<unsigned short, P::Port>(static_cast<unsigned short>(i));
        written.insert(written.end(), {P::Host, P::Port});
    }
    std::vector<P> delivered; // gathered under the recorder's lock, which the sanitizer sees
    for (const auto end = std::chrono::steady_clock::now() + 10s;
         delivered.size() < written.size() && std::chrono::steady_clock::now() < end;) {
        const std::vector<P> more = seen.take();
        delivered.insert(delivered.end(), more.begin(), more.end());
    }
    worker.quit();
    worker.wait();
    EXPECT_EQ(delivered, written);

    QObject here;
    const ChangeSubscription local = desk.subscribe(&here, std::ref(seen));
    desk.setData<bool, P::Enabled>(true);
    EXPECT_EQ(seen.take(), std::vector<P>{P::Enabled});
}

// Once cancel() returns no callback runs (a running one is waited for), so what the
// callback touches may be freed at once: AddressSanitizer would see a late one.
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
        ChangeSubscription sub = chat.subscribe([&late, &cancelled, c = counter.get()](P) {
            std::this_thread::sleep_for(20us); // still running when cancel() comes
            c->fetch_add(1);
            late += cancelled.load();
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

// A context destroyed with deliveries queued: none runs, the subscription ends. A copy
// of a store starts without subscribers; handles outlive their store.
TEST(NotifyLifetime, ContextsStoresAndHandles)
{
    using P = PhoneProperty;
    ChangeSubscription outliving;
    {
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
        phone.setData<int, P::HostPort>(0);
        QCoreApplication::processEvents();
        EXPECT_EQ(calls.load(), 0);
        EXPECT_FALSE(sub.isActive());

        outliving = phone.subscribe([&calls](P) { ++calls; });
        PhoneRuntimeData(phone).setData<int, P::HostPort>(5);
        EXPECT_EQ(calls.load(), 0) << "a copy has no subscribers";
    }
    EXPECT_TRUE(outliving.isActive());
    outliving.cancel(); // the store is gone: nothing to do
    EXPECT_FALSE(outliving.isActive());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
