// SPDX-License-Identifier: MIT
#pragma once

// The sessionctl command line: run, show, list, get, set, reset, sign-out,
// rotate-key, forget. Returns the process exit code
// (see Failure.h); output goes to `out`, warnings and errors to `err`. The arguments
// are the program's argv bytes, untouched, so that paths name what the shell named.

#include <QByteArray>
#include <QList>
#include <QTextStream>

namespace sessionctl {

int runCli(const QList<QByteArray>& arguments, QTextStream& out, QTextStream& err);

} // namespace sessionctl
