// SPDX-License-Identifier: MIT
// SessionAutosave with real processes and real faults: kills at random moments, syncs
// slowed by strace, a full file system; and how bursts are coalesced.
// The program the process helpers start by default: here, the client.
#define SESSIONCTL_PROGRAM AUTOSAVE_CLIENT
#include "AutosaveClient.h"
#include "SessionctlProcess.h"

#include <SessionAutosave.h>
#include <SessionData.h>

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <sys/mount.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using AutosaveClient::keyInFile;

// Waits up to ten seconds for `done`.
template <class F> bool eventually(F&& done)
{
    for (const auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(5ms))
        if (done())
            return true;
    return done();
}

// Every outcome the autosave reports, and whether each came on `thread`.
struct Told
{
    std::mutex lock;
    std::vector<SessionStore::Stored> outcomes;
    QThread* thread = nullptr;
    bool elsewhere = false;
    void operator()(const SessionStore::Stored& s)
    {
        const std::lock_guard<std::mutex> guard(lock);
        outcomes.push_back(s);
        elsewhere |= QThread::currentThread() != thread;
    }
    std::vector<SessionStore::Stored> seen()
    {
        const std::lock_guard<std::mutex> guard(lock);
        return outcomes;
    }
};

class Autosave : public ::testing::Test
{
protected:
    QTemporaryDir scratch;
    QByteArray dir() const { return QFile::encodeName(scratch.path()) + "/state"; }
};

// Ten thousand writes from two threads, into stores and straight into the user
// settings, cost one store (two at most, should the burst outlast the delay); a change
// in a set nested in the user settings counts; flush() stores at once, and nothing when
// nothing is pending; the destructor stores the last change.
TEST_F(Autosave, CoalescesABurstAndStoresTheLastChangeOnShutdown)
{
    std::uint64_t stores = 0;
    {
        SessionStore store(dir(), keyInFile());
        const SessionStore::Lock lock = store.lock();
        SessionData session;
        ASSERT_FALSE(store.restore(lock, session).error);
        SessionAutosave::Options options;
        options.delay = 300ms;
        SessionAutosave autosave(store, lock, session, options);
        const auto user = session.getUserRuntimeData().lock();
        const DataSets::DataSet settings =
            session.getAppSessionData().lock()->getData<DataSets::DataSet, AppProperty::UserSettings>();
        const DataSets::DataSet pane = DataSets::Impl::createDS();
        std::thread provisioning([&] {
            for (int i = 0; i < 5000; ++i)
                user->setData<QString, UserProperty::Department>(QString::number(i));
        });
        for (int i = 0; i < 5000; ++i)
            DataSets::Impl::setDataValue(*settings, QStringLiteral("n%1").arg(i % 50), i);
        DataSets::Impl::setDataValue(*settings, QStringLiteral("pane"), pane);
        provisioning.join();
        ASSERT_TRUE(eventually([&] { return autosave.storeCount() >= 1; }));
        std::this_thread::sleep_for(3 * options.delay);
        EXPECT_LE(autosave.storeCount(), 2u);

        DataSets::Impl::setDataValue(*pane, QStringLiteral("width"), 640);
        const std::uint64_t before = autosave.storeCount();
        const SessionStore::Stored flushed = autosave.flush();
        EXPECT_FALSE(flushed.error) << flushed.error.message.toStdString();
        EXPECT_EQ(autosave.storeCount(), before + 1) << "the nested set's change was pending";
        EXPECT_EQ(autosave.flush().generation, flushed.generation);
        EXPECT_EQ(autosave.storeCount(), before + 1) << "nothing pending: nothing stored";

        user->setData<QString, UserProperty::Department>(QStringLiteral("last"));
        stores = autosave.storeCount();
    }
    SessionStore store(dir(), keyInFile());
    const SessionStore::Lock lock = store.lock();
    SessionData session;
    const SessionStore::Restored restored = store.restore(lock, session);
    ASSERT_FALSE(restored.error);
    EXPECT_EQ(restored.generation(), stores + 1) << "the destructor stored once more";
    EXPECT_EQ((session.getUserRuntimeData().lock()->getData<QString, UserProperty::Department>()),
              QStringLiteral("last"));
    DataSets::DataSet pane;
    int width = 0;
    ASSERT_TRUE(DataSets::Impl::getDataValue(
        session.getAppSessionData().lock()->getData<DataSets::DataSet, AppProperty::UserSettings>().get(),
        QStringLiteral("pane"), pane));
    EXPECT_TRUE(DataSets::Impl::getDataValue(pane.get(), QStringLiteral("width"), width));
    EXPECT_EQ(width, 640);
}

// Killed at random moments, the client has stored every change it acknowledged more
// than the delay and a store before the kill (a store is allowed a generous second on
// a shared machine), and nothing it had not made yet.
TEST_F(Autosave, AKillLosesOnlyTheLastMoments)
{
    constexpr auto delay = 100ms;
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> moment(150, 1200);
    for (int run = 0; run < 8; ++run) {
        const QByteArray state = dir() + QByteArray::number(run);
        const AutosaveClient::KilledRun killed = AutosaveClient::runAndKill(
            AUTOSAVE_CLIENT, state, delay, 3ms, std::chrono::milliseconds(moment(random)));
        ASSERT_TRUE(killed.stored.error.isEmpty()) << killed.stored.error.toStdString();
        ASSERT_FALSE(killed.acks.empty());
        EXPECT_LT(killed.lostWindowNanos(), std::chrono::nanoseconds(delay + 1s).count())
            << "run " << run << ": step " << killed.firstLost() << " lost";
        const long last = killed.acks.back().first;
        EXPECT_LE(killed.stored.department, last + 1);
        EXPECT_LE(killed.stored.setting, last + 1);
    }
}

// With every fsync slowed to 400 ms by strace, stores take over a second each while the
// client keeps writing every 5 ms: no write waits for one, and the destructor stores
// the last step.
TEST_F(Autosave, ASlowDiskNeverHoldsUpAWriter)
{
    Spawn client{{"client", dir(), "50", "5", "3"}};
    client.prefix = {"strace", "-f",
                     "-qq",    "--seccomp-bpf",
                     "-o",     "/dev/null",
                     "-e",     "trace=fsync",
                     "-e",     "inject=fsync:delay_enter=400000"};
    const Outcome o = spawn(client);
    ASSERT_EQ(o.exitCode, 0) << o;
    const QList<QByteArray> done = o.out.trimmed().split('\n').last().split(' ');
    ASSERT_EQ(done.size(), 9) << o;
    EXPECT_GE(done[4].toInt(), 2) << "stores overlapped the writes";
    EXPECT_LT(done[2].toLongLong(), std::chrono::nanoseconds(100ms).count())
        << "the longest write waited for a sync";
    const QList<QByteArray> lastAck =
        o.out.trimmed().split('\n').at(o.out.trimmed().count('\n') - 1).split(' ');
    const AutosaveClient::Steps stored = AutosaveClient::readSteps(dir());
    EXPECT_EQ(stored.department, lastAck[1].toLong());
    EXPECT_EQ(stored.setting, lastAck[1].toLong());
}

// On a full file system a store fails, is reported on the context's thread, and leaves
// the stored files as they were; once space is freed the retry stores the change.
TEST_F(Autosave, AFullDiskLosesNothingOnceSpaceIsFreed)
{
    const QByteArray disk = QFile::encodeName(scratch.path()) + "/disk";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(disk)));
    if (::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
    struct Unmount
    {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{disk};
    const QByteArray state = disk + "/state";
    {
        SessionStore store(state, keyInFile());
        const SessionStore::Lock lock = store.lock();
        SessionData session;
        ASSERT_FALSE(store.restore(lock, session).error);
        QThread loop;
        loop.start();
        QObject context;
        context.moveToThread(&loop);
        Told told;
        told.thread = &loop;
        SessionAutosave::Options options;
        options.delay = 20ms;
        options.firstRetry = 20ms;
        options.longestRetry = 100ms;
        options.onStored = std::ref(told);
        options.context = &context;
        const auto stopLoop = qScopeGuard([&loop] {
            loop.quit();
            loop.wait();
        });
        SessionAutosave autosave(store, lock, session, options);
        const auto user = session.getUserRuntimeData().lock();
        user->setData<QString, UserProperty::Department>(QStringLiteral("before"));
        ASSERT_FALSE(autosave.flush().error);

        const QByteArray filler = disk + "/filler";
        {
            QFile f(QFile::decodeName(filler));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (f.write(block) == block.size() && f.flush()) {
            }
        }
        user->setData<QString, UserProperty::Department>(QStringLiteral("after"));
        ASSERT_TRUE(eventually([&] {
            const auto seen = told.seen();
            return seen.size() >= 3 && seen.back().error;
        })) << "a failure, told, and tried again";
        const SessionStore::Stored failed = told.seen().back();
        EXPECT_EQ(failed.error.kind, SessionStore::ErrorKind::Io);
        EXPECT_TRUE(failed.error.message.contains(QStringLiteral("No space left")))
            << failed.error.message.toStdString();
        const SessionStore::ReadFile stillThere = SessionStore::readFile(state + "/session.json");
        EXPECT_EQ(stillThere.file.generation, 1u) << "the previous files stay";

        ASSERT_TRUE(QFile::remove(QFile::decodeName(filler)));
        ASSERT_TRUE(eventually([&] { return !told.seen().back().error; }));
        EXPECT_EQ(SessionStore::readFile(state + "/session.json").file.generation, 2u);
        const std::lock_guard<std::mutex> guard(told.lock);
        EXPECT_FALSE(told.elsewhere) << "every outcome on the context's thread";
    }
    SessionStore store(state, keyInFile());
    const SessionStore::Lock lock = store.lock();
    SessionData session;
    ASSERT_FALSE(store.restore(lock, session).error);
    EXPECT_EQ((session.getUserRuntimeData().lock()->getData<QString, UserProperty::Department>()),
              QStringLiteral("after"));
}

} // namespace

// Outcomes are delivered through event loops, which need an application object.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
