#pragma once

#include "sessionconfig_export.h"

#include <DeskConfigurationDTO.h>
#include <RuntimeStore.h>

// enumerator, number, value type, kind, record field
#define DESK_PROPERTIES(ROW, X)                                \
    ROW(X, Host, 0, QString, FIELD, m_host)                    \
    ROW(X, Port, 1, unsigned short, FIELD, m_port)             \
    ROW(X, Tls, 2, bool, FIELD, m_tls)                         \
    ROW(X, SIPDebugEnabled, 3, bool, FIELD, m_sipDebugEnabled) \
    ROW(X, Enabled, 4, bool, FIELD, m_enabled)

SESSIONCONFIG_PROPERTY_ENUM(DeskProperty, DESK_PROPERTIES)

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

SESSIONCONFIG_STORE_PROPERTIES(DeskRuntimeData, DeskProperty, DESK_PROPERTIES)
