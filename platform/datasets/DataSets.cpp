// SPDX-License-Identifier: MIT
#include "DataSets.h"

#include "WellFormedText.h"

#include <QHash>

#include <unordered_set>
#include <utility>

namespace DataSets {
namespace Impl {

namespace {

bool isCanonicalPosition(const QString& key)
{
    const qsizetype n = key.size();
    if (n == 0 || n > 7)
        return false;
    if (n > 1 && key.front() == u'0')
        return false;
    for (QChar c : key) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return key.toInt() < kMaxListLength;
}

// Stores of nested sets take turns under this lock, so that no other store of a
// nested set can slip in between the walk that rules out a cycle and the store.
// Only ever taken before a set's own lock, never while one is held. (Constant-
// initialized, so usable by any static initializer.)
SessionConfigSync::Mutex nestingLock;

template <class T> bool readAs(const DataSetImpl* ds, const QString& key, T& out)
{
    if (!ds)
        return false;
    Value v;
    if (!ds->value(key, v))
        return false;
    if (T* p = std::get_if<T>(&v)) {
        out = std::move(*p);
        return true;
    }
    return false;
}

} // namespace

bool isWellFormedUtf16(QStringView text) noexcept
{
    // Nearly every key and text holds no surrogate at all: look for one first, in a
    // loop without branches that the compiler turns into vector instructions.
    const char16_t* units = text.utf16();
    const qsizetype n = text.size();
    unsigned surrogates = 0;
    for (qsizetype i = 0; i < n; ++i)
        surrogates |= unsigned((units[i] & 0xF800u) == 0xD800u);
    if (surrogates == 0)
        return true;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate()) {
            if (i + 1 == n || !text[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

size_t KeyIndex::hashOf(const QString& key)
{
    // Qt's string hash pads the last block with zeros without mixing in the length,
    // so "k", "k\0", "k\0\0" ... would all collide; the length tells them apart.
    return qHash(key, QHashSeed::globalSeed()) ^ (size_t(key.size()) * size_t(0x9e3779b97f4a7c15ULL));
}

qsizetype KeyIndex::find(const QString& key, size_t hash, const std::vector<Entry>& entries) const
{
    if (m_slots.empty())
        return -1;
    const size_t mask = m_slots.size() - 1;
    const auto h = static_cast<quint32>(hash);
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        const quint64 slot = m_slots[i];
        if (slot == 0)
            return -1;
        const auto position = static_cast<qsizetype>(quint32(slot)) - 1;
        if (quint32(slot >> 32) == h && entries[static_cast<size_t>(position)].key == key)
            return position;
    }
}

void KeyIndex::insertLast(size_t hash, const std::vector<Entry>& entries)
{
    if (2 * entries.size() > m_slots.size())
        grow();
    const size_t mask = m_slots.size() - 1;
    const auto h = static_cast<quint32>(hash);
    size_t i = h & mask;
    while (m_slots[i] != 0)
        i = (i + 1) & mask;
    m_slots[i] = (quint64(h) << 32) | quint64(entries.size());
}

bool KeyIndex::build(const std::vector<Entry>& entries)
{
    const size_t n = entries.size();
    if (n == 0) {
        clear();
        return true;
    }
    size_t slotCount = 8;
    while (slotCount < 2 * n)
        slotCount *= 2;
    m_slots.assign(slotCount, 0);
    // The hashes first, reading the keys in order; then the slots, each fetched a few
    // keys ahead so that the misses of a large index overlap instead of queueing.
    std::vector<quint32> hashes(n);
    for (size_t k = 0; k < n; ++k)
        hashes[k] = static_cast<quint32>(hashOf(entries[k].key));
    const size_t mask = slotCount - 1;
    constexpr size_t kAhead = 8;
    for (size_t k = 0; k < n; ++k) {
        if (k + kAhead < n)
            __builtin_prefetch(&m_slots[hashes[k + kAhead] & mask]);
        const quint32 h = hashes[k];
        size_t i = h & mask;
        for (; m_slots[i] != 0; i = (i + 1) & mask) {
            const quint64 slot = m_slots[i];
            if (quint32(slot >> 32) == h && entries[size_t(quint32(slot)) - 1].key == entries[k].key) {
                clear();
                return false;
            }
        }
        m_slots[i] = (quint64(h) << 32) | quint64(k + 1);
    }
    return true;
}

void KeyIndex::grow()
{
    std::vector<quint64> old;
    old.swap(m_slots);
    m_slots.assign(std::max<size_t>(8, old.size() * 2), 0);
    const size_t mask = m_slots.size() - 1;
    for (const quint64 slot : old) {
        if (slot == 0)
            continue;
        size_t i = size_t(slot >> 32) & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

DataSetImpl::DataSetImpl(bool isList)
    : m_isList(isList)
{}

DataSetImpl::~DataSetImpl() = default;

int DataSetImpl::size() const
{
    const SessionConfigSync::ReadLock lock(m_lock);
    return static_cast<int>(m_entries.size());
}

std::vector<Entry> DataSetImpl::entries() const
{
    const SessionConfigSync::ReadLock lock(m_lock);
    return m_entries;
}

bool DataSetImpl::keyAt(int index, QString& out) const
{
    const SessionConfigSync::ReadLock lock(m_lock);
    if (index < 0 || static_cast<size_t>(index) >= m_entries.size())
        return false;
    out = m_entries[static_cast<size_t>(index)].key;
    return true;
}

// Each set is locked only while its nested sets are listed, never two at once; a set
// met twice (shared at several places) is walked once. Listing reads only the kind of
// each value, so the walk copies no key or value.
bool DataSetImpl::reaches(const DataSet& root, const DataSetImpl* target)
{
    if (root.get() == target)
        return true;
    if (root->isEmpty()) // the common case of a set nested while still empty
        return false;
    std::vector<DataSet> pending{root};
    std::unordered_set<const DataSetImpl*> seen;
    while (!pending.empty()) {
        DataSet current = std::move(pending.back());
        pending.pop_back();
        if (current.get() == target)
            return true;
        if (!seen.insert(current.get()).second)
            continue;
        const SessionConfigSync::ReadLock lock(current->m_lock);
        for (const Entry& e : current->m_entries) {
            if (const auto* nested = std::get_if<DataSet>(&e.value); nested && *nested)
                pending.push_back(*nested);
        }
    }
    return false;
}

bool DataSetImpl::value(const QString& key, Value& out) const
{
    const size_t hash = KeyIndex::hashOf(key);
    const SessionConfigSync::ReadLock lock(m_lock);
    const qsizetype at = m_index.find(key, hash, m_entries);
    if (at < 0)
        return false;
    out = m_entries[static_cast<size_t>(at)].value;
    return true;
}

bool DataSetImpl::set(const QString& key, Value value)
{
    return store(key, std::move(value), true);
}

bool DataSetImpl::add(const QString& key, Value value)
{
    return store(key, std::move(value), false);
}

bool DataSetImpl::store(const QString& key, Value value, bool replace)
{
    if (!isValidKey(*this, key))
        return false;
    const auto* nested = std::get_if<DataSet>(&value);
    if (nested && !*nested)
        return false;
    if (nested) {
        const SessionConfigSync::MutexLock turn(nestingLock);
        if (reaches(*nested, this))
            return false;
        return insert(key, std::move(value), replace);
    }
    return insert(key, std::move(value), replace);
}

bool DataSetImpl::insert(const QString& key, Value value, bool replace)
{
    const size_t hash = KeyIndex::hashOf(key);
    Value old; // released after the lock, so a nested set never dies under it
    const SessionConfigSync::WriteLock lock(m_lock);
    const qsizetype at = m_index.find(key, hash, m_entries);
    if (at >= 0) {
        if (replace) {
            old = std::exchange(m_entries[static_cast<size_t>(at)].value, std::move(value));
            countChange();
        }
        return replace;
    }
    m_entries.push_back(Entry{key, std::move(value)});
    m_index.insertLast(hash, m_entries);
    countChange();
    return true;
}

bool DataSetImpl::adopt(std::vector<Entry> entries)
{
    const SessionConfigSync::WriteLock lock(m_lock);
    if (!m_entries.empty() || !m_index.build(entries))
        return false;
    m_entries = std::move(entries);
    countChange();
    return true;
}

void DataSetImpl::clear()
{
    std::vector<Entry> old;
    {
        const SessionConfigSync::WriteLock lock(m_lock);
        old.swap(m_entries);
        m_index.clear();
        countChange();
    }
}

std::vector<DataSet> DataSetImpl::nestedSets() const
{
    std::vector<DataSet> nested;
    const SessionConfigSync::ReadLock lock(m_lock);
    for (const Entry& e : m_entries) {
        if (const auto* set = std::get_if<DataSet>(&e.value); set && *set)
            nested.push_back(*set);
    }
    return nested;
}

DataSet createDS(bool isList)
{
    return std::make_shared<DataSetImpl>(isList);
}

bool isValidKey(const DataSetImpl& ds, const QString& key)
{
    if (ds.isList())
        return isCanonicalPosition(key);
    return !key.isEmpty() && key.size() <= kMaxKeyLength && isWellFormedUtf16(key);
}

bool setDataValue(DataSetImpl& ds, const QString& key, const QString& value)
{
    return ds.set(key, value);
}

bool setDataValue(DataSetImpl& ds, const QString& key, bool value)
{
    return ds.set(key, value);
}

bool setDataValue(DataSetImpl& ds, const QString& key, int value)
{
    return ds.set(key, value);
}

bool setDataValue(DataSetImpl& ds, const QString& key, const std::shared_ptr<DataSetImpl>& value)
{
    return ds.set(key, value);
}

bool getDataValue(const DataSetImpl* ds, const QString& key, QString& out)
{
    return readAs(ds, key, out);
}

bool getDataValue(const DataSetImpl* ds, const QString& key, bool& out)
{
    return readAs(ds, key, out);
}

bool getDataValue(const DataSetImpl* ds, const QString& key, int& out)
{
    return readAs(ds, key, out);
}

bool getDataValue(const DataSetImpl* ds, const QString& key, std::shared_ptr<DataSetImpl>& out)
{
    return readAs(ds, key, out);
}

void clearDataObjects(DataSetImpl& ds)
{
    ds.clear();
}

} // namespace Impl

DataIterator::DataIterator(DataSet ds)
    : m_ds(std::move(ds))
    , m_end(!m_ds)
{}

const DataIterator* DataIterator::next()
{
    if (m_end)
        return nullptr;
    if (!m_ds->keyAt(++m_index, m_key)) {
        m_end = true;
        m_key = QString();
        return nullptr;
    }
    return this;
}

} // namespace DataSets
