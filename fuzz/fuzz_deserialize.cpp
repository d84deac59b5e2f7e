// SPDX-License-Identifier: MIT
// Arbitrary stored sets, read by every record, every store and the session: nothing
// may crash, and whatever a subject makes of its input must survive a second trip:
// serialize, read into a fresh subject, serialize again, and the sets are equal.
#include "FuzzSupport.h"

#include <AppRuntimeData.h>
#include <AppSettingsDTO.h>
#include <CallFlowConfigurationDTO.h>
#include <CallFlowRuntimeData.h>
#include <ChatConfigurationDTO.h>
#include <ChatRuntimeData.h>
#include <DeskConfigurationDTO.h>
#include <DeskRuntimeData.h>
#include <PhoneConfigurationDTO.h>
#include <PhoneRuntimeData.h>
#include <SessionData.h>
#include <UserConfigurationDTO.h>
#include <UserRuntimeData.h>

#include <utility>
#include <vector>

namespace {

using DataSets::DataSet;
using Stored = std::pair<DataSet, DataSet>; // encrypted, plain

DataSet nestedUnder(const DataSet& ds, const QString& key)
{
    DataSet out = DataSets::Impl::createDS();
    DataSets::Impl::getDataValue(ds.get(), key, out);
    return out;
}

DataSet deepCopy(const DataSet& ds)
{
    DataSet copy = DataSets::Impl::createDS(ds->isList());
    for (const DataSets::Impl::Entry& e : ds->entries()) {
        if (const auto* nested = std::get_if<DataSet>(&e.value))
            copy->set(e.key, deepCopy(*nested));
        else
            copy->set(e.key, e.value);
    }
    return copy;
}

void requireSame(const DataSet& a, const DataSet& b, const QString& what)
{
    QString where;
    if (!Fuzz::sameSet(a, b, &where))
        Fuzz::fail(QStringLiteral("%1 differ at %2\nfirst:\n%3\nsecond:\n%4")
                       .arg(what, where, Fuzz::dump(a), Fuzz::dump(b)));
}

template <class T> Stored store(const T& subject)
{
    return {subject.serializeEncrypted(), subject.serializeUnencrypted()};
}

// Reads the input into a fresh subject and returns what it stores, after checking that
// a second fresh subject reading that stores it unchanged.
template <class T> Stored roundTrip(const QString& name, const Stored& input)
{
    T first;
    first.deserializeEncrypted(input.first);
    first.deserializeUnencrypted(input.second);
    const Stored once = store(first);

    T second;
    second.deserializeEncrypted(once.first);
    second.deserializeUnencrypted(once.second);
    const Stored twice = store(second);

    requireSame(once.first, twice.first, name + QStringLiteral(": encrypted sets of two trips"));
    requireSame(once.second, twice.second, name + QStringLiteral(": plain sets of two trips"));
    return once;
}

// A record and the store that holds it, given the whole input and, for a domain the
// session keeps, the part stored under the domain's key: the store must store what its
// record stores. Returns what the store made of that part.
template <class Record, class Store>
Stored domain(const char* record, const char* runtime, const QString& key, const Stored& input)
{
    std::vector<Stored> parts{input};
    if (!key.isEmpty())
        parts.push_back({nestedUnder(input.first, key), nestedUnder(input.second, key)});
    Stored byStore;
    for (const Stored& part : parts) {
        const Stored byRecord = roundTrip<Record>(QString::fromLatin1(record), part);
        byStore = roundTrip<Store>(QString::fromLatin1(runtime), part);
        requireSame(byRecord.first, byStore.first,
                    QStringLiteral("%1 and %2: encrypted sets").arg(record, runtime));
        requireSame(byRecord.second, byStore.second,
                    QStringLiteral("%1 and %2: plain sets").arg(record, runtime));
    }
    return byStore;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Fuzz::SetBuilder builder(data, size);
    const DataSet encrypted = builder.next();
    const DataSet plain = builder.next();
    const Stored input{encrypted, plain};
    const Stored pristine{deepCopy(encrypted), deepCopy(plain)};

    const std::pair<QString, Stored> parts[] = {
        {QStringLiteral("app"), domain<AppSettingsDTO, AppRuntimeData>("AppSettingsDTO", "AppRuntimeData",
                                                                       QStringLiteral("app"), input)},
        {QStringLiteral("chat"),
         domain<ChatConfigurationDTO, ChatRuntimeData>("ChatConfigurationDTO", "ChatRuntimeData",
                                                       QStringLiteral("chat"), input)},
        {QStringLiteral("phone"),
         domain<PhoneConfigurationDTO, PhoneRuntimeData>("PhoneConfigurationDTO", "PhoneRuntimeData",
                                                         QStringLiteral("phone"), input)},
        {QStringLiteral("user"),
         domain<UserConfigurationDTO, UserRuntimeData>("UserConfigurationDTO", "UserRuntimeData",
                                                       QStringLiteral("user"), input)},
        {QStringLiteral("desk"),
         domain<DeskConfigurationDTO, DeskRuntimeData>("DeskConfigurationDTO", "DeskRuntimeData",
                                                       QStringLiteral("desk"), input)},
    };
    // The call-flow configuration is provisioned anew at every start, so it has no key.
    domain<CallFlowConfigurationDTO, CallFlowRuntimeData>("CallFlowConfigurationDTO", "CallFlowRuntimeData",
                                                          QString(), input);

    // The session hands each store the part under its key and files what the store
    // writes under the same key.
    const Stored bySession = roundTrip<SessionData>(QStringLiteral("SessionData"), input);
    for (const auto& [key, byStore] : parts) {
        requireSame(nestedUnder(bySession.first, key), byStore.first,
                    QStringLiteral("the session's encrypted \"%1\" and its store's set").arg(key));
        requireSame(nestedUnder(bySession.second, key), byStore.second,
                    QStringLiteral("the session's plain \"%1\" and its store's set").arg(key));
    }

    // Reading never writes into the sets it is given.
    requireSame(pristine.first, encrypted, QStringLiteral("the encrypted input before and after reading"));
    requireSame(pristine.second, plain, QStringLiteral("the plain input before and after reading"));
    return 0;
}
