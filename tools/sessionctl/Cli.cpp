#include "Cli.h"

#include "Domains.h"
#include "Failure.h"
#include "Profile.h"
#include "Summary.h"
#include "Verbs.h"
#include "Watch.h"

#include <SessionAutosave.h>
#include <SessionStore.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace sessionctl {

namespace {

// One entry per command: its synopsis and what it does. `sessionctl --help` shows
// them all, `sessionctl COMMAND --help` its own, each followed by the options and
// exit codes.
struct CommandHelp
{
    const char* name;
    const char* text;
};

const CommandHelp kCommands[] = {
    {"run", R"(  run [--state DIR] [--profile FILE] [KEY OPTIONS] [--wait SECONDS] [--watch]
      Restore the stored session (or start fresh), provision it from the profile
      (the built-in one unless --profile is given), print a summary and store it.
      The main thread counts the changes the provisioning threads make.
)"},
    {"show", R"(  show [KEY OPTIONS] [--json] FILE
      Print a stored session file as an indented tree (--json: one JSON document).
      The key of the encrypted file is found as run finds it for the directory
      that holds FILE.
)"},
    {"list", R"(  list [--json]
      Every property of every store, one line each: DOMAIN.PROPERTY, value type,
      and where it is stored (encrypted or plain part and its key, or run only).
)"},
    {"get", R"(  get [--state DIR] [KEY OPTIONS] [--wait SECONDS] [--json] DOMAIN.PROPERTY...
      The stored value of each property as the restored session holds it, as JSON
      (e.g. sessionctl get phone.SipAccount). A property held for the run only says
      so. The password and tokens are never shown.
)"},
    {"set", R"(  set [--state DIR] [KEY OPTIONS] [--wait SECONDS] DOMAIN.PROPERTY VALUE...
      Restore, write each value, store a new generation. VALUE is JSON as in a
      profile (42, true, "text", ["a","b"], {...}); for a text property, a VALUE
      that is not JSON is taken as the text itself. A property that is not stored
      is refused: its value would not survive.
)"},
    {"reset", R"(  reset [--state DIR] [KEY OPTIONS] [--wait SECONDS] DOMAIN.PROPERTY...
      Restore, return each property to the value of a fresh session, store a new
      generation.
)"},
    {"sign-out", R"(  sign-out [--state DIR] [KEY OPTIONS] [--wait SECONDS]
      Clear the session and store the empty state.
)"},
    {"rotate-key", R"(  rotate-key [--state DIR] [KEY OPTIONS] [--wait SECONDS]
      Seal the stored session with a new key, which replaces the old one.
)"},
    {"forget", R"(  forget [--state DIR] [KEY OPTIONS] [--wait SECONDS]
      Remove all stored data of the state directory: both stored files, the key
      file and the key's entry in the platform secret store.
)"},
};

const char* const kOptionsHelp = R"(
Key options (where the data key lives):
  --key-store auto|secret-store|file
                   auto (default): the platform secret store when one answers,
                   else the key file; secret-store: only there (exit 4 when none
                   answers); file: only the key file

Options:
  --state DIR      state directory; default $XDG_STATE_HOME/sessionconfig
                   (~/.local/state/sessionconfig when XDG_STATE_HOME is unset)
  --key-file FILE  keep the key in this file instead of the secret store;
                   default DIR/session.key, created with owner-only permissions
                   when the first session is stored without a secret store
  --profile FILE   provisioning profile (JSON)
  --wait SECONDS   how long a command waits for another process that holds
                   the state directory (default 5)
  --watch          print each change as it lands ("  changed: phone.SipAccount");
                   names only, never a value
  --json           one JSON document on stdout (show, list, get); messages
                   about the key go to stderr
  -h, --help       show this help

Exit codes:
  0  success
  1  bad command line: unknown command, option or property name (the nearest
     names are suggested), a value that cannot be read, or a property that
     set or reset cannot write; no file is changed
  2  a stored file or the key cannot be used (corrupt, truncated, altered,
     wrong key, newer format); no file is changed
  3  the provisioning profile is malformed; no file is changed
  4  a file or directory cannot be read or written, the secret store is
     required and none answers, the state directory is busy, or the output
     cannot be written; no stored file is left half-written
)";

void printHelp(QTextStream& out, const QString& command)
{
    out << "Usage: sessionctl <command> [options]\n\nCommand" << (command.isEmpty() ? "s" : "") << ":\n";
    for (const CommandHelp& c : kCommands) {
        if (command.isEmpty() || command == QLatin1String(c.name))
            out << c.text;
    }
    out << kOptionsHelp;
}

struct Arguments
{
    QString command;
    // Paths stay bytes as the shell gave them: decoding could name another file.
    std::map<QString, QByteArray> options;
    QList<QByteArray> positional;
    bool help = false;

    QByteArray option(const char* name) const
    {
        const auto it = options.find(QLatin1String(name));
        return it == options.end() ? QByteArray() : it->second;
    }
};

[[noreturn]] void usage(const QString& fault)
{
    throw Failure{ExitUsage, fault + QStringLiteral(" (see sessionctl --help)")};
}

Arguments parse(const QList<QByteArray>& arguments)
{
    static const QStringList kStateOptions = {QStringLiteral("state"), QStringLiteral("key-file"),
                                              QStringLiteral("key-store"), QStringLiteral("wait")};
    static const std::map<QString, QStringList> allowed = {
        {QStringLiteral("run"),
         kStateOptions + QStringList{QStringLiteral("profile"), QStringLiteral("watch")}},
        {QStringLiteral("show"),
         {QStringLiteral("key-file"), QStringLiteral("key-store"), QStringLiteral("json")}},
        {QStringLiteral("list"), {QStringLiteral("json")}},
        {QStringLiteral("get"), kStateOptions + QStringList{QStringLiteral("json")}},
        {QStringLiteral("set"), kStateOptions},
        {QStringLiteral("reset"), kStateOptions},
        {QStringLiteral("sign-out"), kStateOptions},
        {QStringLiteral("rotate-key"), kStateOptions},
        {QStringLiteral("forget"), kStateOptions},
    };
    Arguments args;
    for (int i = 1; i < arguments.size(); ++i) {
        const QByteArray& a = arguments[i];
        if (a == "-h" || a == "--help") {
            args.help = true;
        } else if (a.startsWith("--")) {
            const qsizetype eq = a.indexOf('=');
            const QString name = QString::fromLocal8Bit(a.mid(2, eq < 0 ? -1 : eq - 2));
            // The options without a value.
            const bool flag = name == QLatin1String("watch") || name == QLatin1String("json");
            QByteArray value;
            if (flag && eq >= 0)
                usage(QStringLiteral("option --%1 takes no value").arg(name));
            if (flag)
                value = "yes";
            else if (eq >= 0)
                value = a.mid(eq + 1);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            else
                usage(QStringLiteral("option --%1 needs a value").arg(name));
            if (value.isEmpty())
                usage(QStringLiteral("option --%1 needs a value").arg(name));
            if (args.options.count(name))
                usage(QStringLiteral("option --%1 given twice").arg(name));
            args.options[name] = value;
        } else if (a.startsWith('-') && a.size() > 1 && !std::isdigit(static_cast<unsigned char>(a[1]))) {
            // (a negative number is a value for set)
            usage(QStringLiteral("unknown option %1").arg(QString::fromLocal8Bit(a)));
        } else if (args.command.isEmpty()) {
            args.command = QString::fromLocal8Bit(a);
        } else {
            args.positional << a;
        }
    }
    if (args.help)
        return args;
    if (args.command.isEmpty())
        usage(QStringLiteral("no command given"));
    const auto it = allowed.find(args.command);
    if (it == allowed.end())
        usage(QStringLiteral("unknown command \"%1\"").arg(args.command));
    for (const auto& [name, value] : args.options) {
        if (!it->second.contains(name))
            usage(QStringLiteral("%1 takes no option --%2").arg(args.command, name));
    }
    const qsizetype given = args.positional.size();
    if (args.command == QLatin1String("show")) {
        if (given != 1)
            usage(QStringLiteral("show needs exactly one FILE"));
    } else if (args.command == QLatin1String("get") || args.command == QLatin1String("reset")) {
        if (given == 0)
            usage(QStringLiteral("%1 needs at least one DOMAIN.PROPERTY").arg(args.command));
    } else if (args.command == QLatin1String("set")) {
        if (given == 0 || given % 2 != 0)
            usage(QStringLiteral("set needs pairs of DOMAIN.PROPERTY VALUE"));
    } else if (given != 0) {
        usage(QStringLiteral("%1 takes no argument \"%2\"")
                  .arg(args.command, QString::fromLocal8Bit(args.positional.first())));
    }
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

// Where the key lives, said once per command.
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
void report(const SessionStore& store, QTextStream& out, QTextStream& err, const QStringList& warnings,
            const SessionStore::Error& error)
{
    sayKeyPlace(out, store.keyPlace());
    warn(err, warnings);
    check(error);
}

// Takes the state directory for the whole of a command, restores what is stored
// into the session; warnings go to `err`.
SessionStore::Lock lockAndRestore(SessionStore& store, const Arguments& args, SessionData& session,
                                  SessionStore::Restored& restored, QTextStream& out, QTextStream& err)
{
    SessionStore::Lock lock = lockOnly(store, args, err);
    restored = store.restore(lock, session);
    report(store, out, err, restored.warnings, restored.error);
    return lock;
}

void storeSession(SessionStore& store, const SessionStore::Lock& lock, const SessionData& session,
                  QTextStream& out, QTextStream& err, SessionAutosave* autosave = nullptr)
{
    const bool inSecretStore = store.keyPlace().secretStore;
    const SessionStore::Stored stored = autosave ? autosave->flush() : store.store(lock, session);
    // A new key the secret store would not keep went to the key file instead.
    if (store.keyPlace().secretStore != inSecretStore)
        sayKeyPlace(out, store.keyPlace());
    warn(err, stored.warnings);
    check(stored.error);
    out << "Stored generation " << stored.generation << " in " << QFile::decodeName(store.stateDirectory())
        << ": session.enc (encrypted), session.json (plain)" << Qt::endl;
}

// Provisions every domain on a thread of its own, as the client's provisioning
// module would, while this thread keeps reading properties like a user interface.
// Alerts the configuration-ready callback once every section is provisioned.
void provision(SessionData& session, const Profile& profile, bool echo, QTextStream& out)
{
    ChangeWatch watch(session, echo ? &out : nullptr);
    out << "Provisioning " << profile.propertyCount() << " properties and " << profile.sectionCount()
        << " sections from " << profile.source << " on " << profile.domains.size() << " threads" << Qt::endl;

    std::mutex mutex;
    std::condition_variable finished;
    int running = static_cast<int>(profile.domains.size());
    std::exception_ptr failure;
    std::vector<std::thread> workers;
    for (const DomainProvisioning& domain : profile.domains) {
        workers.emplace_back([&, &domain = domain] {
            std::exception_ptr caught;
            try {
                domain.apply(session);
            } catch (...) {
                caught = std::current_exception();
            }
            const std::lock_guard<std::mutex> lock(mutex);
            if (caught && !failure)
                failure = caught;
            --running;
            finished.notify_one();
        });
    }

    const auto app = storeOf<AppRuntimeData>(session);
    const auto user = storeOf<UserRuntimeData>(session);
    const auto phone = storeOf<PhoneRuntimeData>(session);
    long reads = 0;
    bool alerted = false;
    for (bool done = false; !done;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait_for(lock, std::chrono::microseconds(200), [&] { return running == 0; });
            done = running == 0;
        }
        // What a user interface shows while provisioning goes on.
        (void)user->getData<QString, UserProperty::UserName>();
        (void)phone->getData<QString, PhoneProperty::SipAccount>();
        (void)app->getData<QString, AppProperty::Version>();
        (void)session.isValidSession();
        reads += 4;
        watch.deliver();
        if (!alerted && session.isProvisioned()) {
            session.alertConfigurationReady();
            alerted = true;
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    if (failure)
        std::rethrow_exception(failure);

    watch.deliver(); // what the threads queued before they ended
    out << "Main thread read " << reads << " properties and received " << watch.received()
        << " changes while provisioning ran" << Qt::endl;
    if (!alerted) {
        QStringList missing;
        for (const SectionEntry& s : kSections) {
            bool listed = false;
            for (const auto& d : profile.domains)
                listed =
                    listed || std::find(d.sections.begin(), d.sections.end(), s.section) != d.sections.end();
            if (!listed)
                missing << QLatin1String(s.name);
        }
        out << "Configuration not ready: not provisioned: " << missing.join(QStringLiteral(", ")) << Qt::endl;
    }
}

int run(const Arguments& args, QTextStream& out, QTextStream& err)
{
    // Everything that can be refused is checked before any file is written.
    const Profile profile = loadProfile(QFile::decodeName(args.option("profile")));
    SessionStore store(stateDirectory(args), storeOptions(args));
    SessionData session;
    SessionStore::Restored restored;
    const SessionStore::Lock lock = lockAndRestore(store, args, session, restored, out, err);
    if (restored.isEmpty())
        out << "No stored session in " << QFile::decodeName(store.stateDirectory()) << ": starting fresh"
            << Qt::endl;
    else
        printRestored(out, restored, session);

    // The run's changes reach the disk as they come; the key is made ready here.
    const bool inSecretStore = store.keyPlace().secretStore;
    SessionAutosave autosave(store, lock, session);
    if (store.keyPlace().secretStore != inSecretStore)
        sayKeyPlace(out, store.keyPlace());
    session.setConfigurationReadyCallback(
        [&out] { out << "Configuration ready: all seven sections are provisioned" << Qt::endl; });
    provision(session, profile, !args.option("watch").isEmpty(), out);
    printSummary(out, session);
    out.flush();
    storeSession(store, lock, session, out, err, &autosave);
    return ExitOk;
}

int show(const Arguments& args, QTextStream& out, QTextStream& err)
{
    const bool json = !args.option("json").isEmpty();
    const SessionStore::ReadFile read = SessionStore::readFile(args.positional.first(), storeOptions(args));
    if (read.keyPlace)
        sayKeyPlace(json ? err : out, *read.keyPlace);
    warn(err, read.warnings);
    check(read.error);
    const SessionStore::StoredFile& file = read.file;
    if (json) {
        const QJsonObject doc{
            {QStringLiteral("path"), QFile::decodeName(file.path)},
            {QStringLiteral("encrypted"), file.encrypted},
            {QStringLiteral("formatVersion"), static_cast<double>(file.formatVersion)},
            {QStringLiteral("generation"), static_cast<double>(file.generation)},
            {QStringLiteral("data"), dataSetJson(file.data)},
        };
        out << QJsonDocument(doc).toJson(QJsonDocument::Indented);
        return ExitOk;
    }
    out << QFile::decodeName(file.path) << ": " << (file.encrypted ? "encrypted" : "plain")
        << " session, format " << file.formatVersion << ", generation " << file.generation << '\n';
    printTree(out, file.data);
    out.flush();
    return ExitOk;
}

QStringList propertyNames(const Arguments& args)
{
    QStringList names;
    for (const QByteArray& name : args.positional)
        names << QString::fromLocal8Bit(name);
    return names;
}

int list(const Arguments& args, QTextStream& out, QTextStream&)
{
    listProperties(out, !args.option("json").isEmpty());
    return ExitOk;
}

int get(const Arguments& args, QTextStream& out, QTextStream& err)
{
    const bool json = !args.option("json").isEmpty();
    const QStringList names = propertyNames(args);
    (void)getProperties(SessionData(), names); // unknown names before the state is touched
    SessionStore store(stateDirectory(args), storeOptions(args));
    SessionData session;
    SessionStore::Restored restored;
    const SessionStore::Lock lock = lockAndRestore(store, args, session, restored, json ? err : out, err);
    const QJsonArray properties = getProperties(session, names);
    if (json)
        out << QJsonDocument(
                   QJsonObject{{QStringLiteral("generation"), static_cast<double>(restored.generation())},
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
    const SessionStore::Lock lock = lockAndRestore(store, args, session, restored, out, err);
    change(session);
    storeSession(store, lock, session, out, err);
    return ExitOk;
}

int set(const Arguments& args, QTextStream& out, QTextStream& err)
{
    QList<QPair<QString, QByteArray>> assignments;
    for (qsizetype i = 0; i + 1 < args.positional.size(); i += 2)
        assignments.append({QString::fromLocal8Bit(args.positional[i]), args.positional[i + 1]});
    return changeStored(args, out, err, [&](SessionData& s) { setProperties(s, assignments); });
}

int reset(const Arguments& args, QTextStream& out, QTextStream& err)
{
    const QStringList names = propertyNames(args);
    return changeStored(args, out, err, [&](SessionData& s) { resetProperties(s, names); });
}

int signOut(const Arguments& args, QTextStream& out, QTextStream& err)
{
    SessionStore store(stateDirectory(args), storeOptions(args));
    SessionData session;
    SessionStore::Restored restored;
    const SessionStore::Lock lock = lockAndRestore(store, args, session, restored, out, err);
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
    report(store, out, err, stored.warnings, stored.error);
    out << "Sealed generation " << stored.generation << " with a new key; the old key is gone" << Qt::endl;
    return ExitOk;
}

int forget(const Arguments& args, QTextStream& out, QTextStream& err)
{
    SessionStore store(stateDirectory(args), storeOptions(args));
    const SessionStore::Lock lock = lockOnly(store, args, err);
    const SessionStore::Stored forgotten = store.forget(lock);
    report(store, out, err, forgotten.warnings, forgotten.error);
    out << "Removed the stored session and its key from " << QFile::decodeName(store.stateDirectory())
        << Qt::endl;
    return ExitOk;
}

// The output reached its reader, or the reason why not.
void checkOutput(QTextStream& out)
{
    out.flush();
    const bool failed = out.status() != QTextStream::Ok;
    errno = 0;
    if (failed || std::fflush(stdout) != 0 || std::ferror(stdout))
        throw Failure{
            ExitIo, QStringLiteral("cannot write the output: %1")
                        .arg(failed && out.device() ? out.device()->errorString() : qt_error_string(errno))};
}

int dispatch(const Arguments& args, QTextStream& out, QTextStream& err)
{
    if (args.help) {
        const bool known = std::any_of(std::begin(kCommands), std::end(kCommands), [&](const CommandHelp& c) {
            return args.command == QLatin1String(c.name);
        });
        printHelp(out, known ? args.command : QString());
        return ExitOk;
    }
    using Handler = int (*)(const Arguments&, QTextStream&, QTextStream&);
    static const std::pair<const char*, Handler> kHandlers[] = {
        {"run", run},       {"show", show},   {"list", list},        {"get", get},
        {"set", set},       {"reset", reset}, {"sign-out", signOut}, {"rotate-key", rotateKey},
        {"forget", forget},
    };
    for (const auto& [name, handler] : kHandlers) {
        if (args.command == QLatin1String(name))
            return handler(args, out, err);
    }
    usage(QStringLiteral("unknown command \"%1\"").arg(args.command));
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
