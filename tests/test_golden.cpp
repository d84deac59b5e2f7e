// The stored forms of a fully provisioned session, byte for byte against checked-in
// files. SESSIONCONFIG_WRITE_GOLDEN=1 writes the files instead of comparing.

#include "Provisioning.h"

#include <DataSetCodec.h>
#include <SessionData.h>

#include <QFile>

#include <gtest/gtest.h>

namespace {

QByteArray json(const DataSets::DataSet& ds)
{
    const auto encoded = DataSets::DataSetCodec::toJson(ds);
    EXPECT_TRUE(encoded.ok()) << encoded.error.toString().toStdString();
    return encoded.bytes;
}

void compareWithGolden(const QByteArray& actual, const char* name)
{
    QFile file(QStringLiteral(SESSIONCONFIG_GOLDEN_DIR "/") + QLatin1String(name));
    if (qEnvironmentVariableIsSet("SESSIONCONFIG_WRITE_GOLDEN")) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(actual), actual.size());
        return;
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    EXPECT_EQ(actual.toStdString(), file.readAll().toStdString()) << name;
}

} // namespace

TEST(GoldenStoredForms, ProvisionedSessionWritesTheCheckedInBytes)
{
    SessionData session;
    Provisioning::provision(session);
    compareWithGolden(json(session.serializeUnencrypted()), "session-plain.json");
    compareWithGolden(json(session.serializeEncrypted()), "session-encrypted.json");
}

TEST(GoldenStoredForms, ReadingTheGoldenFormsBackWritesThemAgain)
{
    SessionData session;
    for (const char* name : {"session-plain.json", "session-encrypted.json"}) {
        QFile file(QStringLiteral(SESSIONCONFIG_GOLDEN_DIR "/") + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const auto decoded = DataSets::DataSetCodec::fromJson(file.readAll());
        ASSERT_TRUE(decoded.ok()) << decoded.error.toString().toStdString();
        if (QByteArray(name).contains("plain"))
            session.deserializeUnencrypted(decoded.set);
        else
            session.deserializeEncrypted(decoded.set);
    }
    compareWithGolden(json(session.serializeUnencrypted()), "session-plain.json");
    compareWithGolden(json(session.serializeEncrypted()), "session-encrypted.json");
}
