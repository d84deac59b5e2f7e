#pragma once

// Definitions of the getData/setData specializations from a store's property table
// (see PropertyTable.h). A store's source file expands its table once:
//
//   DESK_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, DeskRuntimeData)
//
// Every store keeps its guarded record in a member named m_record.

#include <PropertyTable.h>

#define SESSIONCONFIG_DEFINE_ROW(Store, Name, Number, Type, Kind, Access) \
    SESSIONCONFIG_DEFINE_##Kind(Store, Name, Type, Access)

#define SESSIONCONFIG_DEFINE_FIELD(Store, Name, Type, Access)                       \
    template <> Type Store::getData<Type, Store::Property::Name>() const            \
    {                                                                               \
        return m_record.read([](const auto& r) -> Type { return r.Access; });       \
    }                                                                               \
    template <> void Store::setData<Type, Store::Property::Name>(const Type& value) \
    {                                                                               \
        m_record.write([&value](auto& r) { r.Access = value; });                    \
    }

#define SESSIONCONFIG_DEFINE_DERIVED(Store, Name, Type, Access)                 \
    template <> Type Store::getData<Type, Store::Property::Name>() const        \
    {                                                                           \
        return m_record.read([](const auto& r) -> Type { return r.Access(); }); \
    }                                                                           \
    /* Derived from other fields: nothing to assign, so no lock either. */      \
    template <> void Store::setData<Type, Store::Property::Name>(const Type&) {}

#define SESSIONCONFIG_DEFINE_WHOLE(Store, Name, Type, Access)            \
    template <> Type Store::getData<Type, Store::Property::Name>() const \
    {                                                                    \
        return m_record.read([](const auto& r) -> Type { return r; });   \
    }

// The storage operations every store forwards to its record, under the shared lock
// for writing a data set and the exclusive lock for reading one back.
#define SESSIONCONFIG_DEFINE_STORAGE(Store)                                           \
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
