// SPDX-License-Identifier: MIT
#pragma once

// One deep comparison of data sets for tests, benchmarks and fuzz targets: the first
// difference as text ("/a/b: value differs"), or nothing when both hold the same.

#include <DataSets.h>

#include <QString>

#include <optional>
#include <vector>

inline std::optional<QString> firstDifference(const DataSets::DataSet& a, const DataSets::DataSet& b)
{
    if (!a || !b)
        return a == b ? std::nullopt : std::optional<QString>(QStringLiteral(": one set is null"));
    if (a->isList() != b->isList())
        return QStringLiteral(": a list set and a keyed set");
    const std::vector<DataSets::Impl::Entry> entries = a->entries();
    if (entries.size() != static_cast<size_t>(b->size()))
        return QStringLiteral(": %1 entries against %2").arg(entries.size()).arg(b->size());
    for (const DataSets::Impl::Entry& e : entries) {
        DataSets::Impl::Value other;
        if (!b->value(e.key, other))
            return QStringLiteral("/%1: only on one side").arg(e.key);
        if (e.value.index() != other.index())
            return QStringLiteral("/%1: kind of value differs").arg(e.key);
        if (const auto* nested = std::get_if<DataSets::DataSet>(&e.value)) {
            if (auto inner = firstDifference(*nested, std::get<DataSets::DataSet>(other)))
                return QStringLiteral("/%1%2").arg(e.key, *inner);
        } else if (e.value != other) {
            return QStringLiteral("/%1: values differ").arg(e.key);
        }
    }
    return std::nullopt;
}
