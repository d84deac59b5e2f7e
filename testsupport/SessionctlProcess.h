#pragma once

// Runs the built sessionctl as a user would and collects what it said.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QProcess>
#include <QStringList>

struct SessionctlResult
{
    int exitCode = -1; // -1 when the program did not end normally
    QByteArray out;
    QByteArray err;
};

inline SessionctlResult runSessionctl(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(SESSIONCTL_PROGRAM), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}
