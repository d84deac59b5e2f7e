#pragma once

// Test aids for the runtime stores, driven by their property tables: a value other
// than a given one for every property type, changing every property of a store at
// once, and naming the properties on which two stores disagree.

#include "DataSetTestUtils.h"

#include <CallerIds.h>
#include <CommandLineOptions.h>
#include <Endpoints.h>
#include <PropertyTable.h>

#include <QByteArray>
#include <QDateTime>

#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

// A value of the same type that differs from `v` in every part that can differ.
template <class T> T otherThan(const T& v)
{
    if constexpr (std::is_same_v<T, bool>)
        return !v;
    else if constexpr (std::is_arithmetic_v<T>)
        return static_cast<T>(v + 7);
    else if constexpr (std::is_enum_v<T>)
        return static_cast<T>(static_cast<int>(v) + 1);
    else if constexpr (std::is_same_v<T, QString> || std::is_same_v<T, QByteArray>)
        return v + "-changed";
    else if constexpr (std::is_same_v<T, std::optional<int>>)
        return v ? std::nullopt : std::optional<int>(0);
    else if constexpr (std::is_same_v<T, QDateTime>)
        return v.isValid() ? v.addMSecs(1) : QDateTime(QDate(2024, 2, 29), QTime(13, 14, 15, 678), Qt::UTC);
    else if constexpr (std::is_same_v<T, std::set<QString>>) {
        T out = v;
        out.insert(QStringLiteral("changed %1").arg(v.size()));
        return out;
    } else if constexpr (std::is_same_v<T, CallerIds>) {
        T out = v;
        out.addCallerId(CallerIdDto(7, QStringLiteral("+39 07"), true));
        out.setLastUpdated(v.getLastUpdated() + 7);
        out.setReadOnly(!v.isReadOnly());
        return out;
    } else if constexpr (std::is_same_v<T, Endpoints>) {
        std::vector<EndpointData> list = v.getEndpointVector();
        list.emplace_back(ResourcesDefs::RemoteType::Production, "ws", "analytics", "news", "reset", "offer");
        return Endpoints(list);
    } else if constexpr (std::is_same_v<T, CommandLineOptions>)
        return CommandLineOptions{v.logLevel + 1, otherThan(v.configFile), !v.forceUpdate};
    else if constexpr (std::is_same_v<T, DataSets::DataSet>)
        return setOf({{QStringLiteral("size"), (v ? v->size() : 0) + 1}}); // a new set, other content
    else
        static_assert(sizeof(T) == 0, "no other value for this property type");
}

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

// Calls f(tag, name) for each property that holds a value of its own: settable and
// not derived from others.
template <class Enum, class F> void forEachHeld(F&& f)
{
    SessionConfigDetail::PropertyTable<Enum>::forEach([&](auto tag, const char* name) {
        if constexpr (decltype(tag)::settable && !decltype(tag)::derived)
            f(tag, name);
    });
}

template <class Enum> std::size_t heldCount()
{
    std::size_t n = 0;
    forEachHeld<Enum>([&n](auto, const char*) { ++n; });
    return n;
}

template <class S, class = void> constexpr bool kHasClear = false;
template <class S> constexpr bool kHasClear<S, std::void_t<decltype(std::declval<S&>().clear())>> = true;

using Names = std::vector<std::string>;

// Sets every held property of `store` to a value other than the one `from` holds; text
// becomes `from`'s text followed by "-" and the property's name.
template <class Enum, class Store> void changeEvery(Store& store, const Store& from)
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

template <class Enum, class Store> void changeEvery(Store& store)
{
    changeEvery<Enum>(store, Store());
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
