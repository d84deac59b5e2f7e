// SPDX-License-Identifier: MIT
#include <ChangeHub.h>
#include <ChangeSubscription.h>

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <utility>

namespace {

// Qt's event queue hands a posted call to the context's thread under locks of its own,
// which ThreadSanitizer cannot see (Qt itself is not instrumented). So the poster also
// holds one of these while it builds and posts the call, and the call takes the same
// one (chosen by the thread) before it reads what it carries: the hand-over is then
// visible for what it is. Held only for the copy, never while a callback runs.
SessionConfigSync::Mutex& handover(const QThread* thread)
{
    static SessionConfigSync::Mutex locks[8];
    return locks[std::hash<const void*>()(thread) % 8];
}

// The client's handler for exceptions thrown by callbacks. Read only when one is
// thrown, so a write that throws nothing never touches it.
SessionConfigSync::Mutex g_handlerLock;
std::shared_ptr<const std::function<void(std::exception_ptr)>>
    g_handler SESSIONCONFIG_GUARDED_BY(g_handlerLock);

// Hands the exception being handled to the client's handler, or drops it.
void handleCallbackException() noexcept
{
    const std::exception_ptr failure = std::current_exception();
    std::shared_ptr<const std::function<void(std::exception_ptr)>> handler;
    {
        const SessionConfigSync::MutexLock lock(g_handlerLock);
        handler = g_handler;
    }
    if (!handler)
        return;
    try {
        (*handler)(failure);
    } catch (...) {
        // A handler that throws has nowhere further to send it: the write must stand.
    }
}

} // namespace

// One subscriber: its callback, where it runs, and whether it may still start.
class ChangeListener : public std::enable_shared_from_this<ChangeListener>
{
public:
    ChangeListener(std::weak_ptr<ChangeHub> hub, QObject* context, std::function<void(int)> onChange)
        : m_hub(std::move(hub))
        , m_context(context)
        , m_onChange(std::move(onChange))
    {}

    void watchContext(QMetaObject::Connection connection)
    {
        const SessionConfigSync::MutexLock lock(m_lock);
        m_contextWatch = std::move(connection);
    }

    // On the writer's thread, no store lock held.
    void deliver(std::uint64_t changed)
    {
        if (!m_context) {
            run(changed);
            return;
        }
        SessionConfigSync::MutexLock lock(m_lock);
        if (m_cancelled)
            return;
        // While this lock is held the context cannot finish being destroyed: its
        // destroyed() handler waits for the lock, so the pointer stays good.
        const QThread* const target = m_context->thread();
        if (target == QThread::currentThread()) {
            lock.unlock();
            run(changed);
            return;
        }
        // Posted events from one thread keep their order; a context destroyed before
        // the event runs takes the event with it.
        const SessionConfigSync::MutexLock posting(handover(target));
        QMetaObject::invokeMethod(
            m_context,
            [self = shared_from_this(), changed] {
                std::shared_ptr<ChangeListener> listener;
                std::uint64_t properties = 0;
                {
                    const SessionConfigSync::MutexLock taking(handover(QThread::currentThread()));
                    listener = self;
                    properties = changed;
                }
                listener->run(properties);
            },
            Qt::QueuedConnection);
    }

    // Stops further callbacks and waits for those running on other threads. A
    // callback of this listener further up this thread's stack is not waited for.
    void cancel()
    {
        QMetaObject::Connection watch;
        {
            SessionConfigSync::MutexLock lock(m_lock);
            const bool first = !m_cancelled;
            m_cancelled = true;
            const long own = std::count(t_running.begin(), t_running.end(), this);
            while (m_running != own)
                lock.wait(m_idle);
            if (!first)
                return;
            watch = std::exchange(m_contextWatch, QMetaObject::Connection());
        }
        if (watch)
            QObject::disconnect(watch);
        if (m_context) {
            // Calls still queued here are dropped on this thread (the context's, when
            // it is being destroyed): see their hand-over first.
            const SessionConfigSync::MutexLock seen(handover(QThread::currentThread()));
        }
        if (const std::shared_ptr<ChangeHub> hub = m_hub.lock())
            hub->remove(this);
    }

    bool active() const
    {
        const SessionConfigSync::MutexLock lock(m_lock);
        return !m_cancelled;
    }

private:
    // Calls back for each changed property, lowest number first, on this thread.
    void run(std::uint64_t changed)
    {
        for (int number = 0; changed; ++number, changed >>= 1) {
            if (!(changed & 1))
                continue;
            {
                const SessionConfigSync::MutexLock lock(m_lock);
                if (m_cancelled)
                    return;
                ++m_running;
            }
            const Running running(*this);
            try {
                m_onChange(number);
            } catch (...) {
                handleCallbackException();
            }
        }
    }

    // Marks a callback as running on this thread for as long as it runs.
    struct Running
    {
        explicit Running(ChangeListener& l)
            : listener(l)
        {
            t_running.push_back(&l);
        }
        ~Running()
        {
            t_running.pop_back();
            {
                const SessionConfigSync::MutexLock lock(listener.m_lock);
                --listener.m_running;
            }
            listener.m_idle.notify_all();
        }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
        ChangeListener& listener;
    };

    static thread_local std::vector<const ChangeListener*> t_running;

    const std::weak_ptr<ChangeHub> m_hub;
    QObject* const m_context;
    const std::function<void(int)> m_onChange;

    mutable SessionConfigSync::Mutex m_lock;
    std::condition_variable m_idle;
    bool m_cancelled SESSIONCONFIG_GUARDED_BY(m_lock) = false;
    long m_running SESSIONCONFIG_GUARDED_BY(m_lock) = 0;
    QMetaObject::Connection m_contextWatch SESSIONCONFIG_GUARDED_BY(m_lock);
};

thread_local std::vector<const ChangeListener*> ChangeListener::t_running;

// ---------------------------------------------------------------------------------

ChangeHub::ChangeHub()
    : m_listeners(std::make_shared<const Listeners>())
{}

ChangeHub::~ChangeHub() = default;

ChangeSubscription ChangeHub::subscribe(QObject* context, std::function<void(int)> onChange)
{
    auto listener = std::make_shared<ChangeListener>(weak_from_this(), context, std::move(onChange));
    if (context) {
        // Runs on the thread that destroys the context, before it is gone.
        listener->watchContext(
            QObject::connect(context, &QObject::destroyed, [weak = std::weak_ptr<ChangeListener>(listener)] {
                if (const auto l = weak.lock())
                    l->cancel();
            }));
    }
    {
        const SessionConfigSync::MutexLock lock(m_lock);
        auto next = std::make_shared<Listeners>(*m_listeners);
        next->push_back(listener);
        m_listeners = std::move(next);
        m_count.store(static_cast<int>(m_listeners->size()), std::memory_order_relaxed);
    }
    return ChangeSubscription(std::move(listener));
}

void ChangeHub::remove(const ChangeListener* listener)
{
    const SessionConfigSync::MutexLock lock(m_lock);
    auto next = std::make_shared<Listeners>();
    next->reserve(m_listeners->size());
    for (const auto& l : *m_listeners) {
        if (l.get() != listener)
            next->push_back(l);
    }
    m_listeners = std::move(next);
    m_count.store(static_cast<int>(m_listeners->size()), std::memory_order_relaxed);
}

void ChangeHub::publish(std::uint64_t changed) const noexcept
{
    std::shared_ptr<const Listeners> listeners;
    {
        const SessionConfigSync::MutexLock lock(m_lock);
        listeners = m_listeners;
    }
    for (const auto& l : *listeners) {
        try {
            l->deliver(changed);
        } catch (...) {
            // Callbacks' own exceptions are handled where they run; this is a failure to
            // post one (no memory), which must not undo the write either.
            handleCallbackException();
        }
    }
}

// ---------------------------------------------------------------------------------

ChangeSubscription::ChangeSubscription() = default;

ChangeSubscription::ChangeSubscription(std::shared_ptr<ChangeListener> listener)
    : m_listener(std::move(listener))
{}

ChangeSubscription::ChangeSubscription(ChangeSubscription&& other) noexcept = default;

ChangeSubscription& ChangeSubscription::operator=(ChangeSubscription&& other) noexcept
{
    if (this != &other) {
        cancel();
        m_listener = std::move(other.m_listener);
    }
    return *this;
}

ChangeSubscription::~ChangeSubscription()
{
    cancel();
}

void ChangeSubscription::cancel()
{
    if (const std::shared_ptr<ChangeListener> listener = std::move(m_listener))
        listener->cancel();
}

bool ChangeSubscription::isActive() const
{
    return m_listener && m_listener->active();
}

void ChangeSubscription::setExceptionHandler(std::function<void(std::exception_ptr)> handler)
{
    auto next = handler ? std::make_shared<const std::function<void(std::exception_ptr)>>(std::move(handler))
                        : nullptr;
    const SessionConfigSync::MutexLock lock(g_handlerLock);
    g_handler = std::move(next);
}
