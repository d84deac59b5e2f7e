// SPDX-License-Identifier: MIT
#pragma once

// Test aids for the runtime stores, driven by their property tables.

#include "DataSetTestUtils.h"
#include "Provisioning.h"

#include <CommandLineOptions.h>
#include <PropertyTable.h>

#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

// Equality that also tells a null string from an empty one and compares sets deeply.
template <class T> bool sameValue(const T& a, const T& b)
{
    if constexpr (std::is_same_v<T, QString>)
        return a == b && a.isNull() == b.isNull();
    else if constexpr (std::is_same_v<T, DataSets::DataSet>)
        return bool(sameContent(a, b));
    else
        return a == b;
}

// A value of the same type that differs from `v`: a provisioning sample where those
// vary, otherwise the flag negated, the next enumerator, or every option changed.
template <class T> T otherThan(const T& v)
{
    if constexpr (std::is_same_v<T, bool>) {
        return !v;
    } else if constexpr (std::is_enum_v<T>) {
        return static_cast<T>(static_cast<int>(v) + 1);
    } else if constexpr (std::is_same_v<T, CommandLineOptions>) {
        return CommandLineOptions{v.logLevel + 1, otherThan(v.configFile), !v.forceUpdate};
    } else {
        for (int n = 0; n < 2; ++n) {
            T sample = Provisioning::sample<T>(n);
            if (!sameValue(sample, v))
                return sample;
        }
        throw std::logic_error("two samples alike");
    }
}

template <class S, class = void> constexpr bool kHasClear = false;
template <class S> constexpr bool kHasClear<S, std::void_t<decltype(std::declval<S&>().clear())>> = true;

using Names = std::vector<std::string>;
using AllStores = testing::Types<AppRuntimeData, CallFlowRuntimeData, ChatRuntimeData, DeskRuntimeData,
                                 PhoneRuntimeData, UserRuntimeData>;

// Sets every held row of `store` to a value unlike `from`'s; text gets "-" and the row's name.
template <class Enum, class Store> void changeEvery(Store& store, const Store& from = Store())
{
    forEachHeld<Enum>([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        const T current = from.template getData<T, Tag::property>();
        if constexpr (std::is_same_v<T, QString>) // text tells the properties apart
            store.template setData<T, Tag::property>(current + QLatin1Char('-') + QLatin1String(name));
        else
            store.template setData<T, Tag::property>(otherThan(current));
    });
}

// The names of the held properties on which `a` and `b` disagree, in table order.
template <class Enum, class Store> Names differing(const Store& a, const Store& b)
{
    Names out;
    forEachHeld<Enum>([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        if (!sameValue(a.template getData<T, Tag::property>(), b.template getData<T, Tag::property>()))
            out.push_back(name);
    });
    return out;
}
