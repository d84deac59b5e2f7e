#include <AppRuntimeData.h>

#include "../contract/StoreProperties.h"

AppRuntimeData::AppRuntimeData()
    : m_record(std::in_place,
               [](AppSettingsDTO& r) { r.setNextTimeout(AppSettingsDTO::kDefaultNextTimeout); })
{}

SESSIONCONFIG_DEFINE_COPY_AND_MOVE(AppRuntimeData)
AppRuntimeData::~AppRuntimeData() = default;

APP_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, AppRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(AppRuntimeData)

void AppRuntimeData::clear()
{
    m_record.write([](AppSettingsDTO& r) {
        r.m_provisioningConfigurationName = QString();
        r.m_optOutMessages.clear();
        r.m_userPath = QString();
        r.m_enableOutlookImport = false;
        r.m_nextTimeout = AppSettingsDTO::kDefaultNextTimeout;
        r.m_privacyURL = QString();
        r.m_licenseAgreementURL = QString();
        r.m_verboseLevel = false;
        r.m_contactsURL = QString();
        r.m_uploadAvatarURL = QString();
        r.m_meetingURL = QString();
        if (r.m_userSettings)
            DataSets::Impl::clearDataObjects(*r.m_userSettings);
        r.m_version = QString();
        r.m_appTimestamp = QDateTime();
        r.m_appBytes = QByteArray();
    });
}
