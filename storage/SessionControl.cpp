// SPDX-License-Identifier: MIT
#include "SessionControl.h"

#include "ControlProtocol.h"
#include "Domains.h"

#include <ChangeSubscription.h>
#include <SessionData.h>

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace control = sessionctl::control;

namespace {

// A watcher that has this much unread is no longer reading.
constexpr qint64 kMaxWatcherBacklog = qint64(1024) * 1024;

// Each connection holds one of the client's descriptors: a runaway script opening
// watchers by the thousand must not take those its stores and its other work need.
constexpr std::size_t kMaxConnections = 256;

std::chrono::nanoseconds threadTime()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

QString shown(const QByteArray& path)
{
    return QString::fromLocal8Bit(path);
}

} // namespace

struct SessionControl::Impl
{
    struct Peer
    {
        QByteArray buffer;
        QTimer* deadline = nullptr; // a child of the socket
        bool answered = false;
        bool watching = false;
        QStringList names; // watched; empty: all
    };

    Impl(SessionData& s, QByteArray p)
        : session(s)
        , path(std::move(p))
    {}
    ~Impl()
    {
        subscriptions.clear();
        peers.clear();
        delete server; // closes every connection still open
        if (listening)
            ::unlink(path.constData());
    }

    void listen();
    void accept(QLocalSocket* socket);
    void readable(QLocalSocket* socket);
    void close(QLocalSocket* socket);
    void forget(QLocalSocket* socket);
    void changed(const QString& name);

    SessionData& session;
    const QByteArray path;
    QString error;
    bool listening = false;
    const uid_t owner = ::geteuid();
    QObject context; // on the making thread: every connection's work runs there
    QLocalServer* server = nullptr;
    std::map<QLocalSocket*, Peer> peers;
    std::vector<ChangeSubscription> subscriptions;
    std::atomic<std::uint64_t> answered{0}, refused{0}, dropped{0};
    std::atomic<std::int64_t> busyNanoseconds{0};
};

void SessionControl::Impl::listen()
{
    // Made by hand so that the path stays bytes and is owner-only before anyone can
    // connect; QLocalServer then accepts on it.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(path.size()) >= sizeof address.sun_path) {
        error = QStringLiteral("%1: the path is too long for a local socket (%2 bytes, at most %3)")
                    .arg(shown(path))
                    .arg(path.size())
                    .arg(sizeof address.sun_path - 1);
        return;
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    // Under the lock a socket here is one a client that died left behind.
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = QStringLiteral("%1: exists and is not a socket; left as it is").arg(shown(path));
            return;
        }
        ::unlink(path.constData());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const auto fail = [&](const char* what) {
        error =
            QStringLiteral("%1: cannot %2: %3").arg(shown(path), QLatin1String(what), qt_error_string(errno));
        if (fd >= 0)
            ::close(fd);
    };
    if (fd < 0)
        return fail("make a local socket");
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail("bind the local socket");
    // The directory is owner-only already; the socket is too, whatever the umask.
    if (::chmod(path.constData(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        const int listenError = errno;
        ::unlink(path.constData());
        errno = listenError;
        return fail("listen on the local socket");
    }
    server = new QLocalServer(&context);
    if (!server->listen(fd)) {
        error = QStringLiteral("%1: cannot listen: %2").arg(shown(path), server->errorString());
        ::close(fd);
        ::unlink(path.constData());
        return;
    }
    listening = true;
    QObject::connect(server, &QLocalServer::newConnection, &context, [this] {
        while (QLocalSocket* socket = server->nextPendingConnection())
            accept(socket);
    });
    // Watchers hear each change that lands, whoever made it.
    sessionctl::forEachDomain([&](const auto& domain) {
        if (const auto store = domain.of(session)) {
            subscriptions.push_back(store->subscribe(&context, [this, name = domain.name](auto property) {
                changed(
                    QStringLiteral("%1.%2").arg(QLatin1String(name), QLatin1String(propertyName(property))));
            }));
        }
    });
}

void SessionControl::Impl::accept(QLocalSocket* socket)
{
    Peer& peer = peers[socket];
    // Nothing waits unread in the socket beyond one request: the rest stays in the
    // kernel, and an oversized request is found at this bound.
    socket->setReadBufferSize(control::kMaxLineBytes + 1);
    peer.deadline = new QTimer(socket);
    peer.deadline->setSingleShot(true);
    QObject::connect(peer.deadline, &QTimer::timeout, &context, [this, socket] {
        ++dropped;
        socket->abort();
        forget(socket);
    });
    peer.deadline->start(requestDeadline());
    QObject::connect(socket, &QLocalSocket::disconnected, &context, [this, socket] { forget(socket); });
    QObject::connect(socket, &QLocalSocket::readyRead, &context, [this, socket] { readable(socket); });

    ucred peerCredentials{};
    socklen_t size = sizeof peerCredentials;
    const bool known = ::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED,
                                    &peerCredentials, &size) == 0;
    QString refusal;
    if (!known)
        refusal = QStringLiteral("refused: the peer's user cannot be told");
    else if (peerCredentials.uid != owner && peerCredentials.uid != 0)
        refusal = QStringLiteral("refused: this client answers its own user and root only, not uid %1")
                      .arg(peerCredentials.uid);
    else if (peers.size() > kMaxConnections)
        refusal = QStringLiteral("refused: %1 connections are open already; try again when one ends")
                      .arg(kMaxConnections);
    if (refusal.isEmpty())
        return;
    ++refused;
    peer.answered = true;
    socket->write(control::refusal(sessionctl::ExitIo, refusal));
    close(socket);
}

void SessionControl::Impl::readable(QLocalSocket* socket)
{
    const auto found = peers.find(socket);
    if (found == peers.end())
        return;
    Peer& peer = found->second;
    if (peer.answered) {
        // One request per connection: what a watcher sends after it is ignored.
        socket->skip(socket->bytesAvailable());
        return;
    }
    const std::chrono::nanoseconds started = threadTime();
    peer.buffer += socket->read(control::kMaxLineBytes + 1 - peer.buffer.size());
    const qsizetype end = peer.buffer.indexOf('\n');
    if (end < 0 && peer.buffer.size() <= control::kMaxLineBytes)
        return; // more to come, within the deadline
    peer.answered = true;
    peer.deadline->stop();
    QByteArray reply;
    control::Request request;
    if (end < 0 || end > control::kMaxLineBytes) {
        ++dropped;
        reply = control::refusal(
            sessionctl::ExitUsage,
            QStringLiteral("malformed request: longer than %1 bytes").arg(control::kMaxLineBytes));
    } else {
        try {
            request = control::readRequest(peer.buffer.left(end));
            reply = control::answer(session, request, QCoreApplication::applicationPid());
        } catch (const sessionctl::Failure& failure) {
            reply = control::refusal(failure.code, failure.message);
        }
    }
    peer.buffer.clear();
    peer.buffer.squeeze();
    const bool watching = request.verb == control::Verb::Watch && reply.contains("\"ok\":true");
    socket->write(reply);
    if (watching) {
        peer.watching = true;
        peer.names = request.names;
    } else {
        close(socket);
    }
    ++answered;
    busyNanoseconds += (threadTime() - started).count();
}

void SessionControl::Impl::close(QLocalSocket* socket)
{
    // The reply is flushed first; a peer that never reads it is dropped at the deadline.
    peers[socket].deadline->start(requestDeadline());
    socket->disconnectFromServer();
}

void SessionControl::Impl::forget(QLocalSocket* socket)
{
    if (peers.erase(socket))
        socket->deleteLater();
}

void SessionControl::Impl::changed(const QString& name)
{
    QByteArray line;
    std::vector<QLocalSocket*> stalled;
    for (auto& [socket, peer] : peers) {
        if (!peer.watching || (!peer.names.isEmpty() && !peer.names.contains(name)))
            continue;
        if (socket->bytesToWrite() > kMaxWatcherBacklog) {
            stalled.push_back(socket);
            continue;
        }
        if (line.isEmpty())
            line = control::changeLine(session, name);
        socket->write(line);
    }
    for (QLocalSocket* socket : stalled) {
        ++dropped;
        socket->abort();
        forget(socket);
    }
}

SessionControl::SessionControl(SessionStore& store, const SessionStore::Lock& lock, SessionData& session)
    : d(std::make_unique<Impl>(session, store.stateDirectory() + '/' + control::kSocketName))
{
    if (!lock.isHeld())
        d->error = QStringLiteral("%1: the state directory's lock is not held").arg(shown(d->path));
    else
        d->listen();
}

SessionControl::~SessionControl() = default;

bool SessionControl::isListening() const
{
    return d->listening;
}

QString SessionControl::errorString() const
{
    return d->error;
}

QByteArray SessionControl::socketPath() const
{
    return d->path;
}

SessionControl::Statistics SessionControl::statistics() const
{
    Statistics s;
    s.answered = d->answered;
    s.refused = d->refused;
    s.dropped = d->dropped;
    s.threadTime = std::chrono::nanoseconds(d->busyNanoseconds.load());
    return s;
}
