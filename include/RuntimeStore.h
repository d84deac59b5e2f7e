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
// and, privately, the guarded record `m_record`. Only the (type, number) pairs listed
// in the store's property table are declared after the class (PropertyTable.h).
//
// A store that can be copied and moved adds SESSIONCONFIG_COPYABLE_STORE(Store): a copy
// holds a deep copy of the record with a lock of its own, a move hands the record
// over, and neither takes a lock.

#include <DataSets.h>
#include <GuardedRecord.h>
#include <IConfigurationResettable.h>
#include <IEncryptedSerializable.h>
#include <PropertyTable.h>

#define SESSIONCONFIG_RUNTIME_STORE(Record, Enum)                      \
public:                                                                \
    using Property = Enum;                                             \
    template <class T, Enum P> T getData() const;                      \
    template <class T, Enum P> void setData(const T& value);           \
    DataSets::DataSet serializeEncrypted() const override;             \
    void deserializeEncrypted(const DataSets::DataSet& ds) override;   \
    DataSets::DataSet serializeUnencrypted() const override;           \
    void deserializeUnencrypted(const DataSets::DataSet& ds) override; \
                                                                       \
private:                                                               \
    GuardedRecord<Record> m_record;

#define SESSIONCONFIG_COPYABLE_STORE(Store) \
    Store(const Store& other);              \
    Store(Store&& other) noexcept;          \
    Store& operator=(const Store& other);   \
    Store& operator=(Store&& other) noexcept;
