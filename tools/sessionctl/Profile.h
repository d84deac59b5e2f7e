// SPDX-License-Identifier: MIT
#pragma once

// The provisioning profile: what the provisioning module would write into a freshly
// signed-in session, read from a JSON file:
//
//   {
//     "provisioned": ["app", "appMeeting", "callFlow", "chat", "phone", "user", "desk"],
//     "user":  {"UserName": "alice", "Password": "...", ...},
//     "phone": {"HostName": "sip.example.net", "HostPort": 5061, ...},
//     ...
//   }
//
// Domains are "app", "callFlow", "chat", "phone", "user" and "desk"; inside each,
// properties are named by their enumerator names and hold JSON values of the
// property's type (see ProfileValues.h). "provisioned" lists the configuration
// sections to report as provisioned once their domain has been written.
//
// The whole profile is checked before anything is written: an unknown domain or
// property, a value of the wrong type, a property that cannot be set, or an unknown
// section makes the profile malformed.

#include "Domains.h"
#include "Failure.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class SessionData;

namespace sessionctl {

// What one provisioning worker does: write its domain's properties, then report the
// domain's sections that the profile lists.
struct DomainProvisioning
{
    QString domain;
    QStringList properties;
    std::vector<std::function<void(SessionData&)>> writes;
    std::vector<Section> sections;

    void apply(SessionData& session) const;
};

struct Profile
{
    QString source;
    // One entry per domain, in the session's store order (app, callFlow, chat,
    // phone, user, desk), also for domains the profile leaves out.
    std::vector<DomainProvisioning> domains;

    int propertyCount() const;
    int sectionCount() const;
};

// Reads `fd` to its end, at most `limit` bytes (`sizeHint`: the expected size);
// Failure with `tooLong` beyond the limit, an I/O failure when it cannot be read.
QByteArray readBounded(int fd, qint64 limit, qint64 sizeHint, ExitCode tooLong, const QString& source);

// The profile built into the program.
extern const char* const kBuiltInProfile;

// Throws Failure (bad profile) with one line naming `source` and the fault.
Profile parseProfile(const QByteArray& json, const QString& source);
// Reads and parses a profile file, named by the bytes the shell gave; an empty path
// reads the built-in profile. Anything but a regular file within the data-set
// decoder's input limit is refused at once (bad profile); a file that cannot be
// opened is an I/O failure.
Profile loadProfile(const QByteArray& path);

} // namespace sessionctl
