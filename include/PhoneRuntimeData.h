// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <PhoneConfigurationDTO.h>
#include <RuntimeStore.h>

#include <QDateTime>
#include <QString>

#include <optional>

// The columns are explained in PropertyTable.h.
// The numbers are part of the client's interface and do not follow the record's
// field order.
#define SESSIONCONFIG_PHONE_PROPERTIES(ROW, X)                                                               \
    ROW(X, HostName, 0, QString, FIELD, m_hostName, NONE, "", DROP, EQ, Plain)                               \
    ROW(X, HostPort, 1, int, FIELD, m_hostPort, NONE, "", DROP, EQ, Plain)                                   \
    ROW(X, Username, 2, QString, FIELD, m_username, NONE, "", KEEP, EQ, Plain)                               \
    ROW(X, Token, 3, QString, FIELD, m_token, NONE, "", KEEP, EQ, Plain)                                     \
    ROW(X, Registrar, 4, QString, FIELD, m_registrar, NONE, "", DROP, EQ, Plain)                             \
    ROW(X, SIPLogging, 5, bool, FIELD, m_sipLogging, NONE, "", KEEP, EQ, Plain)                              \
    ROW(X, EnableRED, 6, bool, FIELD, m_enableRED, NONE, "", KEEP, EQ, Plain)                                \
    ROW(X, EnableDejittering, 7, bool, FIELD, m_enableDejittering, NONE, "", KEEP, EQ, Plain)                \
    ROW(X, INDevice, 8, QString, FIELD, m_inDevice, PLAIN, "audioInputDevice", KEEP, EQ, Plain)              \
    ROW(X, OUTDevice, 9, QString, FIELD, m_outDevice, PLAIN, "audioOutputDevice", KEEP, EQ, Plain)           \
    ROW(X, DTMFDuration, 10, std::optional<int>, FIELD, m_dtmfDuration, NONE, "", DROP, EQ, Plain)           \
    ROW(X, SRTP, 11, bool, FIELD, m_srtp, NONE, "", DROP, EQ, Plain)                                         \
    ROW(X, CodecList, 12, QString, FIELD, m_codecList, NONE, "", DROP, EQ, Plain)                            \
    ROW(X, Licence, 13, PhoneDefinitions::PhoneSettingsMode, FIELD, m_licence, ENCRYPTED, "phoneLicense",    \
        KEEP, EQ, Licence)                                                                                   \
    ROW(X, CurrentMode, 14, PhoneDefinitions::OperationMode, FIELD, m_currentMode, PLAIN, "currentMode",     \
        KEEP, EQ, OperationMode)                                                                             \
    ROW(X, LastLandlinePhone, 15, QString, FIELD, m_lastLandlinePhone, PLAIN, "lastLandlinePhone", KEEP, EQ, \
        Plain)                                                                                               \
    ROW(X, SipAccount, 16, QString, FIELD, m_sipAccount, PLAIN, "sipAccount", KEEP, EQ, Plain)               \
    ROW(X, Callback, 17, bool, FIELD, m_callback, PLAIN, "callback", KEEP, EQ, Plain)                        \
    ROW(X, RingToneVolume, 18, unsigned int, FIELD, m_ringToneVolume, PLAIN, "ringToneVolume", KEEP, EQ,     \
        Plain)                                                                                               \
    ROW(X, RingToneDevice, 19, QString, FIELD, m_ringToneDevice, PLAIN, "ringToneDevice", KEEP, EQ, Plain)   \
    ROW(X, UnseenMissedCalls, 20, unsigned int, FIELD, m_unseenMissedCalls, PLAIN, "unseenMissedCalls",      \
        KEEP, EQ, Plain)                                                                                     \
    ROW(X, EnableCallRecording, 21, bool, FIELD, m_enableCallRecording, NONE, "", DROP, NOEQ, Plain)         \
    ROW(X, Flavour, 22, QString, FIELD, m_flavour, NONE, "", KEEP, EQ, Plain)                                \
    ROW(X, EnableGPSCheck, 23, bool, FIELD, m_enableGPSCheck, NONE, "", KEEP, EQ, Plain)                     \
    ROW(X, GPSCheckInterval, 24, int, FIELD, m_gpsCheckInterval, NONE, "", KEEP, EQ, Plain)                  \
    ROW(X, EnableForeignCheck, 25, bool, FIELD, m_enableForeignCheck, NONE, "", KEEP, EQ, Plain)             \
    ROW(X, DTMFMode, 26, PhoneDefinitions::DTMFMode, FIELD, m_dtmfMode, NONE, "", KEEP, EQ, Plain)           \
    ROW(X, VornVersion, 27, QString, FIELD, m_vornVersion, NONE, "", KEEP, EQ, Plain)                        \
    ROW(X, EnableExtendedLoggingVD, 28, bool, FIELD, m_enableExtendedLoggingVD, NONE, "", KEEP, EQ, Plain)   \
    ROW(X, LastPhoneBookSync, 29, QDateTime, FIELD, m_lastPhoneBookSync, PLAIN, "lastPhoneBookSync", KEEP,   \
        EQ, IsoDateTime)

SESSIONCONFIG_PROPERTY_ENUM(PhoneProperty, SESSIONCONFIG_PHONE_PROPERTIES)

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

SESSIONCONFIG_STORE_PROPERTIES(PhoneRuntimeData, PhoneProperty, SESSIONCONFIG_PHONE_PROPERTIES)
