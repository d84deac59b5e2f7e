// SPDX-License-Identifier: MIT
#pragma once

// sessionctl's side of the control channel (ControlProtocol.h): a running client
// that holds the state directory is asked first, so that set, reset and get reach
// its session at once instead of waiting for its lock.

#include "ControlProtocol.h"

#include <QByteArray>

#include <optional>

namespace sessionctl {

class LiveClient
{
public:
    // Connects to the client holding `stateDirectory`; isRunning() says whether one
    // answered. No socket, or one left by a client that died, is no client.
    explicit LiveClient(const QByteArray& stateDirectory);
    ~LiveClient();
    LiveClient(const LiveClient&) = delete;
    LiveClient& operator=(const LiveClient&) = delete;

    bool isRunning() const { return m_fd >= 0; }

    // Sends `request` and reads the reply. Throws Failure (I/O) when the client
    // does not answer within a few seconds or answers nonsense.
    control::Reply ask(const control::Request& request);
    // The next line of a watch; nothing once the client has gone. Waits as long as it takes.
    std::optional<control::Reply> next();
    // From now on SIGINT and SIGTERM end next() (it returns nothing) instead of the
    // process, so that a watch ends as it began, with its output flushed.
    static void endOnInterrupt();
    // True once such a signal came.
    static bool interrupted();

private:
    std::optional<QByteArray> readLine(int timeoutMs);

    QByteArray m_socket;
    int m_fd = -1;
    QByteArray m_buffer;
};

} // namespace sessionctl
