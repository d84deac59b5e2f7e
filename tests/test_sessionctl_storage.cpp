// The stored files of sessionctl: sealing, tamper detection, format versions,
// generations and owner-only, atomic replacement.
#include "Envelope.h"
#include "Failure.h"
#include "Storage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace sessionctl;

namespace {

// Runs `f` and returns the failure it throws; fails the test when it throws none.
template <class F> Failure failureOf(F&& f)
{
    try {
        f();
    } catch (const Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "no failure thrown";
    return Failure{ExitOk, QString()};
}

DataSets::DataSet sampleSet(const QString& secret)
{
    using namespace DataSets::Impl;
    auto top = createDS(false);
    auto user = createDS(false);
    setDataValue(*user, QStringLiteral("user"), secret);
    setDataValue(*user, QStringLiteral("count"), 7);
    setDataValue(*top, QStringLiteral("user"), user);
    setDataValue(*top, QStringLiteral("flag"), true);
    return top;
}

QString text(const DataSets::DataSet& ds, const QString& key)
{
    DataSets::DataSet nested = DataSets::Impl::createDS(false);
    DataSets::Impl::getDataValue(ds.get(), QStringLiteral("user"), nested);
    QString out;
    DataSets::Impl::getDataValue(nested.get(), key, out);
    return out;
}

void writeRaw(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

TEST(SessionctlEnvelope, SealedPayloadIsHiddenAndComesBack)
{
    const SecretKey key = SecretKey::generate();
    const QByteArray payload("the user is alice, and her secret is hunter2");
    const QByteArray sealed = sealEncrypted(payload, 41, key);
    EXPECT_TRUE(isEncryptedFile(sealed));
    EXPECT_FALSE(sealed.contains("hunter2"));
    // A fresh nonce every time: sealing the same payload twice differs.
    EXPECT_NE(sealed, sealEncrypted(payload, 41, key));

    const OpenedEncrypted opened = openEncrypted(sealed, key, QStringLiteral("f"));
    EXPECT_EQ(opened.payload, payload);
    EXPECT_EQ(opened.generation, 41u);
    EXPECT_EQ(opened.formatVersion, kFormatVersion);
}

TEST(SessionctlEnvelope, EveryChangedOrMissingByteIsRefused)
{
    const SecretKey key = SecretKey::generate();
    const QByteArray sealed = sealEncrypted(QByteArray("payload"), 3, key);
    // Header bytes included: the generation and version are authenticated too.
    for (int i = 0; i < sealed.size(); ++i) {
        QByteArray flipped = sealed;
        flipped[i] = static_cast<char>(flipped[i] ^ 0x01);
        const Failure f = failureOf([&] { openEncrypted(flipped, key, QStringLiteral("x.enc")); });
        EXPECT_EQ(f.code, ExitBadStoredFile) << "byte " << i;
        EXPECT_TRUE(f.message.startsWith(QStringLiteral("x.enc: "))) << qPrintable(f.message);
    }
    for (int size = 0; size < sealed.size(); ++size)
        EXPECT_EQ(failureOf([&] { openEncrypted(sealed.left(size), key, QStringLiteral("x")); }).code,
                  ExitBadStoredFile)
            << "size " << size;
    const Failure wrongKey =
        failureOf([&] { openEncrypted(sealed, SecretKey::generate(), QStringLiteral("x")); });
    EXPECT_TRUE(wrongKey.message.contains(QStringLiteral("wrong key"))) << qPrintable(wrongKey.message);
}

TEST(SessionctlEnvelope, NewerFormatsAreRefusedByVersion)
{
    const SecretKey key = SecretKey::generate();
    QByteArray sealed = sealEncrypted(QByteArray("p"), 1, key);
    sealed[11] = static_cast<char>(kFormatVersion + 1); // low byte of the big-endian version
    EXPECT_TRUE(failureOf([&] {
                    openEncrypted(sealed, key, QStringLiteral("x"));
                }).message.contains(QStringLiteral("newer")));

    QJsonObject plain = QJsonDocument::fromJson(sealPlain(DataSets::Impl::createDS(false), 1)).object();
    plain[QStringLiteral("formatVersion")] = static_cast<int>(kFormatVersion + 1);
    const Failure f = failureOf([&] { openPlain(QJsonDocument(plain).toJson(), QStringLiteral("p.json")); });
    EXPECT_EQ(f.code, ExitBadStoredFile);
    EXPECT_TRUE(f.message.contains(QStringLiteral("newer"))) << qPrintable(f.message);
}

TEST(SessionctlEnvelope, PlainFileNeedsItsWholeEnvelope)
{
    const QByteArray good = sealPlain(sampleSet(QStringLiteral("u")), 9);
    const OpenedPlain opened = openPlain(good, QStringLiteral("p"));
    EXPECT_EQ(opened.generation, 9u);
    EXPECT_EQ(text(opened.session, QStringLiteral("user")), QStringLiteral("u"));

    // Truncation anywhere leaves no valid JSON object.
    for (int size = 0; size < good.size() - 2; ++size)
        EXPECT_EQ(failureOf([&] { openPlain(good.left(size), QStringLiteral("p")); }).code, ExitBadStoredFile)
            << "size " << size;

    const QJsonObject envelope = QJsonDocument::fromJson(good).object();
    for (const char* key : {"format", "formatVersion", "generation", "session"}) {
        QJsonObject without = envelope;
        without.remove(QLatin1String(key));
        EXPECT_EQ(failureOf([&] { openPlain(QJsonDocument(without).toJson(), QStringLiteral("p")); }).code,
                  ExitBadStoredFile)
            << key;
    }
    for (const QJsonValue& generation :
         {QJsonValue(7), QJsonValue(QStringLiteral("-1")), QJsonValue(QStringLiteral("07")),
          QJsonValue(QStringLiteral("7 "))}) {
        QJsonObject odd = envelope;
        odd[QStringLiteral("generation")] = generation;
        EXPECT_EQ(failureOf([&] { openPlain(QJsonDocument(odd).toJson(), QStringLiteral("p")); }).code,
                  ExitBadStoredFile);
    }
    QJsonObject extra = envelope;
    extra[QStringLiteral("note")] = QStringLiteral("x");
    EXPECT_EQ(failureOf([&] { openPlain(QJsonDocument(extra).toJson(), QStringLiteral("p")); }).code,
              ExitBadStoredFile);
}

TEST(SessionctlEnvelope, KeyFileMustHoldExactlyOneKey)
{
    EXPECT_EQ(failureOf([] { SecretKey::fromBytes(QByteArray(31, 'k'), QStringLiteral("k")); }).code,
              ExitBadStoredFile);
    EXPECT_EQ(failureOf([] { SecretKey::fromBytes(QByteArray(33, 'k'), QStringLiteral("k")); }).code,
              ExitBadStoredFile);
    const SecretKey key = SecretKey::generate();
    EXPECT_EQ(SecretKey::fromBytes(key.toBytes(), QStringLiteral("k")).toBytes(), key.toBytes());
}

TEST(SessionctlStateFiles, StoreAndLoadKeepBothSetsUnderOneGeneration)
{
    QTemporaryDir tmp;
    const StateFiles files(tmp.path() + QStringLiteral("/state/nested"), QString());
    files.ensureDirectory();
    EXPECT_EQ(QFileInfo(files.dir()).permissions() & 0x0077, 0);
    EXPECT_TRUE(files.load().isEmpty());

    EXPECT_EQ(files.store(sampleSet(QStringLiteral("secret-e")), sampleSet(QStringLiteral("plain-p")), 0),
              1u);
    EXPECT_EQ(files.store(sampleSet(QStringLiteral("secret-e2")), sampleSet(QStringLiteral("plain-p2")), 1),
              2u);
    for (const QString& path : {files.encryptedPath(), files.plainPath(), files.keyPath()})
        EXPECT_EQ(QFileInfo(path).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ReadUser | QFileDevice::WriteUser)
            << qPrintable(path);
    EXPECT_FALSE(readFile(files.encryptedPath()).contains("secret-e2"));

    const Restored restored = files.load();
    EXPECT_TRUE(restored.warnings.isEmpty());
    ASSERT_TRUE(restored.encrypted && restored.plain);
    EXPECT_EQ(restored.generation(), 2u);
    EXPECT_EQ(text(restored.encrypted->data, QStringLiteral("user")), QStringLiteral("secret-e2"));
    EXPECT_EQ(text(restored.plain->data, QStringLiteral("user")), QStringLiteral("plain-p2"));
}

TEST(SessionctlStateFiles, PairNotWrittenTogetherIsRestoredWithAWarning)
{
    QTemporaryDir tmp;
    const StateFiles files(tmp.path(), QString());
    files.store(sampleSet(QStringLiteral("e1")), sampleSet(QStringLiteral("p1")), 0);
    const QByteArray oldPlain = readFile(files.plainPath());
    files.store(sampleSet(QStringLiteral("e2")), sampleSet(QStringLiteral("p2")), 1);
    writeRaw(files.plainPath(), oldPlain);

    const Restored restored = files.load();
    ASSERT_EQ(restored.warnings.size(), 1);
    EXPECT_TRUE(restored.warnings.first().contains(QStringLiteral("not written together")));
    EXPECT_EQ(text(restored.encrypted->data, QStringLiteral("user")), QStringLiteral("e2"));
    EXPECT_EQ(text(restored.plain->data, QStringLiteral("user")), QStringLiteral("p1"));
    EXPECT_EQ(restored.generation(), 2u);

    QFile::remove(files.plainPath());
    EXPECT_EQ(files.load().warnings.size(), 1);
}

TEST(SessionctlStateFiles, UnreadableStateIsRefusedWithoutTouchingAnything)
{
    QTemporaryDir tmp;
    const StateFiles files(tmp.path(), QString());
    files.store(sampleSet(QStringLiteral("e")), sampleSet(QStringLiteral("p")), 0);
    const QByteArray key = readFile(files.keyPath());

    // Another key: the stored file cannot be opened.
    const StateFiles otherKey(tmp.path(), tmp.path() + QStringLiteral("/other.key"));
    writeRaw(otherKey.keyPath(), SecretKey::generate().toBytes());
    EXPECT_EQ(failureOf([&] { otherKey.load(); }).code, ExitBadStoredFile);

    // No key at all: refused, and no new key is made that would orphan the file.
    QFile::remove(files.keyPath());
    const Failure missing = failureOf([&] { files.load(); });
    EXPECT_EQ(missing.code, ExitBadStoredFile);
    EXPECT_TRUE(missing.message.contains(files.keyPath()));
    EXPECT_FALSE(QFileInfo::exists(files.keyPath()));
    writeRaw(files.keyPath(), key);

    writeRaw(files.plainPath(), readFile(files.plainPath()).left(40));
    const Failure truncated = failureOf([&] { files.load(); });
    EXPECT_EQ(truncated.code, ExitBadStoredFile);
    EXPECT_TRUE(truncated.message.startsWith(files.plainPath())) << qPrintable(truncated.message);
}
