#include <PhoneConfigurationDTO.h>

#include "../contract/StoredValues.h"

#include <cstdint>

namespace {
const QString kPhoneLicense = QStringLiteral("phoneLicense");
const QString kAudioInputDevice = QStringLiteral("audioInputDevice");
const QString kAudioOutputDevice = QStringLiteral("audioOutputDevice");
const QString kCurrentMode = QStringLiteral("currentMode");
const QString kLastLandlinePhone = QStringLiteral("lastLandlinePhone");
const QString kSipAccount = QStringLiteral("sipAccount");
const QString kCallback = QStringLiteral("callback");
const QString kRingToneVolume = QStringLiteral("ringToneVolume");
const QString kRingToneDevice = QStringLiteral("ringToneDevice");
const QString kUnseenMissedCalls = QStringLiteral("unseenMissedCalls");
const QString kLastPhoneBookSync = QStringLiteral("lastPhoneBookSync");

constexpr std::int32_t kCTIBit = 0x1;
constexpr std::int32_t kSoftPhoneBit = 0x2;

std::int32_t bits(PhoneDefinitions::PhoneSettingsMode mode)
{
    return static_cast<std::int32_t>(mode);
}

PhoneDefinitions::PhoneSettingsMode rights(std::int32_t bits)
{
    return static_cast<PhoneDefinitions::PhoneSettingsMode>(bits);
}
} // namespace

PhoneConfigurationDTO::~PhoneConfigurationDTO() = default;

bool PhoneConfigurationDTO::isCTI() const
{
    return (bits(m_licence) & kCTIBit) != 0;
}

bool PhoneConfigurationDTO::isSoftPhone() const
{
    return (bits(m_licence) & kSoftPhoneBit) != 0;
}

void PhoneConfigurationDTO::setCTI(bool on)
{
    m_licence = rights((bits(m_licence) & ~kCTIBit) | (on ? kCTIBit : 0));
}

void PhoneConfigurationDTO::setSoftPhone(bool on)
{
    m_licence = rights(on ? bits(m_licence) | kCTIBit | kSoftPhoneBit : bits(m_licence) & ~kSoftPhoneBit);
}

bool PhoneConfigurationDTO::operator==(const PhoneConfigurationDTO& other) const
{
    // Declaration order; m_enableCallRecording deliberately takes no part.
    return m_hostName == other.m_hostName && m_hostPort == other.m_hostPort &&
           m_username == other.m_username && m_token == other.m_token && m_flavour == other.m_flavour &&
           m_registrar == other.m_registrar && m_dtmfDuration == other.m_dtmfDuration &&
           m_srtp == other.m_srtp && m_inDevice == other.m_inDevice && m_outDevice == other.m_outDevice &&
           m_sipLogging == other.m_sipLogging && m_enableRED == other.m_enableRED &&
           m_enableDejittering == other.m_enableDejittering && m_codecList == other.m_codecList &&
           m_licence == other.m_licence && m_currentMode == other.m_currentMode &&
           m_lastLandlinePhone == other.m_lastLandlinePhone && m_sipAccount == other.m_sipAccount &&
           m_callback == other.m_callback && m_ringToneVolume == other.m_ringToneVolume &&
           m_ringToneDevice == other.m_ringToneDevice && m_unseenMissedCalls == other.m_unseenMissedCalls &&
           m_enableGPSCheck == other.m_enableGPSCheck && m_enableForeignCheck == other.m_enableForeignCheck &&
           m_gpsCheckInterval == other.m_gpsCheckInterval && m_dtmfMode == other.m_dtmfMode &&
           m_vornVersion == other.m_vornVersion &&
           m_enableExtendedLoggingVD == other.m_enableExtendedLoggingVD &&
           m_lastPhoneBookSync == other.m_lastPhoneBookSync;
}

DataSets::DataSet PhoneConfigurationDTO::serializeEncrypted() const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    StoredValues::put(ds, kPhoneLicense, int(bits(m_licence)));
    return ds;
}

void PhoneConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    // Without a stored value the rights stay as they were; either way, a value
    // that grants neither CTI nor the soft phone grants nothing at all.
    int licence = bits(m_licence);
    StoredValues::take(ds, kPhoneLicense, licence);
    if ((licence & (kCTIBit | kSoftPhoneBit)) == 0)
        licence = 0;
    m_licence = rights(licence);
}

DataSets::DataSet PhoneConfigurationDTO::serializeUnencrypted() const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    StoredValues::put(ds, kAudioInputDevice, m_inDevice);
    StoredValues::put(ds, kAudioOutputDevice, m_outDevice);
    StoredValues::put(ds, kCurrentMode, int(static_cast<std::int32_t>(m_currentMode)));
    StoredValues::put(ds, kLastLandlinePhone, m_lastLandlinePhone);
    StoredValues::put(ds, kSipAccount, m_sipAccount);
    StoredValues::put(ds, kCallback, m_callback);
    // The two counters are unsigned; the data set holds signed integers of the
    // same width, so the bits are carried as they are.
    StoredValues::put(ds, kRingToneVolume, static_cast<int>(m_ringToneVolume));
    StoredValues::put(ds, kRingToneDevice, m_ringToneDevice);
    StoredValues::put(ds, kUnseenMissedCalls, static_cast<int>(m_unseenMissedCalls));
    StoredValues::put(ds, kLastPhoneBookSync, m_lastPhoneBookSync.toString(Qt::ISODateWithMs));
    return ds;
}

void PhoneConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    StoredValues::take(ds, kAudioInputDevice, m_inDevice);
    StoredValues::take(ds, kAudioOutputDevice, m_outDevice);

    // Only the two known operation modes are taken; anything else is ignored.
    int mode = 0;
    if (StoredValues::take(ds, kCurrentMode, mode) && static_cast<unsigned int>(mode) <= 1)
        m_currentMode = static_cast<PhoneDefinitions::OperationMode>(mode);

    StoredValues::take(ds, kLastLandlinePhone, m_lastLandlinePhone);
    StoredValues::take(ds, kSipAccount, m_sipAccount);
    StoredValues::take(ds, kCallback, m_callback);

    int volume = 0;
    if (StoredValues::take(ds, kRingToneVolume, volume))
        m_ringToneVolume = static_cast<unsigned int>(volume);

    StoredValues::take(ds, kRingToneDevice, m_ringToneDevice);

    int unseen = 0;
    if (StoredValues::take(ds, kUnseenMissedCalls, unseen))
        m_unseenMissedCalls = static_cast<unsigned int>(unseen);

    // The sync time always follows the stored text: missing or unreadable text
    // means no synchronisation is known, so the next one starts from scratch.
    QString syncText;
    StoredValues::take(ds, kLastPhoneBookSync, syncText);
    m_lastPhoneBookSync = QDateTime::fromString(syncText, Qt::ISODateWithMs);
}
