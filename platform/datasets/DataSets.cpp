#include "DataSets.h"

#include <algorithm>
#include <mutex>
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

bool isWellFormedUtf16(const QString& key)
{
    const qsizetype n = key.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = key.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 == n || !key.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

// True when `target` can be reached from `root` through nested sets. Each set is
// locked only while its entries are copied out, never two at once.
bool reaches(const DataSet& root, const DataSetImpl* target)
{
    std::vector<DataSet> pending{root};
    std::vector<const DataSetImpl*> seen;
    while (!pending.empty()) {
        DataSet current = std::move(pending.back());
        pending.pop_back();
        if (current.get() == target)
            return true;
        if (std::find(seen.begin(), seen.end(), current.get()) != seen.end())
            continue;
        seen.push_back(current.get());
        for (const Entry& e : current->entries()) {
            if (const auto* nested = std::get_if<DataSet>(&e.value); nested && *nested)
                pending.push_back(*nested);
        }
    }
    return false;
}

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

DataSetImpl::DataSetImpl(bool isList)
    : m_isList(isList)
{}

DataSetImpl::~DataSetImpl() = default;

int DataSetImpl::size() const
{
    std::shared_lock lock(m_lock);
    return static_cast<int>(m_entries.size());
}

std::vector<Entry> DataSetImpl::entries() const
{
    std::shared_lock lock(m_lock);
    return m_entries;
}

bool DataSetImpl::entryAt(int index, Entry& out) const
{
    std::shared_lock lock(m_lock);
    if (index < 0 || static_cast<size_t>(index) >= m_entries.size())
        return false;
    out = m_entries[static_cast<size_t>(index)];
    return true;
}

bool DataSetImpl::value(const QString& key, Value& out) const
{
    std::shared_lock lock(m_lock);
    for (const Entry& e : m_entries) {
        if (e.key == key) {
            out = e.value;
            return true;
        }
    }
    return false;
}

bool DataSetImpl::set(const QString& key, Value value)
{
    if (!isValidKey(*this, key))
        return false;
    if (const auto* nested = std::get_if<DataSet>(&value); nested && (!*nested || reaches(*nested, this)))
        return false;
    Value old; // released after the lock, so a nested set never dies under it
    std::unique_lock lock(m_lock);
    for (Entry& e : m_entries) {
        if (e.key == key) {
            old = std::exchange(e.value, std::move(value));
            return true;
        }
    }
    m_entries.push_back(Entry{key, std::move(value)});
    return true;
}

void DataSetImpl::clear()
{
    std::vector<Entry> old;
    {
        std::unique_lock lock(m_lock);
        old.swap(m_entries);
    }
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
    Impl::Entry e;
    if (!m_ds->entryAt(++m_index, e)) {
        m_end = true;
        m_key = QString();
        return nullptr;
    }
    m_key = std::move(e.key);
    return this;
}

} // namespace DataSets
