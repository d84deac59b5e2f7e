// sessionctl: restores, provisions, summarises and stores a session.
#include "Cli.h"

#include <QCoreApplication>

#include <sys/stat.h>

int main(int argc, char** argv)
{
    // Everything this program creates holds session secrets or their key.
    umask(077);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return sessionctl::runCli(QCoreApplication::arguments(), out, err);
}
