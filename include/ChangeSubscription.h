// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <exception>
#include <functional>
#include <memory>

class ChangeListener;

// The handle of one subscription to a store's changes (see a store's subscribe()).
//
// Move-only; a default-constructed handle is inactive. Once cancel() or the handle's
// destruction returns, the callback never starts again, and deliveries still queued
// for a context are dropped. A callback running on another thread at that moment is
// waited for; cancel() called from inside the callback itself returns at once, and
// the callback ends normally.
//
// The handle does not keep the store alive: once the store is destroyed, cancelling
// has nothing left to do. A destroyed context ends the subscription as cancel() would
// (isActive() then says false).
//
// A callback should not throw. If one does, the write that caused it still completes
// and returns normally, every other subscriber (and the same subscriber's other
// properties) is still told, and the exception is handed to the handler set with
// setExceptionHandler(), on the thread where the callback ran; without a handler it
// is dropped.
class SESSIONCONFIG_EXPORT ChangeSubscription
{
public:
    ChangeSubscription();
    // Takes over `other`'s subscription; `other` is left inactive.
    ChangeSubscription(ChangeSubscription&& other) noexcept;
    // Cancels the subscription this handle held, then takes over `other`'s.
    ChangeSubscription& operator=(ChangeSubscription&& other) noexcept;
    ChangeSubscription(const ChangeSubscription&) = delete;
    ChangeSubscription& operator=(const ChangeSubscription&) = delete;
    ~ChangeSubscription();

    // Ends the subscription; idempotent.
    void cancel();
    // False once cancelled, moved from, default-constructed, or its context destroyed.
    bool isActive() const;

    // Sets the handler, process-wide, that receives every exception a subscriber's
    // callback throws, on the thread where it was thrown; an empty function drops them
    // (the default). The handler runs with no store lock held; what it throws in turn
    // is dropped. Thread-safe; a callback running meanwhile may still see the old one.
    static void setExceptionHandler(std::function<void(std::exception_ptr)> handler);

private:
    friend class ChangeHub;
    explicit ChangeSubscription(std::shared_ptr<ChangeListener> listener);

    std::shared_ptr<ChangeListener> m_listener;
};
