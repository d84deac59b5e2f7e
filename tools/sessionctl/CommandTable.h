// SPDX-License-Identifier: MIT
#pragma once

// The command line as one table: each verb's name, the options it takes, its
// arguments, what it does and its handler. Parsing, `--help` (all verbs, or one verb
// with only its own options), the nearest-name suggestions, the man page and the
// bash completion are all written from it, so they cannot disagree.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <map>

namespace sessionctl {

// The options, as bits of a verb's option set.
enum Option : unsigned {
    OptState = 1,
    OptKeyStore = 2,
    OptKeyFile = 4,
    OptProfile = 8,
    OptWait = 16,
    OptWatch = 32,
    OptJson = 64,
};
inline constexpr unsigned kKeyOptions = OptKeyStore | OptKeyFile;
inline constexpr unsigned kWriteOptions = OptState | kKeyOptions | OptWait;

struct OptionSpec
{
    Option option;
    const char* name;  // without the leading "--"
    const char* value; // what it takes ("DIR"), or null for a flag
    const char* help;  // one paragraph
};

inline constexpr OptionSpec kOptions[] = {
    {OptState, "state", "DIR",
     "state directory; default $XDG_STATE_HOME/sessionconfig (~/.local/state/sessionconfig when "
     "XDG_STATE_HOME "
     "is unset)"},
    {OptKeyStore, "key-store", "auto|secret-store|file",
     "where the data key lives. auto (default): the platform secret store when one answers, else the key "
     "file; "
     "secret-store: only there (exit 4 when none answers); file: only the key file"},
    {OptKeyFile, "key-file", "FILE",
     "keep the key in this file instead of the secret store; default DIR/session.key, created owner-only "
     "when "
     "the first session is stored without a secret store"},
    {OptProfile, "profile", "FILE", "provisioning profile (JSON), a regular file"},
    {OptWait, "wait", "SECONDS",
     "how long to wait for another process that holds the state directory (default 5)"},
    {OptWatch, "watch", nullptr,
     "print each change as it lands (\"  changed: phone.SipAccount\"); names only"},
    {OptJson, "json", nullptr, "one JSON document on standard output"},
};

// What a verb takes after its options.
enum class ArgumentKind {
    None,
    File,           // one stored file
    Properties,     // DOMAIN.PROPERTY...
    PropertyValues, // DOMAIN.PROPERTY VALUE...
};

struct Verb;

struct Arguments
{
    const Verb* verb = nullptr;
    // Values stay bytes as the shell gave them: decoding could name another file.
    std::map<QString, QByteArray> options;
    QList<QByteArray> positional;
    bool help = false;
    bool version = false;

    QByteArray option(const char* name) const
    {
        const auto it = options.find(QLatin1String(name));
        return it == options.end() ? QByteArray() : it->second;
    }
};

using Handler = int (*)(const Arguments& args, QTextStream& out, QTextStream& err);

struct Verb
{
    const char* name;
    unsigned options; // the Option bits it takes
    ArgumentKind arguments;
    int minArguments;
    int maxArguments; // -1: no limit
    const char* description;
    Handler handler;
    bool hidden = false; // the man page and completion writers: not in help
};

// The verbs, in the order help lists them (defined with the handlers).
extern const Verb kVerbs[];
extern const int kVerbCount;

// The package version, from the project's version.
extern const char* const kVersion;

const Verb* findVerb(const QString& name);
// The names of the verbs help lists.
QStringList verbNames();
// "[--state DIR] [--json] [--] DOMAIN.PROPERTY..."
QString synopsis(const Verb& verb);

// All verbs and options, or one verb with its own options; then the exit codes.
void printHelp(QTextStream& out, const Verb* verb);
// sessionctl.1 in roff, from the same table.
void printManPage(QTextStream& out);
// A bash completion of verbs, each verb's options and property names
// (from `sessionctl list`).
void printCompletion(QTextStream& out);

} // namespace sessionctl
