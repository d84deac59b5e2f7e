// The record guard every store is built on: ownership, copy and move, and locking.
#include <DeskRuntimeData.h>
#include <GuardedRecord.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

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

using namespace std::chrono_literals;

} // namespace

TEST(GuardedRecord, CopiesAreIndependentAndMovesHandOver)
{
    {
        GuardedRecord<Counted> a;
        write(a, 1);
        GuardedRecord<Counted> b(a);
        write(b, 2);
        EXPECT_EQ(read(a), 1);
        EXPECT_EQ(read(b), 2);

        GuardedRecord<Counted> c;
        c = a;
        write(a, 3);
        EXPECT_EQ(read(c), 1);
        EXPECT_EQ(Counted::alive, 3) << "copy assignment released the old record";

        GuardedRecord<Counted> moved(std::move(b));
        EXPECT_EQ(read(moved), 2);
        EXPECT_FALSE(b.holdsRecord());
        b = c; // a moved-from guard may be assigned to again
        EXPECT_EQ(read(b), 1);

        c = std::move(moved);
        EXPECT_EQ(read(c), 2);
        EXPECT_FALSE(moved.holdsRecord());
    }
    EXPECT_EQ(Counted::alive, 0) << "every record released exactly once";
}

TEST(GuardedRecord, SelfAssignmentKeepsTheRecord)
{
    GuardedRecord<Counted> a;
    write(a, 7);
    GuardedRecord<Counted>& alias = a;
    a = alias;
    EXPECT_EQ(read(a), 7);
    a = std::move(alias);
    ASSERT_TRUE(a.holdsRecord());
    EXPECT_EQ(read(a), 7);
}

TEST(GuardedRecord, ReplaceWithDefaultDropsEveryValue)
{
    GuardedRecord<Counted> a;
    write(a, 5);
    a.replaceWithDefault();
    EXPECT_EQ(read(a), 0);
    EXPECT_EQ(Counted::alive, 1);
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

TEST(PropertyTable, NamesAndRowsComeFromTheOneTable)
{
    EXPECT_STREQ(propertyName(DeskProperty::Host), "Host");
    EXPECT_STREQ(propertyName(DeskProperty::Enabled), "Enabled");
    EXPECT_EQ(propertyName(static_cast<DeskProperty>(42)), nullptr);
    EXPECT_EQ(propertyFromName<DeskProperty>("SIPDebugEnabled"), DeskProperty::SIPDebugEnabled);
    EXPECT_FALSE(propertyFromName<DeskProperty>("host").has_value()) << "names are case-sensitive";

    // The compile-time walk hands over each row's type and number, so a caller can
    // set properties by name without a hand-written switch.
    DeskRuntimeData desk;
    int rows = 0;
    PropertyTable<DeskProperty>::forEach([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        ++rows;
        if constexpr (std::is_same_v<typename Tag::Type, bool>) {
            if (std::string_view(name) == "Tls")
                desk.setData<bool, Tag::property>(true);
        }
    });
    EXPECT_EQ(rows, 5);
    EXPECT_TRUE((desk.getData<bool, DeskProperty::Tls>()));
}
