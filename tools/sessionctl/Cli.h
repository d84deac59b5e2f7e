#pragma once

// The sessionctl command line: run, show, sign-out. Returns the process exit code
// (see Failure.h); output goes to `out`, warnings and errors to `err`.

#include <QStringList>
#include <QTextStream>

namespace sessionctl {

int runCli(const QStringList& arguments, QTextStream& out, QTextStream& err);

} // namespace sessionctl
