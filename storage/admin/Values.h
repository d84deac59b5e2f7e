// SPDX-License-Identifier: MIT
#pragma once

// One rule for every value a person gives, whether through set, reset or a profile:
// it is read by the property's type (ProfileValues.h), written into a scratch
// session, passed through the stored form of its part and read back. A value that
// would come back otherwise (a number the stored form narrows, a bit it drops, a
// time it cuts) is refused before anything is locked or written, naming what it
// would become. The rule comes from the property tables alone: no property has
// code of its own here.
//
// Values on the command line are taken as typed: text as it stands, flags
// true/false, decimal numbers, ISO 8601 dates, enumeration names or numbers, and JSON
// for lists, nested sets and records.

#include "Domains.h"
#include "ProfileValues.h"

#include <DataSetCodec.h>

#include <QJsonDocument>

#include <type_traits>

namespace sessionctl {

// A fault when a text anywhere in `v`, keys included, holds a lone surrogate: no
// stored form can hold one.
std::optional<profile::Fault> loneSurrogate(const QJsonValue& v);

// How a command-line value is taken for each value type.
enum class Typed {
    Text,     // as it stands
    Flag,     // true or false
    Whole,    // a decimal whole number
    Optional, // null or a decimal whole number
    Choice,   // an enumeration's name or number
    Json,     // JSON: lists, nested sets, records
};
template <class T> constexpr Typed typedAs()
{
    if constexpr (std::is_same_v<T, QString> || std::is_same_v<T, QDateTime> || std::is_same_v<T, QByteArray>)
        return Typed::Text;
    else if constexpr (std::is_same_v<T, bool>)
        return Typed::Flag;
    else if constexpr (std::is_integral_v<T>)
        return Typed::Whole;
    else if constexpr (std::is_same_v<T, std::optional<int>>)
        return Typed::Optional;
    else if constexpr (std::is_enum_v<T>)
        return Typed::Choice;
    else
        return Typed::Json;
}

// The JSON value a typed command-line value stands for, for the reader of its type;
// a fault when it is no JSON where JSON is needed.
QJsonValue typedJson(Typed typed, const QString& text, std::optional<profile::Fault>& fault);

// A JSON value as a person reads and types it back: text bare, anything else JSON.
QString typedText(const QJsonValue& v);

// True for an entry of a free-form data set (the user's own settings) whose name says
// it holds a password or a token. Properties carry their secrecy in their row instead.
bool looksSecret(const QString& name);

// A data set as JSON (its stored form), entries naming a password or a token hidden.
QJsonValue dataSetJson(const DataSets::DataSet& ds);

// A value as get prints it and set takes it back: enumerations by name, long
// numbers as decimal text, times in ISO 8601, bytes in base64.
template <class T> QJsonValue valueJson(const T& v)
{
    if constexpr (std::is_same_v<T, QString> || std::is_same_v<T, bool>) {
        return QJsonValue(v);
    } else if constexpr (std::is_integral_v<T>) {
        // From 2^53 on a JSON number loses digits: decimal text keeps them.
        constexpr long long exact = 1LL << 53;
        const long long n = static_cast<long long>(v);
        return n > -exact && n < exact ? QJsonValue(static_cast<double>(n)) : QJsonValue(QString::number(n));
    } else if constexpr (std::is_enum_v<T>) {
        return QJsonValue(profile::enumName(v));
    } else if constexpr (std::is_same_v<T, std::optional<int>>) {
        return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
    } else if constexpr (std::is_same_v<T, QDateTime>) {
        return v.isValid() ? QJsonValue(v.toString(Qt::ISODateWithMs)) : QJsonValue(QString());
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
        // Records held for the run only are never read back by name.
        return QJsonValue(QJsonValue::Null);
    }
}

// Equal as stored: data sets by their stored form, everything else by its ==.
template <class T> bool sameValue(const T& a, const T& b)
{
    if constexpr (std::is_same_v<T, DataSets::DataSet>) {
        if (!a || !b)
            return !a == !b;
        return DataSets::DataSetCodec::toJson(a, QJsonDocument::Compact).bytes ==
               DataSets::DataSetCodec::toJson(b, QJsonDocument::Compact).bytes;
    } else {
        return a == b;
    }
}

// What `value` reads back as once written into a fresh session and, for a stored
// property, carried through the stored form of its part into another one.
template <class Tag, class Store>
typename Tag::Type readBack(const Domain<Store>& domain, const typename Tag::Type& value)
{
    using T = typename Tag::Type;
    using SessionConfigDetail::StoredPart;
    SessionData written;
    domain.of(written)->template setData<T, Tag::property>(value);
    if constexpr (Tag::row.part == StoredPart::None) {
        return domain.of(written)->template getData<T, Tag::property>();
    } else {
        SessionData read;
        if constexpr (Tag::row.part == StoredPart::Encrypted)
            read.deserializeEncrypted(written.serializeEncrypted());
        else
            read.deserializeUnencrypted(written.serializeUnencrypted());
        return domain.of(read)->template getData<T, Tag::property>();
    }
}

// Reads `json` as the value of the property `name` into `out`, or says why not:
// not of the property's type, a lone surrogate, or a value that would not read
// back as given.
template <class Tag, class Store>
std::optional<profile::Fault> checkedValue(const Domain<Store>& domain, const QJsonValue& json,
                                           typename Tag::Type& out)
{
    using T = typename Tag::Type;
    if (auto fault = loneSurrogate(json))
        return fault;
    T value{};
    if (auto fault = profile::read(json, value))
        return fault;
    return checkedValue<Tag>(domain, typedText(json), value, out);
}

// As above for a value already of the property's type, given as `given`.
template <class Tag, class Store>
std::optional<profile::Fault> checkedValue(const Domain<Store>& domain, const QString& given,
                                           const typename Tag::Type& value, typename Tag::Type& out)
{
    const typename Tag::Type back = readBack<Tag>(domain, value);
    if (!sameValue(back, value)) {
        if constexpr (Tag::row.secret)
            return profile::Fault{QString(), QStringLiteral("the value given would not read back as given")};
        return profile::Fault{QString(), QStringLiteral("%1 would be read back as %2")
                                             .arg(given.isEmpty() ? QStringLiteral("\"\"") : given,
                                                  typedText(valueJson(back)))};
    }
    out = value;
    return std::nullopt;
}

} // namespace sessionctl
