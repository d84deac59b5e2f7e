// SPDX-License-Identifier: MIT
#pragma once

// What every runtime store declares alike, written once. A store's class opens with
//
//   SESSIONCONFIG_RUNTIME_STORE(UserConfigurationDTO, UserProperty)
//
// which declares, publicly:
//   using Property = UserProperty;
//   template <class T, UserProperty P> T getData() const;      // shared lock
//   template <class T, UserProperty P> void setData(const T&); // exclusive lock
//   serializeEncrypted() const, serializeUnencrypted() const   // shared lock
//   deserializeEncrypted(ds), deserializeUnencrypted(ds)       // exclusive lock
//   subscribe(onChange), subscribe(context, onChange)          // change notifications
// and, privately, the observed record `m_record`. Only the (type, number) pairs listed
// in the store's property table are specialized after the class (PropertyTable.h); any
// other pair stops the build at its static_assert.
//
// Change notifications. `onChange` is called once for each property whose value a
// write changed: setData of an equal value reports nothing; a restore
// (deserialize*), resetData() and clear() report every property that differs before
// and after; a derived property is reported when its computed value changes (a getter
// that throws counts as a value of its own), and a whole-record property whenever any
// of its fields changes. The first form runs `onChange` on the writing thread right
// after the store's lock is released; the second runs it on `context`'s thread
// (directly when the writer is that thread, queued through its event loop otherwise)
// until `context` is destroyed. Callbacks never run under a store or session lock, so
// they may call any operation of the same store or session; the changes one thread
// makes reach each subscriber in the order they were made. A callback should not
// throw: if one does, the write still completes and returns normally, everyone else
// is told, and the exception goes to ChangeSubscription::setExceptionHandler's handler
// (dropped without one). Copying or moving a store carries no
// subscribers and reports nothing. Keep the returned handle: dropping it cancels.
//
// A store that can be copied and moved adds SESSIONCONFIG_COPYABLE_STORE(Store): a copy
// holds a deep copy of the record with a lock of its own, a move hands the record
// over, and neither takes a lock.

#include <ChangeSubscription.h>
#include <DataSets.h>
#include <IConfigurationResettable.h>
#include <IEncryptedSerializable.h>
#include <ObservedRecord.h>
#include <PropertyTable.h>

#include <functional>

class QObject;

#define SESSIONCONFIG_RUNTIME_STORE(Record, Enum)                                                     \
public:                                                                                               \
    using Property = Enum;                                                                            \
    using RecordType = Record;                                                                        \
    template <class T, Enum P> T getData() const                                                      \
    {                                                                                                 \
        static_assert(SessionConfigDetail::kListedPair<T, P>, "no such (type, property) pair");       \
        return T();                                                                                   \
    }                                                                                                 \
    template <class T, Enum P> void setData(const T&)                                                 \
    {                                                                                                 \
        static_assert(SessionConfigDetail::kListedPair<T, P>, "no settable (type, property) pair");   \
    }                                                                                                 \
    DataSets::DataSet serializeEncrypted() const override;                                            \
    void deserializeEncrypted(const DataSets::DataSet& ds) override;                                  \
    DataSets::DataSet serializeUnencrypted() const override;                                          \
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;                                \
    [[nodiscard]] ChangeSubscription subscribe(std::function<void(Enum)> onChange);                   \
    [[nodiscard]] ChangeSubscription subscribe(QObject* context, std::function<void(Enum)> onChange); \
                                                                                                      \
private:                                                                                              \
    /* One row's value read from a record, the same for getData and for change detection. */          \
    template <class T, Enum P> static decltype(auto) readRow(const Record& r);                        \
    friend struct RecordChanges<Record>;                                                              \
    ObservedRecord<Record> m_record;

#define SESSIONCONFIG_COPYABLE_STORE(Store) \
    Store(const Store& other);              \
    Store(Store&& other) noexcept;          \
    Store& operator=(const Store& other);   \
    Store& operator=(Store&& other) noexcept;
