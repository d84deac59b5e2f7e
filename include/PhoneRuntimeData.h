#pragma once

#include "sessionconfig_export.h"

#include <PhoneConfigurationDTO.h>
#include <RuntimeStore.h>

#include <QDateTime>
#include <QString>

#include <optional>

// enumerator, number, value type, kind, record field
// The numbers are part of the client's interface and do not follow the record's
// field order.
#define PHONE_PROPERTIES(ROW, X)                                                   \
    ROW(X, HostName, 0, QString, FIELD, m_hostName)                                \
    ROW(X, HostPort, 1, int, FIELD, m_hostPort)                                    \
    ROW(X, Username, 2, QString, FIELD, m_username)                                \
    ROW(X, Token, 3, QString, FIELD, m_token)                                      \
    ROW(X, Registrar, 4, QString, FIELD, m_registrar)                              \
    ROW(X, SIPLogging, 5, bool, FIELD, m_sipLogging)                               \
    ROW(X, EnableRED, 6, bool, FIELD, m_enableRED)                                 \
    ROW(X, EnableDejittering, 7, bool, FIELD, m_enableDejittering)                 \
    ROW(X, INDevice, 8, QString, FIELD, m_inDevice)                                \
    ROW(X, OUTDevice, 9, QString, FIELD, m_outDevice)                              \
    ROW(X, DTMFDuration, 10, std::optional<int>, FIELD, m_dtmfDuration)            \
    ROW(X, SRTP, 11, bool, FIELD, m_srtp)                                          \
    ROW(X, CodecList, 12, QString, FIELD, m_codecList)                             \
    ROW(X, Licence, 13, PhoneDefinitions::PhoneSettingsMode, FIELD, m_licence)     \
    ROW(X, CurrentMode, 14, PhoneDefinitions::OperationMode, FIELD, m_currentMode) \
    ROW(X, LastLandlinePhone, 15, QString, FIELD, m_lastLandlinePhone)             \
    ROW(X, SipAccount, 16, QString, FIELD, m_sipAccount)                           \
    ROW(X, Callback, 17, bool, FIELD, m_callback)                                  \
    ROW(X, RingToneVolume, 18, unsigned int, FIELD, m_ringToneVolume)              \
    ROW(X, RingToneDevice, 19, QString, FIELD, m_ringToneDevice)                   \
    ROW(X, UnseenMissedCalls, 20, unsigned int, FIELD, m_unseenMissedCalls)        \
    ROW(X, EnableCallRecording, 21, bool, FIELD, m_enableCallRecording)            \
    ROW(X, Flavour, 22, QString, FIELD, m_flavour)                                 \
    ROW(X, EnableGPSCheck, 23, bool, FIELD, m_enableGPSCheck)                      \
    ROW(X, GPSCheckInterval, 24, int, FIELD, m_gpsCheckInterval)                   \
    ROW(X, EnableForeignCheck, 25, bool, FIELD, m_enableForeignCheck)              \
    ROW(X, DTMFMode, 26, PhoneDefinitions::DTMFMode, FIELD, m_dtmfMode)            \
    ROW(X, VornVersion, 27, QString, FIELD, m_vornVersion)                         \
    ROW(X, EnableExtendedLoggingVD, 28, bool, FIELD, m_enableExtendedLoggingVD)    \
    ROW(X, LastPhoneBookSync, 29, QDateTime, FIELD, m_lastPhoneBookSync)

SESSIONCONFIG_PROPERTY_ENUM(PhoneProperty, PHONE_PROPERTIES)

// The session's thread-safe holder of the phone settings. The rights value is
// read and written whole (property Licence); callers test the CTI and soft-phone
// bits themselves.
class SESSIONCONFIG_EXPORT PhoneRuntimeData : public IConfigurationResettable, public IEncryptedSerializable
{
    SESSIONCONFIG_RUNTIME_STORE(PhoneConfigurationDTO, PhoneProperty)

public:
    PhoneRuntimeData();
    SESSIONCONFIG_COPYABLE_STORE(PhoneRuntimeData)
    ~PhoneRuntimeData() override;

    // Drops the connection settings that come with each provisioning: host name and
    // port, registrar, DTMF duration, SRTP (back on), call recording (off) and the
    // codec list. Credentials, rights and the user's own choices stay.
    void resetData() override;
    // Every field back to its default.
    void clear();
};

SESSIONCONFIG_STORE_PROPERTIES(PhoneRuntimeData, PhoneProperty, PHONE_PROPERTIES)
