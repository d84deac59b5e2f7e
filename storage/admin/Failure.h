// SPDX-License-Identifier: MIT
#pragma once

// How sessionctl ends when something goes wrong: one line for the user and a
// documented exit code.

#include <QString>

namespace sessionctl {

enum ExitCode : int {
    ExitOk = 0,
    ExitUsage = 1,         // bad command line
    ExitBadStoredFile = 2, // a stored file or the key cannot be used
    ExitBadProfile = 3,    // the provisioning profile is malformed
    ExitIo = 4,            // a file or directory cannot be read or written
};

// Thrown up to the command dispatcher, which prints the message and exits with code.
struct Failure
{
    ExitCode code;
    QString message;
};

} // namespace sessionctl
