// SPDX-License-Identifier: MIT
#pragma once

// Provisioning as the client's provisioning module does it: every domain written
// on a thread of its own while the main thread keeps reading like a user interface
// and receives every change the threads make.

#include <QTextStream>

class SessionData;

namespace sessionctl {

struct Profile;

// Writes `profile` into `session`, one thread per domain, and alerts the
// configuration-ready callback once every section is provisioned; with `echo`, each
// change is named on `out` as it lands. Rethrows what a provisioning thread threw.
void provision(SessionData& session, const Profile& profile, bool echo, QTextStream& out);

} // namespace sessionctl
