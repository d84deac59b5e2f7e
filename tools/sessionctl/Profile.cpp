// SPDX-License-Identifier: MIT
#include "Profile.h"

#include "Failure.h"
#include "ProfileValues.h"

#include <SessionData.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <memory>

namespace sessionctl {

const char* const kBuiltInProfile = ":/sessionctl/default-profile.json";

namespace {

[[noreturn]] void malformed(const QString& source, const QString& fault)
{
    throw Failure{ExitBadProfile, QStringLiteral("%1: %2").arg(source, fault)};
}

// Turns one property's JSON value into a typed write on the domain's store, using
// the store's property table to find the enumerator and its value type.
template <class Store>
std::function<void(SessionData&)> propertyWrite(const Domain<Store>& domain, const QString& name,
                                                const QJsonValue& json, const QString& source)
{
    using Property = typename Store::Property;
    if (!propertyFromName<Property>(name.toStdString()))
        return nullptr;

    std::function<void(SessionData&)> write;
    std::optional<profile::Fault> fault;
    SessionConfigDetail::PropertyTable<Property>::forEach([&](auto tag, const char* rowName) {
        using Tag = decltype(tag);
        if (name != QLatin1String(rowName))
            return;
        if constexpr (!Tag::settable) {
            fault = profile::Fault{QString(), QStringLiteral("read-only, cannot be provisioned")};
        } else if constexpr (Tag::derived) {
            fault = profile::Fault{QString(),
                                   QStringLiteral("derived from other properties, cannot be provisioned")};
        } else {
            using T = typename Tag::Type;
            T value{};
            fault = profile::read(json, value);
            write = [value, store = domain.store](SessionData& session) {
                (session.*store)().lock()->template setData<T, Tag::property>(value);
            };
        }
    });
    if (fault)
        malformed(
            source,
            QStringLiteral("%1.%2%3: %4").arg(QLatin1String(domain.name), name, fault->at, fault->what));
    return write;
}

template <class Store>
void readDomain(const Domain<Store>& entry, DomainProvisioning& domain, const QJsonValue& json,
                const QString& source)
{
    if (!json.isObject())
        malformed(source, QStringLiteral("\"%1\" must be an object of properties, found %2")
                              .arg(domain.domain, profile::describe(json)));
    const QJsonObject object = json.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        auto write = propertyWrite(entry, it.key(), it.value(), source);
        if (!write) {
            QStringList known;
            for (const SessionConfigDetail::PropertyRow& row :
                 SessionConfigDetail::PropertyTable<typename Store::Property>::rows)
                known << QLatin1String(row.name);
            malformed(source, QStringLiteral("unknown property \"%1\" in \"%2\" (known: %3)")
                                  .arg(it.key(), domain.domain, known.join(QStringLiteral(", "))));
        }
        domain.properties << it.key();
        domain.writes.push_back(std::move(write));
    }
}

} // namespace

void DomainProvisioning::apply(SessionData& session) const
{
    for (const auto& write : writes)
        write(session);
    for (Section section : sections) {
        // Through a local copy: GCC's bounds check misreads the index when a
        // member-function pointer is called straight out of an array.
        const auto report = kSections[static_cast<int>(section)].report;
        (session.*report)(true);
    }
}

int Profile::propertyCount() const
{
    int n = 0;
    for (const auto& d : domains)
        n += static_cast<int>(d.writes.size());
    return n;
}

int Profile::sectionCount() const
{
    int n = 0;
    for (const auto& d : domains)
        n += static_cast<int>(d.sections.size());
    return n;
}

Profile parseProfile(const QByteArray& json, const QString& source)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        malformed(
            source,
            QStringLiteral("not valid JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));
    if (!doc.isObject())
        malformed(source, QStringLiteral("a profile must be a JSON object"));
    const QJsonObject root = doc.object();

    QStringList domainNames;
    forEachDomain([&](const auto& entry) { domainNames << QLatin1String(entry.name); });
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (it.key() != QLatin1String("provisioned") && !domainNames.contains(it.key()))
            malformed(source, QStringLiteral("unknown domain \"%1\" (expected provisioned, %2)")
                                  .arg(it.key(), domainNames.join(QStringLiteral(", "))));
    }

    std::vector<Section> provisioned;
    const QJsonValue sections = root.value(QStringLiteral("provisioned"));
    if (!sections.isUndefined()) {
        if (!sections.isArray())
            malformed(source, QStringLiteral("\"provisioned\" must be an array of section names, found %1")
                                  .arg(profile::describe(sections)));
        for (const auto& v : sections.toArray()) {
            bool known = false;
            for (const SectionEntry& s : kSections) {
                if (v.toString() == QLatin1String(s.name)) {
                    known = true;
                    provisioned.push_back(s.section);
                }
            }
            if (!known) {
                QStringList names;
                for (const SectionEntry& s : kSections)
                    names << QLatin1String(s.name);
                malformed(source, QStringLiteral("unknown section %1 in \"provisioned\" (expected %2)")
                                      .arg(v.isString() ? QStringLiteral("\"%1\"").arg(v.toString())
                                                        : profile::describe(v),
                                           names.join(QStringLiteral(", "))));
            }
        }
    }

    Profile profile;
    profile.source = source;
    forEachDomain([&](const auto& entry) {
        DomainProvisioning domain;
        domain.domain = QLatin1String(entry.name);
        const QJsonValue v = root.value(domain.domain);
        if (!v.isUndefined())
            readDomain(entry, domain, v, source);
        for (Section s : entry.sections) {
            if (std::find(provisioned.begin(), provisioned.end(), s) != provisioned.end())
                domain.sections.push_back(s);
        }
        profile.domains.push_back(std::move(domain));
    });
    return profile;
}

Profile loadProfile(const QString& path)
{
    const QString source = path.isEmpty() ? QString::fromLatin1(kBuiltInProfile) : path;
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure{path.isEmpty() ? ExitBadProfile : ExitIo,
                      QStringLiteral("%1: cannot read the profile: %2").arg(source, file.errorString())};
    return parseProfile(file.readAll(), path.isEmpty() ? QStringLiteral("built-in profile") : path);
}

} // namespace sessionctl
