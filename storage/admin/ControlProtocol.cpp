// SPDX-License-Identifier: MIT
#include "ControlProtocol.h"

#include "Verbs.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <exception>
#include <iterator>

namespace sessionctl::control {

namespace {

const QLatin1String kVerbNames[] = {QLatin1String("get"), QLatin1String("set"), QLatin1String("reset"),
                                    QLatin1String("watch")};

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

[[noreturn]] void malformed(const QString& why)
{
    throw Failure{ExitUsage, QStringLiteral("malformed request: %1").arg(why)};
}

QStringList strings(const QJsonValue& v, const char* what)
{
    if (!v.isArray())
        malformed(QStringLiteral("\"%1\" must be a list of texts").arg(QLatin1String(what)));
    QStringList out;
    for (const auto& item : v.toArray()) {
        if (!item.isString())
            malformed(QStringLiteral("\"%1\" must be a list of texts").arg(QLatin1String(what)));
        out << item.toString();
    }
    return out;
}

QJsonObject object(const QByteArray& text, const char* what)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        throw Failure{ExitUsage, QStringLiteral("malformed %1: not a JSON object (%2)")
                                     .arg(QLatin1String(what), error.error != QJsonParseError::NoError
                                                                   ? error.errorString()
                                                                   : QStringLiteral("other JSON"))};
    return doc.object();
}

void checkVersion(const QJsonObject& o, const char* what)
{
    const QJsonValue v = o.value(QLatin1String("v"));
    if (!v.isDouble() || v.toDouble() != kVersion)
        throw Failure{
            ExitUsage,
            QStringLiteral("unsupported %1 version %2 (this side speaks %3)")
                .arg(QLatin1String(what),
                     QString::fromUtf8(
                         QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).chopped(1).mid(1)),
                     QString::number(kVersion))};
}

} // namespace

QByteArray requestLine(const Request& request)
{
    QJsonObject o{{QStringLiteral("v"), kVersion},
                  {QStringLiteral("verb"), kVerbNames[static_cast<int>(request.verb)]}};
    if (request.verb == Verb::Set) {
        QJsonArray assignments;
        for (const auto& [name, value] : request.assignments)
            assignments.append(QJsonArray{name, value});
        o.insert(QStringLiteral("assignments"), assignments);
    } else {
        o.insert(QStringLiteral("names"), QJsonArray::fromStringList(request.names));
    }
    return line(o);
}

Request readRequest(const QByteArray& text)
{
    if (text.size() > kMaxLineBytes)
        malformed(QStringLiteral("longer than %1 bytes").arg(kMaxLineBytes));
    const QJsonObject o = object(text, "request");
    checkVersion(o, "request");
    Request request;
    const QString verb = o.value(QLatin1String("verb")).toString();
    const auto* known = std::find(std::begin(kVerbNames), std::end(kVerbNames), verb);
    if (known == std::end(kVerbNames))
        malformed(QStringLiteral("no verb get, set, reset or watch"));
    request.verb = static_cast<Verb>(known - std::begin(kVerbNames));
    if (request.verb == Verb::Set) {
        const QJsonValue assignments = o.value(QLatin1String("assignments"));
        if (!assignments.isArray() || assignments.toArray().isEmpty())
            malformed(QStringLiteral("set needs \"assignments\", a list of [name, value] pairs"));
        for (const auto& pair : assignments.toArray()) {
            const QStringList both = strings(pair, "assignments");
            if (both.size() != 2)
                malformed(QStringLiteral("set needs \"assignments\", a list of [name, value] pairs"));
            request.assignments.append({both[0], both[1]});
            request.names << both[0];
        }
        return request;
    }
    request.names = strings(o.value(QLatin1String("names")), "names");
    if (request.names.isEmpty() && request.verb != Verb::Watch)
        malformed(QStringLiteral("%1 needs at least one name").arg(verb));
    return request;
}

QByteArray refusal(ExitCode code, const QString& message)
{
    return line({{QStringLiteral("v"), kVersion},
                 {QStringLiteral("ok"), false},
                 {QStringLiteral("exit"), static_cast<int>(code)},
                 {QStringLiteral("error"), message}});
}

QByteArray answer(SessionData& session, const Request& request, qint64 pid)
{
    try {
        QJsonObject reply{{QStringLiteral("v"), kVersion},
                          {QStringLiteral("ok"), true},
                          {QStringLiteral("pid"), static_cast<double>(pid)}};
        switch (request.verb) {
        case Verb::Get:
            reply.insert(QStringLiteral("properties"),
                         getProperties(session, request.names, Target::RunningClient));
            break;
        case Verb::Set:
            setProperties(session, request.assignments, Target::RunningClient);
            break;
        case Verb::Reset:
            resetProperties(session, request.names, Target::RunningClient);
            break;
        case Verb::Watch:
            checkNames(request.names);
            break;
        }
        return line(reply);
    } catch (const Failure& failure) {
        return refusal(failure.code, failure.message);
    } catch (const std::exception& e) {
        return refusal(ExitIo, QStringLiteral("the running client could not answer: %1").arg(e.what()));
    }
}

QByteArray changeLine(const SessionData& session, const QString& name)
{
    return line({{QStringLiteral("v"), kVersion},
                 {QStringLiteral("change"), getProperties(session, {name}, Target::RunningClient).first()}});
}

Reply readReply(const QByteArray& text)
{
    QJsonObject o;
    try {
        o = object(text, "reply");
        checkVersion(o, "reply");
    } catch (const Failure& failure) {
        throw Failure{ExitIo, QStringLiteral("the running client answered: %1").arg(failure.message)};
    }
    Reply reply;
    if (o.contains(QLatin1String("change"))) {
        reply.ok = reply.change = true;
        reply.properties.append(o.value(QLatin1String("change")));
        return reply;
    }
    reply.ok = o.value(QLatin1String("ok")).toBool();
    reply.exit = o.value(QLatin1String("exit")).toInt(ExitIo);
    reply.error = o.value(QLatin1String("error")).toString();
    reply.pid = static_cast<qint64>(o.value(QLatin1String("pid")).toDouble());
    reply.properties = o.value(QLatin1String("properties")).toArray();
    return reply;
}

} // namespace sessionctl::control
