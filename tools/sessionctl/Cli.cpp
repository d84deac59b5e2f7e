#include "Cli.h"

#include "Failure.h"
#include "Profile.h"
#include "Storage.h"
#include "Summary.h"
#include "Watch.h"

#include <AppRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <SessionData.h>
#include <UserRuntimeData.h>

#include <QFileInfo>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace sessionctl {

namespace {

const char* const kUsage = R"(Usage: sessionctl <command> [options]

Commands:
  run [--state DIR] [--profile FILE] [--key-file FILE] [--watch]
      Restore the stored session (or start fresh), provision it from the profile
      (the built-in one unless --profile is given), print a summary and store it.
      The main thread counts the changes the provisioning threads make.
  show [--key-file FILE] FILE
      Print a stored session file as an indented tree. The encrypted file is
      decrypted with --key-file, or with session.key beside FILE.
  sign-out [--state DIR] [--key-file FILE]
      Clear the session and store the empty state.

Options:
  --state DIR      state directory; default $XDG_STATE_HOME/sessionconfig
                   (~/.local/state/sessionconfig when XDG_STATE_HOME is unset)
  --key-file FILE  key of the encrypted file; default DIR/session.key, created
                   with owner-only permissions when the first session is stored
  --profile FILE   provisioning profile (JSON)
  --watch          print each change as it lands ("  changed: phone.SipAccount");
                   names only, never a value
  -h, --help       show this help

Exit codes:
  0  success
  1  bad command line
  2  a stored file or the key cannot be used (corrupt, truncated, altered,
     wrong key, newer format); no file is changed
  3  the provisioning profile is malformed; no file is changed
  4  a file or directory cannot be read or written
)";

struct Arguments
{
    QString command;
    std::map<QString, QString> options;
    QStringList positional;
    bool help = false;

    QString option(const char* name) const
    {
        const auto it = options.find(QLatin1String(name));
        return it == options.end() ? QString() : it->second;
    }
};

[[noreturn]] void usage(const QString& fault)
{
    throw Failure{ExitUsage, fault + QStringLiteral(" (see sessionctl --help)")};
}

Arguments parse(const QStringList& arguments)
{
    static const std::map<QString, QStringList> allowed = {
        {QStringLiteral("run"),
         {QStringLiteral("state"), QStringLiteral("profile"), QStringLiteral("key-file"),
          QStringLiteral("watch")}},
        {QStringLiteral("show"), {QStringLiteral("key-file")}},
        {QStringLiteral("sign-out"), {QStringLiteral("state"), QStringLiteral("key-file")}},
    };
    Arguments args;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            args.help = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            const int eq = a.indexOf(QLatin1Char('='));
            const QString name = a.mid(2, eq < 0 ? -1 : eq - 2);
            const bool flag = name == QLatin1String("watch"); // the one option without a value
            QString value;
            if (flag && eq >= 0)
                usage(QStringLiteral("option --%1 takes no value").arg(name));
            if (flag)
                value = QStringLiteral("yes");
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
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            usage(QStringLiteral("unknown option %1").arg(a));
        } else if (args.command.isEmpty()) {
            args.command = a;
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
    const int wanted = args.command == QLatin1String("show") ? 1 : 0;
    if (args.positional.size() != wanted)
        usage(wanted
                  ? QStringLiteral("show needs exactly one FILE")
                  : QStringLiteral("%1 takes no argument \"%2\"").arg(args.command, args.positional.first()));
    return args;
}

StateFiles stateFiles(const Arguments& args)
{
    const QString dir = args.option("state");
    return StateFiles(QFileInfo(dir.isEmpty() ? defaultStateDir() : dir).absoluteFilePath(),
                      args.option("key-file"));
}

// Reads what is stored into the session; warnings go to `err`.
Restored restore(const StateFiles& files, SessionData& session, QTextStream& err)
{
    Restored restored = files.load();
    for (const QString& warning : restored.warnings)
        err << "sessionctl: warning: " << warning << Qt::endl;
    if (restored.encrypted)
        session.deserializeEncrypted(restored.encrypted->data);
    if (restored.plain)
        session.deserializeUnencrypted(restored.plain->data);
    return restored;
}

void storeSession(const StateFiles& files, const SessionData& session, const Restored& restored,
                  QTextStream& out)
{
    const std::uint64_t generation =
        files.store(session.serializeEncrypted(), session.serializeUnencrypted(), restored.generation());
    out << "Stored generation " << generation << " in " << files.dir() << ": "
        << QFileInfo(files.encryptedPath()).fileName() << " (encrypted), "
        << QFileInfo(files.plainPath()).fileName() << " (plain)" << Qt::endl;
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

    const auto app = session.getAppSessionData().lock();
    const auto user = session.getUserRuntimeData().lock();
    const auto phone = session.getPhoneSessionData().lock();
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
        for (Section s : {Section::App, Section::AppMeeting, Section::CallFlow, Section::Chat, Section::Phone,
                          Section::User, Section::Desk}) {
            bool listed = false;
            for (const auto& d : profile.domains)
                listed = listed || std::find(d.sections.begin(), d.sections.end(), s) != d.sections.end();
            if (!listed)
                missing << sectionName(s);
        }
        out << "Configuration not ready: not provisioned: " << missing.join(QStringLiteral(", ")) << Qt::endl;
    }
}

int run(const Arguments& args, QTextStream& out, QTextStream& err)
{
    // Everything that can be refused is checked before any file is written.
    const Profile profile = loadProfile(args.option("profile"));
    const StateFiles files = stateFiles(args);
    files.ensureDirectory();
    SessionData session;
    const Restored restored = restore(files, session, err);
    if (restored.isEmpty())
        out << "No stored session in " << files.dir() << ": starting fresh" << Qt::endl;
    else
        printRestored(out, restored, session);

    session.setConfigurationReadyCallback(
        [&out] { out << "Configuration ready: all seven sections are provisioned" << Qt::endl; });
    provision(session, profile, !args.option("watch").isEmpty(), out);
    printSummary(out, session);
    out.flush();
    storeSession(files, session, restored, out);
    return ExitOk;
}

int show(const Arguments& args, QTextStream& out)
{
    const ShownFile shown = readStoredFile(args.positional.first(), args.option("key-file"));
    out << shown.set.path << ": " << (shown.encrypted ? "encrypted" : "plain") << " session, format "
        << shown.set.formatVersion << ", generation " << shown.set.generation << '\n';
    printTree(out, shown.set.data);
    out.flush();
    return ExitOk;
}

int signOut(const Arguments& args, QTextStream& out, QTextStream& err)
{
    const StateFiles files = stateFiles(args);
    files.ensureDirectory();
    SessionData session;
    const Restored restored = restore(files, session, err);
    const QString user = session.getUserRuntimeData().lock()->getData<QString, UserProperty::UserName>();
    session.clear();
    out << (user.isEmpty() ? QStringLiteral("Nobody was signed in")
                           : QStringLiteral("Signed out %1").arg(user))
        << "; the session is cleared" << Qt::endl;
    storeSession(files, session, restored, out);
    return ExitOk;
}

} // namespace

int runCli(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    try {
        const Arguments args = parse(arguments);
        if (args.help) {
            out << kUsage;
            out.flush();
            return ExitOk;
        }
        if (args.command == QLatin1String("run"))
            return run(args, out, err);
        if (args.command == QLatin1String("show"))
            return show(args, out);
        return signOut(args, out, err);
    } catch (const Failure& failure) {
        out.flush();
        err << "sessionctl: " << failure.message << Qt::endl;
        return failure.code;
    }
}

} // namespace sessionctl
