// SPDX-License-Identifier: MIT
#include "Summary.h"

#include "Domains.h"
#include "Values.h"

#include <QFile>

#include <optional>

namespace sessionctl {

namespace {

QString yesNo(bool b)
{
    return b ? QStringLiteral("yes") : QStringLiteral("no");
}

QString orNone(const QString& s)
{
    return s.isEmpty() ? QStringLiteral("(none)") : s;
}

QString time(const QDateTime& t)
{
    return t.isValid() ? t.toString(Qt::ISODateWithMs) : QStringLiteral("(never)");
}

QString rights(PhoneDefinitions::PhoneSettingsMode mode)
{
    const int bits = static_cast<int>(mode);
    QStringList parts;
    if (bits & 2)
        parts << QStringLiteral("soft phone");
    if (bits & 1)
        parts << QStringLiteral("desk-phone control");
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(" + "));
}

QString userLine(const UserRuntimeData& user)
{
    const QString name = user.getData<QString, UserProperty::UserName>();
    if (name.isEmpty())
        return QStringLiteral("nobody");
    const QString full = QStringLiteral("%1 %2")
                             .arg(user.getData<QString, UserProperty::FirstName>(),
                                  user.getData<QString, UserProperty::LastName>())
                             .trimmed();
    return full.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, full);
}

void row(QTextStream& out, int indent, const QString& label, const QString& value)
{
    out << QString(qsizetype(indent) * 2, QLatin1Char(' '))
        << (label + QStringLiteral(": ")).leftJustified(22 - indent * 2) << value << '\n';
}

} // namespace

void printRestored(QTextStream& out, const SessionStore::Restored& restored, const SessionData& session)
{
    const auto app = storeOf<AppRuntimeData>(session);
    const auto chat = storeOf<ChatRuntimeData>(session);
    const auto phone = storeOf<PhoneRuntimeData>(session);
    const auto user = storeOf<UserRuntimeData>(session);
    const auto desk = storeOf<DeskRuntimeData>(session);

    QStringList from;
    if (restored.encrypted)
        from << QStringLiteral("%1 (generation %2)")
                    .arg(QFile::decodeName(restored.encrypted->path))
                    .arg(restored.encrypted->generation);
    if (restored.plain)
        from << QStringLiteral("%1 (generation %2)")
                    .arg(QFile::decodeName(restored.plain->path))
                    .arg(restored.plain->generation);
    out << "Restored from storage: " << from.join(QStringLiteral(", ")) << '\n';
    if (restored.encrypted) {
        row(out, 1, QStringLiteral("signed-in user"), userLine(*user));
        row(out, 1, QStringLiteral("valid session"), yesNo(session.isValidSession()));
        row(out, 1, QStringLiteral("phone rights"),
            rights(phone->getData<PhoneDefinitions::PhoneSettingsMode, PhoneProperty::Licence>()));
        row(out, 1, QStringLiteral("chat"),
            QStringLiteral("%1, enabled: %2")
                .arg(orNone(chat->getData<QString, ChatProperty::JID>()),
                     yesNo(chat->getData<bool, ChatProperty::Enabled>())));
        row(out, 1, QStringLiteral("desk enabled"), yesNo(desk->getData<bool, DeskProperty::Enabled>()));
    }
    if (restored.plain) {
        row(out, 1, QStringLiteral("SIP account"),
            orNone(phone->getData<QString, PhoneProperty::SipAccount>()));
        row(out, 1, QStringLiteral("audio in / out"),
            QStringLiteral("%1 / %2").arg(orNone(phone->getData<QString, PhoneProperty::INDevice>()),
                                          orNone(phone->getData<QString, PhoneProperty::OUTDevice>())));
        row(out, 1, QStringLiteral("missed calls"),
            QString::number(phone->getData<unsigned int, PhoneProperty::UnseenMissedCalls>()));
        row(out, 1, QStringLiteral("phone-book sync"),
            time(phone->getData<QDateTime, PhoneProperty::LastPhoneBookSync>()));
        row(out, 1, QStringLiteral("chat sync"),
            QString::number(chat->getData<long long, ChatProperty::LastChatSync>()));
        row(out, 1, QStringLiteral("app version"), orNone(app->getData<QString, AppProperty::Version>()));
        row(out, 1, QStringLiteral("meeting URL"), orNone(app->getData<QString, AppProperty::MeetingURL>()));
        row(out, 1, QStringLiteral("opt-out messages"),
            QString::number(app->getData<std::set<QString>, AppProperty::OptOutMessages>().size()));
    }
}

void printSummary(QTextStream& out, const SessionData& session)
{
    const auto app = storeOf<AppRuntimeData>(session);
    const auto callFlow = storeOf<CallFlowRuntimeData>(session);
    const auto chat = storeOf<ChatRuntimeData>(session);
    const auto phone = storeOf<PhoneRuntimeData>(session);
    const auto user = storeOf<UserRuntimeData>(session);
    const auto desk = storeOf<DeskRuntimeData>(session);

    out << "Session\n";
    row(out, 1, QStringLiteral("signed in"), userLine(*user));
    row(out, 1, QStringLiteral("valid session"), yesNo(session.isValidSession()));
    row(out, 1, QStringLiteral("provisioned"), yesNo(session.isProvisioned()));

    const auto type = app->getData<ResourcesDefs::RemoteType, AppProperty::CurrentRemoteType>();
    const std::optional<EndpointData> endpoint =
        app->getData<Endpoints, AppProperty::EndpointDirectory>().getEndpoint(type);
    if (endpoint) {
        // The derived URL properties answer from the same lookup as above.
        row(out, 1, QStringLiteral("endpoint"),
            QStringLiteral("%1, %2").arg(profile::enumName(type), orNone(endpoint->getWs())));
        row(out, 2, QStringLiteral("analytics"), orNone(app->getData<QString, AppProperty::AnalyticsURL>()));
        row(out, 2, QStringLiteral("what's new"), orNone(app->getData<QString, AppProperty::WhatsNewURL>()));
        row(out, 2, QStringLiteral("password reset"),
            orNone(app->getData<QString, AppProperty::PasswordResetURL>()));
        row(out, 2, QStringLiteral("mobile offer"),
            orNone(app->getData<QString, AppProperty::DiscoverMobileOfferURL>()));
    } else {
        row(out, 1, QStringLiteral("endpoint"),
            QStringLiteral("none for the %1 remote type").arg(profile::enumName(type)));
    }

    row(out, 1, QStringLiteral("phone"),
        QStringLiteral("%1, host %2:%3, rights: %4")
            .arg(orNone(phone->getData<QString, PhoneProperty::SipAccount>()),
                 orNone(phone->getData<QString, PhoneProperty::HostName>()))
            .arg(phone->getData<int, PhoneProperty::HostPort>())
            .arg(rights(phone->getData<PhoneDefinitions::PhoneSettingsMode, PhoneProperty::Licence>())));
    row(out, 1, QStringLiteral("chat"),
        QStringLiteral("%1, enabled: %2")
            .arg(orNone(chat->getData<QString, ChatProperty::JID>()),
                 yesNo(chat->getData<bool, ChatProperty::Enabled>())));
    row(out, 1, QStringLiteral("desk"),
        QStringLiteral("%1:%2, TLS: %3, enabled: %4")
            .arg(orNone(desk->getData<QString, DeskProperty::Host>()))
            .arg(desk->getData<unsigned short, DeskProperty::Port>())
            .arg(yesNo(desk->getData<bool, DeskProperty::Tls>()),
                 yesNo(desk->getData<bool, DeskProperty::Enabled>())));

    // The call-flow URLs as the client would call them: the new value of a setting
    // (here a forward to the mobile) and the incoming-call destinations filled in.
    const QString extension = callFlow->getData<QString, CallFlowProperty::Extension>();
    const QString mobile = callFlow->getData<QString, CallFlowProperty::MSISDN>();
    const QString landline = phone->getData<QString, PhoneProperty::LastLandlinePhone>();
    row(out, 1, QStringLiteral("call flow"),
        QStringLiteral("enabled: %1, PBX %2, extension %3, mobile %4")
            .arg(yesNo(callFlow->getData<bool, CallFlowProperty::EnableCallFlow>()),
                 orNone(callFlow->getData<QString, CallFlowProperty::PBX>()), orNone(extension),
                 orNone(mobile)));
    out << "    (%NEWVALUE% = mobile; %INCOMINGDESKTOP% / %INCOMINGMOBILE% / %INCOMINGLANDLINE% = "
           "extension / mobile / last landline)\n";
    int urls = 0;
    SessionConfigDetail::PropertyTable<CallFlowProperty>::forEach([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        if constexpr (std::is_same_v<typename Tag::Type, QString>) {
            if (!QByteArray(name).endsWith("URL"))
                return;
            QString url = callFlow->template getData<QString, Tag::property>();
            if (url.isEmpty())
                return;
            CallFlowRuntimeData::defineNewValueURLPlaceHolder(url, mobile);
            CallFlowRuntimeData::defineIncomingOnURLPlaceHolder(url, extension, mobile, landline);
            row(out, 2, QLatin1String(name), url);
            ++urls;
        }
    });
    if (urls == 0)
        out << "    (no call-flow URLs provisioned)\n";
}

void printTree(QTextStream& out, const DataSets::DataSet& ds, const QHash<QString, QString>& names,
               int indent, const QString& path)
{
    const QString pad(qsizetype(indent) * 2, QLatin1Char(' '));
    if (ds->isEmpty()) {
        out << pad << "(empty)\n";
        return;
    }
    for (const auto& entry : ds->entries()) {
        const QString label = ds->isList() ? QStringLiteral("[%1]").arg(entry.key) : entry.key;
        const bool secret = looksSecret(entry.key);
        if (const auto* nested = std::get_if<DataSets::DataSet>(&entry.value)) {
            out << pad << label << (secret ? " (hidden)\n" : "\n");
            if (!secret)
                printTree(out, *nested, names, indent + 1, path + entry.key + QLatin1Char('/'));
            continue;
        }
        out << pad << label << ": ";
        if (secret)
            out << "(hidden)";
        else if (const auto* s = std::get_if<QString>(&entry.value))
            out << '"' << *s << '"';
        else if (const auto* b = std::get_if<bool>(&entry.value))
            out << (*b ? "true" : "false");
        else
            out << std::get<int>(entry.value);
        if (const auto name = names.constFind(path + entry.key); name != names.constEnd())
            out << " (" << *name << ')';
        out << '\n';
    }
}

} // namespace sessionctl
