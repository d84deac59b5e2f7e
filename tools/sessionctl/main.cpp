// SPDX-License-Identifier: MIT
// sessionctl: restores, provisions, summarises and stores a session.
#include "Cli.h"

#include <QCoreApplication>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    // Everything this program creates holds session secrets or their key.
    umask(077);
    // Nor may a crash leave them in a core file, nor another process of the same user
    // read them through /proc or a debugger.
    prctl(PR_SET_DUMPABLE, 0);
    // A closed pipe on stdout is a failed write (exit 4), not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    // The raw argv, not QCoreApplication::arguments(): that decodes each argument
    // and turns bytes that are not valid UTF-8 into U+FFFD, naming another file.
    QList<QByteArray> arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QByteArray(argv[i]);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return sessionctl::runCli(arguments, out, err);
}
