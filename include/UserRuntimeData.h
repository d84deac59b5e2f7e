// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <IConfigurationResettable.h>
#include <RuntimeStore.h>
#include <UserConfigurationDTO.h>

// The session's thread-safe holder of the signed-in user.
//
// Its properties, every column of each: \ref user_properties.
class SESSIONCONFIG_EXPORT UserRuntimeData : public RuntimeStore<UserConfigurationDTO, UserProperty>,
                                             public IConfigurationResettable
{
public:
    UserRuntimeData();
    // A copy holds a deep copy of the record with a lock of its own, a move hands the
    // record over; neither takes a lock or carries subscribers.
    //@{
    UserRuntimeData(const UserRuntimeData& other);
    UserRuntimeData(UserRuntimeData&& other) noexcept;
    UserRuntimeData& operator=(const UserRuntimeData& other);
    UserRuntimeData& operator=(UserRuntimeData&& other) noexcept;
    //@}
    ~UserRuntimeData() override;

    // A user is signed in when the user name, app key and WID are all non-empty.
    bool isValidSession() const;

    // A configuration reset keeps the signed-in user: nothing to do.
    void resetData() override;
    // Sign-out: every field, the password included, back to empty.
    void clear();
};
