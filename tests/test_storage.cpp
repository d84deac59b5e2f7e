// SPDX-License-Identifier: MIT
// SessionStore on real files: damaged files refused and left as they were, pairs not
// written together told apart, one lock per state directory.
#include <AppRuntimeData.h>
#include <DataSetCodec.h>
#include <SessionData.h>
#include <SessionStore.h>
#include <UserRuntimeData.h>

#include "SessionctlProcess.h"

#include <optional>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace {

using Kind = SessionStore::ErrorKind;

mode_t modeOf(const QByteArray& path)
{
    struct stat st = {};
    return ::lstat(path.constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

QString userName(const SessionData& session)
{
    return session.getUserRuntimeData().lock()->getData<QString, UserProperty::UserName>();
}

class StorageTest : public ScratchTest
{
protected:
    std::uint64_t storeAs(const QString& user, const QByteArray& keyFile = {}) const
    {
        SessionStore store(state(), keyFile);
        SessionData session;
        session.getUserRuntimeData().lock()->setData<QString, UserProperty::UserName>(user);
        const SessionStore::Stored stored = store.store(store.lock(), session);
        EXPECT_FALSE(stored.error) << qPrintable(stored.error.message);
        return stored.generation;
    }

    SessionStore::Restored restore(SessionData& session, const QByteArray& keyFile = {}) const
    {
        SessionStore store(state(), keyFile);
        return store.restore(store.lock(), session);
    }

    // With `bytes` in `name` (none: removed), a restore is refused naming `naming`.
    void expectRefused(const char* name, const std::optional<QByteArray>& bytes,
                       const QByteArray& naming) const
    {
        const QByteArray original = readFile(file(name));
        bytes ? writeFile(file(name), *bytes) : void(::unlink(file(name).constData()));
        const auto before = snapshot();
        SessionData session;
        const SessionStore::Restored r = restore(session);
        EXPECT_TRUE(r.error.kind == Kind::BadStoredFile &&
                    r.error.message.contains(QString::fromUtf8(naming)) && userName(session).isEmpty())
            << qPrintable(r.error.message);
        EXPECT_EQ(snapshot(), before);
        writeFile(file(name), original);
    }
};

} // namespace

TEST_F(StorageTest, DamagedFilesAreRefusedAndLeftAsTheyWere)
{
    storeAs(QStringLiteral("ada"));
    const QByteArray enc = readFile(file("session.enc")), plain = readFile(file("session.json"));
    for (int i = 0; i < enc.size(); i += 7) // every byte counts, header included
        expectRefused("session.enc", QByteArray(enc).replace(i, 1, QByteArray(1, char(enc[i] ^ 1))),
                      file("session.enc"));
    for (int size : {0, 19, 36, 60, int(enc.size()) - 1})
        expectRefused("session.enc", enc.left(size), file("session.enc"));
    expectRefused("session.json", plain.left(plain.size() / 2),
                  file("session.json")); // JSON: the fuzz targets
    // Newer formats are named as such, whatever follows the version.
    expectRefused("session.enc", QByteArray(enc).replace(11, 1, "\x03"), "newer");
    for (const QByteArray version : {"3", "9, [x"})
        expectRefused("session.json", QByteArray(plain).replace("Version\": 2", "Version\": " + version),
                      "newer");
    // A wrong key, a key of the wrong size, no key: refused, and no new key is made.
    expectRefused("session.key", QByteArray(32, 'k'), "wrong key");
    expectRefused("session.key", readFile(file("session.key")).left(31), file("session.key"));
    expectRefused("session.key", std::nullopt, "missing");
}

// Fixtures of each file format: the first (no pair id, a 20-byte header: "old" at
// generation 6, nothing else) and the current one (the built-in profile's session, every
// stored property set). Both open, the current one with every entry read back, and are
// stored on in the current format.
TEST_F(StorageTest, FilesOfEveryFormatStillOpenAndAreStoredOnInTheCurrentOne)
{
    for (const auto& [format, user, generation, version] :
         {std::tuple{"format1", "old", 6u, 1u}, std::tuple{"format2", "alice", 1u, 2u}}) {
        ::unlink(file("session.lock").constData());
        for (const char* name : {"session.enc", "session.json", "session.key"}) {
            ::unlink(file(name).constData());
            ::mkdir(state().constData(), 0700);
            writeFile(file(name), readFile(SESSIONCONFIG_GOLDEN_DIR "/" + QByteArray(format) + '/' + name));
        }
        SessionData session;
        const SessionStore::Restored r = restore(session);
        ASSERT_FALSE(r.error) << format << ": " << qPrintable(r.error.message);
        EXPECT_TRUE(userName(session) == QLatin1String(user) && r.encrypted->formatVersion == version)
            << format;
        // (The first format holds no section at all, so only the current one can say.)
        if (version == 2u) {
            for (const auto& [held, name] : {std::pair{session.serializeEncrypted(), "session.enc"},
                                             std::pair{session.serializeUnencrypted(), "session.json"}}) {
                const auto stored = SessionStore::readFile(file(name));
                EXPECT_EQ(DataSets::DataSetCodec::toJson(held).bytes.toStdString(),
                          DataSets::DataSetCodec::toJson(stored.file.data).bytes.toStdString())
                    << format << ": " << name << " read back whole";
            }
        }
        EXPECT_EQ(storeAs(QStringLiteral("new")), generation + 1) << format;
        EXPECT_EQ(SessionStore::readFile(file("session.json")).file.formatVersion, 2u) << format;
    }
}

TEST_F(StorageTest, PairsNotWrittenTogetherAreToldApart)
{
    const QByteArray sharedKey = path("shared.key"), otherDir = path("other");
    storeAs(QStringLiteral("ada"), sharedKey);
    const QByteArray oldPlain = readFile(file("session.json"));
    storeAs(QStringLiteral("bob"), sharedKey);
    // Another store at the same generation: only the pair id tells.
    SessionStore other(otherDir, sharedKey);
    for (int i = 0; i < 2; ++i)
        ASSERT_FALSE(other.store(other.lock(), SessionData()).error);
    // An older plain file, the other store's, none.
    for (const QByteArray& plain : {oldPlain, readFile(otherDir + "/session.json"), QByteArray()}) {
        plain.isEmpty() ? void(::unlink(file("session.json").constData()))
                        : writeFile(file("session.json"), plain);
        // The lock-free reader (get, show) tells what the next restore finds.
        SessionStore::Options keyed;
        keyed.keyFile = sharedKey;
        const SessionStore::ReadStored read = SessionStore::readStored(state(), keyed);
        SessionData session;
        const SessionStore::Restored r = restore(session, sharedKey);
        EXPECT_TRUE(!r.error && r.warnings.size() == 1 && userName(session) == QStringLiteral("bob") &&
                    (plain.isEmpty() || r.warnings.first().contains(QStringLiteral("not written together"))))
            << qPrintable(r.error.message + r.warnings.join('\n'));
        EXPECT_TRUE(!read.error && read.warnings == r.warnings) << qPrintable(read.warnings.join('\n'));
    }
}

TEST_F(StorageTest, StoresThatCannotBeWrittenChangeNoFile)
{
    const auto refused = [&](const SessionData& session, Kind kind, const QString& says) {
        const auto before = snapshot();
        SessionStore store(state());
        const SessionStore::Stored stored = store.store(store.lock(), session);
        EXPECT_EQ(stored.error.kind, kind) << qPrintable(stored.error.message);
        EXPECT_TRUE(stored.error.message.contains(says)) << qPrintable(stored.error.message);
        EXPECT_EQ(snapshot(), before);
    };
    // The largest generation is refused rather than wrapped (here with the plain file only).
    ASSERT_EQ(::mkdir(state().constData(), 0700), 0);
    writeFile(file("session.json"), R"({"format": "sessionconfig-plain", "formatVersion": 1, )"
                                    R"("generation": "18446744073709551615", "session": {}})");
    refused(SessionData(), Kind::BadStoredFile, QStringLiteral("largest"));
    // Opt-out messages past the last list position would be lost from the stored list.
    m_stateName = "grown";
    storeAs(QStringLiteral("ada"));
    std::set<QString> messages;
    for (qsizetype i = 0; i <= DataSets::DataSetCodec::kMaxEntries; ++i)
        messages.insert(messages.end(), QStringLiteral("m%1").arg(i, 8, 10, QLatin1Char('0')));
    SessionData optOuts;
    optOuts.getAppSessionData().lock()->setData<std::set<QString>, AppProperty::OptOutMessages>(messages);
    refused(optOuts, Kind::Io, QStringLiteral("app.optOutMessages: 1048577 messages, more than the limit"));
}

TEST_F(StorageTest, PrivateModesAndHousekeepingUnderTheLock)
{
    storeAs(QStringLiteral("ada"));
    for (const char* name : {"session.enc", "session.json", "session.key", "session.lock"})
        EXPECT_EQ(modeOf(file(name)), 0600u) << name;
    EXPECT_EQ(modeOf(state()), 0700u);
    writeFile(file("session.notes"), "not ours");
    ASSERT_EQ(::chmod(state().constData(), 0755), 0);
    ASSERT_EQ(::chmod(file("session.key").constData(), 0644), 0);

    SessionStore store(state());
    const SessionStore::Lock lock = store.lock();
    EXPECT_TRUE(lock.warnings().size() == 1 && lock.warnings().first().contains(QStringLiteral("0755")));
    EXPECT_EQ(modeOf(state()), 0700u);
    EXPECT_EQ(QDir(QFile::decodeName(state())).entryList(QDir::Files),
              (QStringList{"session.enc", "session.json", "session.key", "session.lock", "session.notes"}));
    SessionData session;
    const SessionStore::Restored r = store.restore(lock, session);
    EXPECT_TRUE(r.warnings.size() == 1 && r.warnings.first().contains(QStringLiteral("exposed")));
    EXPECT_EQ(modeOf(file("session.key")), 0600u);
}

// Held until its last owner ends; another store's lock, or a refused one, cannot write.
TEST_F(StorageTest, OneLockPerStateDirectoryHandedOverByMoves)
{
    SessionStore first(state()), second(state());
    SessionStore::Lock held = first.lock();
    ASSERT_TRUE(held.isHeld());
    const SessionStore::Lock refused = second.lock(std::chrono::milliseconds(200));
    EXPECT_TRUE(refused.error().kind == Kind::Busy &&
                refused.error().message.contains(QStringLiteral("held by process %1").arg(::getpid())));
    EXPECT_EQ(second.store(held, SessionData()).error.kind, Kind::Busy);
    EXPECT_EQ(second.store(refused, SessionData()).error.kind, Kind::Busy);
    {
        SessionStore::Lock moved(std::move(held)), third = second.lock(std::chrono::milliseconds(0));
        third = std::move(moved);
        EXPECT_FALSE(second.lock(std::chrono::milliseconds(0)).isHeld()) << "a moved lock is still held";
    }
    EXPECT_EQ(second.store(second.lock(std::chrono::milliseconds(0)), SessionData()).generation, 1u);
}
