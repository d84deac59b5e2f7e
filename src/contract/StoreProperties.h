// SPDX-License-Identifier: MIT
#pragma once

// Definitions of the getData/setData specializations from a store's property table
// (see PropertyTable.h). A store's source file expands its table once:
//
//   SESSIONCONFIG_DESK_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, DeskRuntimeData)
//
// Every store keeps its observed record in a member named m_record.

#include <PropertyTable.h>

#include <DataSets.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

#define SESSIONCONFIG_DEFINE_ROW(Store, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
    SESSIONCONFIG_DEFINE_##Kind(Store, Name, Type, Access)

#define SESSIONCONFIG_DEFINE_READ(Store, Name, Type, ...)                                              \
    template <> decltype(auto) Store::readRow<Type, Store::Property::Name>(const Store::RecordType& r) \
    {                                                                                                  \
        return __VA_ARGS__;                                                                            \
    }                                                                                                  \
    template <> Type Store::getData<Type, Store::Property::Name>() const                               \
    {                                                                                                  \
        return m_record.read([](const auto& r) -> Type { return readRow<Type, Property::Name>(r); });  \
    }

// The row's type must be the member's own: a wider or narrower one would convert
// silently on every read and write.
#define SESSIONCONFIG_DEFINE_FIELD(Store, Name, Type, Access)                       \
    SESSIONCONFIG_DEFINE_READ(Store, Name, Type, (r.Access))                        \
    template <> void Store::setData<Type, Store::Property::Name>(const Type& value) \
    {                                                                               \
        static_assert(std::is_same_v<Type, decltype(Store::RecordType::Access)>,    \
                      "the row " #Name " must have its record member's type");      \
        m_record.write([&value](auto& r) { r.Access = value; });                    \
    }

#define SESSIONCONFIG_DEFINE_DERIVED(Store, Name, Type, Access)                                          \
    SESSIONCONFIG_DEFINE_READ(Store, Name, Type, r.Access())                                             \
    /* Derived from other fields: nothing to assign, so no lock either. */                               \
    template <> void Store::setData<Type, Store::Property::Name>(const Type&)                            \
    {                                                                                                    \
        static_assert(std::is_same_v<Type, decltype(std::declval<const Store::RecordType&>().Access())>, \
                      "the row " #Name " must have its record function's type");                         \
    }

#define SESSIONCONFIG_DEFINE_WHOLE(Store, Name, Type, Access)                                       \
    static_assert(std::is_same_v<Type, Store::RecordType>, "the row " #Name " must be the record"); \
    SESSIONCONFIG_DEFINE_READ(Store, Name, Type, (r))

// resetData from the rows, inside the store: `record` is the record being reset and
// `fresh` a default one.
#define SESSIONCONFIG_RESET_ROW(X, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
    SESSIONCONFIG_RESET_##Reset(Access)
#define SESSIONCONFIG_RESET_KEEP(Access)
#define SESSIONCONFIG_RESET_DROP(Access) record.Access = fresh.Access;
#define SESSIONCONFIG_RESET_EMPTY(Access) \
    if (record.Access)                    \
        DataSets::Impl::clearDataObjects(*record.Access);

namespace StoreChanges {

// Whether a row reads differently from two states of a record. A derived getter may
// throw (no endpoint of the current remote type): a throw is a value of its own, equal
// to another throw and different from any value, and never leaves the comparison.
template <bool MayThrow, class Read, class Record>
bool differ(const Read& read, const Record& before, const Record& after)
{
    if constexpr (MayThrow) {
        using Value = std::decay_t<decltype(read(before))>;
        const auto outcome = [&read](const Record& r) -> std::optional<Value> {
            try {
                return read(r);
            } catch (...) {
                return std::nullopt;
            }
        };
        return !(outcome(before) == outcome(after));
    } else {
        return !(read(before) == read(after));
    }
}

template <class Enum> constexpr bool numbersFitTheSet()
{
    for (const SessionConfigDetail::PropertyRow& row : SessionConfigDetail::PropertyTable<Enum>::rows) {
        if (row.number < 0 || row.number >= 64)
            return false;
    }
    return true;
}

} // namespace StoreChanges

// The changed set of a write, row by row from the table, and the subscriptions.
#define SESSIONCONFIG_DEFINE_CHANGES(Store)                                                                 \
    static_assert(StoreChanges::numbersFitTheSet<Store::Property>(), "property numbers must be 0..63");     \
    std::uint64_t RecordChanges<Store::RecordType>::between(const Store::RecordType& before,                \
                                                            const Store::RecordType& after)                 \
    {                                                                                                       \
        std::uint64_t changed = 0;                                                                          \
        /* Held rows first. Every field of a record is a row, and a derived row is computed */              \
        /* from fields: when no held row differs, no derived one can, and its getters (which */             \
        /* may throw, at some cost) need not run. */                                                        \
        for (const bool derivedPass : {false, true}) {                                                      \
            if (derivedPass && !changed)                                                                    \
                break;                                                                                      \
            SessionConfigDetail::PropertyTable<Store::Property>::forEach([&](auto tag, const char*) {       \
                using Tag = decltype(tag);                                                                  \
                const auto read = [](const Store::RecordType& r) -> decltype(auto) {                        \
                    return Store::readRow<typename Tag::Type, Tag::property>(r);                            \
                };                                                                                          \
                if (Tag::derived == derivedPass && StoreChanges::differ<Tag::derived>(read, before, after)) \
                    changed |= std::uint64_t(1) << static_cast<int>(Tag::property);                         \
            });                                                                                             \
        }                                                                                                   \
        return changed;                                                                                     \
    }                                                                                                       \
    ChangeSubscription Store::subscribe(std::function<void(Property)> onChange)                             \
    {                                                                                                       \
        return subscribe(nullptr, std::move(onChange));                                                     \
    }                                                                                                       \
    ChangeSubscription Store::subscribe(QObject* context, std::function<void(Property)> onChange)           \
    {                                                                                                       \
        if (!onChange)                                                                                      \
            return ChangeSubscription();                                                                    \
        return m_record.subscribe(                                                                          \
            context, [f = std::move(onChange)](int number) { f(static_cast<Property>(number)); });          \
    }

// The storage operations every store forwards to its record, under the shared lock
// for writing a data set and the exclusive lock for reading one back; and the changes.
#define SESSIONCONFIG_DEFINE_STORAGE(Store)                                           \
    SESSIONCONFIG_DEFINE_CHANGES(Store)                                               \
    DataSets::DataSet Store::serializeEncrypted() const                               \
    {                                                                                 \
        return m_record.read([](const auto& r) { return r.serializeEncrypted(); });   \
    }                                                                                 \
    DataSets::DataSet Store::serializeUnencrypted() const                             \
    {                                                                                 \
        return m_record.read([](const auto& r) { return r.serializeUnencrypted(); }); \
    }                                                                                 \
    void Store::deserializeEncrypted(const DataSets::DataSet& ds)                     \
    {                                                                                 \
        m_record.write([&ds](auto& r) { r.deserializeEncrypted(ds); });               \
    }                                                                                 \
    void Store::deserializeUnencrypted(const DataSets::DataSet& ds)                   \
    {                                                                                 \
        m_record.write([&ds](auto& r) { r.deserializeUnencrypted(ds); });             \
    }

// Copy and move of a copyable store: the guarded record already copies deeply with a
// fresh lock and hands the record over on a move.
#define SESSIONCONFIG_DEFINE_COPY_AND_MOVE(Store)    \
    Store::Store(const Store&) = default;            \
    Store::Store(Store&&) noexcept = default;        \
    Store& Store::operator=(const Store&) = default; \
    Store& Store::operator=(Store&&) noexcept = default;
