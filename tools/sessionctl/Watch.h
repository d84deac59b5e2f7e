// SPDX-License-Identifier: MIT
#pragma once

// The main thread's view of a session's changes while provisioning runs: it subscribes
// to all six stores with a context on the calling thread, so every change lands on
// that thread, counts what lands and, when asked, prints each as "phone.SipAccount".
// Only property names are shown, never a value, so no password or token can appear.

#include <ChangeSubscription.h>

#include <QObject>
#include <QTextStream>

#include <vector>

class SessionData;

namespace sessionctl {

class ChangeWatch
{
public:
    // `echo` null: count only.
    ChangeWatch(const SessionData& session, QTextStream* echo);
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    // Runs the deliveries that other threads queued for this one.
    void deliver();
    long received() const { return m_received; }

private:
    void landed(const char* domain, const char* property);

    QTextStream* const m_echo;
    long m_received = 0;
    QObject m_context; // lives on the constructing thread; declared before the handles
    std::vector<ChangeSubscription> m_subscriptions;
};

} // namespace sessionctl
