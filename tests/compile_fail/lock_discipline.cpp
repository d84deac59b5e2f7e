// SPDX-License-Identifier: MIT
// Compiled by the tests with Clang's -Wthread-safety -Werror, once per fault: each
// must stop the build, and the file without a fault must build.
#include <ThreadSafety.h>

#include <vector>

class Entries
{
public:
    int size() const
    {
#if defined(READ_WITHOUT_LOCK)
        return static_cast<int>(m_entries.size());
#else
        const SessionConfigSync::ReadLock lock(m_lock);
        return static_cast<int>(m_entries.size());
#endif
    }

    void add(int value) SESSIONCONFIG_EXCLUDES(m_lock)
    {
        const SessionConfigSync::WriteLock lock(m_lock);
#if defined(LOCK_TWICE)
        const SessionConfigSync::WriteLock again(m_lock);
#endif
        m_entries.push_back(value);
    }

    void addTwice(int value) SESSIONCONFIG_EXCLUDES(m_lock)
    {
#if defined(CALL_WHILE_LOCKED)
        const SessionConfigSync::WriteLock lock(m_lock);
#endif
        add(value);
        add(value);
    }

private:
    mutable SessionConfigSync::SharedMutex m_lock;
    std::vector<int> m_entries SESSIONCONFIG_GUARDED_BY(m_lock);
};

int main()
{
    Entries e;
    e.addTwice(1);
    return e.size() == 2 ? 0 : 1;
}
