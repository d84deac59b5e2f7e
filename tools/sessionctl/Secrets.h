// SPDX-License-Identifier: MIT
#pragma once

// The password and tokens a run provisions, wiped from the session's records before
// the program ends, so that what the process leaves in freed memory holds none of them.

class SessionData;

namespace sessionctl {

void wipeSecrets(SessionData& session);

} // namespace sessionctl
