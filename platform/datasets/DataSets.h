// SPDX-License-Identifier: MIT
#pragma once

// Keyed data sets: the unit in which the client stores and restores state.
//
// A set maps text keys to values of four kinds: text, flag, 32-bit integer, or a
// nested set. Nested sets are held by shared handle, so a set stored inside another
// is the same object, not a copy. A set is either keyed (any valid name, see
// isValidKey) or a list set, whose keys are the decimal positions "0", "1", ...
//
// Every operation is safe to call from several threads on the same set: each set
// guards its entries with its own reader-writer lock, held only for the one call
// and never while another set's lock is taken (Clang checks this, see ThreadSafety.h). Storing a nested set
// also takes one lock shared by all sets, before any set's own lock, so that the check against a set
// containing itself and the store happen as one step (see setDataValue).
//
// Cost. Entries live in a vector in insertion order beside a hash index from key to
// position (open addressing over 8-byte slots that keep each key's hash, seeded per
// process, so chosen keys cannot make it degrade, and a probe compares the key's
// text only when the hashes agree):
// lookup and store take expected constant time, iteration and snapshots linear
// time, whatever the set's size. Storing a nested set walks the stored set once.

#include "ThreadSafety.h"
#include "datasets_export.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

namespace DataSets {
namespace Codec {
class Decoder;
template <class Writer> class Encoder;
} // namespace Codec
namespace Impl {

class DataSetImpl;

// One stored value: text, flag, integer or nested set.
using Value = std::variant<QString, bool, int, std::shared_ptr<DataSetImpl>>;

// One entry of a set: its key and value.
struct Entry
{
    QString key; // "0", "1", ... in a list set
    Value value; // the stored value
};

// Where each key of a set stands in its entries: open addressing with linear
// probing, at most half full; a slot holds the key's 32-bit hash and its position
// plus one (0 for an empty slot).
class KeyIndex
{
public:
    // The position of `key` among `entries`, or -1.
    qsizetype find(const QString& key, size_t hash, const std::vector<Entry>& entries) const;
    // Records that `entries` gained `key` at its end; the key is not there yet.
    void insertLast(size_t hash, const std::vector<Entry>& entries);
    // Indexes `entries` afresh; false, and the index left empty, when a key is repeated.
    bool build(const std::vector<Entry>& entries);
    // Forgets every key and frees the slots.
    void clear() { std::vector<quint64>().swap(m_slots); }
    // The hash a key is indexed by.
    static size_t hashOf(const QString& key);

private:
    void grow();

    std::vector<quint64> m_slots;
};

// A data set: keyed or list entries in insertion order, values text, flag, integer
// or a nested set. Reached through DataSet (a shared pointer): copies share the set.
// Every call is safe from several threads: the set guards its entries with its own
// reader-writer lock, held for that one call only.
class DATASETS_EXPORT DataSetImpl
{
public:
    // An empty list set (`isList`) or keyed set.
    explicit DataSetImpl(bool isList);
    DataSetImpl(const DataSetImpl&) = delete;
    DataSetImpl& operator=(const DataSetImpl&) = delete;
    ~DataSetImpl();

    // True for a list set (keys "0", "1", ...), false for a keyed set.
    bool isList() const noexcept { return m_isList; }
    // How many entries the set holds.
    int size() const SESSIONCONFIG_EXCLUDES(m_lock);
    // True when it holds none.
    bool isEmpty() const { return size() == 0; }

    // A snapshot of the entries, in insertion order.
    std::vector<Entry> entries() const SESSIONCONFIG_EXCLUDES(m_lock);

    // The key at a position in insertion order, or false past the end.
    bool keyAt(int index, QString& out) const SESSIONCONFIG_EXCLUDES(m_lock);

    // The value under a key; false when the key is absent.
    bool value(const QString& key, Value& out) const SESSIONCONFIG_EXCLUDES(m_lock);

    // Stores a value under a key (replacing any earlier value in its place);
    // false, and nothing stored, when the key is not valid for this set.
    bool set(const QString& key, Value value) SESSIONCONFIG_EXCLUDES(m_lock);

    // Stores a value under a key that holds none yet; false, and nothing stored,
    // when the key is not valid for this set or already holds a value.
    bool add(const QString& key, Value value) SESSIONCONFIG_EXCLUDES(m_lock);

    // Removes every entry.
    void clear() SESSIONCONFIG_EXCLUDES(m_lock);

    // How many times the entries changed (each store, clear or adoption counts once,
    // an equal value stored again too); it only grows. A nested set counts its own
    // changes, not its parent's. Whoever keeps a copy of the set (an autosave, a
    // cache) compares two readings to learn whether anything changed in between:
    // a change completed before the first reading is never counted after it. Costs a
    // writer one atomic store (no locked instruction) under the lock it already holds.
    std::uint64_t changeCount() const noexcept { return m_changes.load(std::memory_order_acquire); }

    // The nested sets among the values, in insertion order (read under the set's
    // shared lock, copying no key or other value).
    std::vector<std::shared_ptr<DataSetImpl>> nestedSets() const SESSIONCONFIG_EXCLUDES(m_lock);

private:
    friend class Codec::Decoder;
    template <class Writer> friend class Codec::Encoder;

    // For the stored forms' writer: hands `read` the entries under the set's shared
    // lock, so that a large set is written without copying it first. Writers of this
    // set wait meanwhile; readers do not. `read` must not write to any set (nested
    // sets may be read the same way: a set never contains itself, so no lock is
    // taken twice, and a store holds only one set's lock at a time).
    template <class Read> auto readEntries(Read&& read) const SESSIONCONFIG_EXCLUDES(m_lock)
    {
        const SessionConfigSync::ReadLock lock(m_lock);
        return read(m_entries);
    }

    // For the stored forms' reader, which has checked every key and value: takes the
    // entries of a set nobody else holds yet and indexes them in one pass, so that
    // the misses of a large index overlap. False, and the set left empty, when it
    // holds entries already or a key is repeated.
    bool adopt(std::vector<Entry> entries) SESSIONCONFIG_EXCLUDES(m_lock);

    // True when `target` can be reached from `root` through nested sets. Called only
    // under the component's nesting lock (see DataSets.cpp), which the analysis
    // cannot name from here; it takes each walked set's own lock in turn.
    static bool reaches(const std::shared_ptr<DataSetImpl>& root, const DataSetImpl* target);

    // Checks the key and value, then stores them.
    bool store(const QString& key, Value value, bool replace) SESSIONCONFIG_EXCLUDES(m_lock);
    // Stores under the set's lock once the key and value passed their checks.
    bool insert(const QString& key, Value value, bool replace) SESSIONCONFIG_EXCLUDES(m_lock);

    const bool m_isList;
    mutable SessionConfigSync::SharedMutex m_lock;
    std::vector<Entry> m_entries SESSIONCONFIG_GUARDED_BY(m_lock);
    KeyIndex m_index SESSIONCONFIG_GUARDED_BY(m_lock);
    // Counts a change, under the exclusive lock, after the entries changed: a reader that
    // sees the new count sees the change too. Only writers, who hold the lock, write it,
    // so a plain load and store does (no locked instruction); it is read without the lock.
    void countChange() SESSIONCONFIG_REQUIRES(m_lock)
    {
        m_changes.store(m_changes.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }
    std::atomic<std::uint64_t> m_changes{0};
};

} // namespace Impl

// A shared handle to one set; copies refer to the same set.
using DataSet = std::shared_ptr<Impl::DataSetImpl>;

namespace Impl {

// A new empty set: a list set when `isList` is true, a keyed set otherwise.
DATASETS_EXPORT DataSet createDS(bool isList = false);

// The key rule.
// - Keyed set: a key is valid when it is not empty, holds at most kMaxKeyLength
//   UTF-16 code units and is well-formed UTF-16 (no unpaired surrogate), so every
//   key survives any stored form unchanged. 4,096 units leave room for any name a
//   client composes (paths, chat ids, window geometry keys) while a stored key
//   stays at most 12 KiB of UTF-8.
// - List set: only the canonical decimal positions "0", "1", ..., "10", ... are
//   valid (ASCII digits, no sign, no leading zero), up to kMaxListLength - 1.
inline constexpr int kMaxKeyLength = 4096;
inline constexpr int kMaxListLength = 1 << 20;
DATASETS_EXPORT bool isValidKey(const DataSetImpl& ds, const QString& key);

// Store a value under a key. A key that isValidKey refuses is not stored and the
// call returns false. A null nested set, or one that would make a set contain
// itself (directly or further down), is refused likewise. The refusal holds even
// against other threads: two threads storing a into b and b into a at once never
// both succeed, since stores of nested sets take turns (the walk of the stored set
// and the store itself happen under one lock shared by all sets).
DATASETS_EXPORT bool setDataValue(DataSetImpl& ds, const QString& key, const QString& value);
DATASETS_EXPORT bool setDataValue(DataSetImpl& ds, const QString& key, bool value);
DATASETS_EXPORT bool setDataValue(DataSetImpl& ds, const QString& key, int value);
DATASETS_EXPORT bool setDataValue(DataSetImpl& ds, const QString& key,
                                  const std::shared_ptr<DataSetImpl>& value);
// Text must be given as QString: a string literal would otherwise become a flag.
bool setDataValue(DataSetImpl& ds, const QString& key, const char* value) = delete;

// Read the value under a key. True, and `out` written, only when a value of that
// kind is stored there; otherwise false and `out` left exactly as it was. A null
// set pointer yields false.
DATASETS_EXPORT bool getDataValue(const DataSetImpl* ds, const QString& key, QString& out);
DATASETS_EXPORT bool getDataValue(const DataSetImpl* ds, const QString& key, bool& out);
DATASETS_EXPORT bool getDataValue(const DataSetImpl* ds, const QString& key, int& out);
DATASETS_EXPORT bool getDataValue(const DataSetImpl* ds, const QString& key,
                                  std::shared_ptr<DataSetImpl>& out);

// Remove every entry; every holder of the set sees it empty.
DATASETS_EXPORT void clearDataObjects(DataSetImpl& ds);

} // namespace Impl

// Walks the keys of a set:
//   DataIterator it(ds);
//   while (const DataIterator* e = it.next()) { e->getKey(); e->getDataSet(); }
// Entries come in insertion order. Entries added or removed while walking do not
// break the walk; it visits each position once and stops at the current end.
class DATASETS_EXPORT DataIterator
{
public:
    // A walk over `ds`, before its first entry.
    explicit DataIterator(DataSet ds);

    // Moves to the next entry; null when no entry remains.
    const DataIterator* next();

    // The key of the current entry.
    QString getKey() const { return m_key; }
    // The set being walked.
    DataSet getDataSet() const { return m_ds; }

private:
    DataSet m_ds;
    QString m_key;
    int m_index = -1;
    bool m_end;
};

} // namespace DataSets
