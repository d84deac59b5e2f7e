// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <AppSettingsDTO.h>
#include <RuntimeStore.h>

// The columns are explained in PropertyTable.h (21 is unassigned). Table order is the
// order of the stored entries, not of the numbers.
#define SESSIONCONFIG_APP_PROPERTIES(ROW, X)                                                                 \
    ROW(X, OptOutMessages, 5, std::set<QString>, FIELD, m_optOutMessages, PLAIN, "optOutMessages", DROP, EQ, \
        OptOutList)                                                                                          \
    ROW(X, Version, 0, QString, FIELD, m_version, PLAIN, "version", DROP, EQ, Replace)                       \
    ROW(X, MeetingURL, 17, QString, FIELD, m_meetingURL, PLAIN, "meetingURL", DROP, EQ, NonEmpty)            \
    ROW(X, CurrentRemoteType, 1, ResourcesDefs::RemoteType, FIELD, m_remoteType, NONE, "", KEEP, EQ, Plain)  \
    ROW(X, AppText, 2, QString, FIELD, m_appText, NONE, "", KEEP, EQ, Plain)                                 \
    ROW(X, EndpointDirectory, 3, Endpoints, FIELD, m_endpoints, NONE, "", KEEP, EQ, Plain)                   \
    ROW(X, AnalyticsURL, 4, QString, DERIVED, getAnalytics, NONE, "", KEEP, NOEQ, Plain)                     \
    ROW(X, UserPath, 6, QString, FIELD, m_userPath, NONE, "", DROP, EQ, Plain)                               \
    ROW(X, DBSessionsPath, 7, QString, FIELD, m_dbSessionsPath, NONE, "", KEEP, EQ, Plain)                   \
    ROW(X, EnableOutlookImport, 8, bool, FIELD, m_enableOutlookImport, PLAIN, "outlookImport", DROP, EQ,     \
        Plain)                                                                                               \
    ROW(X, NextTimeout, 9, int, FIELD, m_nextTimeout, NONE, "", DROP, EQ, Plain)                             \
    ROW(X, PrivacyURL, 10, QString, FIELD, m_privacyURL, NONE, "", DROP, EQ, Plain)                          \
    ROW(X, LicenseAgreementURL, 11, QString, FIELD, m_licenseAgreementURL, NONE, "", DROP, EQ, Plain)        \
    ROW(X, VerboseLevel, 12, bool, FIELD, m_verboseLevel, NONE, "", DROP, EQ, Plain)                         \
    ROW(X, CmdLineOptions, 13, CommandLineOptions, FIELD, m_commandLineOptions, NONE, "", KEEP, EQ, Plain)   \
    ROW(X, ContactsURL, 14, QString, FIELD, m_contactsURL, NONE, "", DROP, EQ, Plain)                        \
    ROW(X, UploadAvatarURL, 15, QString, FIELD, m_uploadAvatarURL, NONE, "", DROP, EQ, Plain)                \
    ROW(X, UserSettings, 16, DataSets::DataSet, FIELD, m_userSettings, PLAIN, "userSettings", EMPTY, EQ,     \
        Plain)                                                                                               \
    ROW(X, WhatsNewURL, 18, QString, DERIVED, getWhatsNew, NONE, "", KEEP, NOEQ, Plain)                      \
    ROW(X, PasswordResetURL, 19, QString, DERIVED, getPasswordReset, NONE, "", KEEP, NOEQ, Plain)            \
    ROW(X, DiscoverMobileOfferURL, 20, QString, DERIVED, getDiscoverMobileOfferURL, NONE, "", KEEP, NOEQ,    \
        Plain)                                                                                               \
    ROW(X, AppTimestamp, 22, QDateTime, FIELD, m_appTimestamp, NONE, "", DROP, EQ, Plain)                    \
    ROW(X, ProvisioningConfigurationName, 23, QString, FIELD, m_provisioningConfigurationName, NONE, "",     \
        DROP, EQ, Plain)                                                                                     \
    ROW(X, AppBytes, 24, QByteArray, FIELD, m_appBytes, NONE, "", DROP, EQ, Plain)

SESSIONCONFIG_PROPERTY_ENUM(AppProperty, SESSIONCONFIG_APP_PROPERTIES)

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

SESSIONCONFIG_STORE_PROPERTIES(AppRuntimeData, AppProperty, SESSIONCONFIG_APP_PROPERTIES)
