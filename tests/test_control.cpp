// SPDX-License-Identifier: MIT
// sessionctl against a running client (tests/control_client.cpp): each verb through
// the control channel, a channel under attack, and the socket a killed client leaves.
#include <SessionControl.h>
#include <SessionData.h>
#include <SessionStore.h>

#include "SessionctlProcess.h"

#include <QElapsedTimer>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace {

// The client as a process: its output (and errors) go to a file the test reads.
class Client
{
public:
    Client(const QByteArray& state, const QByteArray& log)
        : m_log(log)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::execl(CONTROL_CLIENT, CONTROL_CLIENT, state.constData(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    // Ended as a client is at shutdown, so that its destructors run; killed if it hangs.
    ~Client()
    {
        if (m_pid > 0 && ::kill(m_pid, SIGTERM) == 0) {
            for (int i = 0; i < 500; ++i) {
                if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
                    m_pid = -1;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        stop(SIGKILL);
    }

    QByteArray output() const { return readFile(m_log); }
    // True once the output holds `text` `times` times, within five seconds.
    bool says(const QByteArray& text, int times = 1) const
    {
        QElapsedTimer waited;
        waited.start();
        while (output().count(text) < times && waited.elapsed() < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return output().count(text) >= times;
    }
    bool alive() const
    {
        return m_pid > 0 && ::kill(m_pid, 0) == 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0;
    }
    pid_t pid() const { return m_pid; }
    int stop(int signal)
    {
        int status = -1;
        if (m_pid > 0 && ::kill(m_pid, signal) == 0)
            ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

private:
    QByteArray m_log;
    pid_t m_pid = -1;
};

// The address of a local socket at `path`.
sockaddr_un localAddress(const QByteArray& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
    return address;
}

// The request of a watcher of phone.SipAccount.
constexpr char kWatchAccount[] = R"({"v":1,"verb":"watch","names":["phone.SipAccount"]})"
                                 "\n";

// A raw connection to the control socket, as a hostile or broken peer makes one.
class Peer
{
public:
    explicit Peer(const QByteArray& socketPath)
    {
        const sockaddr_un address = localAddress(socketPath);
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        EXPECT_EQ(::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    ~Peer() { ::close(m_fd); }
    void send(const QByteArray& bytes) const
    {
        (void)!::send(m_fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL);
    }
    void halfClose() const { ::shutdown(m_fd, SHUT_WR); }
    // One line of the reply (waiting at most `seconds`).
    QByteArray line(int seconds) const
    {
        QByteArray got;
        waitAtMost(seconds);
        for (char c; !got.endsWith('\n') && ::recv(m_fd, &c, 1, 0) == 1;)
            got.append(c);
        return got;
    }
    // Everything until the client closes the connection (waiting at most `seconds`).
    QByteArray drain(int seconds) const
    {
        QByteArray got;
        waitAtMost(seconds);
        char chunk[4096];
        for (ssize_t n; (n = ::recv(m_fd, chunk, sizeof chunk, 0)) > 0;)
            got.append(chunk, n);
        return got;
    }

private:
    void waitAtMost(int seconds) const
    {
        timeval timeout{seconds, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }

    int m_fd = -1;
};

class Control : public ScratchTest
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(sessionctl("run").exitCode, 0);
        m_client = std::make_unique<Client>(state(), path("client.log"));
        ASSERT_TRUE(m_client->says("ready")) << m_client->output().constData();
    }
    QByteArray socket() const { return file("session.control"); }

    std::unique_ptr<Client> m_client;
};

} // namespace

// Each verb against the running client: what it prints, its exit code, and what the
// client's own subscriber hears. Nothing waits for the lock the client holds.
TEST_F(Control, VerbsReachTheRunningClient)
{
    const QByteArray running = "Changed the running client (pid " + QByteArray::number(m_client->pid()) + ')';
    struct Case
    {
        QList<QByteArray> args;
        int exit;
        QByteArray out;   // printed on stdout
        QByteArray err;   // printed on stderr
        QByteArray heard; // what the client hears, if anything
    };
    const Case cases[] = {
        {{"set", "phone.SipAccount", "bob@sip.test", "phone.Licence", "CTI"},
         0,
         running,
         {},
         "heard phone.Licence"},
        {{"get", "phone.SipAccount", "phone.Licence", "user.Password", "phone.Token"},
         0,
         "phone.SipAccount = bob@sip.test\nphone.Licence = CTI\nuser.Password = (hidden)\nphone.Token = "
         "(hidden)\n",
         "live values of the running client",
         {}},
        // The support recipe: a property held for the run only is set for the run.
        {{"set", "phone.SIPLogging", "true"}, 0, running, {}, "heard phone.SIPLogging"},
        {{"get", "phone.SIPLogging"}, 0, "phone.SIPLogging = true\n", {}, {}},
        {{"reset", "phone.SipAccount"}, 0, running, {}, "heard phone.SipAccount"},
        // An optional number, held for the run only: null clears it.
        {{"set", "phone.DTMFDuration", "250"}, 0, running, {}, "heard phone.DTMFDuration"},
        {{"set", "phone.DTMFDuration", "null"}, 0, running, {}, "heard phone.DTMFDuration"},
        {{"get", "phone.DTMFDuration"}, 0, "phone.DTMFDuration = null\n", {}, {}},
        {{"set", "phone.DTMFDuration", "2.5"}, 1, {}, "found the number 2.5", {}},
        // Longer than a request may be: refused here, before the client is asked.
        {{"set", "phone.SipAccount", QByteArray(70 * 1024, 'a')},
         1,
         {},
         "the request is 71740 bytes as sent, more than the 65536 the running client takes",
         {}},
        {{"get", "phone.SipAccount"}, 0, "phone.SipAccount = \n", {}, {}},
        // Refused exactly as on the stored path, and nothing heard.
        {{"set", "phone.Licence", "4"}, 1, {}, "expected one of None (0), CTI (1)", {}},
        {{"set", "chat.LastChatSync", "-5"}, 1, {}, "-5 would be read back as 0", {}},
        {{"set", "phone.SipAccount", "x", "app.AnalyticsURL", "y"}, 1, {}, "app.AnalyticsURL: derived", {}},
        {{"set", "phone.SIPLogging", "on"}, 1, {}, "expected true or false", {}},
        {{"set", "phone.SipAcount", "x"}, 1, {}, "did you mean phone.SipAccount", {}},
        {{"reset", "user.Password"}, 1, {}, "not stored", {}},
        {{"set", "phone.Token", "t0ken"}, 1, {}, "phone.Token", {}},
    };
    for (const Case& c : cases) {
        const QByteArray heardBefore = m_client->output();
        const Outcome o = sessionctl(c.args[0], c.args.mid(1));
        EXPECT_TRUE(exited(o, c.exit, c.err) && o.out.contains(c.out)) << c.args.join(' ').constData() << '\n'
                                                                       << o;
        if (!c.heard.isEmpty()) {
            EXPECT_TRUE(m_client->says(c.heard, heardBefore.count(c.heard) + 1))
                << c.args.join(' ').constData();
        } else if (c.exit != 0) {
            EXPECT_EQ(m_client->output().count("heard"), heardBefore.count("heard"))
                << c.args.join(' ').constData();
        }
    }
    EXPECT_FALSE(m_client->output().contains("t0ken"));

    // watch prints each change with its value (a secret hidden) until interrupted.
    Spawn watch = command("watch", {"phone.SipAccount", "phone.Token"});
    watch.prefix = {"timeout", "--preserve-status", "-s", "INT", "5"};
    std::thread watcher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
        EXPECT_EQ(sessionctl("set", {"phone.SipAccount", "carol@sip.test", "phone.Licence", "None"}).exitCode,
                  0);
    });
    const Outcome watched = spawn(watch);
    watcher.join();
    EXPECT_TRUE(watched.exitCode == 0 && watched.err.contains("watching the running client") &&
                watched.out == "phone.SipAccount = carol@sip.test\n")
        << watched;

    // The autosave stored what the control set: a later get without the client reads it.
    m_client->stop(SIGTERM);
    EXPECT_FALSE(QFile::exists(QFile::decodeName(socket())));
    const Outcome stored = sessionctl("get", {"phone.SipAccount", "phone.Licence"});
    EXPECT_TRUE(exited(stored, 0) && !stored.err.contains("live") &&
                stored.out == "phone.SipAccount = carol@sip.test\nphone.Licence = None\n")
        << stored;
    EXPECT_TRUE(exited(sessionctl("watch"), 2, "no running client holds"));
}

// Noise, an oversized request, silent and half-closed connections and a peer of
// another user: each gets an error reply or is dropped, the client lives on and a
// set made meanwhile completes as usual.
TEST_F(Control, HostileChannelNeverHurtsTheClient)
{
    struct stat st
    {
    };
    ASSERT_EQ(::stat(socket().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::vector<std::unique_ptr<Peer>> silent;
    for (int i = 0; i < 20; ++i)
        silent.push_back(std::make_unique<Peer>(socket()));
    const struct
    {
        QByteArray bytes;
        QByteArray reply;
    } noise[] = {
        {"garbage\n", R"("exit":1)"},
        {QByteArray("\0\xff\n", 3), "malformed request"},
        {R"({"v":2,"verb":"get","names":["phone.SipAccount"]})"
         "\n",
         "unsupported request version 2"},
        {R"({"v":1,"verb":"set","assignments":[["user.Password"]]})"
         "\n",
         "malformed request"},
        {R"({"v":1,"verb":"get","names":[]})"
         "\n",
         "needs at least one name"},
        {R"({"v":1,"verb":"nap"})"
         "\n",
         "no verb get, set, reset or watch"},
        {R"({"v":1,"verb":"set","assignments":[]})"
         "\n",
         "a list of [name, value] pairs"},
        {R"({"v":1,"verb":"get","names":"phone.SipAccount"})"
         "\n",
         "must be a list of texts"},
        {R"({"v":1,"verb":"watch","names":[7]})"
         "\n",
         "must be a list of texts"},
        {QByteArray(70 * 1024, 'x'), "longer than 65536 bytes"},
        {'{' + QByteArray(70 * 1024, ' ') + "}\n", "longer than 65536 bytes"},
    };
    for (const auto& n : noise) {
        const Peer peer(socket());
        peer.send(n.bytes);
        const QByteArray reply = peer.drain(5);
        EXPECT_TRUE(reply.contains(R"("ok":false)") && reply.contains(n.reply) && reply.count('\n') == 1)
            << n.bytes.left(60).constData() << " -> " << reply.constData();
    }
    {
        // Half a request, then no more: dropped without an answer.
        const Peer half(socket());
        half.send(R"({"v":1,"verb":"get",)");
        half.halfClose();
        EXPECT_EQ(half.drain(5), QByteArray());
    }
    {
        // A watcher that talks on after its request is not listened to: one request a
        // connection, so a set cannot ride on a watch. It is still told of changes.
        const Peer watcher(socket());
        watcher.send(kWatchAccount);
        EXPECT_TRUE(watcher.drain(1).contains(R"("ok":true)"));
        watcher.send(R"({"v":1,"verb":"set","assignments":[["phone.SipAccount","mallory@sip.test"]]})"
                     "\n");
        EXPECT_EQ(sessionctl("set", {"phone.SipAccount", "frank@sip.test"}).exitCode, 0);
        const QByteArray told = watcher.drain(1);
        EXPECT_TRUE(told.contains("frank@sip.test") && !told.contains("mallory")) << told.constData();
    }
    {
        // A watcher that stops reading is cut off once a megabyte waits for it, rather
        // than kept in the client's memory.
        const Peer stalled(socket());
        stalled.send(kWatchAccount);
        for (const char c : QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn"))
            ASSERT_EQ(sessionctl("set", {"phone.SipAccount", QByteArray(60 * 1024, c)}).exitCode, 0);
        EXPECT_LT(stalled.drain(5).count('\n'), 30);
    }
    // The silent ones do not delay a set.
    const Outcome set = sessionctl("set", {"phone.SipAccount", "dave@sip.test"});
    EXPECT_TRUE(exited(set, 0) && set.out.contains("Changed the running client")) << set;
    // ... and are dropped after the deadline.
    for (const auto& peer : silent)
        EXPECT_EQ(peer->drain(6), QByteArray());

    // Another user, even with the directory opened up, is refused by the client.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(m_tmp.path().toLocal8Bit().constData(), 0755), 0);
        ASSERT_EQ(::chmod(state().constData(), 0755), 0);
        ASSERT_EQ(::chmod(socket().constData(), 0666), 0);
        const QByteArray refusal = "refused: this client answers its own user and root only, not uid 12345";
        Spawn stranger = command("set", {"phone.SipAccount", "mallory@sip.test"});
        stranger.prefix = {"setpriv", "--reuid=12345", "--regid=12345", "--clear-groups"};
        const Outcome o = spawn(stranger);
        if (o.exitCode == 126 || o.exitCode == 127) {
            // The build tree is out of that user's reach here: the same peer, forked.
            const pid_t child = ::fork();
            if (child == 0) {
                if (::setgroups(0, nullptr) != 0 || ::setresgid(12345, 12345, 12345) != 0 ||
                    ::setresuid(12345, 12345, 12345) != 0)
                    ::_exit(2);
                const Peer peer(socket());
                peer.send(R"({"v":1,"verb":"set","assignments":[["phone.SipAccount","mallory@sip.test"]]})"
                          "\n");
                ::_exit(peer.drain(5).contains(refusal) ? 0 : 1);
            }
            int status = -1;
            ::waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << o;
        } else {
            EXPECT_TRUE(exited(o, 4, refusal));
        }
        ASSERT_EQ(::chmod(state().constData(), 0700), 0);
    }
    EXPECT_TRUE(m_client->alive());
    EXPECT_EQ(sessionctl("get", {"phone.SipAccount"}).out, "phone.SipAccount = dave@sip.test\n");
}

// Watchers opened by the hundred, as a runaway script would: one connection beyond the
// limit is refused, the client answers again once one ends, and it stays alive.
TEST_F(Control, ConnectionsBeyondTheLimitAreRefused)
{
    std::vector<std::unique_ptr<Peer>> watchers;
    for (int i = 0; i < 256; ++i) {
        watchers.push_back(std::make_unique<Peer>(socket()));
        watchers.back()->send(kWatchAccount);
        ASSERT_TRUE(watchers.back()->line(5).contains(R"("ok":true)")) << i;
    }
    EXPECT_TRUE(exited(sessionctl("get", {"phone.SipAccount"}), 4, "256 connections are open already"));
    watchers.pop_back();
    Outcome got;
    for (int tries = 0; tries < 100 && got.exitCode != 0; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        got = sessionctl("get", {"phone.SipAccount"});
    }
    EXPECT_TRUE(exited(got, 0, "live values of the running client")) << got;
    EXPECT_TRUE(m_client->alive());
}

// A client killed outright leaves its socket: get and set use the files, watch says
// no client runs, and the next holder of the lock removes the socket.
TEST_F(Control, SocketOfAKilledClientIsRemovedByTheNextHolder)
{
    m_client->stop(SIGKILL);
    ASSERT_TRUE(QFile::exists(QFile::decodeName(socket())));
    const Outcome got = sessionctl("get", {"phone.SipAccount"});
    EXPECT_TRUE(exited(got, 0) && !got.err.contains("live")) << got;
    EXPECT_TRUE(exited(sessionctl("watch"), 2, "no running client holds"));
    const Outcome set = sessionctl("set", {"phone.SipAccount", "erin@sip.test"});
    EXPECT_TRUE(exited(set, 0) && set.out.contains("Stored generation")) << set;
    EXPECT_FALSE(QFile::exists(QFile::decodeName(socket())));
    // A new client answers again.
    Client again(state(), path("again.log"));
    ASSERT_TRUE(again.says("ready"));
    EXPECT_EQ(sessionctl("get", {"phone.SipAccount"}).out, "phone.SipAccount = erin@sip.test\n");
}

namespace {

class ControlPlace : public ScratchTest
{
protected:
    SessionStore::Options keyFile() const
    {
        SessionStore::Options options;
        options.keyStore = SessionStore::KeyStore::File;
        return options;
    }
};

} // namespace

// A control that cannot listen says why and leaves whatever is at its place; the
// client runs on without it.
TEST_F(ControlPlace, AControlThatCannotListenSaysWhyAndLeavesWhatIsThere)
{
    SessionData session;
    SessionStore store(state(), keyFile());
    {
        SessionStore holder(state(), keyFile());
        const SessionStore::Lock held = holder.lock();
        ASSERT_TRUE(held.isHeld());
        const SessionStore::Lock busy = store.lock(std::chrono::milliseconds(0));
        const SessionControl control(store, busy, session);
        EXPECT_TRUE(!control.isListening() && control.errorString().contains("lock is not held"))
            << qPrintable(control.errorString());
    }
    const SessionStore::Lock lock = store.lock();
    writeFile(file("session.control"), "not a socket");
    {
        const SessionControl control(store, lock, session);
        EXPECT_TRUE(!control.isListening() && control.errorString().contains("exists and is not a socket"))
            << qPrintable(control.errorString());
    }
    EXPECT_EQ(readFile(file("session.control")), "not a socket");

    // A local socket's name holds at most 107 bytes.
    const QByteArray deep = path(QByteArray(100, 'd'));
    SessionStore deepStore(deep, keyFile());
    const SessionStore::Lock deepLock = deepStore.lock();
    const SessionControl control(deepStore, deepLock, session);
    EXPECT_TRUE(!control.isListening() && control.errorString().contains("too long for a local socket"))
        << qPrintable(control.errorString());
    EXPECT_EQ(control.socketPath(), deep + "/session.control");
}

// A client that hangs, hangs up or answers nonsense: sessionctl names it with exit 4
// within its reply deadline, and no file changes.
TEST_F(ControlPlace, AClientThatHangsHangsUpOrBabblesIsNamed)
{
    ASSERT_EQ(sessionctl("run").exitCode, 0);
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = localAddress(file("session.control"));
    ASSERT_EQ(::bind(server, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server, 4), 0);
    const auto before = snapshot();
    const struct
    {
        const char* does;
        QByteArray reply;
        bool hangUp; // at once after the reply, else when sessionctl is gone
        const char* says;
    } cases[] = {
        {"hangs", {}, false, "the running client did not answer within 5 seconds"},
        {"hangs up", {}, true, "the running client closed the connection without an answer"},
        {"babbles", "nonsense\n", true, "the running client answered: malformed reply"},
        {"never ends its line", QByteArray(2 << 20, 'x'), false, "a line too long to be a reply"},
    };
    for (const auto& c : cases) {
        std::thread client([&] {
            const int peer = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
            char chunk[4096];
            for (ssize_t n; (n = ::recv(peer, chunk, sizeof chunk, 0)) > 0 && !memchr(chunk, '\n', n);) {
            }
            for (qsizetype sent = 0, n = 0; sent < c.reply.size() && n >= 0; sent += n)
                n = ::send(peer, c.reply.constData() + sent, c.reply.size() - sent, MSG_NOSIGNAL);
            while (!c.hangUp && ::recv(peer, chunk, sizeof chunk, 0) > 0) {
            }
            ::close(peer);
        });
        const Outcome o = sessionctl("set", {"phone.SipAccount", "x"});
        client.join();
        EXPECT_TRUE(exited(o, 4, c.says)) << c.does << '\n' << o;
    }
    ::close(server);
    EXPECT_EQ(snapshot(), before);
}
