// SPDX-License-Identifier: MIT
#pragma once

// The property tables of the runtime stores: one row per field says everything the
// library knows about it.
//
//   #define SESSIONCONFIG_DESK_PROPERTIES(ROW, X)
//       ROW(X, Host, 0, QString, FIELD, m_host, NONE, "", DROP, EQ, Plain)
//       ROW(X, Enabled, 4, bool, FIELD, m_enabled, ENCRYPTED, "enabled", KEEP, EQ, Plain)
//
// (each line continued with a backslash). The columns:
//   Name, Number  the enumerator and its number (fixed by the client's interface);
//   Type          the value type of getData/setData; for a FIELD row it must be the
//                 record member's type exactly (checked at compile time);
//   Kind, Access  FIELD: the record member Access, read under the shared lock and
//                 assigned under the exclusive one;
//                 DERIVED: the record's const member function Access; setData exists,
//                 does nothing and takes no lock;
//                 WHOLE: the whole record, read under one shared lock; no setData;
//   Part, Key     where the field is stored: ENCRYPTED or PLAIN under Key, or NONE
//                 (held for the run only). Within a part, table order is the order in
//                 which the entries are written and read;
//   Reset         DROP: resetData (for the application store, clear) returns the field
//                 to its default; KEEP: it stays; EMPTY: a held data set is emptied in
//                 place, so everyone sharing it sees it empty;
//   Compare       EQ: the record's operator== compares the field; NOEQ: it does not;
//   Hook          how the value is stored: Plain (by its type) or the name of a rule of
//                 the record's own (defined beside the record's serialization).
//
// From that one table come the property enumeration, the getData/setData
// specializations (declared in the store's header, defined in its source), the
// records' serialization, deserialization, equality and reset, change detection, each
// enumerator's name as text and a compile-time walk. A (type, number) pair not in the
// table fails to compile.

#include "sessionconfig_export.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace SessionConfigDetail {

// Where a field is stored (the Part column).
enum class StoredPart {
    None,      // held for the run only
    Encrypted, // in the encrypted part
    Plain,     // in the plain part
};
// What resetData does to a field (the Reset column).
enum class ResetRule {
    Keep,  // it stays
    Drop,  // back to its default
    Empty, // a held data set is emptied in place
};

// One row of a table, as seen at run time.
struct PropertyRow
{
    int number;       // the enumerator's number
    const char* name; // the enumerator's name
    bool settable;    // false for a WHOLE row: there is no setData
    bool derived;     // true for a DERIVED row: setData does nothing
    StoredPart part;  // where the field is stored
    const char* key;  // its key there; empty when not stored
    ResetRule reset;  // what resetData does to it
    bool compared;    // whether the record's operator== compares it
};

// Specialized for each property enumeration by SESSIONCONFIG_PROPERTY_TABLE.
template <class Enum> struct PropertyTable;

// The row of a property, or null for a number not in the table.
template <class Enum> constexpr const PropertyRow* findRow(Enum property) noexcept
{
    for (const PropertyRow& row : PropertyTable<Enum>::rows) {
        if (row.number == static_cast<int>(property))
            return &row;
    }
    return nullptr;
}

// The type and number of one row, handed to a visitor of PropertyTable<E>::forEach.
template <class T, auto P, bool Settable, bool Derived> struct PropertyTag
{
    using Type = T;                                 // the value type of getData/setData
    static constexpr auto property = P;             // the enumerator
    static constexpr bool settable = Settable;      // as PropertyRow::settable
    static constexpr bool derived = Derived;        // as PropertyRow::derived
    static constexpr PropertyRow row = *findRow(P); // the whole row
};

// For the primary getData/setData templates: false for every pair, so that a pair the
// table does not list fails to compile with a message instead of failing to link.
template <class T, auto P> constexpr bool kListedPair = false;

} // namespace SessionConfigDetail

// The enumerator name of a property ("Host"), or null for a number not in the table.
template <class Enum> constexpr const char* propertyName(Enum property) noexcept
{
    const SessionConfigDetail::PropertyRow* row = SessionConfigDetail::findRow(property);
    return row ? row->name : nullptr;
}

// The property with the given enumerator name (exact, case-sensitive).
template <class Enum> std::optional<Enum> propertyFromName(std::string_view name) noexcept
{
    for (const SessionConfigDetail::PropertyRow& row : SessionConfigDetail::PropertyTable<Enum>::rows) {
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
#define SESSIONCONFIG_PART_NONE SessionConfigDetail::StoredPart::None
#define SESSIONCONFIG_PART_ENCRYPTED SessionConfigDetail::StoredPart::Encrypted
#define SESSIONCONFIG_PART_PLAIN SessionConfigDetail::StoredPart::Plain
#define SESSIONCONFIG_RESET_RULE_KEEP SessionConfigDetail::ResetRule::Keep
#define SESSIONCONFIG_RESET_RULE_DROP SessionConfigDetail::ResetRule::Drop
#define SESSIONCONFIG_RESET_RULE_EMPTY SessionConfigDetail::ResetRule::Empty
#define SESSIONCONFIG_COMPARED_EQ true
#define SESSIONCONFIG_COMPARED_NOEQ false

// Enumeration: `Name = Number,`
#define SESSIONCONFIG_ENUM_ROW(X, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
    Name = Number,

// The property enumeration of a table.
#define SESSIONCONFIG_PROPERTY_ENUM(Enum, TABLE) \
    enum class Enum : int { TABLE(SESSIONCONFIG_ENUM_ROW, Enum) };

// Declarations of the specializations, after the store's class definition.
#define SESSIONCONFIG_DECLARE_ROW(Store, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
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
#define SESSIONCONFIG_INFO_ROW(Enum, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
    SessionConfigDetail::PropertyRow{Number,                                                            \
                                     #Name,                                                             \
                                     SESSIONCONFIG_SETTABLE_##Kind,                                     \
                                     SESSIONCONFIG_DERIVED_##Kind,                                      \
                                     SESSIONCONFIG_PART_##Part,                                         \
                                     Key,                                                               \
                                     SESSIONCONFIG_RESET_RULE_##Reset,                                  \
                                     SESSIONCONFIG_COMPARED_##Compare},
#define SESSIONCONFIG_VISIT_ROW(Enum, Name, Number, Type, Kind, Access, Part, Key, Reset, Compare, Hook) \
    visit(SessionConfigDetail::PropertyTag<Type, Enum::Name, SESSIONCONFIG_SETTABLE_##Kind,              \
                                           SESSIONCONFIG_DERIVED_##Kind>{},                              \
          #Name);

#define SESSIONCONFIG_PROPERTY_TABLE(Enum, TABLE)                                                       \
    template <> struct SessionConfigDetail::PropertyTable<Enum>                                         \
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
