// SPDX-License-Identifier: MIT
#pragma once

// \file
// The desk link record, its property enumeration DeskProperty and its property table
// (every column of every property: \ref desk_properties).

#include "sessionconfig_export.h"

#include <IEncryptedSerializable.h>
#include <PropertyTable.h>

#include <QString>

#include <tuple>
#include <utility>
// The properties of the desk store, by number. The numbers are part of the client's interface.
enum class DeskProperty : int {
    Host = 0,            // Host name of the desk phone the client links to
    Port = 1,            // Port of the desk-link connection
    Tls = 2,             // Whether the desk link runs over TLS
    SIPDebugEnabled = 3, // Whether SIP messages of the desk link are logged
    Enabled = 4,         // Whether the desk link is switched on
};

// The client's desk-link settings. What is stored where: properties() below.
class SESSIONCONFIG_EXPORT DeskConfigurationDTO : public IEncryptedSerializable
{
public:
    DeskConfigurationDTO() = default;
    DeskConfigurationDTO(const DeskConfigurationDTO&) = default;
    DeskConfigurationDTO& operator=(const DeskConfigurationDTO&) = default;
    ~DeskConfigurationDTO() override;

    // Plain accessors of the record's fields: a getter returns a copy, a setter
    // replaces the value. The record has no lock of its own: its store guards it.
    //@{
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    QString getHost() const { return m_host; }
    void setHost(QString host) { m_host = std::move(host); }
    unsigned short getPort() const { return m_port; }
    void setPort(unsigned short port) { m_port = port; }
    bool isSIPDebugEnabled() const { return m_sipDebugEnabled; }
    void setSIPDebugEnabled(bool enabled) { m_sipDebugEnabled = enabled; }
    bool getTls() const { return m_tls; }
    void setTls(bool tls) { m_tls = tls; }
    //@}

    // Enabled, host (exact, case-sensitive), port and TLS; SIP debugging takes no part.
    //@{
    bool operator==(const DeskConfigurationDTO& other) const;
    bool operator!=(const DeskConfigurationDTO& other) const { return !(*this == other); }
    //@}

    // The stored parts, written and read row by row from properties().
    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

    // The record's property table, one row per DeskProperty: what each property reads, where it is
    // stored and under which key, what a reset does (the descriptors: PropertyTable.h).
    static constexpr auto properties();

private:
    bool m_enabled = false;
    QString m_host;
    unsigned short m_port = 0;
    bool m_sipDebugEnabled = false;
    bool m_tls = false;
};

constexpr auto DeskConfigurationDTO::properties()
{
    using SessionConfigDetail::field;
    using R = DeskConfigurationDTO;
    return std::make_tuple(
        field<DeskProperty::Host, QString>(&R::m_host).runOnly().dropOnReset(),
        field<DeskProperty::Port, unsigned short>(&R::m_port).runOnly().dropOnReset(),
        field<DeskProperty::Tls, bool>(&R::m_tls).runOnly().dropOnReset(),
        field<DeskProperty::SIPDebugEnabled, bool>(&R::m_sipDebugEnabled).runOnly().notCompared(),
        field<DeskProperty::Enabled, bool>(&R::m_enabled).encrypted("enabled"));
}

template <> struct SessionConfigDetail::RecordOf<DeskProperty>
{
    using type = DeskConfigurationDTO;
};
