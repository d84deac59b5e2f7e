// SPDX-License-Identifier: MIT
#include "CallerIds.h"

#include <utility>

CallerIdDto::CallerIdDto(int id, QString number, bool isDefault)
    : m_id(id)
    , m_number(std::move(number))
    , m_isDefault(isDefault)
{}

CallerIdDto::~CallerIdDto() = default;

bool CallerIdDto::operator==(const CallerIdDto& other) const
{
    return m_id == other.m_id && m_number == other.m_number && m_isDefault == other.m_isDefault;
}

CallerIds::~CallerIds() = default;

void CallerIds::addCallerId(const CallerIdDto& callerId)
{
    m_callerIds.push_back(callerId);
}

bool CallerIds::operator==(const CallerIds& other) const
{
    return m_callerIds == other.m_callerIds && m_lastUpdated == other.m_lastUpdated &&
           m_readOnly == other.m_readOnly;
}

void CallerIds::reset()
{
    *this = CallerIds();
}
