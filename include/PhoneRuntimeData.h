// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <IConfigurationResettable.h>
#include <PhoneConfigurationDTO.h>
#include <RuntimeStore.h>

#include <QDateTime>
#include <QString>

#include <optional>

// The session's thread-safe holder of the phone settings. The rights value is
// read and written whole (property Licence); callers test the CTI and soft-phone
// bits themselves.
//
// Its properties, every column of each: \ref phone_properties.
class SESSIONCONFIG_EXPORT PhoneRuntimeData : public RuntimeStore<PhoneConfigurationDTO, PhoneProperty>,
                                              public IConfigurationResettable
{
public:
    PhoneRuntimeData();
    // A copy holds a deep copy of the record with a lock of its own, a move hands the
    // record over; neither takes a lock or carries subscribers.
    //@{
    PhoneRuntimeData(const PhoneRuntimeData& other);
    PhoneRuntimeData(PhoneRuntimeData&& other) noexcept;
    PhoneRuntimeData& operator=(const PhoneRuntimeData& other);
    PhoneRuntimeData& operator=(PhoneRuntimeData&& other) noexcept;
    //@}
    ~PhoneRuntimeData() override;

    // Drops the connection settings that come with each provisioning (the rows marked
    // dropOnReset in PhoneConfigurationDTO::properties()); the rest stays.
    void resetData() override;
    // Every field back to its default.
    void clear();
};
