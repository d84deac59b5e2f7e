// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <IEncryptedSerializable.h>

#include <QString>

#include <utility>

// The client's desk-link settings. Only the enabled flag is kept between runs (in
// the encrypted part); host, port, TLS and SIP debugging live for the run only.
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

    // The stored keys are the rows of SESSIONCONFIG_DESK_PROPERTIES (DeskRuntimeData.h).
    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

private:
    friend class DeskRuntimeData;

    bool m_enabled = false;
    QString m_host;
    unsigned short m_port = 0;
    bool m_sipDebugEnabled = false;
    bool m_tls = false;
};
