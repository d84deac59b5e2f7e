// SPDX-License-Identifier: MIT
// A property table that breaks one of its rules must stop the build. The tests compile
// this file once per fault; without one it must build, so a failure is the fault's.
#include <PropertyTable.h>

#include <tuple>

enum class ProbeProperty : int {
    Interval = 0, // a member's row
    Name = 1,     // another member's row
#if defined(ENUMERATOR_WITHOUT_ROW)
    Forgotten = 2, // no row lists it
#endif
};

class ProbeRecord
{
public:
    static constexpr auto properties();

private:
    int m_interval = 0;
    int m_name = 0;
};

constexpr auto ProbeRecord::properties()
{
    using SessionConfigDetail::field;
    using R = ProbeRecord;
#if defined(ROW_TYPE_NOT_MEMBER_TYPE)
    // A long long row over an int member would truncate silently.
    return std::make_tuple(field<ProbeProperty::Interval, long long>(&R::m_interval),
                           field<ProbeProperty::Name, int>(&R::m_name));
#elif defined(TWO_ROWS_ONE_NUMBER)
    return std::make_tuple(field<ProbeProperty::Interval, int>(&R::m_interval),
                           field<ProbeProperty::Interval, int>(&R::m_name));
#elif defined(TWO_ROWS_ONE_KEY)
    return std::make_tuple(field<ProbeProperty::Interval, int>(&R::m_interval).plain("interval"),
                           field<ProbeProperty::Name, int>(&R::m_name).plain("interval"));
#else
    // One key in two parts is fine: the parts are separate sets.
    return std::make_tuple(field<ProbeProperty::Interval, int>(&R::m_interval).plain("interval"),
                           field<ProbeProperty::Name, int>(&R::m_name).encrypted("interval"));
#endif
}

template <> struct SessionConfigDetail::RecordOf<ProbeProperty>
{
    using type = ProbeRecord;
};

// The table's checks run where it is first used, as in a store.
static_assert(SessionConfigDetail::PropertyTable<ProbeProperty>::rows.size() == 2, "two rows");
