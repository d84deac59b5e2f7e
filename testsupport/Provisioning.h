// SPDX-License-Identifier: MIT
#pragma once

// Fills every held property of a store, or of a whole session, with values shaped like
// provisioned ones: texts of typical length, short lists, a small endpoint directory.

#include <CallerIds.h>
#include <EndpointData.h>
#include <Endpoints.h>
#include <PropertyTable.h>
#include <SessionData.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>
#include <set>
#include <type_traits>

// Calls f(tag, name) for each held row: settable, not derived from others.
template <class Enum, class F> void forEachHeld(F&& f)
{
    SessionConfigDetail::PropertyTable<Enum>::forEach([&](auto tag, const char* name) {
        if constexpr (decltype(tag)::settable && !decltype(tag)::derived)
            f(tag, name);
    });
}

namespace Provisioning {

template <class T> T sample(int n)
{
    if constexpr (std::is_same_v<T, bool>) {
        return true;
    } else if constexpr (std::is_enum_v<T>) {
        return static_cast<T>(1);
    } else if constexpr (std::is_integral_v<T> || std::is_same_v<T, std::optional<int>>) {
        return static_cast<T>(n + 1);
    } else if constexpr (std::is_same_v<T, QString>) {
        return QStringLiteral("https://provisioning.example.net/v2/value-%1").arg(n);
    } else if constexpr (std::is_same_v<T, QByteArray>) {
        return QByteArray(32, 'k') + QByteArray::number(n);
    } else if constexpr (std::is_same_v<T, QDateTime>) {
        return QDateTime::fromMSecsSinceEpoch(1700000000000LL + n, Qt::UTC);
    } else if constexpr (std::is_same_v<T, std::set<QString>>) {
        return {sample<QString>(n), sample<QString>(n + 1000), sample<QString>(n + 2000)};
    } else if constexpr (std::is_same_v<T, CallerIds>) {
        CallerIds ids;
        for (int i = 0; i < 3; ++i)
            ids.addCallerId(CallerIdDto(i, QStringLiteral("+4930123456%1").arg(n + i), i == 0));
        ids.setLastUpdated(1700000000000LL);
        return ids;
    } else if constexpr (std::is_same_v<T, EndpointData>) {
        return EndpointData(static_cast<ResourcesDefs::RemoteType>(1), sample<QString>(n),
                            sample<QString>(n + 1), sample<QString>(n + 2), sample<QString>(n + 3),
                            sample<QString>(n + 4));
    } else if constexpr (std::is_same_v<T, Endpoints>) {
        return Endpoints{sample<EndpointData>(n), sample<EndpointData>(n + 10)};
    } else if constexpr (std::is_same_v<T, DataSets::DataSet>) {
        DataSets::DataSet ds = DataSets::Impl::createDS();
        DataSets::Impl::setDataValue(*ds, QStringLiteral("theme"), sample<QString>(n));
        DataSets::Impl::setDataValue(*ds, QStringLiteral("notifications"), true);
        return ds;
    } else {
        return T{};
    }
}

// A held row's place among the held rows in number order, whatever the table's order.
template <class Enum> constexpr int heldRank(int number)
{
    int rank = 0;
    for (const SessionConfigDetail::PropertyRow& row : SessionConfigDetail::PropertyTable<Enum>::rows)
        rank += row.settable && !row.derived && row.number < number;
    return rank;
}

template <class Store> void provision(Store& store)
{
    using Enum = typename Store::Property;
    forEachHeld<Enum>([&store](auto tag, const char*) {
        using Tag = decltype(tag);
        store.template setData<typename Tag::Type, Tag::property>(
            sample<typename Tag::Type>(heldRank<Enum>(static_cast<int>(Tag::property))));
    });
}

inline void provision(SessionData& session)
{
    provision(*session.getAppSessionData().lock());
    provision(*session.getCallFlowSessionData().lock());
    provision(*session.getChatSessionData().lock());
    provision(*session.getPhoneSessionData().lock());
    provision(*session.getUserRuntimeData().lock());
    provision(*session.getDeskSessionData().lock());
}

} // namespace Provisioning
