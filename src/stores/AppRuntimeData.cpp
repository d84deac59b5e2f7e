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
    : RuntimeStore(std::in_place, makeDefault)
{}

AppRuntimeData::AppRuntimeData(const AppRuntimeData&) = default;
AppRuntimeData::AppRuntimeData(AppRuntimeData&&) noexcept = default;
AppRuntimeData& AppRuntimeData::operator=(const AppRuntimeData&) = default;
AppRuntimeData& AppRuntimeData::operator=(AppRuntimeData&&) noexcept = default;
AppRuntimeData::~AppRuntimeData() = default;

// The rows marked DROP go back to the store's defaults, the user settings (EMPTY) are
// emptied in place.
void AppRuntimeData::clear()
{
    m_record.write([](RecordType& record) {
        RecordType fresh;
        makeDefault(fresh);
        StoreRows::reset(record, fresh);
    });
}
