#include <DeskRuntimeData.h>

#include "../contract/StoreProperties.h"

DeskRuntimeData::DeskRuntimeData() = default;
DeskRuntimeData::~DeskRuntimeData() = default;

DESK_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, DeskRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(DeskRuntimeData)

void DeskRuntimeData::resetData()
{
    m_record.write([](DeskConfigurationDTO& r) {
        r.m_host = QString();
        r.m_port = 0;
        r.m_tls = false;
    });
}

void DeskRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
