#pragma once

// The property tables of the runtime stores.
//
// Each store lists its properties once, one line per property, in a table macro:
//
//   #define DESK_PROPERTIES(ROW, X)
//       ROW(X, Host, 0, QString, FIELD, m_host)
//       ROW(X, Port, 1, unsigned short, FIELD, m_port)
//
// (each line continued with a backslash)
//
// with the columns enumerator, number, value type, kind and record access. The kinds:
//   FIELD    getData copies the record field under the shared lock, setData assigns
//            it under the exclusive lock;
//   DERIVED  getData calls the record's const member function under the shared lock;
//            setData exists, does nothing and takes no lock;
//   WHOLE    getData copies the whole record under one shared lock; no setData.
//
// From that one table come the property enumeration, the explicit specializations
// of getData/setData (declared in the store's header, defined in its source), each
// enumerator's name as text and a compile-time walk over the rows. Only the listed
// (type, number) pairs are declared: any other pair fails to compile or to link.

#include "sessionconfig_export.h"

#include <cstdint>
#include <optional>
#include <string_view>

// One row of a table, as seen at run time.
struct PropertyRow
{
    int number;
    const char* name;
    bool settable; // false for a WHOLE row: there is no setData
    bool derived;  // true for a DERIVED row: setData does nothing
};

// The type and number of one row, handed to a visitor of PropertyTable<E>::forEach.
template <class T, auto P, bool Settable, bool Derived> struct PropertyTag
{
    using Type = T;
    static constexpr auto property = P;
    static constexpr bool settable = Settable;
    static constexpr bool derived = Derived;
};

// Specialized for each property enumeration by SESSIONCONFIG_PROPERTY_TABLE.
template <class Enum> struct PropertyTable;

// The enumerator name of a property ("Host"), or null for a number not in the table.
template <class Enum> constexpr const char* propertyName(Enum property) noexcept
{
    for (const PropertyRow& row : PropertyTable<Enum>::rows) {
        if (row.number == static_cast<int>(property))
            return row.name;
    }
    return nullptr;
}

// The property with the given enumerator name (exact, case-sensitive).
template <class Enum> std::optional<Enum> propertyFromName(std::string_view name) noexcept
{
    for (const PropertyRow& row : PropertyTable<Enum>::rows) {
        if (name == row.name)
            return static_cast<Enum>(row.number);
    }
    return std::nullopt;
}

#define SESSIONCONFIG_SETTABLE_FIELD true
#define SESSIONCONFIG_SETTABLE_DERIVED true
#define SESSIONCONFIG_SETTABLE_WHOLE false
#define SESSIONCONFIG_DERIVED_FIELD false
#define SESSIONCONFIG_DERIVED_DERIVED true
#define SESSIONCONFIG_DERIVED_WHOLE false

// Enumeration: `Name = Number,`
#define SESSIONCONFIG_ENUM_ROW(X, Name, Number, Type, Kind, Access) Name = Number,

// The property enumeration of a table.
#define SESSIONCONFIG_PROPERTY_ENUM(Enum, TABLE) \
    enum class Enum : int { TABLE(SESSIONCONFIG_ENUM_ROW, Enum) };

// Declarations of the specializations, after the store's class definition.
#define SESSIONCONFIG_DECLARE_ROW(Store, Name, Number, Type, Kind, Access) \
    SESSIONCONFIG_DECLARE_##Kind(Store, Name, Type)
#define SESSIONCONFIG_DECLARE_GETTER(Store, Name, Type) \
    template <> SESSIONCONFIG_EXPORT Type Store::getData<Type, Store::Property::Name>() const;
#define SESSIONCONFIG_DECLARE_SETTER(Store, Name, Type) \
    template <> SESSIONCONFIG_EXPORT void Store::setData<Type, Store::Property::Name>(const Type&);
#define SESSIONCONFIG_DECLARE_FIELD(Store, Name, Type) \
    SESSIONCONFIG_DECLARE_GETTER(Store, Name, Type) SESSIONCONFIG_DECLARE_SETTER(Store, Name, Type)
#define SESSIONCONFIG_DECLARE_DERIVED(Store, Name, Type) SESSIONCONFIG_DECLARE_FIELD(Store, Name, Type)
#define SESSIONCONFIG_DECLARE_WHOLE(Store, Name, Type) SESSIONCONFIG_DECLARE_GETTER(Store, Name, Type)

// Row information and the compile-time walk.
#define SESSIONCONFIG_INFO_ROW(Enum, Name, Number, Type, Kind, Access) \
    PropertyRow{Number, #Name, SESSIONCONFIG_SETTABLE_##Kind, SESSIONCONFIG_DERIVED_##Kind},
#define SESSIONCONFIG_VISIT_ROW(Enum, Name, Number, Type, Kind, Access)                                 \
    visit(PropertyTag<Type, Enum::Name, SESSIONCONFIG_SETTABLE_##Kind, SESSIONCONFIG_DERIVED_##Kind>{}, \
          #Name);

#define SESSIONCONFIG_PROPERTY_TABLE(Enum, TABLE)                                                       \
    template <> struct PropertyTable<Enum>                                                              \
    {                                                                                                   \
        static constexpr PropertyRow rows[] = {TABLE(SESSIONCONFIG_INFO_ROW, Enum)};                    \
        /* Calls visit(PropertyTag<T, P, settable, derived>{}, "Name") for each row, in table order. */ \
        template <class Visitor> static void forEach(Visitor&& visit)                                   \
        {                                                                                               \
            TABLE(SESSIONCONFIG_VISIT_ROW, Enum)                                                        \
        }                                                                                               \
    };

// Which properties differ between two states of a store's record (defined in the
// store's source from the table).
#define SESSIONCONFIG_DECLARE_CHANGES(Store)                                                           \
    template <> struct RecordChanges<Store::RecordType>                                                \
    {                                                                                                  \
        static std::uint64_t between(const Store::RecordType& before, const Store::RecordType& after); \
    };

// Everything a store's header needs after the class: the specializations and the table.
#define SESSIONCONFIG_STORE_PROPERTIES(Store, Enum, TABLE) \
    TABLE(SESSIONCONFIG_DECLARE_ROW, Store)                \
    SESSIONCONFIG_PROPERTY_TABLE(Enum, TABLE)              \
    SESSIONCONFIG_DECLARE_CHANGES(Store)
