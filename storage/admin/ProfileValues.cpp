// SPDX-License-Identifier: MIT
#include "ProfileValues.h"

#include <DataSetCodec.h>

#include <QJsonDocument>

#include <cmath>

namespace sessionctl::profile {

namespace {

// Doubles hold every whole number below 2^53 exactly; from there on a JSON number
// may already have been rounded when it was read (2^53 + 1 reads as 2^53).
constexpr double kExactLimit = 9007199254740992.0;

// Checks that an object has only the listed members.
std::optional<Fault> onlyMembers(const QJsonObject& object, std::initializer_list<const char*> names)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const char* name : names)
            known = known || it.key() == QLatin1String(name);
        if (!known) {
            QStringList allowed;
            for (const char* name : names)
                allowed << QLatin1String(name);
            return Fault{QStringLiteral(".") + it.key(), QStringLiteral("unknown member (expected one of %1)")
                                                             .arg(allowed.join(QStringLiteral(", ")))};
        }
    }
    return std::nullopt;
}

// Reads an optional member of an object into `out`.
template <class T> std::optional<Fault> member(const QJsonObject& object, const char* name, T& out)
{
    const QJsonValue v = object.value(QLatin1String(name));
    if (v.isUndefined())
        return std::nullopt;
    return inside(QStringLiteral(".") + QLatin1String(name), read(v, out));
}

std::optional<Fault> readCallerIdList(const QJsonValue& v, CallerIds& out)
{
    if (!v.isArray())
        return expected(QStringLiteral("an array of caller identities"), v);
    const QJsonArray array = v.toArray();
    for (int i = 0; i < array.size(); ++i) {
        const QString at = QStringLiteral("[%1]").arg(i);
        if (!array[i].isObject())
            return inside(
                at, expected(QStringLiteral("an object {\"id\", \"number\", \"isDefault\"}"), array[i]));
        const QJsonObject object = array[i].toObject();
        int id = 0;
        QString number;
        bool isDefault = false;
        for (const auto& fault :
             {onlyMembers(object, {"id", "number", "isDefault"}), member(object, "id", id),
              member(object, "number", number), member(object, "isDefault", isDefault)}) {
            if (fault)
                return inside(at, fault);
        }
        out.addCallerId(CallerIdDto(id, number, isDefault));
    }
    return std::nullopt;
}

} // namespace

QString describe(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QStringLiteral("the number %1").arg(v.toDouble(), 0, 'g', 17);
    case QJsonValue::String: {
        const QString text = v.toString();
        return text.size() <= 40 ? QStringLiteral("\"%1\"").arg(text)
                                 : QStringLiteral("\"%1...\"").arg(text.left(40));
    }
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

std::optional<Fault> expected(const QString& what, const QJsonValue& found)
{
    return Fault{QString(), QStringLiteral("expected %1, found %2").arg(what, describe(found))};
}

std::optional<Fault> inside(const QString& at, std::optional<Fault> fault)
{
    if (fault)
        fault->at.prepend(at);
    return fault;
}

std::optional<Fault> readWhole(const QJsonValue& v, long long min, long long max, long long& out)
{
    const QString range = QStringLiteral("a whole number from %1 to %2").arg(min).arg(max);
    if (!v.isDouble())
        return expected(range, v);
    const double d = v.toDouble();
    if (std::trunc(d) != d || d < static_cast<double>(min) || d > static_cast<double>(max) ||
        std::fabs(d) >= kExactLimit)
        return expected(range, v);
    out = static_cast<long long>(d);
    return std::nullopt;
}

std::optional<Fault> Reader<QString>::read(const QJsonValue& v, QString& out)
{
    if (!v.isString())
        return expected(QStringLiteral("text"), v);
    out = v.toString();
    return std::nullopt;
}

std::optional<Fault> Reader<bool>::read(const QJsonValue& v, bool& out)
{
    if (!v.isBool())
        return expected(QStringLiteral("true or false"), v);
    out = v.toBool();
    return std::nullopt;
}

std::optional<Fault> Reader<long long>::read(const QJsonValue& v, long long& out)
{
    if (v.isString()) {
        bool ok = false;
        const long long n = v.toString().toLongLong(&ok, 10);
        if (!ok)
            return Fault{QString(), QStringLiteral("expected a whole number, found text that is none")};
        out = n;
        return std::nullopt;
    }
    if (v.isDouble() && std::fabs(v.toDouble()) >= kExactLimit)
        return Fault{QString(), QStringLiteral("a number from 2^53 on loses digits in JSON; give it as "
                                               "decimal text (\"9007199254740993\")")};
    return readWhole(v, std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(), out);
}

std::optional<Fault> Reader<std::optional<int>>::read(const QJsonValue& v, std::optional<int>& out)
{
    if (v.isNull()) {
        out.reset();
        return std::nullopt;
    }
    int n = 0;
    if (auto fault = sessionctl::profile::read(v, n))
        return fault;
    out = n;
    return std::nullopt;
}

std::optional<Fault> Reader<QDateTime>::read(const QJsonValue& v, QDateTime& out)
{
    const QString what = QStringLiteral("an ISO 8601 date and time (\"2024-05-01T09:30:00.000Z\")");
    if (!v.isString())
        return expected(what, v);
    // No time at all, as get prints it.
    if (v.toString().isEmpty()) {
        out = QDateTime();
        return std::nullopt;
    }
    const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    if (!t.isValid())
        return Fault{QString(), QStringLiteral("expected %1, found \"%2\"").arg(what, v.toString())};
    out = t;
    return std::nullopt;
}

std::optional<Fault> Reader<QByteArray>::read(const QJsonValue& v, QByteArray& out)
{
    if (!v.isString())
        return expected(QStringLiteral("base64 text"), v);
    const QString text = v.toString();
    const auto decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || text.toLatin1() != text.toUtf8())
        return Fault{QString(), QStringLiteral("expected base64 text, found text that is not base64")};
    out = *decoded;
    return std::nullopt;
}

std::optional<Fault> Reader<std::set<QString>>::read(const QJsonValue& v, std::set<QString>& out)
{
    if (!v.isArray())
        return expected(QStringLiteral("an array of text"), v);
    std::set<QString> result;
    const QJsonArray array = v.toArray();
    for (int i = 0; i < array.size(); ++i) {
        QString s;
        if (auto fault = sessionctl::profile::read(array[i], s))
            return inside(QStringLiteral("[%1]").arg(i), fault);
        result.insert(s);
    }
    out = std::move(result);
    return std::nullopt;
}

std::optional<Fault> Reader<Endpoints>::read(const QJsonValue& v, Endpoints& out)
{
    if (!v.isArray())
        return expected(QStringLiteral("an array of endpoints"), v);
    std::vector<EndpointData> endpoints;
    const QJsonArray array = v.toArray();
    for (int i = 0; i < array.size(); ++i) {
        const QString at = QStringLiteral("[%1]").arg(i);
        if (!array[i].isObject())
            return inside(at, expected(QStringLiteral("an endpoint object"), array[i]));
        const QJsonObject o = array[i].toObject();
        ResourcesDefs::RemoteType type{};
        QString ws, analytics, whatsNew, passwordReset, discover;
        if (!o.contains(QStringLiteral("type")))
            return Fault{at, QStringLiteral("an endpoint needs a \"type\"")};
        for (const auto& fault :
             {onlyMembers(o, {"type", "ws", "analytics", "whatsNew", "passwordReset", "discoverMobileOffer"}),
              member(o, "type", type), member(o, "ws", ws), member(o, "analytics", analytics),
              member(o, "whatsNew", whatsNew), member(o, "passwordReset", passwordReset),
              member(o, "discoverMobileOffer", discover)}) {
            if (fault)
                return inside(at, fault);
        }
        endpoints.emplace_back(type, ws, analytics, whatsNew, passwordReset, discover);
    }
    out = Endpoints(endpoints);
    return std::nullopt;
}

std::optional<Fault> Reader<CallerIds>::read(const QJsonValue& v, CallerIds& out)
{
    CallerIds ids;
    if (v.isArray()) {
        if (auto fault = readCallerIdList(v, ids))
            return fault;
    } else if (v.isObject()) {
        const QJsonObject o = v.toObject();
        long long lastUpdated = 0;
        bool readOnly = false;
        for (auto fault : {onlyMembers(o, {"callerIds", "lastUpdated", "readOnly"}),
                           member(o, "lastUpdated", lastUpdated), member(o, "readOnly", readOnly),
                           inside(QStringLiteral(".callerIds"),
                                  readCallerIdList(o.value(QStringLiteral("callerIds")).isUndefined()
                                                       ? QJsonValue(QJsonArray())
                                                       : o.value(QStringLiteral("callerIds")),
                                                   ids))}) {
            if (fault)
                return fault;
        }
        ids.setLastUpdated(lastUpdated);
        ids.setReadOnly(readOnly);
    } else {
        return expected(QStringLiteral("an array of caller identities or an object with \"callerIds\""), v);
    }
    out = std::move(ids);
    return std::nullopt;
}

std::optional<Fault> Reader<CommandLineOptions>::read(const QJsonValue& v, CommandLineOptions& out)
{
    if (!v.isObject())
        return expected(QStringLiteral("an object {\"logLevel\", \"configFile\", \"forceUpdate\"}"), v);
    const QJsonObject o = v.toObject();
    CommandLineOptions options;
    for (auto fault :
         {onlyMembers(o, {"logLevel", "configFile", "forceUpdate"}), member(o, "logLevel", options.logLevel),
          member(o, "configFile", options.configFile), member(o, "forceUpdate", options.forceUpdate)}) {
        if (fault)
            return fault;
    }
    out = std::move(options);
    return std::nullopt;
}

std::optional<Fault> readDataSet(const QJsonValue& v, DataSets::DataSet& out)
{
    if (!v.isObject())
        return expected(QStringLiteral("an object"), v);
    // The same rules as a stored data set: whole 32-bit numbers, text, flags, nested
    // objects and arrays (list sets), valid keys.
    auto decoded =
        DataSets::DataSetCodec::fromJson(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    if (!decoded.ok()) {
        const DataSets::DataSetCodec::Error& e = decoded.error;
        if (e.path.isEmpty())
            return Fault{QString(), e.toString()};
        return Fault{QLatin1Char('.') + e.path.join(QLatin1Char('.')), e.message};
    }
    out = std::move(decoded.set);
    return std::nullopt;
}

} // namespace sessionctl::profile
