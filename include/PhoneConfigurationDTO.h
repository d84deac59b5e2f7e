// SPDX-License-Identifier: MIT
#pragma once

// \file
// The phone record, its property enumeration PhoneProperty and its property table
// (every column of every property: \ref phone_properties).

#include "sessionconfig_export.h"

#include <IEncryptedSerializable.h>
#include <PhoneDefinitions.h>
#include <PropertyTable.h>

#include <QDateTime>
#include <QString>

#include <optional>
#include <tuple>
#include <utility>
namespace StoredValues {
// The record's own storage rules, defined beside its serialization.
struct Licence;
struct OperationMode;
struct IsoDateTime;
} // namespace StoredValues

// The properties of the phone store, by number. The numbers are part of the client's interface.
enum class PhoneProperty : int {
    HostName = 0,                 // SIP server host name
    HostPort = 1,                 // SIP server port
    Username = 2,                 // SIP user name
    Token = 3,                    // SIP authentication token
    Registrar = 4,                // SIP registrar
    SIPLogging = 5,               // Whether SIP messages are logged
    EnableRED = 6,                // Whether redundant audio (RED) is sent
    EnableDejittering = 7,        // Whether incoming audio is de-jittered
    INDevice = 8,                 // Audio input device
    OUTDevice = 9,                // Audio output device
    DTMFDuration = 10,            // Length of a DTMF tone in milliseconds, when provisioned
    SRTP = 11,                    // Whether media is encrypted (SRTP)
    CodecList = 12,               // Audio codecs in order of preference
    Licence = 13,                 // Phone rights: bit 0 desk-phone control (CTI), bit 1 soft phone
    CurrentMode = 14,             // Whether calls go through the soft phone or the desk phone
    LastLandlinePhone = 15,       // Last landline number the user called from
    SipAccount = 16,              // SIP account the user chose
    Callback = 17,                // Whether calls are placed as callbacks
    RingToneVolume = 18,          // Ring tone volume
    RingToneDevice = 19,          // Device the ring tone plays on
    UnseenMissedCalls = 20,       // Missed calls the user has not looked at
    EnableCallRecording = 21,     // Whether the current call is recorded (a per-call choice)
    Flavour = 22,                 // Flavour of the phone service
    EnableGPSCheck = 23,          // Whether the location is checked before emergency calls
    GPSCheckInterval = 24,        // Seconds between location checks
    EnableForeignCheck = 25,      // Whether calls from abroad are checked
    DTMFMode = 26,                // How DTMF tones are sent
    VornVersion = 27,             // Version of the phone service
    EnableExtendedLoggingVD = 28, // Whether the voice engine logs in detail
    LastPhoneBookSync = 29,       // Time of the last phone-book synchronisation
};

// The soft phone's settings: those provisioned anew after every sign-in live for the
// run only, the user's rights and own choices are stored (see properties() below).
class SESSIONCONFIG_EXPORT PhoneConfigurationDTO : public IEncryptedSerializable
{
public:
    PhoneConfigurationDTO() = default;
    PhoneConfigurationDTO(const PhoneConfigurationDTO&) = default;
    PhoneConfigurationDTO& operator=(const PhoneConfigurationDTO&) = default;
    ~PhoneConfigurationDTO() override;

    // Plain accessors of the record's fields: a getter returns a copy, a setter
    // replaces the value. The record has no lock of its own: its store guards it.
    //@{
    QString getHostName() const { return m_hostName; }
    void setHostName(QString hostName) { m_hostName = std::move(hostName); }
    int getHostPort() const { return m_hostPort; }
    void setHostPort(int port) { m_hostPort = port; }
    QString getUsername() const { return m_username; }
    void setUsername(QString username) { m_username = std::move(username); }
    QString getToken() const { return m_token; }
    void setToken(QString token) { m_token = std::move(token); }
    QString getFlavour() const { return m_flavour; }
    void setFlavour(QString flavour) { m_flavour = std::move(flavour); }
    QString getRegistrar() const { return m_registrar; }
    void setRegistrar(QString registrar) { m_registrar = std::move(registrar); }
    std::optional<int> getDTMFDuration() const { return m_dtmfDuration; }
    void setDTMFDuration(const std::optional<int>& duration) { m_dtmfDuration = duration; }
    bool isSRTP() const { return m_srtp; }
    void setSRTP(bool srtp) { m_srtp = srtp; }
    bool getEnableCallRecording() const { return m_enableCallRecording; }
    void setEnableCallRecording(bool enable) { m_enableCallRecording = enable; }
    QString getINDevice() const { return m_inDevice; }
    void setINDevice(QString device) { m_inDevice = std::move(device); }
    QString getOUTDevice() const { return m_outDevice; }
    void setOUTDevice(QString device) { m_outDevice = std::move(device); }
    bool isSIPLogging() const { return m_sipLogging; }
    void setSIPLogging(bool logging) { m_sipLogging = logging; }
    bool getEnableRED() const { return m_enableRED; }
    void setEnableRED(bool enable) { m_enableRED = enable; }
    bool getEnableDejittering() const { return m_enableDejittering; }
    void setEnableDejittering(bool enable) { m_enableDejittering = enable; }
    QString getCodecList() const { return m_codecList; }
    void setCodecList(QString codecs) { m_codecList = std::move(codecs); }

    // The phone rights as a bit set: bit 0 desk-phone control (CTI), bit 1 soft
    // phone. Other bits are carried as they are.
    PhoneDefinitions::PhoneSettingsMode getLicence() const { return m_licence; }
    // Replaces the whole value, unmasked.
    void setLicence(PhoneDefinitions::PhoneSettingsMode licence) { m_licence = licence; }
    bool isCTI() const;
    bool isSoftPhone() const;
    // Sets or clears bit 0 only.
    void setCTI(bool on);
    // The soft phone needs desk-phone control, so switching it on sets bits 0 and 1
    // together; switching it off clears bit 1 only and leaves CTI as it was.
    void setSoftPhone(bool on);

    PhoneDefinitions::OperationMode getCurrentMode() const { return m_currentMode; }
    void setCurrentMode(PhoneDefinitions::OperationMode mode) { m_currentMode = mode; }
    QString getLastLandlinePhone() const { return m_lastLandlinePhone; }
    void setLastLandlinePhone(QString number) { m_lastLandlinePhone = std::move(number); }
    QString getSipAccount() const { return m_sipAccount; }
    void setSipAccount(QString account) { m_sipAccount = std::move(account); }
    bool isCallback() const { return m_callback; }
    void setCallback(bool callback) { m_callback = callback; }
    unsigned int getRingToneVolume() const { return m_ringToneVolume; }
    void setRingToneVolume(unsigned int volume) { m_ringToneVolume = volume; }
    QString getRingToneDevice() const { return m_ringToneDevice; }
    void setRingToneDevice(QString device) { m_ringToneDevice = std::move(device); }
    unsigned int getUnseenMissedCalls() const { return m_unseenMissedCalls; }
    void setUnseenMissedCalls(unsigned int count) { m_unseenMissedCalls = count; }
    bool getEnableGPSCheck() const { return m_enableGPSCheck; }
    void setEnableGPSCheck(bool enable) { m_enableGPSCheck = enable; }
    bool getEnableForeignCheck() const { return m_enableForeignCheck; }
    void setEnableForeignCheck(bool enable) { m_enableForeignCheck = enable; }
    int getGPSCheckInterval() const { return m_gpsCheckInterval; }
    void setGPSCheckInterval(int interval) { m_gpsCheckInterval = interval; }
    PhoneDefinitions::DTMFMode getDTMFMode() const { return m_dtmfMode; }
    void setDTMFMode(PhoneDefinitions::DTMFMode mode) { m_dtmfMode = mode; }
    QString getVornVersion() const { return m_vornVersion; }
    void setVornVersion(QString version) { m_vornVersion = std::move(version); }
    bool getEnableExtendedLoggingVD() const { return m_enableExtendedLoggingVD; }
    void setEnableExtendedLoggingVD(bool enable) { m_enableExtendedLoggingVD = enable; }
    const QDateTime& getLastPhoneBookSync() const { return m_lastPhoneBookSync; }
    void setLastPhoneBookSync(QDateTime time) { m_lastPhoneBookSync = std::move(time); }
    //@}

    // Every field except the call-recording flag, which is a per-call choice rather
    // than part of the configuration. The rights compare as a whole value.
    //@{
    bool operator==(const PhoneConfigurationDTO& other) const;
    bool operator!=(const PhoneConfigurationDTO& other) const { return !(*this == other); }
    //@}

    // The stored parts, row by row from properties(). Reading the rights back keeps them only when CTI or
    // soft phone is among them, otherwise zero; reading the plain part leaves a field whose key is missing as
    // it was, except the phone-book sync time, which becomes null.
    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

    // The record's property table, one row per PhoneProperty: what each property reads, where it is
    // stored and under which key, what a reset does (the descriptors: PropertyTable.h).
    static constexpr auto properties();

private:
    QString m_hostName;
    int m_hostPort = 0;
    QString m_username;
    QString m_token;
    QString m_flavour;
    QString m_registrar;
    std::optional<int> m_dtmfDuration;
    bool m_srtp = true;
    bool m_enableCallRecording = false;
    QString m_inDevice;
    QString m_outDevice;
    bool m_sipLogging = false;
    bool m_enableRED = false;
    bool m_enableDejittering = false;
    QString m_codecList;
    PhoneDefinitions::PhoneSettingsMode m_licence = PhoneDefinitions::PhoneSettingsMode::None;
    PhoneDefinitions::OperationMode m_currentMode = PhoneDefinitions::OperationMode::SoftPhoneMode;
    QString m_lastLandlinePhone;
    QString m_sipAccount;
    bool m_callback = false;
    unsigned int m_ringToneVolume = 30;
    QString m_ringToneDevice;
    unsigned int m_unseenMissedCalls = 0;
    bool m_enableGPSCheck = false;
    bool m_enableForeignCheck = false;
    int m_gpsCheckInterval = 0;
    PhoneDefinitions::DTMFMode m_dtmfMode = PhoneDefinitions::DTMFMode::RFC2833;
    QString m_vornVersion;
    bool m_enableExtendedLoggingVD = false;
    QDateTime m_lastPhoneBookSync;
};

constexpr auto PhoneConfigurationDTO::properties()
{
    using SessionConfigDetail::field;
    using R = PhoneConfigurationDTO;
    return std::make_tuple(
        field<PhoneProperty::HostName, QString>(&R::m_hostName).runOnly().dropOnReset(),
        field<PhoneProperty::HostPort, int>(&R::m_hostPort).runOnly().dropOnReset(),
        field<PhoneProperty::Username, QString>(&R::m_username).runOnly(),
        field<PhoneProperty::Token, QString>(&R::m_token).runOnly().secret(),
        field<PhoneProperty::Registrar, QString>(&R::m_registrar).runOnly().dropOnReset(),
        field<PhoneProperty::SIPLogging, bool>(&R::m_sipLogging).runOnly(),
        field<PhoneProperty::EnableRED, bool>(&R::m_enableRED).runOnly(),
        field<PhoneProperty::EnableDejittering, bool>(&R::m_enableDejittering).runOnly(),
        field<PhoneProperty::INDevice, QString>(&R::m_inDevice).plain("audioInputDevice"),
        field<PhoneProperty::OUTDevice, QString>(&R::m_outDevice).plain("audioOutputDevice"),
        field<PhoneProperty::DTMFDuration, std::optional<int>>(&R::m_dtmfDuration).runOnly().dropOnReset(),
        field<PhoneProperty::SRTP, bool>(&R::m_srtp).runOnly().dropOnReset(),
        field<PhoneProperty::CodecList, QString>(&R::m_codecList).runOnly().dropOnReset(),
        field<PhoneProperty::Licence, PhoneDefinitions::PhoneSettingsMode>(&R::m_licence)
            .encrypted("phoneLicense")
            .rule<StoredValues::Licence>(),
        field<PhoneProperty::CurrentMode, PhoneDefinitions::OperationMode>(&R::m_currentMode)
            .plain("currentMode")
            .rule<StoredValues::OperationMode>(),
        field<PhoneProperty::LastLandlinePhone, QString>(&R::m_lastLandlinePhone).plain("lastLandlinePhone"),
        field<PhoneProperty::SipAccount, QString>(&R::m_sipAccount).plain("sipAccount"),
        field<PhoneProperty::Callback, bool>(&R::m_callback).plain("callback"),
        field<PhoneProperty::RingToneVolume, unsigned int>(&R::m_ringToneVolume).plain("ringToneVolume"),
        field<PhoneProperty::RingToneDevice, QString>(&R::m_ringToneDevice).plain("ringToneDevice"),
        field<PhoneProperty::UnseenMissedCalls, unsigned int>(&R::m_unseenMissedCalls)
            .plain("unseenMissedCalls"),
        field<PhoneProperty::EnableCallRecording, bool>(&R::m_enableCallRecording)
            .runOnly()
            .dropOnReset()
            .notCompared(),
        field<PhoneProperty::Flavour, QString>(&R::m_flavour).runOnly(),
        field<PhoneProperty::EnableGPSCheck, bool>(&R::m_enableGPSCheck).runOnly(),
        field<PhoneProperty::GPSCheckInterval, int>(&R::m_gpsCheckInterval).runOnly(),
        field<PhoneProperty::EnableForeignCheck, bool>(&R::m_enableForeignCheck).runOnly(),
        field<PhoneProperty::DTMFMode, PhoneDefinitions::DTMFMode>(&R::m_dtmfMode).runOnly(),
        field<PhoneProperty::VornVersion, QString>(&R::m_vornVersion).runOnly(),
        field<PhoneProperty::EnableExtendedLoggingVD, bool>(&R::m_enableExtendedLoggingVD).runOnly(),
        field<PhoneProperty::LastPhoneBookSync, QDateTime>(&R::m_lastPhoneBookSync)
            .plain("lastPhoneBookSync")
            .rule<StoredValues::IsoDateTime>());
}

template <> struct SessionConfigDetail::RecordOf<PhoneProperty>
{
    using type = PhoneConfigurationDTO;
};
