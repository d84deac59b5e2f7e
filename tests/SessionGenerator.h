#pragma once

// Fills every settable property of every store of a session with varied values:
// empty and non-ASCII text, extreme integers, date-times with milliseconds and
// offsets, long opt-out lists. Deterministic for a given seed.

#include <SessionData.h>

#include <QDateTime>
#include <QTimeZone>

#include <limits>
#include <random>
#include <set>
#include <type_traits>

class SessionGenerator
{
public:
    explicit SessionGenerator(unsigned seed)
        : m_rng(seed)
    {}

    template <class T> T make()
    {
        if constexpr (std::is_same_v<T, QString>)
            return text();
        else if constexpr (std::is_same_v<T, bool>)
            return pick(2) == 1;
        else if constexpr (std::is_integral_v<T>)
            return integer<T>();
        else if constexpr (std::is_enum_v<T>)
            return static_cast<T>(pick(3) == 0 ? integer<int>() : int(pick(4)));
        else if constexpr (std::is_same_v<T, std::optional<int>>)
            return pick(3) == 0 ? std::optional<int>() : std::optional<int>(integer<int>());
        else if constexpr (std::is_same_v<T, QDateTime>)
            return dateTime();
        else if constexpr (std::is_same_v<T, QByteArray>)
            return text().toUtf8();
        else if constexpr (std::is_same_v<T, std::set<QString>>)
            return messages();
        else if constexpr (std::is_same_v<T, CallerIds>)
            return callerIds();
        else if constexpr (std::is_same_v<T, Endpoints>)
            return endpoints();
        else if constexpr (std::is_same_v<T, CommandLineOptions>)
            return CommandLineOptions{integer<int>(), text(), pick(2) == 1};
        else if constexpr (std::is_same_v<T, DataSets::DataSet>)
            return userSettings();
        else
            static_assert(sizeof(T) == 0, "no generator for this property type");
    }

    // Sets every settable, non-derived property of one store.
    template <class Enum, class Store> void fill(Store& store)
    {
        SessionConfigDetail::PropertyTable<Enum>::forEach([&](auto tag, const char*) {
            using Tag = decltype(tag);
            if constexpr (Tag::settable && !Tag::derived)
                store.template setData<typename Tag::Type, Tag::property>(make<typename Tag::Type>());
        });
    }

    void fill(SessionData& session)
    {
        fill<AppProperty>(*session.getAppSessionData().lock());
        fill<CallFlowProperty>(*session.getCallFlowSessionData().lock());
        fill<ChatProperty>(*session.getChatSessionData().lock());
        fill<PhoneProperty>(*session.getPhoneSessionData().lock());
        fill<UserProperty>(*session.getUserRuntimeData().lock());
        fill<DeskProperty>(*session.getDeskSessionData().lock());
    }

    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(m_rng); }

private:
    template <class T> T integer()
    {
        switch (pick(5)) {
        case 0:
            return std::numeric_limits<T>::min();
        case 1:
            return std::numeric_limits<T>::max();
        case 2:
            return T(0);
        default:
            return std::uniform_int_distribution<long long>(std::numeric_limits<T>::min(),
                                                            std::numeric_limits<T>::max())(m_rng);
        }
    }

    QString text()
    {
        static const QString samples[] = {
            QString(),
            QStringLiteral(""),
            QStringLiteral("ada@example.net"),
            QString::fromUtf8("Zo\xc3\xab M\xc3\xbcller-\xc5\x81\xc3\xb3\x64\xc5\xba"),
            QString::fromUtf8("\xe6\x9d\xb1\xe4\xba\xac \xf0\x9f\x93\x9e"),
            QStringLiteral("  spaced  "),
            QStringLiteral("https://svc/%NEWVALUE%?a=1&b=%INCOMINGMOBILE%"),
            QStringLiteral("line\nbreak\ttab \"quoted\"")};
        QString s = samples[pick(std::size(samples))];
        if (pick(3) == 0)
            s += QString::number(m_rng());
        return s;
    }

    QDateTime dateTime()
    {
        if (pick(4) == 0)
            return QDateTime();
        const qint64 ms = std::uniform_int_distribution<qint64>(0, 4102444800000LL)(m_rng); // 1970..2100
        const int offsetMinutes = int(pick(49)) * 30 - 12 * 60;
        return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone(offsetMinutes * 60));
    }

    std::set<QString> messages()
    {
        std::set<QString> out;
        const unsigned n = pick(4) == 0 ? 40 : pick(12);
        for (unsigned i = 0; i < n; ++i)
            out.insert(text() + QString::number(i));
        return out;
    }

    CallerIds callerIds()
    {
        CallerIds ids;
        for (unsigned i = 0, n = pick(4); i < n; ++i)
            ids.addCallerId(CallerIdDto(integer<int>(), text(), pick(2) == 1));
        ids.setLastUpdated(integer<long long>());
        ids.setReadOnly(pick(2) == 1);
        return ids;
    }

    Endpoints endpoints()
    {
        std::vector<EndpointData> list;
        for (unsigned i = 0, n = pick(4); i < n; ++i)
            list.emplace_back(static_cast<ResourcesDefs::RemoteType>(pick(5)), text(), text(), text(), text(),
                              text());
        return Endpoints(list);
    }

    DataSets::DataSet userSettings()
    {
        DataSets::DataSet ds = DataSets::Impl::createDS(false);
        for (unsigned i = 0, n = pick(5); i < n; ++i)
            DataSets::Impl::setDataValue(*ds, QStringLiteral("setting") + QString::number(i), text());
        if (pick(2) == 0) {
            DataSets::DataSet nested = DataSets::Impl::createDS(false);
            DataSets::Impl::setDataValue(*nested, QStringLiteral("volume"), integer<int>());
            DataSets::Impl::setDataValue(*ds, QStringLiteral("audio"), nested);
        }
        return ds;
    }

    std::mt19937 m_rng;
};
