// SPDX-License-Identifier: MIT
#pragma once

#include "commondefs_export.h"

#include <QString>

#include <cstdint>
#include <vector>

// One identity the user may present on outgoing calls. A plain value without a lock.
class COMMONDEFS_EXPORT CallerIdDto
{
public:
    CallerIdDto() = default;
    // An identity with its provisioned id, number and whether it is the default one.
    CallerIdDto(int id, QString number, bool isDefault);
    CallerIdDto(const CallerIdDto&) = default;
    CallerIdDto(CallerIdDto&&) noexcept = default;
    CallerIdDto& operator=(const CallerIdDto&) = default;
    CallerIdDto& operator=(CallerIdDto&&) noexcept = default;
    virtual ~CallerIdDto();

    // The values given at construction.
    //@{
    int getId() const { return m_id; }
    QString getNumber() const { return m_number; }
    bool isDefault() const { return m_isDefault; }
    //@}

    // All three members compared.
    //@{
    bool operator==(const CallerIdDto& other) const;
    bool operator!=(const CallerIdDto& other) const { return !(*this == other); }
    //@}

private:
    int m_id = 0;
    QString m_number;
    bool m_isDefault = false;
};

// The ordered list of caller identities, with the time it was last provisioned
// (milliseconds since the epoch) and whether the user may change the choice. A plain
// value without a lock: the store that holds it guards it.
class COMMONDEFS_EXPORT CallerIds
{
public:
    CallerIds() = default;
    CallerIds(const CallerIds&) = default;
    CallerIds(CallerIds&&) noexcept = default;
    CallerIds& operator=(const CallerIds&) = default;
    CallerIds& operator=(CallerIds&&) noexcept = default;
    virtual ~CallerIds();

    // Appends one identity; order is kept and nothing is de-duplicated.
    void addCallerId(const CallerIdDto& callerId);
    // The identities in the order they were added.
    const std::vector<CallerIdDto>& getCallerIds() const { return m_callerIds; }

    // When the list was last provisioned (milliseconds since the epoch) and whether
    // the user may change the choice.
    //@{
    std::int64_t getLastUpdated() const { return m_lastUpdated; }
    void setLastUpdated(std::int64_t msecsSinceEpoch) { m_lastUpdated = msecsSinceEpoch; }
    bool isReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    //@}

    // The list element by element (all three members), then both further members.
    //@{
    bool operator==(const CallerIds& other) const;
    bool operator!=(const CallerIds& other) const { return !(*this == other); }
    //@}

    // Back to the empty default: no identities, both further members zero.
    void reset();

private:
    std::vector<CallerIdDto> m_callerIds;
    std::int64_t m_lastUpdated = 0;
    bool m_readOnly = false;
};
