// SPDX-License-Identifier: MIT
#pragma once

// How records write and read their entries, row by row from the property tables
// (PropertyTable.h). A write first asks the data set whether it accepts the key and
// skips the entry silently when it does not; a read writes the target only when the
// set holds a value of that kind under the key, so an absent or mistyped entry leaves
// the target as it was. A row's rule is Plain (by the value type) unless the row names
// one of the record's own, defined beside the record's serialization.

#include <DataSets.h>
#include <PropertyTable.h>

#include <type_traits>

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

template <class Hook, class T> struct Rule;

struct Plain;

// Text, flags, integers and sets as they are. Unsigned counters travel as the signed
// integer of the same width, bits unchanged; a null set is written as an empty one.
template <class T> struct Rule<Plain, T>
{
    static void write(const DataSets::DataSet& ds, const QString& key, const T& value)
    {
        if constexpr (std::is_same_v<T, unsigned int>)
            put(ds, key, static_cast<int>(value));
        else if constexpr (std::is_same_v<T, DataSets::DataSet>)
            put(ds, key, value ? value : DataSets::Impl::createDS(false));
        else
            put(ds, key, value);
    }
    static void read(const DataSets::DataSet& ds, const QString& key, T& target)
    {
        if constexpr (std::is_same_v<T, unsigned int>) {
            int bits = 0;
            if (take(ds, key, bits))
                target = static_cast<unsigned int>(bits);
        } else {
            take(ds, key, target);
        }
    }
};

// A row's stored key as text, made once.
template <class Tag> const QString& keyOf()
{
    static const QString key = QString::fromLatin1(Tag::row.key);
    return key;
}

// The entries of one part of a record, in table order, as a new set.
template <SessionConfigDetail::StoredPart Part, class Record>
DataSets::DataSet writePart(const Record& record)
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    SessionConfigDetail::forEachRow<Record>([&](auto tag) {
        using Tag = decltype(tag);
        if constexpr (Tag::row.part == Part)
            Rule<typename Tag::Descriptor::RuleType, typename Tag::Type>::write(ds, keyOf<Tag>(),
                                                                                Tag::descriptor.read(record));
    });
    return ds;
}

// Takes back what `ds` holds of one part into the record, in table order.
template <SessionConfigDetail::StoredPart Part, class Record>
void readPart(Record& record, const DataSets::DataSet& ds)
{
    SessionConfigDetail::forEachRow<Record>([&](auto tag) {
        using Tag = decltype(tag);
        if constexpr (Tag::row.part == Part)
            Rule<typename Tag::Descriptor::RuleType, typename Tag::Type>::read(
                ds, keyOf<Tag>(), record.*(Tag::descriptor.access));
    });
}

// A record's operator==: every row its table marks compared.
template <class Record> bool equalRows(const Record& a, const Record& b)
{
    bool equal = true;
    SessionConfigDetail::forEachRow<Record>([&](auto tag) {
        using Tag = decltype(tag);
        if constexpr (Tag::row.compared)
            equal = equal && Tag::descriptor.read(a) == Tag::descriptor.read(b);
    });
    return equal;
}

} // namespace StoredValues
