// SPDX-License-Identifier: MIT
#include "Verbs.h"

#include "Domains.h"
#include "Failure.h"
#include "ProfileValues.h"

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

bool isSecret(const QString& name)
{
    return name.contains(QLatin1String("password"), Qt::CaseInsensitive) ||
           name.contains(QLatin1String("token"), Qt::CaseInsensitive);
}

QJsonValue hideSecrets(const QJsonValue& v)
{
    if (v.isArray()) {
        QJsonArray out;
        for (const auto& item : v.toArray())
            out.append(hideSecrets(item));
        return out;
    }
    if (!v.isObject())
        return v;
    QJsonObject out = v.toObject();
    for (auto it = out.begin(); it != out.end(); ++it)
        it.value() = isSecret(it.key()) ? QJsonValue(QStringLiteral("(hidden)")) : hideSecrets(it.value());
    return out;
}

// The value as the profile would give it, so that what get prints set takes back.
template <class T> QJsonValue toJson(const T& v)
{
    if constexpr (std::is_same_v<T, QString> || std::is_same_v<T, bool>) {
        return QJsonValue(v);
    } else if constexpr (std::is_same_v<T, long long>) {
        // Beyond 2^53 a JSON number loses digits: the profile takes decimal text.
        constexpr long long exact = 1LL << 53;
        return v >= -exact && v <= exact ? QJsonValue(static_cast<double>(v))
                                         : QJsonValue(QString::number(v));
    } else if constexpr (std::is_integral_v<T>) {
        return QJsonValue(static_cast<double>(v));
    } else if constexpr (std::is_enum_v<T>) {
        return QJsonValue(static_cast<double>(static_cast<std::underlying_type_t<T>>(v)));
    } else if constexpr (std::is_same_v<T, std::optional<int>>) {
        return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
    } else if constexpr (std::is_same_v<T, QDateTime>) {
        return v.isValid() ? QJsonValue(v.toString(Qt::ISODateWithMs)) : QJsonValue(QJsonValue::Null);
    } else if constexpr (std::is_same_v<T, QByteArray>) {
        return QJsonValue(QString::fromLatin1(v.toBase64()));
    } else if constexpr (std::is_same_v<T, std::set<QString>>) {
        QJsonArray out;
        for (const QString& s : v)
            out.append(s);
        return out;
    } else if constexpr (std::is_same_v<T, DataSets::DataSet>) {
        return dataSetJson(v);
    } else {
        // Structures held for the run only are never asked for.
        return QJsonValue(QJsonValue::Null);
    }
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
    const QStringList names = allNames();
    std::vector<std::pair<int, QString>> ranked;
    for (const QString& candidate : names)
        ranked.emplace_back(editDistance(name, candidate), candidate);
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList nearest;
    const int bound = std::max(3, static_cast<int>(name.size()) / 3);
    for (const auto& [distance, candidate] : ranked) {
        if (distance > bound || nearest.size() == 3)
            break;
        nearest << candidate;
    }
    QString message = QStringLiteral("unknown property \"%1\"").arg(name);
    if (!nearest.isEmpty())
        message += QStringLiteral("; did you mean %1?").arg(nearest.join(QStringLiteral(", ")));
    else
        message += QStringLiteral(" (sessionctl list names them all)");
    throw Failure{ExitUsage, message};
}

// Calls f(domain, tag) for the row that `fullName` names; Failure when none does.
template <class F> void visitProperty(const QString& fullName, F&& f)
{
    const qsizetype dot = fullName.indexOf(QLatin1Char('.'));
    bool found = false;
    if (dot > 0) {
        const QString domainName = fullName.left(dot);
        const QString propertyName = fullName.mid(dot + 1);
        forEachDomain([&](const auto& domain) {
            if (domainName != QLatin1String(domain.name))
                return;
            using Property = typename std::decay_t<decltype(domain)>::StoreType::Property;
            PropertyTable<Property>::forEach([&](auto tag, const char* rowName) {
                if (propertyName != QLatin1String(rowName))
                    return;
                found = true;
                f(domain, tag);
            });
        });
    }
    if (!found)
        unknown(fullName);
}

[[noreturn]] void refuse(const QString& name, const QString& why)
{
    throw Failure{ExitUsage, QStringLiteral("%1: %2").arg(name, why)};
}

// Why a row cannot be written by set or reset, or nothing when it can.
template <class Tag> std::optional<QString> unwritable()
{
    if constexpr (!Tag::settable)
        return QStringLiteral("read-only, cannot be set");
    else if constexpr (Tag::derived)
        return QStringLiteral("derived from other properties, cannot be set");
    else if constexpr (Tag::row.part == StoredPart::None)
        return QStringLiteral("not stored (held for the run only), a value set here would not survive");
    else
        return std::nullopt;
}

using Write = std::function<void(SessionData&)>;

// Collects every write before the first one runs: one refusal writes nothing.
template <class Plan> void writeAll(SessionData& session, const QStringList& names, Plan plan)
{
    std::vector<Write> writes;
    for (const QString& name : names) {
        visitProperty(name, [&](const auto& domain, auto tag) {
            using Tag = decltype(tag);
            (void)domain;
            if (const auto why = unwritable<Tag>())
                refuse(name, *why);
            if constexpr (Tag::settable && !Tag::derived && Tag::row.part != StoredPart::None) {
                using T = typename Tag::Type;
                const T value = plan(name, tag);
                writes.push_back([value, store = domain.store](SessionData& s) {
                    (s.*store)().lock()->template setData<T, Tag::property>(value);
                });
            }
        });
    }
    for (const Write& write : writes)
        write(session);
}

} // namespace

QJsonValue dataSetJson(const DataSets::DataSet& ds)
{
    if (!ds)
        return QJsonValue(QJsonValue::Null);
    const auto encoded = DataSets::DataSetCodec::toJson(ds, QJsonDocument::Compact);
    if (!encoded.ok())
        throw Failure{ExitBadStoredFile,
                      QStringLiteral("a held data set cannot be shown: %1").arg(encoded.error.toString())};
    const QJsonDocument doc = QJsonDocument::fromJson(encoded.bytes);
    return hideSecrets(doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object()));
}

void listProperties(QTextStream& out, bool json)
{
    QJsonArray rows;
    forEachDomain([&](const auto& domain) {
        using Property = typename std::decay_t<decltype(domain)>::StoreType::Property;
        PropertyTable<Property>::forEach([&](auto tag, const char* name) {
            using Tag = decltype(tag);
            rows.append(QJsonObject{
                {QStringLiteral("domain"), QLatin1String(domain.name)},
                {QStringLiteral("name"), QLatin1String(name)},
                {QStringLiteral("number"), static_cast<int>(Tag::property)},
                {QStringLiteral("type"), QLatin1String(kindOf<typename Tag::Type>())},
                {QStringLiteral("stored"), QLatin1String(partName(Tag::row.part))},
                {QStringLiteral("key"), QLatin1String(Tag::row.key)},
                {QStringLiteral("settable"), !unwritable<Tag>().has_value()},
            });
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
        const QString name = QStringLiteral("%1.%2").arg(row[QStringLiteral("domain")].toString(),
                                                         row[QStringLiteral("name")].toString());
        out << name.leftJustified(48) << ' ' << row[QStringLiteral("type")].toString().leftJustified(20)
            << ' '
            << (stored == QLatin1String("none")
                    ? QStringLiteral("run only")
                    : QStringLiteral("%1 part, key %2").arg(stored, row[QStringLiteral("key")].toString()))
            << '\n';
    }
}

QJsonArray getProperties(const SessionData& session, const QStringList& names)
{
    QJsonArray properties;
    for (const QString& name : names) {
        visitProperty(name, [&](const auto& domain, auto tag) {
            using Tag = decltype(tag);
            using T = typename Tag::Type;
            QJsonObject p{
                {QStringLiteral("name"), name},
                {QStringLiteral("type"), QLatin1String(kindOf<T>())},
                {QStringLiteral("stored"), QLatin1String(partName(Tag::row.part))},
                {QStringLiteral("key"), QLatin1String(Tag::row.key)},
            };
            (void)domain;
            if (isSecret(name))
                p.insert(QStringLiteral("hidden"), true);
            else if constexpr (Tag::row.part != StoredPart::None)
                p.insert(QStringLiteral("value"),
                         toJson(domain.of(session)->template getData<T, Tag::property>()));
            properties.append(p);
        });
    }
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
            out << " = "
                << QJsonDocument(QJsonArray{p[QStringLiteral("value")]})
                       .toJson(QJsonDocument::Compact)
                       .chopped(1)
                       .mid(1);
        out << '\n';
    }
}

void setProperties(SessionData& session, const QList<QPair<QString, QByteArray>>& assignments)
{
    QStringList names;
    for (const auto& a : assignments)
        names << a.first;
    qsizetype next = 0;
    writeAll(session, names, [&](const QString& name, auto tag) {
        using T = typename decltype(tag)::Type;
        const QByteArray& text = assignments[next++].second;
        // A scalar is read inside an array: a JSON document is an array or an object.
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson('[' + text + ']', &error);
        QJsonValue json;
        if (error.error == QJsonParseError::NoError && doc.array().size() == 1)
            json = doc.array().first();
        else if (std::is_same_v<T, QString>)
            json = QString::fromLocal8Bit(text);
        else
            refuse(name, QStringLiteral("not a JSON value: %1").arg(QString::fromLocal8Bit(text)));
        T value{};
        if (const auto fault = profile::read(json, value))
            refuse(name + fault->at, fault->what);
        return value;
    });
}

void resetProperties(SessionData& session, const QStringList& names)
{
    const SessionData fresh;
    writeAll(session, names, [&](const QString&, auto tag) {
        using Tag = decltype(tag);
        typename Tag::Type value{};
        forEachDomain([&](const auto& domain) {
            using Store = typename std::decay_t<decltype(domain)>::StoreType;
            if constexpr (std::is_same_v<typename Store::Property, std::decay_t<decltype(Tag::property)>>)
                value = domain.of(fresh)->template getData<typename Tag::Type, Tag::property>();
        });
        return value;
    });
}

} // namespace sessionctl
