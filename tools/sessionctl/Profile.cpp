// SPDX-License-Identifier: MIT
#include "Profile.h"

#include "Failure.h"
#include "ProfileValues.h"
#include "Values.h"

#include <DataSetCodec.h>
#include <SessionData.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace sessionctl {

const char* const kBuiltInProfile = ":/sessionctl/default-profile.json";

namespace {

// A descriptor closed when it goes.
struct Fd
{
    explicit Fd(int fd)
        : fd(fd)
    {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isOpen() const { return fd >= 0; }
    int get() const { return fd; }
    int fd;
};

[[noreturn]] void malformed(const QString& source, const QString& fault)
{
    throw Failure{ExitBadProfile, QStringLiteral("%1: %2").arg(source, fault)};
}

// Turns one property's JSON value into a typed write on the domain's store, the
// value checked as set checks it (Values.h); null when no property has the name.
std::function<void(SessionData&)> propertyWrite(const QString& name, const QJsonValue& json,
                                                const QString& source)
{
    std::function<void(SessionData&)> write;
    std::optional<profile::Fault> fault;
    findProperty(name, [&](const auto& domain, auto tag) {
        using Tag = decltype(tag);
        if constexpr (!Tag::settable) {
            fault = profile::Fault{QString(), QStringLiteral("read-only, cannot be provisioned")};
        } else if constexpr (Tag::derived) {
            fault = profile::Fault{QString(),
                                   QStringLiteral("derived from other properties, cannot be provisioned")};
        } else {
            using T = typename Tag::Type;
            T value{};
            fault = checkedValue<Tag>(domain, json, value);
            write = [value, store = domain.store](SessionData& session) {
                (session.*store)().lock()->template setData<T, Tag::property>(value);
            };
        }
    });
    if (fault)
        malformed(source, QStringLiteral("%1%2: %3").arg(name, fault->at, fault->what));
    return write;
}

template <class Store>
void readDomain(const Domain<Store>&, DomainProvisioning& domain, const QJsonValue& json,
                const QString& source)
{
    if (!json.isObject())
        malformed(source, QStringLiteral("\"%1\" must be an object of properties, found %2")
                              .arg(domain.domain, profile::describe(json)));
    const QJsonObject object = json.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        auto write = propertyWrite(domain.domain + QLatin1Char('.') + it.key(), it.value(), source);
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

QByteArray readBounded(int fd, qint64 limit, qint64 sizeHint, ExitCode tooLong, const QString& source)
{
    // Read to the limit and one byte more: a file that grew since it was judged, or
    // a stream, is caught at the limit.
    QByteArray bytes(static_cast<qsizetype>(std::clamp<qint64>(sizeHint, 4096, limit) + 1),
                     Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > limit)
                throw Failure{
                    tooLong,
                    QStringLiteral("%1: more than the %2 bytes a value may take").arg(source).arg(limit)};
            bytes.resize(static_cast<qsizetype>(std::min<qint64>(qint64{bytes.size()} * 2, limit + 1)));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw Failure{ExitIo, QStringLiteral("%1: cannot read: %2").arg(source, qt_error_string(errno))};
        if (n == 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

Profile loadProfile(const QByteArray& path)
{
    if (path.isEmpty()) {
        QFile file(QString::fromLatin1(kBuiltInProfile));
        if (!file.open(QIODevice::ReadOnly))
            throw Failure{ExitBadProfile, QStringLiteral("the built-in profile cannot be read")};
        return parseProfile(file.readAll(), QStringLiteral("built-in profile"));
    }
    // The path as the shell gave it, opened without blocking (a FIFO with no writer
    // would wait forever) and judged on the open descriptor before a byte is read,
    // so that a device or an endless file costs no memory.
    const QString source = QFile::decodeName(path);
    const Fd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.isOpen())
        throw Failure{ExitIo,
                      QStringLiteral("%1: cannot read the profile: %2").arg(source, qt_error_string(errno))};
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        throw Failure{ExitIo,
                      QStringLiteral("%1: cannot read the profile: %2").arg(source, qt_error_string(errno))};
    if (!S_ISREG(st.st_mode))
        malformed(source,
                  QStringLiteral("a profile must be a regular file, not %1")
                      .arg(S_ISDIR(st.st_mode)                          ? QStringLiteral("a directory")
                           : S_ISFIFO(st.st_mode)                       ? QStringLiteral("a pipe")
                           : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? QStringLiteral("a device")
                                                                        : QStringLiteral("a special file")));
    constexpr qint64 limit = DataSets::DataSetCodec::kMaxInputBytes;
    if (st.st_size > limit)
        malformed(source,
                  QStringLiteral("%1 bytes, more than the %2 a profile may hold").arg(st.st_size).arg(limit));
    return parseProfile(readBounded(fd.get(), limit, st.st_size, ExitBadProfile, source), source);
}

} // namespace sessionctl
