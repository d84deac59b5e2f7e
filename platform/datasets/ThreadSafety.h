// SPDX-License-Identifier: MIT
#pragma once

// Lock discipline the compiler checks. Under Clang these macros become its capability
// attributes, so that with -Wthread-safety a member read or written without the lock
// that guards it, a lock taken twice, or a lock still held where it must not be fails
// the build; under other compilers they expand to nothing.
//
// The standard library's own mutexes carry no such attributes in libstdc++, so the
// library's locks are the small wrappers below: a mutex and a reader-writer mutex,
// each held only through its scoped guards. They add nothing at run time.
//
// The header lives with the data-set component, the lowest of the libraries, and is
// installed beside the other headers: every component reaches it.

#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#if defined(__clang__)
#define SESSIONCONFIG_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define SESSIONCONFIG_THREAD_ANNOTATION(x)
#endif

#define SESSIONCONFIG_CAPABILITY(x) SESSIONCONFIG_THREAD_ANNOTATION(capability(x))
#define SESSIONCONFIG_SCOPED_CAPABILITY SESSIONCONFIG_THREAD_ANNOTATION(scoped_lockable)
#define SESSIONCONFIG_GUARDED_BY(x) SESSIONCONFIG_THREAD_ANNOTATION(guarded_by(x))
#define SESSIONCONFIG_REQUIRES(...) SESSIONCONFIG_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define SESSIONCONFIG_REQUIRES_SHARED(...) \
    SESSIONCONFIG_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define SESSIONCONFIG_ACQUIRE(...) SESSIONCONFIG_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define SESSIONCONFIG_ACQUIRE_SHARED(...) \
    SESSIONCONFIG_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define SESSIONCONFIG_RELEASE(...) SESSIONCONFIG_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define SESSIONCONFIG_EXCLUDES(...) SESSIONCONFIG_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define SESSIONCONFIG_RETURN_CAPABILITY(x) SESSIONCONFIG_THREAD_ANNOTATION(lock_returned(x))
// For the few places whose safety rests on something the analysis cannot see (an
// object not yet shared, a caller that keeps other threads away); each says which.
#define SESSIONCONFIG_NO_THREAD_SAFETY_ANALYSIS SESSIONCONFIG_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace SessionConfigSync {

// std::mutex as a capability, held only through a MutexLock.
class SESSIONCONFIG_CAPABILITY("mutex") Mutex
{
private:
    friend class MutexLock;
    std::mutex m_mutex;
};

// Holds a Mutex for its scope, or until unlock().
class SESSIONCONFIG_SCOPED_CAPABILITY MutexLock
{
public:
    explicit MutexLock(Mutex& mutex) SESSIONCONFIG_ACQUIRE(mutex)
        : m_lock(mutex.m_mutex)
    {}
    ~MutexLock() SESSIONCONFIG_RELEASE() = default;
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void unlock() SESSIONCONFIG_RELEASE() { m_lock.unlock(); }

    // Waits for `cv`, letting the mutex go meanwhile; holds it again on return.
    void wait(std::condition_variable& cv) { cv.wait(m_lock); }

private:
    std::unique_lock<std::mutex> m_lock;
};

// std::shared_mutex as a capability, held shared (ReadLock) or exclusively
// (WriteLock).
class SESSIONCONFIG_CAPABILITY("mutex") SharedMutex
{
private:
    friend class ReadLock;
    friend class WriteLock;
    std::shared_mutex m_mutex;
};

// Holds a SharedMutex shared for its scope.
class SESSIONCONFIG_SCOPED_CAPABILITY ReadLock
{
public:
    explicit ReadLock(SharedMutex& mutex) SESSIONCONFIG_ACQUIRE_SHARED(mutex)
        : m_lock(mutex.m_mutex)
    {}
    ~ReadLock() SESSIONCONFIG_RELEASE() = default;
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

private:
    std::shared_lock<std::shared_mutex> m_lock;
};

// Holds a SharedMutex exclusively for its scope.
class SESSIONCONFIG_SCOPED_CAPABILITY WriteLock
{
public:
    explicit WriteLock(SharedMutex& mutex) SESSIONCONFIG_ACQUIRE(mutex)
        : m_lock(mutex.m_mutex)
    {}
    ~WriteLock() SESSIONCONFIG_RELEASE() = default;
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    std::unique_lock<std::shared_mutex> m_lock;
};

} // namespace SessionConfigSync
