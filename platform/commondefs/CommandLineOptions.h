// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The options the client was started with, as far as the session keeps them. A plain
// value without a lock.
struct CommandLineOptions
{
    int logLevel = 0;         // verbosity asked for on the command line
    QString configFile;       // an alternative configuration file, empty for the default
    bool forceUpdate = false; // update even when the installed version is current

    // All three members compared.
    //@{
    friend bool operator==(const CommandLineOptions& a, const CommandLineOptions& b)
    {
        return a.logLevel == b.logLevel && a.configFile == b.configFile && a.forceUpdate == b.forceUpdate;
    }
    friend bool operator!=(const CommandLineOptions& a, const CommandLineOptions& b) { return !(a == b); }
    //@}
};
