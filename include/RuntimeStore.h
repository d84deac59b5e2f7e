// SPDX-License-Identifier: MIT
#pragma once

#include <ChangeSubscription.h>
#include <DataSets.h>
#include <IEncryptedSerializable.h>
#include <ObservedRecord.h>
#include <PropertyTable.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

class QObject;

namespace SessionConfigDetail {

// Whether a row reads differently from two states of a record. A derived getter may
// throw (no endpoint of the current remote type): a throw is a value of its own, equal
// to another throw and different from any value, and never leaves the comparison.
template <bool MayThrow, class Read, class Record>
bool differ(const Read& read, const Record& before, const Record& after)
{
    if constexpr (MayThrow) {
        using Value = std::decay_t<decltype(read(before))>;
        const auto outcome = [&read](const Record& r) -> std::optional<Value> {
            try {
                return read(r);
            } catch (...) {
                return std::nullopt;
            }
        };
        return !(outcome(before) == outcome(after));
    } else {
        return !(read(before) == read(after));
    }
}

} // namespace SessionConfigDetail

// Which properties differ between two states of a record, row by row from its table.
template <class Record> struct RecordChanges
{
    // One bit per property number whose value differs.
    static std::uint64_t between(const Record& before, const Record& after)
    {
        std::uint64_t changed = 0;
        // Held rows first. Every field of a record is a row, and a derived row is computed
        // from fields: when no held row differs, no derived one can, and its getters (which
        // may throw, at some cost) need not run.
        for (const bool derivedPass : {false, true}) {
            if (derivedPass && !changed)
                break;
            SessionConfigDetail::forEachRow<Record>([&](auto tag) {
                using Tag = decltype(tag);
                const auto read = [](const Record& r) -> decltype(auto) { return Tag::descriptor.read(r); };
                if (Tag::derived == derivedPass &&
                    SessionConfigDetail::differ<Tag::derived>(read, before, after))
                    changed |= std::uint64_t(1) << static_cast<int>(Tag::property);
            });
        }
        return changed;
    }
};

// What every runtime store offers alike: one record of type Record behind a
// reader-writer lock, its properties numbered by the enumeration Enum.
//
// getData and setData exist only for the (type, property) pairs of the record's table
// (PropertyTable.h); any other pair stops the build at its static_assert. Reads hold
// the shared lock, writes the exclusive one; no operation holds two locks.
//
// Change notifications. `onChange` is called once for each property whose value a
// write changed: setData of an equal value reports nothing; a restore
// (deserialize*), resetData() and clear() report every property that differs before
// and after; a derived property is reported when its computed value changes (a getter
// that throws counts as a value of its own), and a whole-record property whenever any
// of its fields changes. The first form of subscribe runs `onChange` on the writing
// thread right after the store's lock is released; the second runs it on `context`'s
// thread (directly when the writer is that thread, queued through its event loop
// otherwise) until `context` is destroyed. Callbacks never run under a store or
// session lock, so they may call any operation of the same store or session; the
// changes one thread makes reach each subscriber in the order they were made. A
// callback should not throw: if one does, the write still completes and returns
// normally, everyone else is told, and the exception goes to
// ChangeSubscription::setExceptionHandler's handler (dropped without one). Copying or
// moving a store carries no subscribers and reports nothing. Keep the returned handle:
// dropping it cancels.
template <class Record, class Enum> class RuntimeStore : public IEncryptedSerializable
{
    using Table = SessionConfigDetail::PropertyTable<Enum>;

public:
    using Property = Enum;     // the store's property enumeration
    using RecordType = Record; // the record the store holds

    // The value of property P, of type T, under the shared lock. A derived property
    // is computed from the record under the same lock.
    template <class T, Enum P> T getData() const
    {
        using Tag = typename Table::template TagOf<P>;
        if constexpr (std::is_same_v<T, typename Tag::Type>) {
            return m_record.read([](const Record& r) -> T { return Tag::descriptor.read(r); });
        } else {
            static_assert(SessionConfigDetail::kListedPair<T, P>, "no such (type, property) pair");
            return T();
        }
    }

    // Replaces the value of property P, of type T, under the exclusive lock and
    // reports the change. A derived property is computed from other fields: setting
    // it does nothing and takes no lock.
    template <class T, Enum P> void setData(const T& value)
    {
        using Tag = typename Table::template TagOf<P>;
        if constexpr (std::is_same_v<T, typename Tag::Type> && Tag::settable) {
            if constexpr (!Tag::derived)
                m_record.write([&value](Record& r) { r.*(Tag::descriptor.access) = value; });
            else
                (void)value;
        } else {
            static_assert(SessionConfigDetail::kListedPair<T, P>, "no settable (type, property) pair");
        }
    }

    // The stored entries of the encrypted part, written under the shared lock.
    DataSets::DataSet serializeEncrypted() const override
    {
        return m_record.read([](const Record& r) { return r.serializeEncrypted(); });
    }
    // Takes back the encrypted part under the exclusive lock and reports what changed.
    void deserializeEncrypted(const DataSets::DataSet& ds) override
    {
        m_record.write([&ds](Record& r) { r.deserializeEncrypted(ds); });
    }
    // The stored entries of the plain part, written under the shared lock.
    DataSets::DataSet serializeUnencrypted() const override
    {
        return m_record.read([](const Record& r) { return r.serializeUnencrypted(); });
    }
    // Takes back the plain part under the exclusive lock and reports what changed.
    void deserializeUnencrypted(const DataSets::DataSet& ds) override
    {
        m_record.write([&ds](Record& r) { r.deserializeUnencrypted(ds); });
    }

    // Calls `onChange` on the writing thread for each property a write changed.
    [[nodiscard]] ChangeSubscription subscribe(std::function<void(Enum)> onChange)
    {
        return subscribe(nullptr, std::move(onChange));
    }
    // Calls `onChange` on `context`'s thread for each property a write changed,
    // until `context` is destroyed.
    [[nodiscard]] ChangeSubscription subscribe(QObject* context, std::function<void(Enum)> onChange)
    {
        if (!onChange)
            return ChangeSubscription();
        return m_record.subscribe(context,
                                  [f = std::move(onChange)](int number) { f(static_cast<Enum>(number)); });
    }

protected:
    // A store of a default record.
    RuntimeStore() = default;
    // A store whose record `init` prepares before anyone can reach it.
    template <class F>
    RuntimeStore(std::in_place_t, F&& init)
        : m_record(std::in_place, std::forward<F>(init))
    {}
    RuntimeStore(const RuntimeStore&) = default;
    RuntimeStore(RuntimeStore&&) noexcept = default;
    RuntimeStore& operator=(const RuntimeStore&) = default;
    RuntimeStore& operator=(RuntimeStore&&) noexcept = default;
    ~RuntimeStore() override = default;

    // The record, its lock and its subscribers.
    ObservedRecord<Record> m_record;
};
