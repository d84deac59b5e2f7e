// SPDX-License-Identifier: MIT
#pragma once

#include <ChangeHub.h>
#include <GuardedRecord.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

// Which properties of a store differ between two states of its record, one bit per
// property number. Specialized for each record by the store's source (from its
// property table, see StoreProperties.h).
template <class Record> struct RecordChanges;

// A guarded record that tells subscribers what each write changed.
//
// Without a subscriber a write costs one atomic load (of the hub pointer, then of its
// subscriber count once a hub exists) more than the guarded record's own; the hub is
// created by the first subscribe(). With subscribers, a
// write keeps a copy of the record as it was, compares the two states property by
// property under the lock, and hands the changed set to the hub once the lock is
// released, so callbacks may call back into the store.
//
// Copies and moves carry the record only: subscribers stay with the object they
// subscribed to, and nothing is reported for the assignment itself.
template <class Record> class ObservedRecord
{
public:
    ObservedRecord() = default;
    // A new record that `init` prepares before anyone can reach it; nothing is reported.
    template <class F>
    ObservedRecord(std::in_place_t, F&& init)
        : m_guarded(std::in_place, std::forward<F>(init))
    {}
    // Copies and moves carry the record only, as the class says.
    //@{
    ObservedRecord(const ObservedRecord& other)
        : m_guarded(other.m_guarded)
    {}
    ObservedRecord(ObservedRecord&& other) noexcept
        : m_guarded(std::move(other.m_guarded))
    {}
    ObservedRecord& operator=(const ObservedRecord& other)
    {
        if (this != &other)
            m_guarded = other.m_guarded;
        return *this;
    }
    ObservedRecord& operator=(ObservedRecord&& other) noexcept
    {
        m_guarded = std::move(other.m_guarded);
        return *this;
    }
    //@}
    ~ObservedRecord() = default;

    // Runs `f` on the record under the shared lock and returns its result by value.
    template <class F> auto read(F&& f) const { return m_guarded.read(std::forward<F>(f)); }

    // Runs `f` on the record under the exclusive lock. If `f` throws, what it changed
    // before is still reported, then the exception reaches the caller.
    template <class F> void write(F&& f)
    {
        if (quiet()) {
            m_guarded.write(std::forward<F>(f));
            return;
        }
        std::shared_ptr<ChangeHub> hub;
        std::uint64_t changed = 0;
        std::exception_ptr failure;
        m_guarded.write([&](Record& r) SESSIONCONFIG_NO_THREAD_SAFETY_ANALYSIS {
            hub = m_hub;
            const Record before(r);
            try {
                f(r);
            } catch (...) {
                failure = std::current_exception();
            }
            changed = RecordChanges<Record>::between(before, r);
        });
        finish(hub, changed, failure);
    }

    // Replaces the record with a default-constructed one under the exclusive lock and
    // reports the properties that changed.
    void replaceWithDefault()
    {
        if (quiet()) {
            m_guarded.replaceWithDefault();
            return;
        }
        std::shared_ptr<ChangeHub> hub;
        std::uint64_t changed = 0;
        m_guarded.replaceWithDefault([&](const Record& before, const Record& after)
                                         SESSIONCONFIG_NO_THREAD_SAFETY_ANALYSIS {
                                             hub = m_hub;
                                             changed = RecordChanges<Record>::between(before, after);
                                         });
        finish(hub, changed, nullptr);
    }

    ChangeSubscription subscribe(QObject* context, std::function<void(int)> onChange)
    {
        std::shared_ptr<ChangeHub> hub;
        // The hub is created, and read by writers, under the record's exclusive lock.
        m_guarded.write([&](Record&) SESSIONCONFIG_NO_THREAD_SAFETY_ANALYSIS {
            if (!m_hub) {
                m_hub = std::make_shared<ChangeHub>();
                m_seen.store(m_hub.get(), std::memory_order_release);
            }
            hub = m_hub;
        });
        return hub->subscribe(context, std::move(onChange));
    }

    // False only for an object whose record was moved away.
    bool holdsRecord() const noexcept { return m_guarded.holdsRecord(); }

private:
    bool quiet() const noexcept
    {
        // Acquire, so that a hub seen here is seen whole (on x86 as cheap as relaxed).
        const ChangeHub* hub = m_seen.load(std::memory_order_acquire);
        return !hub || hub->idle();
    }

    static void finish(const std::shared_ptr<ChangeHub>& hub, std::uint64_t changed,
                       const std::exception_ptr& failure)
    {
        if (hub && changed)
            hub->publish(changed);
        if (failure)
            std::rethrow_exception(failure);
    }

    GuardedRecord<Record> m_guarded;
    // Set once, and read by writers, under the record's exclusive lock: only inside the
    // callbacks that write() and replaceWithDefault() of the guarded record run under
    // it. The compiler does not follow a lock into a callback, so those callbacks are
    // left out of its checks; the annotation keeps every other use out.
    std::shared_ptr<ChangeHub> m_hub SESSIONCONFIG_GUARDED_BY(m_guarded.capability());
    std::atomic<const ChangeHub*> m_seen{nullptr}; // the same hub, for the unlocked check
};
