// SPDX-License-Identifier: MIT
#pragma once

// Reading one provisioned value from its JSON form, one reader per value type of the
// property tables. A reader either fills its target or says what was wrong, with
// the place inside the value (".type", "[2]") when the value is structured:
//
//   QString                      text
//   bool                         true / false
//   int, unsigned int,
//   unsigned short               whole number within the type's range
//   long long                    whole number (below 2^53) or decimal text
//   std::optional<int>           null (no value) or whole number
//   QDateTime                    ISO 8601 text, milliseconds optional; "" for none
//   QByteArray                   base64 text
//   enumerations                 a value's name ("CTI") or its listed number
//   std::set<QString>            array of text
//   Endpoints                    array of {"type", "ws", "analytics", "whatsNew",
//                                "passwordReset", "discoverMobileOffer"}
//   CallerIds                    array of {"id", "number", "isDefault"}, or
//                                {"callerIds": [...], "lastUpdated", "readOnly"}
//   CommandLineOptions           {"logLevel", "configFile", "forceUpdate"}
//   DataSets::DataSet            object in the data set's stored JSON form: nested objects
//                                become nested sets, arrays list sets

#include <CallerIds.h>
#include <CommandLineOptions.h>
#include <DataSets.h>
#include <Endpoints.h>

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <limits>
#include <optional>
#include <set>
#include <type_traits>

namespace sessionctl::profile {

// What was wrong with a value: where inside it ("" for the value itself) and what.
struct Fault
{
    QString at;
    QString what;
};

QString describe(const QJsonValue& v);
std::optional<Fault> expected(const QString& what, const QJsonValue& found);
// Prefixes the place of a nested value to a fault found inside it.
std::optional<Fault> inside(const QString& at, std::optional<Fault> fault);

std::optional<Fault> readWhole(const QJsonValue& v, long long min, long long max, long long& out);
std::optional<Fault> readDataSet(const QJsonValue& v, DataSets::DataSet& out);

template <class T> struct Reader;

// Reads `v` into `out`; `out` is left alone when a fault is returned.
template <class T> std::optional<Fault> read(const QJsonValue& v, T& out)
{
    return Reader<T>::read(v, out);
}

template <class T> struct IntegerReader
{
    static std::optional<Fault> read(const QJsonValue& v, T& out)
    {
        long long n = 0;
        if (auto fault = readWhole(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), n))
            return fault;
        out = static_cast<T>(n);
        return std::nullopt;
    }
};

template <> struct Reader<int> : IntegerReader<int>
{
};
template <> struct Reader<unsigned int> : IntegerReader<unsigned int>
{
};
template <> struct Reader<unsigned short> : IntegerReader<unsigned short>
{
};

template <> struct Reader<QString>
{
    static std::optional<Fault> read(const QJsonValue& v, QString& out);
};
template <> struct Reader<bool>
{
    static std::optional<Fault> read(const QJsonValue& v, bool& out);
};
template <> struct Reader<long long>
{
    static std::optional<Fault> read(const QJsonValue& v, long long& out);
};
template <> struct Reader<std::optional<int>>
{
    static std::optional<Fault> read(const QJsonValue& v, std::optional<int>& out);
};
template <> struct Reader<QDateTime>
{
    static std::optional<Fault> read(const QJsonValue& v, QDateTime& out);
};
template <> struct Reader<QByteArray>
{
    static std::optional<Fault> read(const QJsonValue& v, QByteArray& out);
};
template <> struct Reader<std::set<QString>>
{
    static std::optional<Fault> read(const QJsonValue& v, std::set<QString>& out);
};
template <> struct Reader<Endpoints>
{
    static std::optional<Fault> read(const QJsonValue& v, Endpoints& out);
};
template <> struct Reader<CallerIds>
{
    static std::optional<Fault> read(const QJsonValue& v, CallerIds& out);
};
template <> struct Reader<CommandLineOptions>
{
    static std::optional<Fault> read(const QJsonValue& v, CommandLineOptions& out);
};
template <> struct Reader<DataSets::DataSet>
{
    static std::optional<Fault> read(const QJsonValue& v, DataSets::DataSet& out)
    {
        return readDataSet(v, out);
    }
};

// The name of an enumeration's value, or its number when it has none (a value
// carried unchanged from a newer client).
template <class T> QString enumName(T value)
{
    for (const auto& [v, name] : enumNames(T{})) {
        if (v == value)
            return QLatin1String(name);
    }
    return QString::number(static_cast<std::underlying_type_t<T>>(value));
}

// Every value an enumeration takes: "None (0), CTI (1), ...".
template <class T> QString enumChoices()
{
    QStringList choices;
    for (const auto& [v, name] : enumNames(T{}))
        choices << QStringLiteral("%1 (%2)")
                       .arg(QLatin1String(name))
                       .arg(static_cast<std::underlying_type_t<T>>(v));
    return choices.join(QStringLiteral(", "));
}

// The phone and remote-type enumerations: a value's name or its listed number.
template <class T> struct Reader
{
    static_assert(std::is_enum_v<T>, "no JSON reader for this property type");
    static std::optional<Fault> read(const QJsonValue& v, T& out)
    {
        for (const auto& [value, name] : enumNames(T{})) {
            if ((v.isString() && v.toString() == QLatin1String(name)) ||
                (v.isDouble() &&
                 v.toDouble() == static_cast<double>(static_cast<std::underlying_type_t<T>>(value)))) {
                out = value;
                return std::nullopt;
            }
        }
        return expected(QStringLiteral("one of %1").arg(enumChoices<T>()), v);
    }
};

} // namespace sessionctl::profile
