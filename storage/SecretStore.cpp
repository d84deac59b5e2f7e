// SPDX-License-Identifier: MIT
#include "SecretStore.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <memory>

namespace storage {

namespace {

const QString kService = QStringLiteral("sessionconfig");

} // namespace

QString SecretStore::cannotAsk()
{
    if (!QCoreApplication::instance())
        return QStringLiteral("no QCoreApplication in this process");
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
        return QStringLiteral("not asked from the application's thread");
#ifdef Q_OS_LINUX
    // Without it the Secret Service library would try to launch a bus of its own.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return QStringLiteral("no D-Bus session bus");
#endif
    return {};
}

namespace {

// Runs `job` to its end or the limit. A job still running at the limit is not
// deleted under the backend's feet: it deletes itself if it ever finishes, and goes
// with the application otherwise (no event loop runs after that to call back into it).
bool finishes(std::unique_ptr<QKeychain::Job>& job, std::chrono::milliseconds limit)
{
    job->setAutoDelete(false);
    job->setInsecureFallback(false); // never a plain-text file in place of the store
    QEventLoop loop;
    bool done = false;
    QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    job->start();
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (done)
        return true;
    QObject::disconnect(job.get(), nullptr, &loop, nullptr);
    job->setAutoDelete(true);
    job.release()->setParent(QCoreApplication::instance());
    return false;
}

} // namespace

QString SecretStore::ask(std::unique_ptr<QKeychain::Job>& job, const QString& key)
{
    if (!m_gaveUp.isEmpty())
        return m_gaveUp;
    if (QString reason = cannotAsk(); !reason.isEmpty())
        return reason;
    job->setKey(key);
    if (!finishes(job, m_limit))
        return m_gaveUp = QStringLiteral("the secret store did not answer within %1 ms").arg(m_limit.count());
    if (job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound)
        return {};
    return job->errorString().isEmpty()
               ? QStringLiteral("the secret store refused (error %1)").arg(job->error())
               : job->errorString();
}

namespace {

#ifdef Q_OS_LINUX
QDBusMessage askService(const QString& path, const QString& interface, const QString& method,
                        const QVariantList& arguments, std::chrono::milliseconds limit)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"), path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, static_cast<int>(limit.count()));
}

QString aliasOf(const QString& alias, std::chrono::milliseconds limit)
{
    const QDBusMessage reply = askService(QStringLiteral("/org/freedesktop/secrets"),
                                          QStringLiteral("org.freedesktop.Secret.Service"),
                                          QStringLiteral("ReadAlias"), {alias}, limit);
    return reply.type() == QDBusMessage::ReplyMessage
               ? reply.arguments().value(0).value<QDBusObjectPath>().path()
               : QString();
}
#endif

} // namespace

SecretStore::Probe SecretStore::probe()
{
    const auto unavailable = [](QString reason) { return Probe{Probe::Unavailable, std::move(reason)}; };
    if (!m_gaveUp.isEmpty())
        return unavailable(m_gaveUp);
    if (QString reason = cannotAsk(); !reason.isEmpty())
        return unavailable(reason);
#ifdef Q_OS_LINUX
    // A locked collection reads as if it held no entry, and refuses new ones: ask
    // the Secret Service itself whether the collection that keeps entries is locked.
    const QDBusMessage reply =
        askService(QStringLiteral("/org/freedesktop/secrets/aliases/default"),
                   QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                   {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")}, m_limit);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
            return unavailable(
                m_gaveUp =
                    QStringLiteral("the secret store did not answer within %1 ms").arg(m_limit.count()));
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
            return unavailable(QStringLiteral("no secret store on the D-Bus session bus"));
        return {Probe::Keeps, {}}; // no default collection yet, for example: the store makes one when asked
    }
    if (reply.arguments().value(0).value<QDBusVariant>().variant().toBool())
        return unavailable(QStringLiteral("the secret store's collection is locked"));
    // Entries go to the default collection. The session collection is held in memory
    // and gone when the store restarts: a key moved there would be lost with it.
    const QString defaultCollection = aliasOf(QStringLiteral("default"), m_limit);
    const QString sessionCollection = aliasOf(QStringLiteral("session"), m_limit);
    if (!defaultCollection.isEmpty() &&
        (defaultCollection == sessionCollection ||
         defaultCollection == QLatin1String("/org/freedesktop/secrets/collection/session")))
        return {Probe::ForgetsKeys,
                QStringLiteral("the secret store's default collection is kept in memory only")};
#endif
    return {Probe::Keeps, {}};
}

SecretAnswer SecretStore::read(const QString& key)
{
    auto* read = new QKeychain::ReadPasswordJob(kService);
    std::unique_ptr<QKeychain::Job> job(read);
    SecretAnswer answer;
    answer.reason = ask(job, key);
    if (answer.reason.isEmpty()) {
        answer.state = read->error() == QKeychain::NoError ? SecretAnswer::Found : SecretAnswer::Missing;
        answer.bytes = read->binaryData();
    }
    return answer;
}

QString SecretStore::write(const QString& key, const QByteArray& bytes)
{
    auto* write = new QKeychain::WritePasswordJob(kService);
    write->setBinaryData(bytes);
    std::unique_ptr<QKeychain::Job> job(write);
    return ask(job, key);
}

QString SecretStore::remove(const QString& key)
{
    std::unique_ptr<QKeychain::Job> job(new QKeychain::DeletePasswordJob(kService));
    return ask(job, key);
}

} // namespace storage
