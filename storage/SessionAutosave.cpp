// SPDX-License-Identifier: MIT
#include "SessionAutosave.h"

#include <ChangeHub.h>
#include <DataSets.h>
#include <SessionData.h>

#include <QObject>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What the user-settings sets looked like at one reading: each set reached from the
// root, in walk order, with its change counter. Any change in the tree changes it: a
// store into a set bumps that set's counter, and nesting or dropping a set is a store
// into its parent.
using SetReading = std::vector<std::pair<const DataSets::Impl::DataSetImpl*, std::uint64_t>>;

SetReading readSets(const DataSets::DataSet& root)
{
    SetReading reading;
    if (!root)
        return reading;
    std::vector<DataSets::DataSet> pending{root};
    std::unordered_set<const DataSets::Impl::DataSetImpl*> seen;
    while (!pending.empty()) {
        DataSets::DataSet set = std::move(pending.back());
        pending.pop_back();
        if (!seen.insert(set.get()).second)
            continue;
        // The counter before the listing: a set nested after it is seen, or bumps it.
        reading.emplace_back(set.get(), set->changeCount());
        std::vector<DataSets::DataSet> nested = set->nestedSets();
        pending.insert(pending.end(), std::make_move_iterator(nested.rbegin()),
                       std::make_move_iterator(nested.rend()));
    }
    return reading;
}

} // namespace

struct SessionAutosave::Impl
{
    Impl(SessionStore& store, const SessionStore::Lock& lock, const SessionData& session, Options options)
        : store(store)
        , lock(lock)
        , session(session)
        , options(std::move(options))
        , pause(this->options.firstRetry)
    {}

    SessionStore& store;
    const SessionStore::Lock& lock;
    const SessionData session; // shares the client's stores
    const Options options;

    // Set by every writer that finds it clear: a burst's later writes read it and
    // leave at once, so the cost of being watched is one load per write.
    std::atomic<bool> dirty{false};

    std::mutex mutex;               // never held while storing or telling anyone
    std::condition_variable wake;   // the autosave's thread waits here
    std::condition_variable served; // flush() waits here
    bool pending = false;           // a change not yet stored (or whose store failed)
    Clock::time_point firstChange;  // of the changes pending
    bool failing = false;           // the last store failed: wait `pause` before the next
    Clock::time_point retryAt;
    std::chrono::milliseconds pause;
    std::uint64_t flushWanted = 0; // tickets: flush() n returns once flushServed >= n
    std::uint64_t flushServed = 0;
    SessionStore::Stored flushResult;
    bool stopping = false;
    std::uint64_t generation = 0; // stored now
    std::uint64_t stores = 0;

    // Only the autosave's thread touches these.
    SetReading settingsSeen;
    Clock::time_point lastReading;

    // Outcomes on their way to onStored: the hub posts one delivery per store, each
    // takes what has arrived.
    std::shared_ptr<ChangeHub> outcomes = std::make_shared<ChangeHub>();
    ChangeSubscription outcomeSubscription;
    std::mutex outcomeMutex;
    std::deque<SessionStore::Stored> outcomeQueue;
    std::atomic<bool> closing{false}; // the destructor's store is nobody's news

    SessionStore::Stored prepared;
    std::vector<ChangeSubscription> subscriptions;
    std::thread thread;

    // On the writing thread, right after a write of any store.
    void noteChange()
    {
        if (dirty.load(std::memory_order_relaxed) || dirty.exchange(true, std::memory_order_acq_rel))
            return;
        {
            const std::lock_guard<std::mutex> guard(mutex);
            if (!pending) {
                pending = true;
                firstChange = Clock::now();
            }
        }
        wake.notify_one();
    }

    template <class Store> void watch(const std::weak_ptr<Store>& weak)
    {
        if (const std::shared_ptr<Store> s = weak.lock())
            subscriptions.push_back(s->subscribe([this](typename Store::Property) { noteChange(); }));
    }

    // True when the user-settings sets changed since the last reading.
    bool settingsChanged()
    {
        DataSets::DataSet root;
        if (const std::shared_ptr<AppRuntimeData> app = session.getAppSessionData().lock())
            root = app->getData<DataSets::DataSet, AppProperty::UserSettings>();
        SetReading now = readSets(root);
        const bool changed = now != settingsSeen;
        settingsSeen = std::move(now);
        return changed;
    }

    void tell(const SessionStore::Stored& stored)
    {
        if (!options.onStored || closing.load(std::memory_order_relaxed) || !outcomeSubscription.isActive())
            return;
        {
            const std::lock_guard<std::mutex> guard(outcomeMutex);
            outcomeQueue.push_back(stored);
        }
        outcomes->publish(1);
    }

    void deliverOutcomes()
    {
        std::deque<SessionStore::Stored> arrived;
        {
            const std::lock_guard<std::mutex> guard(outcomeMutex);
            arrived.swap(outcomeQueue);
        }
        for (const SessionStore::Stored& stored : arrived)
            options.onStored(stored);
    }

    // One store of what is pending; called and returns with `guard` held.
    SessionStore::Stored storeNow(std::unique_lock<std::mutex>& guard)
    {
        const Clock::time_point changedAt = firstChange;
        pending = false;
        dirty.store(false, std::memory_order_release);
        guard.unlock();
        // A change from here on is noted afresh (a store's or a set's) and makes the
        // next store; one that this store also catches costs a store more, never one less.
        // Dated before it starts: a change the reading misses is at most this old.
        lastReading = Clock::now();
        settingsChanged();
        SessionStore::Stored stored;
        try {
            stored = store.store(lock, session);
        } catch (const std::exception& e) {
            // Out of memory, say: a failed store like any other, tried again later,
            // rather than the end of the process.
            stored.error = {
                SessionStore::ErrorKind::Io,
                QStringLiteral("the session cannot be stored: %1").arg(QString::fromLocal8Bit(e.what()))};
        }
        guard.lock();
        ++stores;
        if (stored.error) {
            failing = true;
            retryAt = Clock::now() + pause;
            pause = std::min(pause * 2, options.longestRetry);
            firstChange = pending ? std::min(firstChange, changedAt) : changedAt;
            pending = true;
            dirty.store(true, std::memory_order_release);
        } else {
            failing = false;
            pause = options.firstRetry;
            generation = stored.generation;
        }
        guard.unlock();
        tell(stored);
        guard.lock();
        return stored;
    }

    void run()
    {
        std::unique_lock<std::mutex> guard(mutex);
        // Half the delay between readings of the sets, so that one found changed is
        // stored at most `delay` after the change: it is dated to the reading before.
        const auto interval = std::max<Clock::duration>(options.delay / 2, std::chrono::milliseconds(1));
        lastReading = Clock::now();
        for (;;) {
            if (flushServed < flushWanted) {
                const std::uint64_t ticket = flushWanted;
                const Clock::time_point readAt = Clock::now();
                guard.unlock();
                const bool setsChanged = settingsChanged();
                guard.lock();
                lastReading = readAt;
                SessionStore::Stored result;
                if (setsChanged || pending)
                    result = storeNow(guard);
                else
                    result.generation = generation;
                flushResult = std::move(result);
                flushServed = ticket;
                served.notify_all();
                continue;
            }
            if (stopping)
                return;
            const Clock::time_point now = Clock::now();
            Clock::time_point due = Clock::time_point::max();
            if (pending)
                due = failing ? std::max(retryAt, firstChange + options.delay) : firstChange + options.delay;
            if (now >= due) {
                storeNow(guard);
                continue;
            }
            const Clock::time_point nextReading = lastReading + interval;
            if (now >= nextReading) {
                const Clock::time_point previous = lastReading;
                guard.unlock();
                const bool changed = settingsChanged();
                guard.lock();
                lastReading = now;
                if (changed && !pending) {
                    pending = true;
                    firstChange = previous;
                    dirty.store(true, std::memory_order_release);
                }
                continue;
            }
            wake.wait_until(guard, std::min(due, nextReading));
        }
    }
};

// Out of line, so that the constructor's default argument can name it inside the class.
SessionAutosave::Options::Options() = default;

SessionAutosave::SessionAutosave(SessionStore& store, const SessionStore::Lock& lock, SessionData& session,
                                 Options options)
    : d(std::make_unique<Impl>(store, lock, session, std::move(options)))
{
    if (d->options.onStored)
        d->outcomeSubscription =
            d->outcomes->subscribe(d->options.context, [impl = d.get()](int) { impl->deliverOutcomes(); });
    d->prepared = store.prepareStore(lock);
    if (d->prepared.error) {
        d->tell(d->prepared);
        return;
    }
    d->generation = d->prepared.generation;
    d->settingsChanged(); // the sets as restored are stored already
    d->watch(session.getAppSessionData());
    d->watch(session.getCallFlowSessionData());
    d->watch(session.getChatSessionData());
    d->watch(session.getPhoneSessionData());
    d->watch(session.getUserRuntimeData());
    d->watch(session.getDeskSessionData());
    d->thread = std::thread([impl = d.get()] { impl->run(); });
}

SessionAutosave::~SessionAutosave()
{
    // No change is noted any more; what was written until now is stored by the flush.
    d->subscriptions.clear();
    d->closing = true;
    if (d->thread.joinable()) {
        flush();
        {
            const std::lock_guard<std::mutex> guard(d->mutex);
            d->stopping = true;
        }
        d->wake.notify_one();
        d->thread.join();
    }
    d->outcomeSubscription.cancel();
}

SessionStore::Stored SessionAutosave::flush()
{
    if (d->prepared.error)
        return d->prepared;
    std::unique_lock<std::mutex> guard(d->mutex);
    const std::uint64_t ticket = ++d->flushWanted;
    d->wake.notify_one();
    d->served.wait(guard, [&] { return d->flushServed >= ticket; });
    return d->flushResult;
}

std::uint64_t SessionAutosave::storeCount() const
{
    const std::lock_guard<std::mutex> guard(d->mutex);
    return d->stores;
}
