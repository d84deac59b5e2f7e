// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <DeskConfigurationDTO.h>
#include <RuntimeStore.h>

// The columns are explained in PropertyTable.h.
#define SESSIONCONFIG_DESK_PROPERTIES(ROW, X)                                               \
    ROW(X, Host, 0, QString, FIELD, m_host, NONE, "", DROP, EQ, Plain)                      \
    ROW(X, Port, 1, unsigned short, FIELD, m_port, NONE, "", DROP, EQ, Plain)               \
    ROW(X, Tls, 2, bool, FIELD, m_tls, NONE, "", DROP, EQ, Plain)                           \
    ROW(X, SIPDebugEnabled, 3, bool, FIELD, m_sipDebugEnabled, NONE, "", KEEP, NOEQ, Plain) \
    ROW(X, Enabled, 4, bool, FIELD, m_enabled, ENCRYPTED, "enabled", KEEP, EQ, Plain)

SESSIONCONFIG_PROPERTY_ENUM(DeskProperty, SESSIONCONFIG_DESK_PROPERTIES)

// The session's thread-safe holder of the desk-link settings.
class SESSIONCONFIG_EXPORT DeskRuntimeData : public IConfigurationResettable, public IEncryptedSerializable
{
    SESSIONCONFIG_RUNTIME_STORE(DeskConfigurationDTO, DeskProperty)

public:
    DeskRuntimeData();
    DeskRuntimeData(const DeskRuntimeData&) = delete;
    DeskRuntimeData& operator=(const DeskRuntimeData&) = delete;
    ~DeskRuntimeData() override;

    // Drops the connection settings (host, port, TLS); enabled and SIP debugging stay.
    void resetData() override;
    // Every field back to its default.
    void clear();
};

SESSIONCONFIG_STORE_PROPERTIES(DeskRuntimeData, DeskProperty, SESSIONCONFIG_DESK_PROPERTIES)
