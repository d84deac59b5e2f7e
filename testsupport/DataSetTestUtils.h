// SPDX-License-Identifier: MIT
#pragma once

// Test aids for data sets: building small ones, reading them back, comparing two deeply.

#include "DataSetDiff.h"

#include <DataSets.h>
#include <gtest/gtest.h>

#include <QStringList>

#include <initializer_list>
#include <optional>
#include <ostream>
#include <utility>

// Lets failure messages show text instead of raw bytes.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// A keyed set holding the given entries in the given order; nested sets stay shared.
inline DataSets::DataSet setOf(std::initializer_list<std::pair<QString, DataSets::Impl::Value>> entries)
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    for (const auto& [key, value] : entries)
        ds->set(key, value);
    return ds;
}

// The value under a key, when one of kind T is there.
template <class T> std::optional<T> valueOf(const DataSets::DataSet& ds, const QString& key)
{
    T value{};
    return DataSets::Impl::getDataValue(ds.get(), key, value) ? std::optional<T>(value) : std::nullopt;
}

inline QStringList keysOf(const DataSets::DataSet& ds)
{
    QStringList keys;
    DataSets::DataIterator it(ds);
    while (const DataSets::DataIterator* e = it.next())
        keys << e->getKey();
    return keys;
}

// Deep equality (see firstDifference); the failure names the first difference.
inline testing::AssertionResult sameContent(const DataSets::DataSet& a, const DataSets::DataSet& b)
{
    const std::optional<QString> difference = firstDifference(a, b);
    return difference ? testing::AssertionFailure() << "top" << qPrintable(*difference)
                      : testing::AssertionSuccess();
}
