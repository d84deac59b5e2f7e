// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <ChangeSubscription.h>
#include <ThreadSafety.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QObject;
class ChangeListener;

// The subscribers of one store, and the delivery of a write's changes to them.
// Properties travel as their numbers, one bit each in a 64-bit set; the store turns
// them back into its property enumeration.
//
// A hub is shared: the store holds it, a write being delivered holds it, and the
// subscriptions only observe it, so a store can go while its handles live on.
class SESSIONCONFIG_EXPORT ChangeHub : public std::enable_shared_from_this<ChangeHub>
{
public:
    ChangeHub();
    ~ChangeHub();
    ChangeHub(const ChangeHub&) = delete;
    ChangeHub& operator=(const ChangeHub&) = delete;

    // True while nobody listens: the one check a write makes before doing any work
    // for its subscribers.
    bool idle() const noexcept { return m_count.load(std::memory_order_relaxed) == 0; }

    // Without a context, `onChange` runs on the writing thread; with one, on the
    // context's thread (directly when that is the writer, queued otherwise) until the
    // context is destroyed.
    ChangeSubscription subscribe(QObject* context, std::function<void(int)> onChange)
        SESSIONCONFIG_EXCLUDES(m_lock);

    // Tells every subscriber of the properties in `changed`, lowest number first. Runs
    // on the writer's thread with no store lock held. Never throws: an exception from
    // a callback goes to ChangeSubscription's exception handler, and the others are
    // still told.
    void publish(std::uint64_t changed) const noexcept SESSIONCONFIG_EXCLUDES(m_lock);

    // Drops a listener that was cancelled or whose context went away.
    void remove(const ChangeListener* listener) SESSIONCONFIG_EXCLUDES(m_lock);

private:
    using Listeners = std::vector<std::shared_ptr<ChangeListener>>;

    std::atomic<int> m_count{0};
    mutable SessionConfigSync::Mutex m_lock; // never held while a callback runs
    std::shared_ptr<const Listeners> m_listeners SESSIONCONFIG_GUARDED_BY(m_lock);
};
