// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <DeskConfigurationDTO.h>
#include <IConfigurationResettable.h>
#include <RuntimeStore.h>

// The session's thread-safe holder of the desk-link settings.
//
// Its properties, every column of each: \ref desk_properties.
class SESSIONCONFIG_EXPORT DeskRuntimeData : public RuntimeStore<DeskConfigurationDTO, DeskProperty>,
                                             public IConfigurationResettable
{
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
