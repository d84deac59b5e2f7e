// SPDX-License-Identifier: MIT
#pragma once

#include "storage_export.h"

#include <SessionStore.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class QObject;
class SessionData;

// SessionAutosave: stores a session a short while after it changes, so that a client
// that crashes, is killed or loses power loses at most its last moments.
//
// Made after the restore, on the application's thread, and kept until shutdown:
//
//   SessionData session;
//   store.restore(lock, session);
//   SessionAutosave autosave(store, lock, session);
//   ... run: every change reaches the disk about two seconds later ...
//   // the destructor stores what is still pending
//
// What counts as a change: any write the six stores report to their subscribers, and
// any change made straight into the user-settings data set the application store
// hands out (or into a set nested in it), which no store sees. The first are noted
// as they happen; the sets are compared by their change counters (see
// DataSets::Impl::DataSetImpl::changeCount) every half `delay`, and a change found
// there is dated to the comparison before, so either kind is stored at most `delay`
// after it was made.
//
// When: a store starts `delay` after the first change not yet stored, so a burst
// costs one store; never two at once; changes made while one runs schedule the next.
// Stores run on a thread of the autosave's own, which takes each store's shared lock
// only while serializing that store (and each user-settings set's only while encoding
// that set, as it is stored shared), then seals, writes and syncs holding none: the
// threads that write the session never wait for the disk. The data key is made
// ready once, in the constructor (SessionStore::prepareStore), so that thread asks the
// secret store nothing.
//
// A store that fails leaves the previous files as they were (see SessionStore::store),
// is reported through Options::onStored, and is tried again after
// Options::firstRetry, doubling each time up to Options::longestRetry, so a disk that
// was full stores the change once space is freed.
//
// While the autosave lives it is the SessionStore's only user: call flush() rather
// than store(), and neither restore, rotateKey nor forget. It follows the stores the
// session held when it was made (a copy of the session shares them); `store`, `lock`
// and the stores must outlive it. Its own calls (flush, storeCount, the destructor)
// belong to the thread that made it.
class STORAGE_EXPORT SessionAutosave
{
public:
    // How the autosave stores and reports.
    struct Options
    {
        // The defaults below.
        Options();
        // How long after the first change not yet stored a store begins.
        std::chrono::milliseconds delay{2000};
        // The pause before a failed store is tried again; it doubles after each
        // failure, up to longestRetry, and starts over once a store succeeds.
        std::chrono::milliseconds firstRetry{1000};
        // The longest pause between two tries of a failing store.
        std::chrono::milliseconds longestRetry{60000};
        // Told of every store the autosave makes (flush()'s too, not the destructor's):
        // its outcome, with the error of a failed one. Runs on `context`'s thread
        // (queued through its event loop) until `context` is destroyed, or on the
        // autosave's thread when `context` is null (then it must neither call flush()
        // nor destroy the autosave, which would wait for itself). Empty: nobody is told.
        std::function<void(const SessionStore::Stored&)> onStored;
        // Where onStored runs; see there.
        QObject* context = nullptr;
    };

    // Starts watching `session` and makes the data key ready (on the application's
    // thread, where the secret store can be asked). When that fails the autosave
    // stores nothing: onStored is told at once, and flush() returns that failure.
    SessionAutosave(SessionStore& store, const SessionStore::Lock& lock, SessionData& session,
                    Options options = {});
    // Stores what changed since the last store, then ends its thread.
    ~SessionAutosave();
    SessionAutosave(const SessionAutosave&) = delete;
    SessionAutosave& operator=(const SessionAutosave&) = delete;

    // Stores pending changes now and returns the outcome; waits for a store already
    // running first. With nothing pending, stores nothing and returns the stored
    // generation.
    SessionStore::Stored flush();

    // How many stores the autosave has made so far, failed ones included.
    std::uint64_t storeCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
