// SPDX-License-Identifier: MIT
#include "Verbs.h"

#include "Domains.h"
#include "Failure.h"
#include "ProfileValues.h"
#include "Values.h"

#include <DataSetCodec.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <type_traits>
#include <vector>

namespace sessionctl {

namespace {

using SessionConfigDetail::PropertyTable;
using SessionConfigDetail::StoredPart;

const char* partName(StoredPart part)
{
    switch (part) {
    case StoredPart::Encrypted:
        return "encrypted";
    case StoredPart::Plain:
        return "plain";
    case StoredPart::None:
        break;
    }
    return "none";
}

const char* resetName(SessionConfigDetail::ResetRule reset)
{
    switch (reset) {
    case SessionConfigDetail::ResetRule::Drop:
        return "drop";
    case SessionConfigDetail::ResetRule::Empty:
        return "empty";
    case SessionConfigDetail::ResetRule::Keep:
        break;
    }
    return "keep";
}

// The value kinds in the words an administrator reads.
template <class T> const char* kindOf()
{
    if constexpr (std::is_same_v<T, QString>)
        return "text";
    else if constexpr (std::is_same_v<T, bool>)
        return "flag";
    else if constexpr (std::is_integral_v<T>)
        return "integer";
    else if constexpr (std::is_enum_v<T>)
        return "enumeration";
    else if constexpr (std::is_same_v<T, std::optional<int>>)
        return "optional integer";
    else if constexpr (std::is_same_v<T, QDateTime>)
        return "date-time";
    else if constexpr (std::is_same_v<T, QByteArray>)
        return "bytes";
    else if constexpr (std::is_same_v<T, std::set<QString>>)
        return "list";
    else if constexpr (std::is_same_v<T, DataSets::DataSet>)
        return "nested set";
    else if constexpr (std::is_same_v<T, Endpoints>)
        return "endpoints";
    else if constexpr (std::is_same_v<T, CallerIds>)
        return "caller ids";
    else if constexpr (std::is_same_v<T, CommandLineOptions>)
        return "command-line options";
    else
        return "record";
}

// The value type as the table states it, for the contract: a changed width or type
// of a property is a changed interface even where its kind stays the same.
template <class T> const char* spelledType()
{
    if constexpr (std::is_same_v<T, QString>)
        return "QString";
    else if constexpr (std::is_same_v<T, bool>)
        return "bool";
    else if constexpr (std::is_same_v<T, int>)
        return "int";
    else if constexpr (std::is_same_v<T, unsigned int>)
        return "unsigned int";
    else if constexpr (std::is_same_v<T, unsigned short>)
        return "unsigned short";
    else if constexpr (std::is_same_v<T, long long>)
        return "long long";
    else if constexpr (std::is_same_v<T, std::optional<int>>)
        return "std::optional<int>";
    else if constexpr (std::is_same_v<T, QDateTime>)
        return "QDateTime";
    else if constexpr (std::is_same_v<T, QByteArray>)
        return "QByteArray";
    else if constexpr (std::is_same_v<T, std::set<QString>>)
        return "std::set<QString>";
    else if constexpr (std::is_same_v<T, DataSets::DataSet>)
        return "DataSets::DataSet";
    else if constexpr (std::is_same_v<T, Endpoints>)
        return "Endpoints";
    else if constexpr (std::is_same_v<T, CallerIds>)
        return "CallerIds";
    else if constexpr (std::is_same_v<T, CommandLineOptions>)
        return "CommandLineOptions";
    else if constexpr (std::is_same_v<T, ResourcesDefs::RemoteType>)
        return "ResourcesDefs::RemoteType";
    else if constexpr (std::is_same_v<T, PhoneDefinitions::PhoneSettingsMode>)
        return "PhoneDefinitions::PhoneSettingsMode";
    else if constexpr (std::is_same_v<T, PhoneDefinitions::OperationMode>)
        return "PhoneDefinitions::OperationMode";
    else if constexpr (std::is_same_v<T, PhoneDefinitions::DTMFMode>)
        return "PhoneDefinitions::DTMFMode";
    else if constexpr (std::is_same_v<T, CallFlowConfigurationDTO>)
        return "CallFlowConfigurationDTO";
    else
        static_assert(sizeof(T) == 0, "a new value type: spell it here");
}

QStringList allNames()
{
    QStringList names;
    forEachDomain([&](const auto& domain) {
        using Property = typename std::decay_t<decltype(domain)>::StoreType::Property;
        for (const auto& row : PropertyTable<Property>::rows)
            names << QStringLiteral("%1.%2").arg(QLatin1String(domain.name), QLatin1String(row.name));
    });
    return names;
}

int editDistance(const QString& a, const QString& b)
{
    std::vector<int> row(static_cast<size_t>(b.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[static_cast<size_t>(j)];
            const bool same = a[i - 1].toLower() == b[j - 1].toLower();
            row[static_cast<size_t>(j)] =
                std::min({above + 1, row[static_cast<size_t>(j - 1)] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

[[noreturn]] void unknown(const QString& name)
{
    const QStringList near = nearest(name, allNames());
    QString message = QStringLiteral("unknown property \"%1\"").arg(name);
    if (!near.isEmpty())
        message += QStringLiteral("; did you mean %1?").arg(near.join(QStringLiteral(", ")));
    else
        message += QStringLiteral(" (sessionctl list names them all)");
    throw Failure{ExitUsage, message};
}

// Calls f(domain, tag) for the row that `fullName` names; Failure when none does.
template <class F> void visitProperty(const QString& fullName, F&& f)
{
    if (!findProperty(fullName, f))
        unknown(fullName);
}

[[noreturn]] void refuse(const QString& name, const QString& why)
{
    throw Failure{ExitUsage, QStringLiteral("%1: %2").arg(name, why)};
}

// True for a value type get prints and set takes back: not a record.
template <class T> constexpr bool printable()
{
    return std::is_same_v<T, QString> || std::is_integral_v<T> || std::is_enum_v<T> ||
           std::is_same_v<T, std::optional<int>> || std::is_same_v<T, QDateTime> ||
           std::is_same_v<T, QByteArray> || std::is_same_v<T, std::set<QString>> ||
           std::is_same_v<T, DataSets::DataSet>;
}

// Why a row cannot be written by set or reset, or nothing when it can.
template <class Tag> std::optional<QString> unwritable(Target target = Target::StoredFiles)
{
    if constexpr (!Tag::settable)
        return QStringLiteral("read-only, cannot be set");
    else if constexpr (Tag::derived)
        return QStringLiteral("derived from other properties, cannot be set");
    else if (Tag::row.part == StoredPart::None &&
             (target == Target::StoredFiles || !printable<typename Tag::Type>()))
        return QStringLiteral("not stored (held for the run only), a value set here would not survive");
    else
        return std::nullopt;
}

using Write = std::function<void(SessionData&)>;

// Collects every write before the first one runs: one refusal writes nothing.
template <class Plan> void writeAll(SessionData& session, const QStringList& names, Target target, Plan plan)
{
    std::vector<Write> writes;
    for (const QString& name : names) {
        visitProperty(name, [&](const auto& domain, auto tag) {
            using Tag = decltype(tag);
            // The password and tokens only ever by the stored files' rule, even live.
            if (const auto why = unwritable<Tag>(Tag::row.secret ? Target::StoredFiles : target))
                refuse(name, *why);
            if constexpr (Tag::settable && !Tag::derived &&
                          (Tag::row.part != StoredPart::None || printable<typename Tag::Type>())) {
                using T = typename Tag::Type;
                T value{};
                if (const auto fault = plan(domain, tag, value))
                    refuse(name + fault->at, fault->what);
                writes.push_back([value, store = domain.store](SessionData& s) {
                    (s.*store)().lock()->template setData<T, Tag::property>(value);
                });
            }
        });
    }
    for (const Write& write : writes)
        write(session);
}

// How the stored form writes a stored property, read off a fresh session's part:
// "text", "flag", "number", "set" or "list".
template <class Store, class Tag> QString storedAs(const Domain<Store>& domain, Tag)
{
    const SessionData fresh;
    const DataSets::DataSet part =
        Tag::row.part == StoredPart::Encrypted ? fresh.serializeEncrypted() : fresh.serializeUnencrypted();
    DataSets::Impl::Value section, value;
    if (!part->value(QLatin1String(domain.name), section) || section.index() != 3 ||
        !std::get<3>(section)->value(QLatin1String(Tag::row.key), value))
        return QString();
    static const char* const kinds[] = {"text", "flag", "number", "set"};
    return value.index() == 3 && std::get<3>(value)->isList() ? QStringLiteral("list")
                                                              : QLatin1String(kinds[value.index()]);
}

// The stored form a value type is written in unless its record says otherwise.
QString naturalForm(const QString& type)
{
    if (type == QLatin1String("flag") || type == QLatin1String("list"))
        return type;
    if (type == QLatin1String("nested set"))
        return QStringLiteral("set");
    if (type == QLatin1String("integer") || type == QLatin1String("enumeration") ||
        type == QLatin1String("optional integer"))
        return QStringLiteral("number");
    return QStringLiteral("text");
}

// The one JSON shape of a property, in list, get and show: its name, number, value
// type (with the names an enumeration takes), where it is stored, whether set takes
// it and whether it is a secret.
template <class Store, class Tag>
QJsonObject propertyJson(const Domain<Store>& domain, Tag, const char* name,
                         Target target = Target::StoredFiles)
{
    using T = typename Tag::Type;
    QJsonObject p{
        {QStringLiteral("name"),
         QStringLiteral("%1.%2").arg(QLatin1String(domain.name), QLatin1String(name))},
        {QStringLiteral("number"), static_cast<int>(Tag::property)},
        {QStringLiteral("type"), QLatin1String(kindOf<T>())},
        {QStringLiteral("stored"), QLatin1String(partName(Tag::row.part))},
        {QStringLiteral("key"), QLatin1String(Tag::row.key)},
        {QStringLiteral("settable"),
         !unwritable<Tag>(Tag::row.secret ? Target::StoredFiles : target).has_value()},
    };
    // (Left out where a fresh session writes nothing to tell.)
    if constexpr (Tag::row.part != StoredPart::None) {
        if (const QString form = storedAs(domain, Tag{}); !form.isEmpty())
            p.insert(QStringLiteral("storedAs"), form);
    }
    if constexpr (std::is_enum_v<T>) {
        QJsonArray values;
        for (const auto& [value, valueName] : enumNames(T{}))
            values.append(QJsonObject{{QStringLiteral("name"), QLatin1String(valueName)},
                                      {QStringLiteral("number"), static_cast<int>(value)}});
        p.insert(QStringLiteral("values"), values);
    }
    if constexpr (Tag::row.secret)
        p.insert(QStringLiteral("secret"), true);
    return p;
}

// The property's object with its value as `session` holds it.
template <class Store, class Tag>
QJsonObject propertyValueJson(const Domain<Store>& domain, Tag tag, const char* name,
                              const SessionData& session, Target target = Target::StoredFiles)
{
    using T = typename Tag::Type;
    QJsonObject p = propertyJson(domain, tag, name, target);
    if (p.contains(QStringLiteral("secret"))) {
        p.insert(QStringLiteral("hidden"), true);
    } else if (Tag::row.part != StoredPart::None || (target == Target::RunningClient && printable<T>())) {
        const T value = domain.of(session)->template getData<T, Tag::property>();
        p.insert(QStringLiteral("value"), valueJson(value));
        if constexpr (std::is_enum_v<T>)
            p.insert(QStringLiteral("valueNumber"), static_cast<int>(value));
    }
    return p;
}

} // namespace

QStringList nearest(const QString& name, const QStringList& candidates)
{
    std::vector<std::pair<int, QString>> ranked;
    for (const QString& candidate : candidates)
        ranked.emplace_back(editDistance(name, candidate), candidate);
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList near;
    const int bound = std::max(2, static_cast<int>(name.size()) / 3);
    for (const auto& [distance, candidate] : ranked) {
        if (distance > bound || near.size() == 3)
            break;
        near << candidate;
    }
    return near;
}

void listProperties(QTextStream& out, bool json)
{
    QJsonArray rows;
    forEachDomain([&](const auto& domain) {
        using Property = typename std::decay_t<decltype(domain)>::StoreType::Property;
        PropertyTable<Property>::forEach([&](auto tag, const char* name) {
            // What a reset does and whether equality looks at it: the rest of the row,
            // for the contract rather than for get and show.
            QJsonObject p = propertyJson(domain, tag, name);
            p.insert(QStringLiteral("reset"), QLatin1String(resetName(decltype(tag)::row.reset)));
            p.insert(QStringLiteral("compared"), decltype(tag)::row.compared);
            p.insert(QStringLiteral("valueType"), QLatin1String(spelledType<typename decltype(tag)::Type>()));
            rows.append(p);
        });
    });
    if (json) {
        out << QJsonDocument(QJsonObject{{QStringLiteral("properties"), rows}})
                   .toJson(QJsonDocument::Indented);
        return;
    }
    for (const auto& v : rows) {
        const QJsonObject row = v.toObject();
        const QString stored = row[QStringLiteral("stored")].toString();
        QString type = row[QStringLiteral("type")].toString();
        if (row.contains(QStringLiteral("storedAs")) &&
            naturalForm(type) != row[QStringLiteral("storedAs")].toString())
            type += QStringLiteral(", stored as ") + row[QStringLiteral("storedAs")].toString();
        if (row.contains(QStringLiteral("values"))) {
            QStringList names;
            for (const auto& value : row[QStringLiteral("values")].toArray())
                names << value[QStringLiteral("name")].toString();
            type += QStringLiteral(": ") + names.join(QLatin1Char('|'));
        }
        out << row[QStringLiteral("name")].toString().leftJustified(40) << ' ' << type.leftJustified(28)
            << ' '
            << (stored == QLatin1String("none")
                    ? QStringLiteral("run only")
                    : QStringLiteral("%1 part, key %2").arg(stored, row[QStringLiteral("key")].toString()))
            << '\n';
    }
}

void checkNames(const QStringList& names)
{
    for (const QString& name : names)
        visitProperty(name, [](const auto&, auto) {});
}

QJsonArray getProperties(const SessionData& session, const QStringList& names, Target target)
{
    QJsonArray properties;
    for (const QString& name : names) {
        visitProperty(name, [&](const auto& domain, auto tag) {
            const QString bare = name.mid(name.indexOf(QLatin1Char('.')) + 1);
            properties.append(propertyValueJson(domain, tag, bare.toLatin1().constData(), session, target));
        });
    }
    return properties;
}

QJsonArray storedProperties(const SessionData& session, SessionConfigDetail::StoredPart part)
{
    QJsonArray properties;
    forEachDomain([&](const auto& domain) {
        using Property = typename std::decay_t<decltype(domain)>::StoreType::Property;
        PropertyTable<Property>::forEach([&](auto tag, const char* name) {
            if (decltype(tag)::row.part == part)
                properties.append(propertyValueJson(domain, tag, name, session));
        });
    });
    return properties;
}

void printProperties(QTextStream& out, const QJsonArray& properties)
{
    for (const auto& v : properties) {
        const QJsonObject p = v.toObject();
        out << p[QStringLiteral("name")].toString();
        if (p[QStringLiteral("hidden")].toBool())
            out << " = (hidden)";
        else if (!p.contains(QStringLiteral("value")))
            out << ": not stored (held for the run only)";
        else
            out << " = " << typedText(p[QStringLiteral("value")]);
        out << '\n';
    }
}

void setProperties(SessionData& session, const QList<QPair<QString, QString>>& assignments, Target target)
{
    QStringList names;
    for (const auto& a : assignments)
        names << a.first;
    qsizetype next = 0;
    writeAll(session, names, target, [&](const auto& domain, auto tag, auto& value) {
        using Tag = decltype(tag);
        std::optional<profile::Fault> fault;
        const QJsonValue json = typedJson(typedAs<typename Tag::Type>(), assignments[next++].second, fault);
        return fault ? fault : checkedValue<Tag>(domain, json, value);
    });
}

void resetProperties(SessionData& session, const QStringList& names, Target target)
{
    const SessionData fresh;
    writeAll(session, names, target, [&](const auto& domain, auto tag, auto& value) {
        using Tag = decltype(tag);
        const auto initial = domain.of(fresh)->template getData<typename Tag::Type, Tag::property>();
        return checkedValue<Tag>(domain, typedText(valueJson(initial)), initial, value);
    });
}

} // namespace sessionctl
