// SPDX-License-Identifier: MIT
#pragma once

// \file
// The application record, its property enumeration AppProperty and its property table
// (every column of every property: \ref app_properties).

#include "sessionconfig_export.h"

#include <CommandLineOptions.h>
#include <Endpoints.h>
#include <IEncryptedSerializable.h>
#include <PropertyTable.h>
#include <ResourcesDefs.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <set>
#include <tuple>
#include <utility>
namespace StoredValues {
// The record's own storage rules, defined beside its serialization.
struct OptOutList;
struct Replace;
struct NonEmpty;
} // namespace StoredValues

// The properties of the app store, by number. The numbers are part of the client's interface.
enum class AppProperty : int {
    Version = 0,                        // Version of the client that last stored the session
    CurrentRemoteType = 1,              // Remote type that picks the current endpoint of the directory
    AppText = 2,                        // Application text shown by the client
    EndpointDirectory = 3,              // Provisioned endpoints, one per remote type
    AnalyticsURL = 4,                   // Analytics address of the current endpoint
    OptOutMessages = 5,                 // Messages the user chose not to see again
    UserPath = 6,                       // Directory of the signed-in user's files
    DBSessionsPath = 7,                 // Directory of the session databases
    EnableOutlookImport = 8,            // Whether contacts are imported from Outlook
    NextTimeout = 9,                    // Seconds until the next provisioning
    PrivacyURL = 10,                    // Address of the privacy statement
    LicenseAgreementURL = 11,           // Address of the licence agreement
    VerboseLevel = 12,                  // Whether the client logs verbosely
    CmdLineOptions = 13,                // Options the client was started with
    ContactsURL = 14,                   // Address of the contacts service
    UploadAvatarURL = 15,               // Address the user's picture is uploaded to
    UserSettings = 16,                  // The user's own settings, a data set shared with whoever holds it
    MeetingURL = 17,                    // Address of the user's meeting service
    WhatsNewURL = 18,                   // What's-new address of the current endpoint
    PasswordResetURL = 19,              // Password-reset address of the current endpoint
    DiscoverMobileOfferURL = 20,        // Mobile-offer address of the current endpoint
    AppTimestamp = 22,                  // Time of the last provisioning
    ProvisioningConfigurationName = 23, // Name of the provisioned configuration
    AppBytes = 24,                      // Opaque application data
};

// The client's application-wide settings: paths, provisioned service URLs, the
// endpoint directory with the remote type that picks the current endpoint, the
// messages the user opted out of, the user's own settings and the command-line
// options.
//
// The user settings are a data-set handle: a copy of the record, and anyone who set
// or read them, share the same set.
class SESSIONCONFIG_EXPORT AppSettingsDTO : public IEncryptedSerializable
{
public:
    // What the next timeout starts with, and returns to when the application store clears.
    static constexpr int kDefaultNextTimeout = 14400;

    AppSettingsDTO() = default;
    AppSettingsDTO(const AppSettingsDTO&) = default;
    AppSettingsDTO& operator=(const AppSettingsDTO&) = default;
    ~AppSettingsDTO() override;

    // Plain accessors of the record's fields: a getter returns a copy, a setter
    // replaces the value. The record has no lock of its own: its store guards it.
    //@{
    QString getProvisioningConfigurationName() const { return m_provisioningConfigurationName; }
    void setProvisioningConfigurationName(const QString& name) { m_provisioningConfigurationName = name; }

    std::set<QString> getOptOutMessages() const { return m_optOutMessages; }
    void setOptOutMessages(std::set<QString> messages) { m_optOutMessages = std::move(messages); }

    QString getUserPath() const { return m_userPath; }

    QString getDBSessionsPath() const { return m_dbSessionsPath; }
    void setDBSessionsPath(QString path) { m_dbSessionsPath = std::move(path); }

    bool isEnableOutlookImport() const { return m_enableOutlookImport; }
    void setEnableOutlookContactsImport(bool enable) { m_enableOutlookImport = enable; }

    int getNextTimeout() const { return m_nextTimeout; }
    void setNextTimeout(int timeout) { m_nextTimeout = timeout; }

    QString getPrivacyURL() const { return m_privacyURL; }
    void setPrivacyURL(QString url) { m_privacyURL = std::move(url); }

    QString getLicenseAgreementURL() const { return m_licenseAgreementURL; }
    void setLicenseAgreementURL(QString url) { m_licenseAgreementURL = std::move(url); }

    bool isVerboseLevel() const { return m_verboseLevel; }
    void setVerboseLogLevel(bool verbose) { m_verboseLevel = verbose; }

    QString getContactsURL() const { return m_contactsURL; }
    void setGetContactsURL(QString url) { m_contactsURL = std::move(url); }

    QString uploadAvatarURL() const { return m_uploadAvatarURL; }
    void setUploadAvatarURL(QString url) { m_uploadAvatarURL = std::move(url); }

    QString getMeetingURL() const { return m_meetingURL; }
    void setMeetingURL(QString url) { m_meetingURL = std::move(url); }

    // Shares the record's set rather than copying it.
    DataSets::DataSet userSettings() const { return m_userSettings; }
    void setUserSettings(const DataSets::DataSet& settings) { m_userSettings = settings; }

    void setCommandLineOptions(CommandLineOptions options) { m_commandLineOptions = std::move(options); }
    bool isForceUpdate() const { return m_commandLineOptions.forceUpdate; }

    // The current endpoint: the directory's first entry of the record's remote type.
    // Looked up at every call; isProduction() and the web-service URL play no part.
    // These five throw std::bad_optional_access when no entry has that type.
    EndpointData getEndpoint() const;
    QString getAnalytics() const;
    QString getWhatsNew() const;
    QString getPasswordReset() const;
    QString getDiscoverMobileOfferURL() const;
    //@}

    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    // The stored parts, row by row from properties(); the user-settings set is stored
    // shared, not copied.
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

    // The record's property table, one row per AppProperty: what each property reads, where it is
    // stored and under which key, what a reset does (the descriptors: PropertyTable.h).
    static constexpr auto properties();

private:
    QString m_provisioningConfigurationName;
    QString m_version;
    QString m_appText;
    ResourcesDefs::RemoteType m_remoteType{};
    Endpoints m_endpoints;
    std::set<QString> m_optOutMessages;
    QString m_userPath;
    QString m_dbSessionsPath;
    bool m_enableOutlookImport = false;
    int m_nextTimeout = kDefaultNextTimeout;
    QString m_privacyURL;
    QString m_licenseAgreementURL;
    bool m_verboseLevel = false;
    QString m_contactsURL;
    QString m_uploadAvatarURL;
    QString m_meetingURL;
    DataSets::DataSet m_userSettings = DataSets::Impl::createDS(false);
    QDateTime m_appTimestamp;
    QByteArray m_appBytes;
    CommandLineOptions m_commandLineOptions;
};

constexpr auto AppSettingsDTO::properties()
{
    using SessionConfigDetail::derived;
    using SessionConfigDetail::field;
    using R = AppSettingsDTO;
    return std::make_tuple(
        field<AppProperty::OptOutMessages, std::set<QString>>(&R::m_optOutMessages)
            .plain("optOutMessages")
            .dropOnReset()
            .rule<StoredValues::OptOutList>(),
        field<AppProperty::Version, QString>(&R::m_version)
            .plain("version")
            .dropOnReset()
            .rule<StoredValues::Replace>(),
        field<AppProperty::MeetingURL, QString>(&R::m_meetingURL)
            .plain("meetingURL")
            .dropOnReset()
            .rule<StoredValues::NonEmpty>(),
        field<AppProperty::CurrentRemoteType, ResourcesDefs::RemoteType>(&R::m_remoteType).runOnly(),
        field<AppProperty::AppText, QString>(&R::m_appText).runOnly(),
        field<AppProperty::EndpointDirectory, Endpoints>(&R::m_endpoints).runOnly(),
        derived<AppProperty::AnalyticsURL, QString>(&R::getAnalytics).runOnly(),
        field<AppProperty::UserPath, QString>(&R::m_userPath).runOnly().dropOnReset(),
        field<AppProperty::DBSessionsPath, QString>(&R::m_dbSessionsPath).runOnly(),
        field<AppProperty::EnableOutlookImport, bool>(&R::m_enableOutlookImport)
            .plain("outlookImport")
            .dropOnReset(),
        field<AppProperty::NextTimeout, int>(&R::m_nextTimeout).runOnly().dropOnReset(),
        field<AppProperty::PrivacyURL, QString>(&R::m_privacyURL).runOnly().dropOnReset(),
        field<AppProperty::LicenseAgreementURL, QString>(&R::m_licenseAgreementURL).runOnly().dropOnReset(),
        field<AppProperty::VerboseLevel, bool>(&R::m_verboseLevel).runOnly().dropOnReset(),
        field<AppProperty::CmdLineOptions, CommandLineOptions>(&R::m_commandLineOptions).runOnly(),
        field<AppProperty::ContactsURL, QString>(&R::m_contactsURL).runOnly().dropOnReset(),
        field<AppProperty::UploadAvatarURL, QString>(&R::m_uploadAvatarURL).runOnly().dropOnReset(),
        field<AppProperty::UserSettings, DataSets::DataSet>(&R::m_userSettings)
            .plain("userSettings")
            .emptyOnReset(),
        derived<AppProperty::WhatsNewURL, QString>(&R::getWhatsNew).runOnly(),
        derived<AppProperty::PasswordResetURL, QString>(&R::getPasswordReset).runOnly(),
        derived<AppProperty::DiscoverMobileOfferURL, QString>(&R::getDiscoverMobileOfferURL).runOnly(),
        field<AppProperty::AppTimestamp, QDateTime>(&R::m_appTimestamp).runOnly().dropOnReset(),
        field<AppProperty::ProvisioningConfigurationName, QString>(&R::m_provisioningConfigurationName)
            .runOnly()
            .dropOnReset(),
        field<AppProperty::AppBytes, QByteArray>(&R::m_appBytes).runOnly().dropOnReset());
}

template <> struct SessionConfigDetail::RecordOf<AppProperty>
{
    using type = AppSettingsDTO;
};
