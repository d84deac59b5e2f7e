#pragma once

// How records write and read their entries. A write first asks the data set whether
// it accepts the key and skips the entry silently when it does not; a read writes
// the target only when the set holds a value of that kind under the key, so an
// absent or mistyped entry leaves the target as it was.

#include <DataSets.h>

namespace StoredValues {

template <class V> inline void put(const DataSets::DataSet& ds, const QString& key, const V& value)
{
    if (DataSets::Impl::isValidKey(*ds, key))
        DataSets::Impl::setDataValue(*ds, key, value);
}

template <class V> inline bool take(const DataSets::DataSet& ds, const QString& key, V& target)
{
    return DataSets::Impl::getDataValue(ds.get(), key, target);
}

} // namespace StoredValues
