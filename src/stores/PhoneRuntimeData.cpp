#include <PhoneRuntimeData.h>

#include "../contract/StoreProperties.h"

PhoneRuntimeData::PhoneRuntimeData() = default;
SESSIONCONFIG_DEFINE_COPY_AND_MOVE(PhoneRuntimeData)
PhoneRuntimeData::~PhoneRuntimeData() = default;

PHONE_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, PhoneRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(PhoneRuntimeData)

void PhoneRuntimeData::resetData()
{
    m_record.write([](PhoneConfigurationDTO& r) {
        r.m_hostName = QString();
        r.m_hostPort = 0;
        r.m_registrar = QString();
        r.m_dtmfDuration.reset();
        r.m_srtp = true;
        r.m_enableCallRecording = false;
        r.m_codecList = QString();
    });
}

void PhoneRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
