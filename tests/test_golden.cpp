// SPDX-License-Identifier: MIT
// The stored forms of a fully provisioned session, byte for byte against checked-in
// files. SESSIONCONFIG_WRITE_GOLDEN=1 writes the files instead of comparing.
#include "Provisioning.h"

#include <DataSetCodec.h>
#include <SessionData.h>

#include <QFile>

#include <gtest/gtest.h>

TEST(GoldenStoredForms, ProvisionedSessionWritesTheCheckedInBytes)
{
    SessionData session;
    Provisioning::provision(session);
    for (const auto& [set, name] : {std::pair{session.serializeUnencrypted(), "session-plain.json"},
                                    std::pair{session.serializeEncrypted(), "session-encrypted.json"}}) {
        const auto actual = DataSets::DataSetCodec::toJson(set);
        ASSERT_TRUE(actual.ok()) << actual.error.toString().toStdString();
        QFile file(QStringLiteral(SESSIONCONFIG_GOLDEN_DIR "/") + QLatin1String(name));
        if (qEnvironmentVariableIsSet("SESSIONCONFIG_WRITE_GOLDEN")) {
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            ASSERT_EQ(file.write(actual.bytes), actual.bytes.size());
        } else {
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
            EXPECT_EQ(actual.bytes.toStdString(), file.readAll().toStdString()) << name;
        }
    }
}
