// SPDX-License-Identifier: MIT
#include <AppRuntimeData.h>

#include "../contract/StoreProperties.h"

namespace {
// A new store's record: the defaults of the record, with the store's own timeout.
void makeDefault(AppSettingsDTO& r)
{
    r.setNextTimeout(AppSettingsDTO::kDefaultNextTimeout);
}
} // namespace

AppRuntimeData::AppRuntimeData()
    : m_record(std::in_place, makeDefault)
{}

SESSIONCONFIG_DEFINE_COPY_AND_MOVE(AppRuntimeData)
AppRuntimeData::~AppRuntimeData() = default;

SESSIONCONFIG_APP_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, AppRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(AppRuntimeData)

// The rows marked DROP go back to the store's defaults, the user settings (EMPTY) are
// emptied in place.
void AppRuntimeData::clear()
{
    m_record.write([](RecordType& record) {
        RecordType fresh;
        makeDefault(fresh);
        SESSIONCONFIG_APP_PROPERTIES(SESSIONCONFIG_RESET_ROW, ~)
    });
}
