// The record guard every store is built on (ownership, copy and move, locking), the
// property tables, and what copying and moving do to the stores.
#include <GuardedRecord.h>
#include <SessionData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <type_traits>

namespace {

struct Counted
{
    static inline int alive = 0;
    int value = 0;
    Counted() { ++alive; }
    Counted(const Counted& o)
        : value(o.value)
    {
        ++alive;
    }
    Counted& operator=(const Counted&) = default;
    virtual ~Counted() { --alive; }
};

int read(const GuardedRecord<Counted>& g)
{
    return g.read([](const Counted& r) { return r.value; });
}

void write(GuardedRecord<Counted>& g, int v)
{
    g.write([v](Counted& r) { r.value = v; });
}

// A copy holds the same values and goes its own way; a move hands the values over.
template <class Enum, class Store> void expectCopiesIndependentAndMovesHandOver()
{
    Store source, twin;
    changeEvery<Enum>(source);
    changeEvery<Enum>(twin);

    Store copy(source), assigned;
    assigned = source;
    for (Store* c : {&copy, &assigned}) {
        EXPECT_EQ(differing<Enum>(*c, source), Names{});
        changeEvery<Enum>(*c, source);
        EXPECT_EQ(differing<Enum>(*c, source), namesOf(allHeld<Enum>()));
    }
    EXPECT_EQ(differing<Enum>(source, twin), Names{}) << "the source kept its values";

    Store moved(std::move(source));
    EXPECT_EQ(differing<Enum>(moved, twin), Names{});
    Store target;
    target = std::move(moved);
    EXPECT_EQ(differing<Enum>(target, twin), Names{});
    source = twin; // a moved-from store may be assigned again
    EXPECT_EQ(differing<Enum>(source, twin), Names{});
}

using namespace std::chrono_literals;

} // namespace

static_assert(!std::is_copy_constructible_v<ChatRuntimeData> &&
              !std::is_move_constructible_v<ChatRuntimeData>);
static_assert(!std::is_copy_constructible_v<DeskRuntimeData> &&
              !std::is_move_constructible_v<DeskRuntimeData>);

// What copies and moves hold is checked for every store below; here, ownership.
TEST(GuardedRecord, EachRecordIsReleasedOnceAndSelfAssignmentKeepsIt)
{
    {
        GuardedRecord<Counted> a, c;
        write(a, 1);
        GuardedRecord<Counted> b(a);
        c = a;
        EXPECT_EQ(Counted::alive, 3) << "copy assignment released the old record";
        GuardedRecord<Counted> moved(std::move(b));
        EXPECT_FALSE(b.holdsRecord());
        b = c; // a moved-from guard may be assigned to again
        c = std::move(moved);
        EXPECT_FALSE(moved.holdsRecord());
        EXPECT_EQ(Counted::alive, 3);

        GuardedRecord<Counted>& alias = c;
        c = alias;
        c = std::move(alias);
        ASSERT_TRUE(c.holdsRecord()) << "assigning a guard to itself keeps its record";
        EXPECT_EQ(read(c), 1);
        c.replaceWithDefault();
        EXPECT_EQ(read(c), 0);
        EXPECT_EQ(Counted::alive, 3);
    }
    EXPECT_EQ(Counted::alive, 0) << "every record released exactly once";
}

TEST(GuardedRecord, ReadersShareTheLockAndAWriterWaitsForThem)
{
    GuardedRecord<Counted> g;
    std::atomic<int> inside{0};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();

    auto reader = [&] {
        return g.read([&](const Counted&) {
            ++inside;
            released.wait();
            return 0;
        });
    };
    auto r1 = std::async(std::launch::async, reader);
    auto r2 = std::async(std::launch::async, reader);
    // Both readers get in although neither has left: the lock is shared.
    for (int i = 0; i < 500 && inside.load() < 2; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(inside.load(), 2);

    std::atomic<bool> written{false};
    auto writer = std::async(std::launch::async, [&] {
        g.write([&](Counted& r) {
            r.value = 1;
            written = true;
        });
    });
    EXPECT_EQ(writer.wait_for(100ms), std::future_status::timeout) << "a writer waits for the readers";
    EXPECT_FALSE(written.load());

    release.set_value();
    r1.get();
    r2.get();
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read(g), 1);
}

TEST(GuardedRecord, AnExceptionInsideReleasesTheLock)
{
    GuardedRecord<Counted> g;
    EXPECT_THROW(g.read([](const Counted&) -> int { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_THROW(g.write([](Counted&) { throw std::runtime_error("x"); }), std::runtime_error);
    auto later = std::async(std::launch::async, [&] { write(g, 4); });
    ASSERT_EQ(later.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read(g), 4);
}

TEST(PropertyTable, NamesNumbersAndKindsComeFromTheOneTable)
{
    EXPECT_STREQ(propertyName(DeskProperty::Host), "Host");
    EXPECT_STREQ(propertyName(AppProperty::AppTimestamp), "AppTimestamp");
    EXPECT_EQ(propertyName(static_cast<AppProperty>(21)), nullptr) << "21 is unassigned";
    EXPECT_EQ(propertyFromName<DeskProperty>("SIPDebugEnabled"), DeskProperty::SIPDebugEnabled);
    EXPECT_FALSE(propertyFromName<DeskProperty>("host").has_value()) << "names are case-sensitive";

    // The walk hands over each row's kind, in table order.
    Names derived;
    SessionConfigDetail::PropertyTable<AppProperty>::forEach([&](auto tag, const char* name) {
        if (decltype(tag)::derived)
            derived.push_back(name);
    });
    EXPECT_EQ(derived, (Names{"AnalyticsURL", "WhatsNewURL", "PasswordResetURL", "DiscoverMobileOfferURL"}));
    EXPECT_EQ(allHeld<CallFlowProperty>().size(), 28u) << "every row but the whole record";
}

TEST(CopyableStores, CopiesAreIndependentAndMovesHandTheRecordOver)
{
    expectCopiesIndependentAndMovesHandOver<PhoneProperty, PhoneRuntimeData>();
    expectCopiesIndependentAndMovesHandOver<CallFlowProperty, CallFlowRuntimeData>();
    expectCopiesIndependentAndMovesHandOver<UserProperty, UserRuntimeData>();
    expectCopiesIndependentAndMovesHandOver<AppProperty, AppRuntimeData>();
}
