// SPDX-License-Identifier: MIT
#include "Cli.h"

#include "CommandTable.h"
#include "Domains.h"
#include "Failure.h"
#include "Live.h"
#include "Profile.h"
#include "Provision.h"
#include "Secrets.h"
#include "Summary.h"
#include "Values.h"
#include "Verbs.h"

#include <DataSetCodec.h>
#include <SessionAutosave.h>
#include <SessionStore.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sessionctl {

namespace {

[[noreturn]] void usage(const QString& fault)
{
    throw Failure{ExitUsage, fault + QStringLiteral(" (see sessionctl --help)")};
}

// "; did you mean --json?" when a known name is near `given`.
QString suggestion(const QString& given, const QStringList& known, const QString& prefix = QString())
{
    const QStringList near = nearest(given, known);
    if (near.isEmpty())
        return QString();
    QStringList shown;
    for (const QString& name : near)
        shown << prefix + name;
    return QStringLiteral("; did you mean %1?").arg(shown.join(QStringLiteral(" or ")));
}

const OptionSpec* findOption(const QString& name)
{
    for (const OptionSpec& option : kOptions) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

bool isNumber(const QByteArray& a)
{
    bool ok = false;
    (void)a.toDouble(&ok);
    return ok;
}

Arguments parse(const QList<QByteArray>& arguments)
{
    Arguments args;
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QByteArray& a = arguments[i];
        if (optionsEnded || a == "-" || !a.startsWith('-') || isNumber(a)) {
            // (a negative number is a value for set; "-" reads it from standard input)
            if (args.verb) {
                args.positional << a;
                continue;
            }
            const QString name = QString::fromLocal8Bit(a);
            args.verb = findVerb(name);
            if (!args.verb)
                usage(QStringLiteral("unknown command \"%1\"%2").arg(name, suggestion(name, verbNames())));
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            args.help = true;
        } else if (a == "--version") {
            args.version = true;
        } else {
            const qsizetype eq = a.indexOf('=');
            const QString name = QString::fromLocal8Bit(a.mid(2, eq < 0 ? -1 : eq - 2));
            const OptionSpec* option = a.startsWith("--") ? findOption(name) : nullptr;
            if (!option) {
                QStringList known{QStringLiteral("help")};
                for (const OptionSpec& o : kOptions) {
                    if (!args.verb || (args.verb->options & o.option))
                        known << QLatin1String(o.name);
                }
                const QString given = QString::fromLocal8Bit(eq < 0 ? a : a.left(eq));
                const bool takesValues = args.verb && args.verb->arguments == ArgumentKind::PropertyValues;
                usage(QStringLiteral("unknown option %1%2%3")
                          .arg(given,
                               suggestion(given.mid(given.startsWith(QLatin1String("--")) ? 2 : 1), known,
                                          QStringLiteral("--")),
                               takesValues ? QStringLiteral("; a value that starts with - goes after --")
                                           : QString()));
            }
            QByteArray value;
            if (!option->value && eq >= 0)
                usage(QStringLiteral("option --%1 takes no value").arg(name));
            if (!option->value)
                value = "yes";
            else if (eq >= 0)
                value = a.mid(eq + 1);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            if (value.isEmpty())
                usage(
                    QStringLiteral("option --%1 needs a value (%2)").arg(name, QLatin1String(option->value)));
            if (args.options.count(name))
                usage(QStringLiteral("option --%1 given twice").arg(name));
            args.options[name] = value;
        }
    }
    if (args.help || args.version)
        return args;
    if (!args.verb)
        usage(QStringLiteral("no command given"));
    const Verb& verb = *args.verb;
    for (const auto& [name, value] : args.options) {
        if (!(verb.options & findOption(name)->option))
            usage(QStringLiteral("%1 takes no option --%2").arg(QLatin1String(verb.name), name));
    }
    const qsizetype given = args.positional.size();
    if (given < verb.minArguments || (verb.maxArguments >= 0 && given > verb.maxArguments) ||
        (verb.arguments == ArgumentKind::PropertyValues && given % 2 != 0))
        usage(QStringLiteral("usage: sessionctl %1 %2").arg(QLatin1String(verb.name), synopsis(verb)));
    if (const QByteArray wait = args.option("wait"); !wait.isEmpty()) {
        bool ok = false;
        const double seconds = wait.toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400)
            usage(QStringLiteral("--wait needs a number of seconds from 0 to 86400"));
    }
    if (const QByteArray store = args.option("key-store"); !store.isEmpty()) {
        if (store != "auto" && store != "secret-store" && store != "file")
            usage(QStringLiteral("--key-store needs auto, secret-store or file"));
        if (store == "secret-store" && !args.option("key-file").isEmpty())
            usage(QStringLiteral(
                "--key-file keeps the key in a file: it cannot go with --key-store secret-store"));
    }
    return args;
}

SessionStore::Options storeOptions(const Arguments& args)
{
    SessionStore::Options options;
    const QByteArray store = args.option("key-store");
    options.keyStore = store == "secret-store" ? SessionStore::KeyStore::SecretStore
                       : store == "file"       ? SessionStore::KeyStore::File
                                               : SessionStore::KeyStore::Auto;
    options.keyFile = args.option("key-file");
    return options;
}

// Where the key lives, said once per command (on stderr: it is no data).
void sayKeyPlace(QTextStream& out, const SessionStore::KeyPlace& place)
{
    if (place.secretStore)
        out << "key: platform secret store" << Qt::endl;
    else
        out << "key: file " << QFile::decodeName(place.keyFile) << " (no secret store: " << place.reason
            << ')' << Qt::endl;
}

ExitCode exitCodeOf(SessionStore::ErrorKind kind)
{
    switch (kind) {
    case SessionStore::ErrorKind::None:
        return ExitOk;
    case SessionStore::ErrorKind::BadStoredFile:
        return ExitBadStoredFile;
    case SessionStore::ErrorKind::NoStateDirectory:
    case SessionStore::ErrorKind::BadOptions:
        return ExitUsage;
    case SessionStore::ErrorKind::Io:
    case SessionStore::ErrorKind::Busy:
        break;
    }
    return ExitIo;
}

void check(const SessionStore::Error& error)
{
    if (error.kind == SessionStore::ErrorKind::NoStateDirectory)
        usage(error.message + QStringLiteral(": name the state directory with --state"));
    if (error)
        throw Failure{exitCodeOf(error.kind), error.message};
}

void warn(QTextStream& err, const QStringList& warnings)
{
    for (const QString& warning : warnings)
        err << "sessionctl: warning: " << warning << Qt::endl;
}

// The state directory as named, made absolute without decoding it.
QByteArray stateDirectory(const Arguments& args)
{
    QByteArray dir = args.option("state");
    if (dir.isEmpty()) {
        const SessionStore::Directory found = SessionStore::defaultStateDirectory();
        check(found.error);
        dir = found.path;
    }
    if (!dir.startsWith('/')) {
        // getcwd, not QDir::currentPath(): the working directory's name stays bytes too.
        std::vector<char> cwd(4096);
        while (!::getcwd(cwd.data(), cwd.size())) {
            if (errno != ERANGE)
                throw Failure{
                    ExitIo,
                    QStringLiteral("cannot find the working directory: %1").arg(qt_error_string(errno))};
            cwd.resize(cwd.size() * 2);
        }
        dir = QByteArray(cwd.data()) + '/' + dir;
    }
    return dir;
}

std::chrono::milliseconds lockWait(const Arguments& args)
{
    const QByteArray wait = args.option("wait");
    if (wait.isEmpty())
        return SessionStore::kDefaultLockWait;
    return std::chrono::milliseconds(std::llround(wait.toDouble() * 1000));
}

// Takes the state directory for the whole of a command.
SessionStore::Lock lockOnly(SessionStore& store, const Arguments& args, QTextStream& err)
{
    SessionStore::Lock lock = store.lock(lockWait(args));
    warn(err, lock.warnings());
    check(lock.error());
    return lock;
}

// Says where the key lives once the command has found it (a key that could not be
// moved into the secret store stays in its file), then its outcome.
void report(const SessionStore& store, QTextStream& err, const QStringList& warnings,
            const SessionStore::Error& error)
{
    sayKeyPlace(err, store.keyPlace());
    warn(err, warnings);
    check(error);
}

// Takes the state directory for the whole of a command, restores what is stored
// into the session; warnings go to `err`.
SessionStore::Lock lockAndRestore(SessionStore& store, const Arguments& args, SessionData& session,
                                  SessionStore::Restored& restored, QTextStream& err)
{
    SessionStore::Lock lock = lockOnly(store, args, err);
    restored = store.restore(lock, session);
    report(store, err, restored.warnings, restored.error);
    return lock;
}

void storeSession(SessionStore& store, const SessionStore::Lock& lock, const SessionData& session,
                  QTextStream& out, QTextStream& err, SessionAutosave* autosave = nullptr)
{
    const bool inSecretStore = store.keyPlace().secretStore;
    const SessionStore::Stored stored = autosave ? autosave->flush() : store.store(lock, session);
    // A new key the secret store would not keep went to the key file instead.
    if (store.keyPlace().secretStore != inSecretStore)
        sayKeyPlace(err, store.keyPlace());
    warn(err, stored.warnings);
    check(stored.error);
    out << "Stored generation " << stored.generation << " in " << QFile::decodeName(store.stateDirectory())
        << ": session.enc (encrypted), session.json (plain)" << Qt::endl;
}

int run(const Arguments& args, QTextStream& out, QTextStream& err)
{
    // Everything that can be refused is checked before any file is written.
    const Profile profile = loadProfile(args.option("profile"));
    SessionStore store(stateDirectory(args), storeOptions(args));
    SessionData session;
    SessionStore::Restored restored;
    const SessionStore::Lock lock = lockAndRestore(store, args, session, restored, err);
    if (restored.isEmpty())
        out << "No stored session in " << QFile::decodeName(store.stateDirectory()) << ": starting fresh"
            << Qt::endl;
    else
        printRestored(out, restored, session);

    // The run's changes reach the disk as they come; the key is made ready here.
    const bool inSecretStore = store.keyPlace().secretStore;
    std::optional<SessionAutosave> autosave(std::in_place, store, lock, session);
    if (store.keyPlace().secretStore != inSecretStore)
        sayKeyPlace(err, store.keyPlace());
    session.setConfigurationReadyCallback(
        [&out] { out << "Configuration ready: all seven sections are provisioned" << Qt::endl; });
    provision(session, profile, !args.option("watch").isEmpty(), out);
    printSummary(out, session);
    out.flush();
    storeSession(store, lock, session, out, err, &*autosave);
    // Stored: the wiping below is no change to keep.
    autosave.reset();
    wipeSecrets(session);
    return ExitOk;
}

// A stored part into a scratch session, to name its properties.
SessionData sessionOf(const SessionStore::StoredFile& file)
{
    SessionData session;
    if (file.encrypted)
        session.deserializeEncrypted(file.data);
    else
        session.deserializeUnencrypted(file.data);
    return session;
}

int show(const Arguments& args, QTextStream& out, QTextStream& err)
{
    const SessionStore::ReadFile read = SessionStore::readFile(args.positional.first(), storeOptions(args));
    if (read.keyPlace)
        sayKeyPlace(err, *read.keyPlace);
    warn(err, read.warnings);
    check(read.error);
    const SessionStore::StoredFile& file = read.file;
    const auto part =
        file.encrypted ? SessionConfigDetail::StoredPart::Encrypted : SessionConfigDetail::StoredPart::Plain;
    if (!args.option("json").isEmpty()) {
        const QJsonObject doc{
            {QStringLiteral("path"), QFile::decodeName(file.path)},
            {QStringLiteral("encrypted"), file.encrypted},
            {QStringLiteral("formatVersion"), static_cast<double>(file.formatVersion)},
            {QStringLiteral("generation"), static_cast<double>(file.generation)},
            {QStringLiteral("data"), dataSetJson(file.data)},
            {QStringLiteral("properties"), storedProperties(sessionOf(file), part)},
        };
        out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        return ExitOk;
    }
    out << QFile::decodeName(file.path) << ": " << (file.encrypted ? "encrypted" : "plain")
        << " session, format " << file.formatVersion << ", generation " << file.generation << '\n';
    // Stored enumerations by name beside their number.
    QHash<QString, QString> names;
    for (const auto& v : storedProperties(sessionOf(file), part)) {
        const QJsonObject p = v.toObject();
        if (p.contains(QStringLiteral("valueNumber")))
            names.insert(p[QStringLiteral("name")].toString().section(QLatin1Char('.'), 0, 0) +
                             QLatin1Char('/') + p[QStringLiteral("key")].toString(),
                         p[QStringLiteral("value")].toString());
    }
    printTree(out, file.data, names);
    return ExitOk;
}

QStringList propertyNames(const Arguments& args)
{
    QStringList names;
    for (const QByteArray& name : args.positional)
        names << QString::fromLocal8Bit(name);
    return names;
}

// The reply of the running client that holds `dir`, when one does; its refusal
// ends the command with the client's exit code and message.
std::optional<control::Reply> askRunningClient(const QByteArray& dir, const control::Request& request)
{
    LiveClient client(dir);
    if (!client.isRunning())
        return std::nullopt;
    control::Reply reply = client.ask(request);
    if (!reply.ok)
        throw Failure{reply.exit >= ExitUsage && reply.exit <= ExitIo ? static_cast<ExitCode>(reply.exit)
                                                                      : ExitIo,
                      reply.error};
    return reply;
}

// What set and reset say after changing a running client.
int changedLive(const control::Reply& reply, QTextStream& out)
{
    out << "Changed the running client (pid " << reply.pid << "); it stores the session itself" << Qt::endl;
    return ExitOk;
}

int list(const Arguments& args, QTextStream& out, QTextStream&)
{
    listProperties(out, !args.option("json").isEmpty());
    return ExitOk;
}

// Reads the stored pair without the lock, creating and changing nothing.
int get(const Arguments& args, QTextStream& out, QTextStream& err)
{
    const QStringList names = propertyNames(args);
    checkNames(names);
    const QByteArray dir = stateDirectory(args);
    if (const auto live = askRunningClient(dir, {control::Verb::Get, names, {}})) {
        err << "sessionctl: live values of the running client (pid " << live->pid << ')' << Qt::endl;
        if (!args.option("json").isEmpty())
            out << QJsonDocument(QJsonObject{{QStringLiteral("pid"), static_cast<double>(live->pid)},
                                             {QStringLiteral("properties"), live->properties}})
                       .toJson(QJsonDocument::Indented);
        else
            printProperties(out, live->properties);
        return ExitOk;
    }
    const SessionStore::ReadStored read = SessionStore::readStored(dir, storeOptions(args));
    if (read.keyPlace)
        sayKeyPlace(err, *read.keyPlace);
    warn(err, read.warnings);
    check(read.error);
    if (read.isEmpty())
        throw Failure{ExitBadStoredFile,
                      QStringLiteral("no stored session in %1").arg(QFile::decodeName(dir))};
    SessionData session;
    if (read.encrypted)
        session.deserializeEncrypted(read.encrypted->data);
    if (read.plain)
        session.deserializeUnencrypted(read.plain->data);
    const QJsonArray properties = getProperties(session, names);
    if (!args.option("json").isEmpty())
        out << QJsonDocument(
                   QJsonObject{{QStringLiteral("generation"), static_cast<double>(read.generation())},
                               {QStringLiteral("properties"), properties}})
                   .toJson(QJsonDocument::Indented);
    else
        printProperties(out, properties);
    return ExitOk;
}

// Restores, applies `change` to the session and stores a new generation. The change
// is tried on a scratch session first, so that a refused name or value is reported
// before the state directory is touched.
int changeStored(const Arguments& args, QTextStream& out, QTextStream& err,
                 const std::function<void(SessionData&)>& change)
{
    {
        SessionData scratch;
        change(scratch);
    }
    SessionStore store(stateDirectory(args), storeOptions(args));
    SessionData session;
    SessionStore::Restored restored;
    const SessionStore::Lock lock = lockAndRestore(store, args, session, restored, err);
    change(session);
    storeSession(store, lock, session, out, err);
    return ExitOk;
}

// A value from standard input, for "-": at most what the stored forms take, one
// final line end dropped.
QByteArray standardInput()
{
    QByteArray bytes = readBounded(STDIN_FILENO, DataSets::DataSetCodec::kMaxInputBytes, 0, ExitUsage,
                                   QStringLiteral("standard input"));
    if (bytes.endsWith('\n'))
        bytes.chop(bytes.endsWith("\r\n") ? 2 : 1);
    return bytes;
}

int set(const Arguments& args, QTextStream& out, QTextStream& err)
{
    QList<QPair<QString, QString>> assignments;
    bool stdinRead = false;
    for (qsizetype i = 0; i + 1 < args.positional.size(); i += 2) {
        const QString name = QString::fromLocal8Bit(args.positional[i]);
        QByteArray value = args.positional[i + 1];
        if (value == "-") {
            if (stdinRead)
                usage(QStringLiteral("only one value can be read from standard input"));
            stdinRead = true;
            value = standardInput();
        }
        // Strictly: bytes that are not UTF-8 would be stored as replacement characters.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(value);
        if (utf8.hasError())
            throw Failure{ExitUsage, QStringLiteral("%1: the value is not UTF-8 text").arg(name)};
        assignments.append({name, text});
    }
    if (const auto live = askRunningClient(stateDirectory(args), {control::Verb::Set, {}, assignments}))
        return changedLive(*live, out);
    return changeStored(args, out, err, [&](SessionData& s) { setProperties(s, assignments); });
}

int reset(const Arguments& args, QTextStream& out, QTextStream& err)
{
    const QStringList names = propertyNames(args);
    if (const auto live = askRunningClient(stateDirectory(args), {control::Verb::Reset, names, {}}))
        return changedLive(*live, out);
    return changeStored(args, out, err, [&](SessionData& s) { resetProperties(s, names); });
}

// Prints each change of the running client as it lands, until interrupted or the
// client ends.
int watch(const Arguments& args, QTextStream& out, QTextStream& err)
{
    const QStringList names = propertyNames(args);
    checkNames(names);
    const QByteArray dir = stateDirectory(args);
    LiveClient client(dir);
    if (!client.isRunning())
        throw Failure{
            ExitBadStoredFile,
            QStringLiteral("no running client holds %1: nothing to watch").arg(QFile::decodeName(dir))};
    const control::Reply reply = client.ask({control::Verb::Watch, names, {}});
    if (!reply.ok)
        throw Failure{ExitIo, reply.error};
    err << "sessionctl: watching the running client (pid " << reply.pid << "); interrupt to stop" << Qt::endl;
    LiveClient::endOnInterrupt();
    while (const auto change = client.next()) {
        if (!change->change)
            continue;
        printProperties(out, change->properties);
        out.flush();
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            return ExitOk; // the reader has gone; checkOutput tells why when it matters
    }
    if (!LiveClient::interrupted())
        err << "sessionctl: the running client has ended" << Qt::endl;
    return ExitOk;
}

int signOut(const Arguments& args, QTextStream& out, QTextStream& err)
{
    SessionStore store(stateDirectory(args), storeOptions(args));
    SessionData session;
    SessionStore::Restored restored;
    const SessionStore::Lock lock = lockAndRestore(store, args, session, restored, err);
    const QString user = storeOf<UserRuntimeData>(session)->getData<QString, UserProperty::UserName>();
    session.clear();
    out << (user.isEmpty() ? QStringLiteral("Nobody was signed in")
                           : QStringLiteral("Signed out %1").arg(user))
        << "; the session is cleared" << Qt::endl;
    storeSession(store, lock, session, out, err);
    return ExitOk;
}

int rotateKey(const Arguments& args, QTextStream& out, QTextStream& err)
{
    SessionStore store(stateDirectory(args), storeOptions(args));
    const SessionStore::Lock lock = lockOnly(store, args, err);
    const SessionStore::Stored stored = store.rotateKey(lock);
    report(store, err, stored.warnings, stored.error);
    out << "Sealed generation " << stored.generation << " with a new key; the old key is gone" << Qt::endl;
    return ExitOk;
}

bool exists(const QByteArray& path)
{
    struct stat st
    {
    };
    return ::lstat(path.constData(), &st) == 0;
}

int forget(const Arguments& args, QTextStream& out, QTextStream& err)
{
    SessionStore store(stateDirectory(args), storeOptions(args));
    const SessionStore::Lock lock = lockOnly(store, args, err);
    const bool stored = exists(store.encryptedPath()) || exists(store.plainPath());
    const SessionStore::Stored forgotten = store.forget(lock);
    report(store, err, forgotten.warnings, forgotten.error);
    if (stored)
        out << "Removed the stored session and its key from ";
    else
        out << "Nothing was stored in ";
    out << QFile::decodeName(store.stateDirectory()) << Qt::endl;
    return ExitOk;
}

int manPage(const Arguments&, QTextStream& out, QTextStream&)
{
    printManPage(out);
    return ExitOk;
}

int completion(const Arguments&, QTextStream& out, QTextStream&)
{
    printCompletion(out);
    return ExitOk;
}

} // namespace

const Verb kVerbs[] = {
    {"run", kWriteOptions | OptProfile | OptWatch, ArgumentKind::None, 0, 0,
     "Restore the stored session (or start fresh), provision it from the profile (the built-in one unless "
     "--profile is given) on one thread per domain, print a summary and store it. The main thread counts the "
     "changes the provisioning threads make.",
     run},
    {"show", kKeyOptions | OptJson, ArgumentKind::File, 1, 1,
     "Print a stored session file as an indented tree (--json: one JSON document, with the file's properties "
     "as list and get show them). The key of an encrypted file is found as run finds it for the directory "
     "that "
     "holds FILE. Takes no lock.",
     show},
    {"list", OptJson, ArgumentKind::None, 0, 0,
     "Every property of every store, one line each: DOMAIN.PROPERTY, its value type (with the names an "
     "enumeration takes), and where it is stored (encrypted or plain part and its key, or run only).",
     list},
    {"get", OptState | kKeyOptions | OptJson, ArgumentKind::Properties, 1, -1,
     "The value of each property, as set takes it back (sessionctl get phone.SipAccount): the live value "
     "when "
     "a running client holds the state directory (said on stderr), else the stored one, read without the "
     "lock, "
     "creating or changing nothing; a directory with no stored session is exit 2. A property held for the "
     "run "
     "only says so; the password and tokens are never shown.",
     get},
    {"set", kWriteOptions, ArgumentKind::PropertyValues, 2, -1,
     "Restore, write each value, store a new generation; when a client is running on the state directory, "
     "write each value into it instead, at once (it stores the change itself). Each value is checked first: "
     "one that is not of the property's type, or that would not read back as given once stored, is refused "
     "and nothing is written. A property that is not stored is refused, its value would not survive; a "
     "running client takes it for the rest of its run (the password and tokens excepted).",
     set},
    {"reset", kWriteOptions, ArgumentKind::Properties, 1, -1,
     "Restore, return each property to the value of a fresh session, store a new generation; into a running "
     "client instead when one holds the state directory, as set does.",
     reset},
    {"watch", OptState, ArgumentKind::Properties, 0, -1,
     "Print each change of the running client that holds the state directory as it lands (all properties, or "
     "the ones named), as get prints it, until interrupted; the password and tokens are never shown. Exit 2 "
     "when no client is running.",
     watch},
    {"sign-out", kWriteOptions, ArgumentKind::None, 0, 0, "Clear the session and store the empty state.",
     signOut},
    {"rotate-key", kWriteOptions, ArgumentKind::None, 0, 0,
     "Seal the stored session with a new key, which replaces the old one.", rotateKey},
    {"forget", kWriteOptions, ArgumentKind::None, 0, 0,
     "Remove all stored data of the state directory: both stored files, the key file and the key's entry in "
     "the platform secret store. Says so when nothing was stored.",
     forget},
    {"man", 0, ArgumentKind::None, 0, 0, "The man page, in roff.", manPage, true},
    {"completion", 0, ArgumentKind::None, 0, 0, "The bash completion.", completion, true},
};
const int kVerbCount = static_cast<int>(std::size(kVerbs));

const char* const kVersion = SESSIONCTL_VERSION;

namespace {

// True when standard output is a pipe whose reader has gone.
bool readerGone()
{
    struct stat st
    {
    };
    pollfd fd{STDOUT_FILENO, 0, 0};
    return ::fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode) && ::poll(&fd, 1, 0) == 1 &&
           (fd.revents & POLLERR);
}

// The output reached its reader, or the reason why not. A reader that stopped
// reading (a closed pipe) ends the program quietly: it has what it wanted.
void checkOutput(QTextStream& out)
{
    out.flush();
    const bool failed = out.status() != QTextStream::Ok;
    errno = 0;
    if ((failed || std::fflush(stdout) != 0 || std::ferror(stdout)) && !readerGone())
        throw Failure{
            ExitIo, QStringLiteral("cannot write the output: %1")
                        .arg(failed && out.device() ? out.device()->errorString() : qt_error_string(errno))};
}

int dispatch(const Arguments& args, QTextStream& out, QTextStream& err)
{
    if (args.version) {
        out << "sessionctl " << kVersion << '\n';
        return ExitOk;
    }
    if (args.help) {
        printHelp(out, args.verb && !args.verb->hidden ? args.verb : nullptr);
        return ExitOk;
    }
    return args.verb->handler(args, out, err);
}

} // namespace

int runCli(const QList<QByteArray>& arguments, QTextStream& out, QTextStream& err)
{
    try {
        const int code = dispatch(parse(arguments), out, err);
        // After the state is safely stored: a lost summary is still a failure.
        checkOutput(out);
        return code;
    } catch (const Failure& failure) {
        out.flush();
        err << "sessionctl: " << failure.message << Qt::endl;
        return failure.code;
    }
}

} // namespace sessionctl
