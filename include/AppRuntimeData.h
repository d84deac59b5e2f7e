// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <AppSettingsDTO.h>
#include <RuntimeStore.h>

// The session's thread-safe holder of the application settings.
//
// The derived URL properties are looked up in the endpoint directory under the shared
// lock and throw std::bad_optional_access when no entry has the current remote type;
// writing one does nothing. UserSettings hands out, and takes in, a shared data-set
// handle: entries written into it later reach the record without this store's lock.
// For change notifications its value is the handle: handing the store another set
// (setData, a restore) is reported; entries written straight into the shared set, and
// clear() emptying it in place, bypass the store's writes and are not.
//
// Its properties, every column of each: \ref app_properties.
class SESSIONCONFIG_EXPORT AppRuntimeData : public RuntimeStore<AppSettingsDTO, AppProperty>
{
public:
    AppRuntimeData();
    // A copy has its own record and lock; only the user-settings set is shared.
    // A copy holds a deep copy of the record with a lock of its own, a move hands the
    // record over; neither takes a lock or carries subscribers.
    //@{
    AppRuntimeData(const AppRuntimeData& other);
    AppRuntimeData(AppRuntimeData&& other) noexcept;
    AppRuntimeData& operator=(const AppRuntimeData& other);
    AppRuntimeData& operator=(AppRuntimeData&& other) noexcept;
    //@}
    ~AppRuntimeData() override;

    // Returns the per-user and provisioned fields to their defaults in place. The
    // application text, remote type, endpoint directory, database sessions path and
    // command-line options stay; the user-settings set stays too, but is emptied, so
    // everyone holding it sees it empty.
    void clear();
};
