// SPDX-License-Identifier: MIT
// The control channel's request reader and answer, fed untrusted bytes as a peer of
// a running client would send them: never a crash, every answer one line of JSON of
// this version, and no secret the session holds ever in it.
#include "ControlProtocol.h"
#include "Domains.h"
#include "Values.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QString kSecret = QStringLiteral("fuzz-secret-value");

// A session whose every secret text holds kSecret.
void holdSecrets(SessionData& session)
{
    sessionctl::forEachDomain([&](const auto& domain) {
        using Property = typename std::decay_t<decltype(domain)>::StoreType::Property;
        SessionConfigDetail::PropertyTable<Property>::forEach([&](auto tag, const char*) {
            using Tag = decltype(tag);
            if constexpr (Tag::settable && std::is_same_v<typename Tag::Type, QString>) {
                if (Tag::row.secret)
                    domain.of(session)->template setData<QString, Tag::property>(kSecret);
            }
        });
    });
}

void expectLine(const QByteArray& line)
{
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (!line.endsWith('\n') || line.count('\n') != 1 || !doc.isObject() ||
        doc.object().value(QLatin1String("v")).toInt() != sessionctl::control::kVersion ||
        line.contains(kSecret.toUtf8())) {
        std::fprintf(stderr, "bad answer: %s\n", line.constData());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    namespace control = sessionctl::control;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    SessionData session;
    holdSecrets(session);
    try {
        const control::Request request = control::readRequest(bytes);
        expectLine(control::answer(session, request, 1));
        if (request.verb == control::Verb::Get || request.verb == control::Verb::Watch) {
            for (const QString& name : request.names) {
                try {
                    expectLine(control::changeLine(session, name));
                } catch (const sessionctl::Failure&) {
                    // an unknown name: answer() refused it already
                }
            }
        }
    } catch (const sessionctl::Failure& failure) {
        expectLine(control::refusal(failure.code, failure.message));
    }
    return 0;
}
