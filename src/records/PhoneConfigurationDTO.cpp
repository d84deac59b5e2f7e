// SPDX-License-Identifier: MIT
#include <PhoneConfigurationDTO.h>

#include "../contract/StoredValues.h"

#include <cstdint>

namespace {
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

namespace StoredValues {

// The whole rights value as an integer. Reading it back, a value that grants neither
// CTI nor the soft phone grants nothing at all, whether or not one was stored.
template <> struct Rule<Licence, PhoneDefinitions::PhoneSettingsMode>
{
    static void write(const DataSets::DataSet& ds, const QString& key,
                      PhoneDefinitions::PhoneSettingsMode value)
    {
        put(ds, key, int(bits(value)));
    }
    static void read(const DataSets::DataSet& ds, const QString& key,
                     PhoneDefinitions::PhoneSettingsMode& target)
    {
        int licence = bits(target);
        take(ds, key, licence);
        if ((licence & (kCTIBit | kSoftPhoneBit)) == 0)
            licence = 0;
        target = rights(licence);
    }
};

// Only the two known operation modes are taken back; anything else is ignored.
template <> struct Rule<OperationMode, PhoneDefinitions::OperationMode>
{
    static void write(const DataSets::DataSet& ds, const QString& key, PhoneDefinitions::OperationMode value)
    {
        put(ds, key, int(static_cast<std::int32_t>(value)));
    }
    static void read(const DataSets::DataSet& ds, const QString& key, PhoneDefinitions::OperationMode& target)
    {
        int mode = 0;
        if (take(ds, key, mode) && static_cast<unsigned int>(mode) <= 1)
            target = static_cast<PhoneDefinitions::OperationMode>(mode);
    }
};

// ISO 8601 text with milliseconds. The time always follows the stored text: missing
// or unreadable text means no synchronisation is known, so the next one starts from
// scratch.
template <> struct Rule<IsoDateTime, QDateTime>
{
    static void write(const DataSets::DataSet& ds, const QString& key, const QDateTime& value)
    {
        put(ds, key, value.toString(Qt::ISODateWithMs));
    }
    static void read(const DataSets::DataSet& ds, const QString& key, QDateTime& target)
    {
        QString text;
        take(ds, key, text);
        target = QDateTime::fromString(text, Qt::ISODateWithMs);
    }
};

} // namespace StoredValues

bool PhoneConfigurationDTO::operator==(const PhoneConfigurationDTO& other) const
{
    return StoredValues::equalRows(*this, other);
}

DataSets::DataSet PhoneConfigurationDTO::serializeEncrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Encrypted>(*this);
}

void PhoneConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Encrypted>(*this, ds);
}

DataSets::DataSet PhoneConfigurationDTO::serializeUnencrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Plain>(*this);
}

void PhoneConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Plain>(*this, ds);
}
