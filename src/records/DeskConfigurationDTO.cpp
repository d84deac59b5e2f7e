#include <DeskConfigurationDTO.h>

#include "../contract/StoredValues.h"

namespace {
const QString kEnabled = QStringLiteral("enabled");
}

DeskConfigurationDTO::~DeskConfigurationDTO() = default;

bool DeskConfigurationDTO::operator==(const DeskConfigurationDTO& other) const
{
    return m_enabled == other.m_enabled && m_host == other.m_host && m_port == other.m_port &&
           m_tls == other.m_tls;
}

DataSets::DataSet DeskConfigurationDTO::serializeEncrypted() const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    StoredValues::put(ds, kEnabled, m_enabled);
    return ds;
}

void DeskConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    StoredValues::take(ds, kEnabled, m_enabled);
}

DataSets::DataSet DeskConfigurationDTO::serializeUnencrypted() const
{
    return DataSets::Impl::createDS(false);
}

void DeskConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet&) {}
