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

TEST(GuardedRecord, AnExceptionInsideReleasesTheLock)
{
    GuardedRecord<Counted> g;
    EXPECT_THROW(g.read([](const Counted&) -> int { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_THROW(g.write([](Counted&) { throw std::runtime_error("x"); }), std::runtime_error);
    auto later = std::async(std::launch::async, [&] { write(g, 4); });
    ASSERT_EQ(later.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read(g), 4);
}

TEST(CopyableStores, CopiesAreIndependentAndMovesHandTheRecordOver)
{
    expectCopiesIndependentAndMovesHandOver<PhoneProperty, PhoneRuntimeData>();
    expectCopiesIndependentAndMovesHandOver<CallFlowProperty, CallFlowRuntimeData>();
    expectCopiesIndependentAndMovesHandOver<UserProperty, UserRuntimeData>();
    expectCopiesIndependentAndMovesHandOver<AppProperty, AppRuntimeData>();
}
