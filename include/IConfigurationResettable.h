// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

// A store whose provisioned values can be dropped on a configuration reset while
// the values kept between runs stay. Implementations take their own locks.
class SESSIONCONFIG_EXPORT IConfigurationResettable
{
public:
    virtual ~IConfigurationResettable();

    // Drops the provisioned values; what is kept between runs stays.
    virtual void resetData() = 0;

protected:
    IConfigurationResettable() = default;
    IConfigurationResettable(const IConfigurationResettable&) = default;
    IConfigurationResettable(IConfigurationResettable&&) = default;
    IConfigurationResettable& operator=(const IConfigurationResettable&) = default;
    IConfigurationResettable& operator=(IConfigurationResettable&&) = default;
};
