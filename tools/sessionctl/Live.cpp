// SPDX-License-Identifier: MIT
#include "Live.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sessionctl {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

// A running client answers within milliseconds; this is for one that hangs.
constexpr int kReplyTimeoutMs = 5000;

QString shown(const QByteArray& path)
{
    return QString::fromLocal8Bit(path);
}

} // namespace

LiveClient::LiveClient(const QByteArray& stateDirectory)
    : m_socket(stateDirectory + '/' + control::kSocketName)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<size_t>(m_socket.size()) >= sizeof address.sun_path)
        return; // no client can listen there either
    std::memcpy(address.sun_path, m_socket.constData(), static_cast<size_t>(m_socket.size()));
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return;
    // ENOENT: none running; ECONNREFUSED: one died and left its socket; EACCES: not
    // ours to reach. In each case the stored files are the answer.
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

LiveClient::~LiveClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<QByteArray> LiveClient::readLine(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (g_interrupted)
            return std::nullopt;
        if (const qsizetype end = m_buffer.indexOf('\n'); end >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            return line;
        }
        if (m_buffer.size() > 16 * control::kMaxLineBytes)
            throw Failure{ExitIo, QStringLiteral("%1: the running client sent a line too long to be a reply")
                                      .arg(shown(m_socket))};
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                throw Failure{ExitIo,
                              QStringLiteral("%1: the running client did not answer within %2 seconds")
                                  .arg(shown(m_socket))
                                  .arg(timeoutMs / 1000)};
            wait = static_cast<int>(left.count());
        }
        pollfd fd{m_fd, POLLIN, 0};
        if (::poll(&fd, 1, wait) < 0 && errno != EINTR)
            throw Failure{ExitIo, QStringLiteral("%1: %2").arg(shown(m_socket), qt_error_string(errno))};
        char chunk[4096];
        const ssize_t got = fd.revents ? ::read(m_fd, chunk, sizeof chunk) : -1;
        if (got == 0 || (got < 0 && fd.revents && errno == ECONNRESET))
            return std::nullopt;
        if (got > 0)
            m_buffer.append(chunk, got);
        else if (fd.revents && errno != EINTR && errno != EAGAIN)
            throw Failure{ExitIo, QStringLiteral("%1: %2").arg(shown(m_socket), qt_error_string(errno))};
    }
}

control::Reply LiveClient::ask(const control::Request& request)
{
    const QByteArray line = control::requestLine(request);
    if (line.size() > control::kMaxLineBytes + 1)
        // Counted as sent: JSON writes a backslash or a control character as two or more.
        throw Failure{ExitUsage,
                      QStringLiteral("the request is %1 bytes as sent, more than the %2 the running "
                                     "client takes")
                          .arg(line.size() - 1)
                          .arg(control::kMaxLineBytes)};
    int sendError = 0;
    for (qsizetype sent = 0; sent < line.size();) {
        const ssize_t n =
            ::send(m_fd, line.constData() + sent, static_cast<size_t>(line.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // A client that refuses this peer answers before it reads: its reply may wait.
            sendError = errno;
            break;
        }
        sent += n;
    }
    const std::optional<QByteArray> reply = readLine(kReplyTimeoutMs);
    if (!reply && sendError)
        throw Failure{ExitIo, QStringLiteral("%1: cannot reach the running client: %2")
                                  .arg(shown(m_socket), qt_error_string(sendError))};
    if (!reply)
        throw Failure{ExitIo, QStringLiteral("%1: the running client closed the connection without an answer")
                                  .arg(shown(m_socket))};
    return control::readReply(*reply);
}

std::optional<control::Reply> LiveClient::next()
{
    const std::optional<QByteArray> line = readLine(-1);
    if (!line)
        return std::nullopt;
    return control::readReply(*line);
}

void LiveClient::endOnInterrupt()
{
    struct sigaction action
    {
    };
    action.sa_handler = [](int) { g_interrupted = 1; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the wait in poll() returns, and the loop sees the flag
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool LiveClient::interrupted()
{
    return g_interrupted != 0;
}

} // namespace sessionctl
