// SPDX-License-Identifier: MIT
#pragma once

#include <ThreadSafety.h>

#include <memory>
#include <utility>

namespace spimpl {
namespace details {

// The deleter every store installs for its record: nothing for null, otherwise
// delete through the record's virtual destructor.
template <class T> void default_delete(T* p) noexcept
{
    static_assert(sizeof(T) > 0, "cannot delete an incomplete type");
    delete p;
}

} // namespace details
} // namespace spimpl

// The heart of every runtime store: one configuration record, owned exclusively
// through a unique pointer with a plain function-pointer deleter, and the
// reader-writer lock that guards it. Reads run under the shared lock, writes under
// the exclusive one; each lock is a scoped guard, released on every exit.
//
// Copying makes a deep copy of the record with a fresh lock; moving hands the record
// over and leaves the source without one. Neither takes a lock: the caller keeps
// other threads away from both objects meanwhile (so the assignments are left out of
// the compiler's lock checks, like the constructors).
template <class Record> class GuardedRecord
{
public:
    // The record is owned through a deleter fixed at construction, so that it is
    // freed by the library that allocated it.
    //@{
    using Deleter = void (*)(Record*);
    using Pointer = std::unique_ptr<Record, Deleter>;
    //@}

    // A default-constructed record.
    GuardedRecord()
        : m_record(new Record(), &spimpl::details::default_delete<Record>)
    {}

    // A new record that `init` prepares before anyone can reach it, so without a lock.
    template <class F>
    GuardedRecord(std::in_place_t, F&& init)
        : GuardedRecord()
    {
        init(*m_record);
    }

    // Copies and moves as the class says: no lock taken.
    //@{
    GuardedRecord(const GuardedRecord& other)
        : m_record(new Record(*other.m_record), &spimpl::details::default_delete<Record>)
    {}

    GuardedRecord(GuardedRecord&& other) noexcept
        : m_record(std::move(other.m_record))
    {}

    GuardedRecord& operator=(const GuardedRecord& other) SESSIONCONFIG_NO_THREAD_SAFETY_ANALYSIS
    {
        if (this != &other) {
            // Copy first: if that fails, this store keeps its record.
            Pointer copy(new Record(*other.m_record), &spimpl::details::default_delete<Record>);
            m_record = std::move(copy); // the old record goes through the old deleter
        }
        return *this;
    }

    GuardedRecord& operator=(GuardedRecord&& other) noexcept SESSIONCONFIG_NO_THREAD_SAFETY_ANALYSIS
    {
        if (this != &other)
            m_record = std::move(other.m_record);
        return *this;
    }

    //@}
    ~GuardedRecord() = default;

    // Runs `f` on the record under the shared lock and returns its result by value.
    template <class F> auto read(F&& f) const
    {
        const SessionConfigSync::ReadLock lock(m_lock);
        return f(static_cast<const Record&>(*m_record));
    }

    // Runs `f` on the record under the exclusive lock and returns its result by value.
    template <class F> auto write(F&& f)
    {
        const SessionConfigSync::WriteLock lock(m_lock);
        return f(*m_record);
    }

    // Replaces the record with a newly default-constructed one under the exclusive
    // lock. If the allocation fails the old record stays. `compare(old, fresh)` runs
    // under the lock while both records exist.
    void replaceWithDefault()
    {
        replaceWithDefault([](const Record&, const Record&) {});
    }
    // As above, with `compare(old, fresh)`.
    template <class Compare> void replaceWithDefault(Compare&& compare)
    {
        const SessionConfigSync::WriteLock lock(m_lock);
        Pointer fresh(new Record(), &spimpl::details::default_delete<Record>);
        std::swap(m_record, fresh);
        compare(static_cast<const Record&>(*fresh), static_cast<const Record&>(*m_record));
    }

    // The lock, for the lock annotations of whoever builds on this record.
    SessionConfigSync::SharedMutex& capability() const SESSIONCONFIG_RETURN_CAPABILITY(m_lock)
    {
        return m_lock;
    }

    // False only for a store whose record was moved away. Under the shared lock, as
    // replaceWithDefault() swaps the pointer under the exclusive one.
    bool holdsRecord() const noexcept
    {
        const SessionConfigSync::ReadLock lock(m_lock);
        return m_record != nullptr;
    }

private:
    Pointer m_record SESSIONCONFIG_GUARDED_BY(m_lock);
    mutable SessionConfigSync::SharedMutex m_lock;
};
