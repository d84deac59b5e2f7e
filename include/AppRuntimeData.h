#pragma once

#include "sessionconfig_export.h"

#include <AppSettingsDTO.h>
#include <RuntimeStore.h>

// enumerator, number, value type, kind, record field or derived getter (21 is unassigned)
#define APP_PROPERTIES(ROW, X)                                                                 \
    ROW(X, Version, 0, QString, FIELD, m_version)                                              \
    ROW(X, CurrentRemoteType, 1, ResourcesDefs::RemoteType, FIELD, m_remoteType)               \
    ROW(X, AppText, 2, QString, FIELD, m_appText)                                              \
    ROW(X, EndpointDirectory, 3, Endpoints, FIELD, m_endpoints)                                \
    ROW(X, AnalyticsURL, 4, QString, DERIVED, getAnalytics)                                    \
    ROW(X, OptOutMessages, 5, std::set<QString>, FIELD, m_optOutMessages)                      \
    ROW(X, UserPath, 6, QString, FIELD, m_userPath)                                            \
    ROW(X, DBSessionsPath, 7, QString, FIELD, m_dbSessionsPath)                                \
    ROW(X, EnableOutlookImport, 8, bool, FIELD, m_enableOutlookImport)                         \
    ROW(X, NextTimeout, 9, int, FIELD, m_nextTimeout)                                          \
    ROW(X, PrivacyURL, 10, QString, FIELD, m_privacyURL)                                       \
    ROW(X, LicenseAgreementURL, 11, QString, FIELD, m_licenseAgreementURL)                     \
    ROW(X, VerboseLevel, 12, bool, FIELD, m_verboseLevel)                                      \
    ROW(X, CmdLineOptions, 13, CommandLineOptions, FIELD, m_commandLineOptions)                \
    ROW(X, ContactsURL, 14, QString, FIELD, m_contactsURL)                                     \
    ROW(X, UploadAvatarURL, 15, QString, FIELD, m_uploadAvatarURL)                             \
    ROW(X, UserSettings, 16, DataSets::DataSet, FIELD, m_userSettings)                         \
    ROW(X, MeetingURL, 17, QString, FIELD, m_meetingURL)                                       \
    ROW(X, WhatsNewURL, 18, QString, DERIVED, getWhatsNew)                                     \
    ROW(X, PasswordResetURL, 19, QString, DERIVED, getPasswordReset)                           \
    ROW(X, DiscoverMobileOfferURL, 20, QString, DERIVED, getDiscoverMobileOfferURL)            \
    ROW(X, AppTimestamp, 22, QDateTime, FIELD, m_appTimestamp)                                 \
    ROW(X, ProvisioningConfigurationName, 23, QString, FIELD, m_provisioningConfigurationName) \
    ROW(X, AppBytes, 24, QByteArray, FIELD, m_appBytes)

SESSIONCONFIG_PROPERTY_ENUM(AppProperty, APP_PROPERTIES)

// The session's thread-safe holder of the application settings.
//
// The derived URL properties are looked up in the endpoint directory under the shared
// lock and throw std::bad_optional_access when no entry has the current remote type;
// writing one does nothing. UserSettings hands out, and takes in, a shared data-set
// handle: entries written into it later reach the record without this store's lock.
// For change notifications its value is the handle: handing the store another set
// (setData, a restore) is reported; entries written straight into the shared set, and
// clear() emptying it in place, bypass the store's writes and are not.
class SESSIONCONFIG_EXPORT AppRuntimeData : public IEncryptedSerializable
{
    SESSIONCONFIG_RUNTIME_STORE(AppSettingsDTO, AppProperty)

public:
    AppRuntimeData();
    // A copy has its own record and lock; only the user-settings set is shared.
    SESSIONCONFIG_COPYABLE_STORE(AppRuntimeData)
    ~AppRuntimeData() override;

    // Returns the per-user and provisioned fields to their defaults in place. The
    // application text, remote type, endpoint directory, database sessions path and
    // command-line options stay; the user-settings set stays too, but is emptied, so
    // everyone holding it sees it empty.
    void clear();
};

SESSIONCONFIG_STORE_PROPERTIES(AppRuntimeData, AppProperty, APP_PROPERTIES)
