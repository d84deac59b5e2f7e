// SPDX-License-Identifier: MIT
#pragma once

#include "storage_export.h"

#include <SessionStore.h>

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

class SessionData;

// SessionControl: lets sessionctl reach a running client. While it lives, the client
// that holds the state directory answers `sessionctl set`, `reset`, `get` and `watch`
// at once, where they would otherwise wait for its lock and fail "busy".
//
// Made after the restore, on the thread whose event loop runs, and kept until shutdown:
//
//   SessionData session;
//   store.restore(lock, session);
//   SessionAutosave autosave(store, lock, session);
//   SessionControl control(store, lock, session);
//
// It listens on a local socket, session.control, inside the state directory, and
// answers there, on the thread that made it, through that thread's event loop. set
// and reset are applied through the stores' setData, so the client's subscribers
// hear them and its autosave stores them; each value is checked by the same rules
// and refused with the same message as on the stored files (the value must read back
// as given; a property that is not stored, read-only or derived is refused).
//
// Who is answered, and how much:
// - The socket is owner-only inside the owner-only state directory, and each
//   connection's peer is asked of the kernel (SO_PEERCRED): only the client's own user
//   and root are answered; anyone else gets a refusal and is disconnected.
// - One request per connection, one line of JSON of at most 64 KiB with a version
//   field (the format: ControlProtocol.h, private to the library); anything else gets
//   an error reply. A connection that has not sent its request within
//   requestDeadline() is dropped. Nothing blocks: a silent or slow peer never delays
//   another request or the event loop.
// - The password and the tokens are never sent: get and watch show them as hidden.
// - A watcher that stops reading is dropped once a megabyte waits for it. At most 256
//   connections are open at once; one more is refused and disconnected.
//
// A socket left by a client that died is removed by the next holder of the lock
// (SessionStore::lock), and by this constructor. The destructor removes the socket.
//
// `store`, `lock` and `session` must outlive it; the lock must be held. Its calls and
// its destruction belong to the thread that made it; statistics() may be read from
// any thread.
class STORAGE_EXPORT SessionControl
{
public:
    // Starts answering on the state directory's socket, replacing one a dead client
    // left; when it cannot (see errorString()), the client runs on without it.
    SessionControl(SessionStore& store, const SessionStore::Lock& lock, SessionData& session);
    // Stops answering: closes every connection and removes the socket.
    ~SessionControl();
    SessionControl(const SessionControl&) = delete;
    SessionControl& operator=(const SessionControl&) = delete;

    // True while the socket is answering.
    bool isListening() const;
    // Why the socket could not be made (empty while listening): one line naming the
    // path and the system's error.
    QString errorString() const;
    // The socket's path, as bytes.
    QByteArray socketPath() const;

    // How long a connection may take to send its request.
    static constexpr std::chrono::milliseconds requestDeadline() { return std::chrono::milliseconds(3000); }

    // What the control has done so far, for the figures.
    struct Statistics
    {
        std::uint64_t answered = 0; // requests answered (refusals included)
        std::uint64_t refused = 0;  // connections of another user, or too many, refused
        std::uint64_t dropped = 0;  // connections dropped: too slow, too large, a stalled watcher
        // The thread time spent reading and answering the answered requests.
        std::chrono::nanoseconds threadTime{0};
    };
    // What has been done so far; from any thread.
    Statistics statistics() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
