// SPDX-License-Identifier: MIT
// A row whose type is not its member's own must stop the build: a long long row over
// an int member would otherwise truncate silently.
#include <IEncryptedSerializable.h>
#include <RuntimeStore.h>

#include "../../src/contract/StoreProperties.h"

class ProbeRecord : public IEncryptedSerializable
{
public:
    DataSets::DataSet serializeEncrypted() const override { return {}; }
    void deserializeEncrypted(const DataSets::DataSet&) override {}
    DataSets::DataSet serializeUnencrypted() const override { return {}; }
    void deserializeUnencrypted(const DataSets::DataSet&) override {}

private:
    friend class ProbeStore;
    int m_interval = 0;
};

#ifdef SESSIONCONFIG_EXPECT_FAILURE
#define PROBE_ROW_TYPE long long
#else
#define PROBE_ROW_TYPE int
#endif

#define PROBE_PROPERTIES(ROW, X) \
    ROW(X, Interval, 0, PROBE_ROW_TYPE, FIELD, m_interval, NONE, "", KEEP, EQ, Plain)

SESSIONCONFIG_PROPERTY_ENUM(ProbeProperty, PROBE_PROPERTIES)

class ProbeStore : public IEncryptedSerializable
{
    SESSIONCONFIG_RUNTIME_STORE(ProbeRecord, ProbeProperty)
};

SESSIONCONFIG_STORE_PROPERTIES(ProbeStore, ProbeProperty, PROBE_PROPERTIES)
PROBE_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, ProbeStore)
