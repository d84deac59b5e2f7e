// SPDX-License-Identifier: MIT
#pragma once

// The property tables. Each record lists its properties once, as a constexpr table of
// named descriptors returned by its static member function properties(), for example
//
//   field<DeskProperty::Tls, bool>(&R::m_tls).runOnly().dropOnReset(),
//   field<DeskProperty::Enabled, bool>(&R::m_enabled).encrypted("enabled"),
//
// A row starts with what the property is and says only where it differs from the
// defaults (held for the run only, kept by a reset, compared by operator==, not secret,
// stored by its value type):
//   field<P, T>(&R::m_x)          the record member m_x, of type T exactly; getData reads
//                                 it under the shared lock, setData assigns it under the
//                                 exclusive one;
//   derived<P, T>(&R::getX)       computed by the record's const member function getX;
//                                 setData exists, does nothing and takes no lock; never
//                                 compared;
//   wholeRecord<P, R>()           the whole record, read under one shared lock; no
//                                 setData; never compared;
//   .runOnly()                    not stored: held for the run only (the default, said
//                                 for the reader);
//   .encrypted("key"), .plain("key")
//                                 stored in that part under the key; within a part,
//                                 table order is the order of the stored entries;
//   .dropOnReset()                resetData (for the application store, clear) returns
//                                 it to its default;
//   .emptyOnReset()               a held data set is emptied in place, so everyone
//                                 sharing it sees it empty;
//   .notCompared()                the record's operator== leaves it out;
//   .secret()                     never shown by tools (credentials, tokens);
//   .rule<StoredValues::Name>()   stored by the record's own rule Name (defined beside
//                                 the record's serialization) rather than by its type.
//
// The table is checked when the store is compiled: one row per enumerator, unique
// numbers (0..63), unique keys within a part, each row typed as its member. From it
// come getData/setData, the records' stored form, equality and reset, change
// detection, each enumerator's name as text and the walks below.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace StoredValues {
// The default rule: a value stored by its type (see the library's StoredValues.h).
struct Plain;
} // namespace StoredValues

namespace SessionConfigDetail {

// Where a property is stored.
enum class StoredPart {
    None,      // held for the run only
    Encrypted, // in the encrypted part
    Plain,     // in the plain part
};
// What a reset does to a property.
enum class ResetRule {
    Keep,  // it stays
    Drop,  // back to its default
    Empty, // a held data set is emptied in place
};
// What a row reads.
enum class RowKind {
    Field,   // a record member
    Derived, // computed from the record's fields
    Record,  // the whole record
};

// One row of a table, as seen at run time.
struct PropertyRow
{
    int number;       // the enumerator's number
    const char* name; // the enumerator's name
    bool settable;    // false for a whole-record row: there is no setData
    bool derived;     // true for a derived row: setData does nothing
    StoredPart part;  // where it is stored
    const char* key;  // its key there; empty when not stored
    ResetRule reset;  // what a reset does to it
    bool compared;    // whether the record's operator== compares it
    bool secret;      // whether tools must keep its value to themselves
};

// The descriptor of one row: property P of value type T, read from Record through
// Access (a member pointer, a getter pointer, or nothing for the whole record) and
// stored by Rule.
template <auto P, class T, class Record, RowKind Kind, class Access, class Rule = StoredValues::Plain>
struct Row
{
    using Type = T;            // the value type of getData/setData
    using RecordType = Record; // the record the row belongs to
    using RuleType = Rule;     // how the value is stored
    static constexpr auto property = P;
    static constexpr RowKind kind = Kind;

    Access access{};                        // how the value is reached in a record
    StoredPart part = StoredPart::None;     // where it is stored
    const char* key = "";                   // its stored key
    ResetRule reset = ResetRule::Keep;      // what a reset does to it
    bool compared = Kind == RowKind::Field; // whether operator== compares it
    bool isSecret = false;                  // whether tools keep its value to themselves

    // Held for the run only (the default, stated for the reader).
    constexpr Row runOnly() const { return *this; }
    // Stored in the encrypted part under `storedKey`.
    constexpr Row encrypted(const char* storedKey) const { return stored(StoredPart::Encrypted, storedKey); }
    // Stored in the plain part under `storedKey`.
    constexpr Row plain(const char* storedKey) const { return stored(StoredPart::Plain, storedKey); }
    // A reset returns it to its default.
    constexpr Row dropOnReset() const { return withReset(ResetRule::Drop); }
    // A reset empties the held data set in place.
    constexpr Row emptyOnReset() const { return withReset(ResetRule::Empty); }
    // Left out of the record's operator==.
    constexpr Row notCompared() const
    {
        Row r = *this;
        r.compared = false;
        return r;
    }
    // Never shown by tools.
    constexpr Row secret() const
    {
        Row r = *this;
        r.isSecret = true;
        return r;
    }
    // Stored by the record's own rule `Other` instead of by its type.
    template <class Other> constexpr Row<P, T, Record, Kind, Access, Other> rule() const
    {
        return {access, part, key, reset, compared, isSecret};
    }

    // The value as getData returns it, from `r`.
    decltype(auto) read(const Record& r) const
    {
        if constexpr (Kind == RowKind::Field)
            return (r.*access);
        else if constexpr (Kind == RowKind::Derived)
            return (r.*access)();
        else
            return (r);
    }

private:
    constexpr Row stored(StoredPart where, const char* storedKey) const
    {
        Row r = *this;
        r.part = where;
        r.key = storedKey;
        return r;
    }
    constexpr Row withReset(ResetRule rule) const
    {
        Row r = *this;
        r.reset = rule;
        return r;
    }
};

// A record member as property P of type T. The type is stated for the reader and must
// be the member's own: a wider or narrower one would convert silently on every access.
template <auto P, class T, class Record, class Member>
constexpr Row<P, T, Record, RowKind::Field, Member Record::*> field(Member Record::*member)
{
    static_assert(std::is_same_v<T, Member>, "the row must have its record member's type");
    return {member};
}

// Property P of type T computed by the record's const member function `getter`.
template <auto P, class T, class Record, class Result>
constexpr Row<P, T, Record, RowKind::Derived, Result (Record::*)() const> derived(Result (Record::*getter)()
                                                                                      const)
{
    static_assert(std::is_same_v<T, Result>, "the row must have its record member's type");
    return {getter};
}

// Property P: the whole record, read at once.
template <auto P, class Record>
constexpr Row<P, Record, Record, RowKind::Record, std::nullptr_t> wholeRecord()
{
    return {};
}

// The enumerator's name as the compiler spells it in a template argument ("Tls"), or a
// cast such as "(DeskProperty)5" for a number the enumeration does not name. GCC and
// Clang both write "[... P = DeskProperty::Tls ...]" into the function's signature.
template <auto P> constexpr std::string_view enumeratorName() noexcept
{
    const std::string_view signature = __PRETTY_FUNCTION__;
    const std::size_t start = signature.find("P = ") + 4;
    const std::size_t end = signature.find_first_of(";]", start);
    const std::string_view spelled = signature.substr(start, end - start);
    if (!spelled.empty() && spelled.front() == '(')
        return spelled; // no enumerator of that number
    const std::size_t scope = spelled.rfind("::");
    return scope == std::string_view::npos ? spelled : spelled.substr(scope + 2);
}

// The same, null-terminated, for C interfaces.
template <auto P> struct EnumeratorName
{
    static constexpr std::string_view view = enumeratorName<P>();
    static constexpr std::array<char, view.size() + 1> text = [] {
        std::array<char, view.size() + 1> chars{};
        for (std::size_t i = 0; i < view.size(); ++i)
            chars[i] = view[i];
        return chars;
    }();
};

// Whether number n is a named enumerator of Enum.
template <class Enum, int N> constexpr bool isNamed() noexcept
{
    return enumeratorName<static_cast<Enum>(N)>().front() != '(';
}

// How many enumerators of Enum have a number in 0..63 (the numbers a change set holds).
template <class Enum, int... N> constexpr int countNamed(std::integer_sequence<int, N...>) noexcept
{
    return (0 + ... + int(isNamed<Enum, N>()));
}

// The record whose table lists the properties of Enum; specialized beside each table.
template <class Enum> struct RecordOf;

// A record's table, evaluated once.
template <class Record> struct Rows
{
    static constexpr auto table = Record::properties();
    static constexpr std::size_t size = std::tuple_size_v<std::remove_const_t<decltype(table)>>;
};

template <class Row> constexpr PropertyRow describe(const Row& row)
{
    return {static_cast<int>(Row::property),
            EnumeratorName<Row::property>::text.data(),
            Row::kind != RowKind::Record,
            Row::kind == RowKind::Derived,
            row.part,
            row.key,
            row.reset,
            row.compared,
            row.isSecret};
}

// Row I of a record's table as a type: handed to the visitors of PropertyTable::forEach.
template <class Record, std::size_t I> struct PropertyTag
{
    static constexpr const auto& descriptor = std::get<I>(Rows<Record>::table); // the descriptor
    using Descriptor = std::remove_cv_t<std::remove_reference_t<decltype(descriptor)>>;
    using Type = typename Descriptor::Type;                               // the value type of getData/setData
    static constexpr auto property = Descriptor::property;                // the enumerator
    static constexpr bool settable = Descriptor::kind != RowKind::Record; // as PropertyRow::settable
    static constexpr bool derived = Descriptor::kind == RowKind::Derived; // as PropertyRow::derived
    static constexpr PropertyRow row = describe(descriptor);              // the whole row
};

// What getData/setData find for a (type, property) pair that no row lists.
struct NoRow
{
    using Type = void;
    static constexpr bool settable = false;
};

// Calls f(PropertyTag<Record, I>{}) for each row, in table order.
template <class Record, class F, std::size_t... I> void visitRows(F&& f, std::index_sequence<I...>)
{
    (f(PropertyTag<Record, I>{}), ...);
}
template <class Record, class F> void forEachRow(F&& f)
{
    visitRows<Record>(std::forward<F>(f), std::make_index_sequence<Rows<Record>::size>{});
}

template <class Table> constexpr bool distinctNumbers(const Table& rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t j = i + 1; j < rows.size(); ++j) {
            if (rows[i].number == rows[j].number)
                return false;
        }
    }
    return true;
}

template <class Table> constexpr bool distinctKeys(const Table& rows)
{
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t j = i + 1; j < rows.size(); ++j) {
            if (rows[i].part != StoredPart::None && rows[i].part == rows[j].part &&
                std::string_view(rows[i].key) == std::string_view(rows[j].key))
                return false;
        }
    }
    return true;
}

template <class Table> constexpr bool numbersFitTheSet(const Table& rows)
{
    for (const PropertyRow& row : rows) {
        if (row.number < 0 || row.number >= 64)
            return false;
    }
    return true;
}

template <class Table> constexpr bool rowsNamed(const Table& rows)
{
    for (const PropertyRow& row : rows) {
        if (row.name[0] == '(')
            return false;
    }
    return true;
}

template <class Record, std::size_t... I>
constexpr std::array<PropertyRow, sizeof...(I)> describeAll(std::index_sequence<I...>)
{
    return {{describe(std::get<I>(Rows<Record>::table))...}};
}

// The table of the property enumeration Enum, as seen at run time and as a walk.
template <class Enum> struct PropertyTable
{
    using Record = typename RecordOf<Enum>::type; // the record that owns the table

    // Every row, in table order.
    static constexpr std::array<PropertyRow, Rows<Record>::size> rows =
        describeAll<Record>(std::make_index_sequence<Rows<Record>::size>{});

    static_assert(numbersFitTheSet(rows), "property numbers must be 0..63");
    static_assert(rowsNamed(rows) &&
                      countNamed<Enum>(std::make_integer_sequence<int, 64>{}) == int(rows.size()),
                  "every enumerator needs exactly one row");
    static_assert(distinctNumbers(rows), "two rows have one number");
    static_assert(distinctKeys(rows), "two rows store one key in one part");

    // Calls visit(PropertyTag<Record, I>{}, "Name") for each row, in table order.
    template <class Visitor> static void forEach(Visitor&& visit)
    {
        forEachRow<Record>([&](auto tag) { visit(tag, decltype(tag)::row.name); });
    }

    // The position of `property` in the table, or the table's size when no row has it.
    static constexpr std::size_t indexOf(Enum property) noexcept
    {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].number == static_cast<int>(property))
                return i;
        }
        return rows.size();
    }

    // The tag of the row of P, or NoRow.
    template <Enum P>
    using TagOf = std::conditional_t<(indexOf(P) < rows.size()),
                                     PropertyTag<Record, (indexOf(P) < rows.size() ? indexOf(P) : 0)>, NoRow>;
};

// The row of a property, or null for a number not in the table.
template <class Enum> constexpr const PropertyRow* findRow(Enum property) noexcept
{
    const std::size_t i = PropertyTable<Enum>::indexOf(property);
    return i < PropertyTable<Enum>::rows.size() ? &PropertyTable<Enum>::rows[i] : nullptr;
}

// For getData/setData: false for every pair, so that a pair the table does not list
// fails to compile with a message instead of failing to link.
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
