// SPDX-License-Identifier: MIT
#pragma once

// How records write and read their entries, row by row from the property tables
// (PropertyTable.h). A write first asks the data set whether it accepts the key and
// skips the entry silently when it does not; a read writes the target only when the
// set holds a value of that kind under the key, so an absent or mistyped entry leaves
// the target as it was. A row's Hook names a Rule: Plain stores by the value type,
// the named rules are defined beside the record that uses them.

#include <DataSets.h>

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

} // namespace StoredValues

// The records' serialization and deserialization from the rows, expanded inside the
// record's own member functions (so Access names the member): `ds` is the data set
// written or read, Want the part (ENCRYPTED or PLAIN) being written or read.
#define SESSIONCONFIG_WRITE_ROW(Want, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
    SESSIONCONFIG_STORE_##Want##_##Part(write, Type, Access, Key, Hook)
#define SESSIONCONFIG_READ_ROW(Want, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
    SESSIONCONFIG_STORE_##Want##_##Part(read, Type, Access, Key, Hook)
#define SESSIONCONFIG_STORE_ROW(Op, Type, Access, Key, Hook) \
    StoredValues::Rule<StoredValues::Hook, Type>::Op(ds, QStringLiteral(Key), Access);
#define SESSIONCONFIG_STORE_ENCRYPTED_ENCRYPTED(...) SESSIONCONFIG_STORE_ROW(__VA_ARGS__)
#define SESSIONCONFIG_STORE_ENCRYPTED_PLAIN(...)
#define SESSIONCONFIG_STORE_ENCRYPTED_NONE(...)
#define SESSIONCONFIG_STORE_PLAIN_PLAIN(...) SESSIONCONFIG_STORE_ROW(__VA_ARGS__)
#define SESSIONCONFIG_STORE_PLAIN_ENCRYPTED(...)
#define SESSIONCONFIG_STORE_PLAIN_NONE(...)

// operator== from the rows, inside the record: `other` is the record compared with.
#define SESSIONCONFIG_EQUAL_ROW(X, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
    SESSIONCONFIG_EQUAL_##Compare(Access)
#define SESSIONCONFIG_EQUAL_EQ(Access) Access == other.Access&&
#define SESSIONCONFIG_EQUAL_NOEQ(Access)

// The whole bodies, each used as one statement: a new set holding the part's entries;
// reading a part (a record may store nothing in it); equality.
#define SESSIONCONFIG_SERIALIZE_PART(TABLE, Want)           \
    DataSets::DataSet ds = DataSets::Impl::createDS(false); \
    TABLE(SESSIONCONFIG_WRITE_ROW, Want)                    \
    return ds
#define SESSIONCONFIG_DESERIALIZE_PART(TABLE, Want) \
    TABLE(SESSIONCONFIG_READ_ROW, Want)             \
    (void)ds
#define SESSIONCONFIG_RECORD_EQUALS(TABLE) return TABLE(SESSIONCONFIG_EQUAL_ROW, ~) true
