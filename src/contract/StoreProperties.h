// SPDX-License-Identifier: MIT
#pragma once

// What the stores' sources share beyond their tables.

#include <DataSets.h>
#include <PropertyTable.h>

namespace StoreRows {

// A reset from the table: the rows that drop on reset take their value from `fresh`,
// a held data set that empties on reset is emptied in place (so everyone sharing it
// sees it empty), the others stay.
template <class Record> void reset(Record& record, const Record& fresh)
{
    using SessionConfigDetail::ResetRule;
    SessionConfigDetail::forEachRow<Record>([&](auto tag) {
        using Tag = decltype(tag);
        constexpr auto member = Tag::descriptor.access;
        if constexpr (Tag::row.reset == ResetRule::Drop) {
            record.*member = fresh.*member;
        } else if constexpr (Tag::row.reset == ResetRule::Empty) {
            if (record.*member)
                DataSets::Impl::clearDataObjects(*(record.*member));
        }
    });
}

} // namespace StoreRows
