#pragma once

#include <QMutex>
#include <QObject>

#include <deque>
#include <functional>
#include <memory>

namespace limnoscope {

// The counting gate that lets at most three thumbnail decodes run at once. Thread-safe: a slot
// is waited for without blocking anyone (the grant is a callback on the waiter's thread), and
// released, from any thread, when the last copy of its Slot goes away.
class ThumbnailSemaphore
{
public:
    // A held slot. Copies share it; the gate gets it back exactly once, when the last copy is
    // destroyed or released.
    class Slot
    {
    public:
        Slot() = default;
        [[nodiscard]] bool isHeld() const { return m_holder != nullptr; }
        void release() { m_holder.reset(); }

    private:
        friend class ThumbnailSemaphore;
        struct Holder;
        explicit Slot(std::shared_ptr<Holder> holder)
            : m_holder(std::move(holder))
        {
        }
        std::shared_ptr<Holder> m_holder;
    };
    using Granted = std::function<void(Slot)>;

    static constexpr int limit = 3;

    // The application's gate, created on first use and never destroyed; the application hands
    // it to the views. Tests make their own (`limit` is the default).
    [[nodiscard]] static ThumbnailSemaphore& shared();

    ThumbnailSemaphore() = default;
    // Every slot must have been released and every waiter's context destroyed or served.
    ~ThumbnailSemaphore();
    ThumbnailSemaphore(const ThumbnailSemaphore&) = delete;
    ThumbnailSemaphore& operator=(const ThumbnailSemaphore&) = delete;

    // Calls `granted` with a held slot: at once, before returning, when fewer than `limit` are
    // held; otherwise later, from `context`'s event loop, after the waiters that came before
    // (first in, first out). Call on `context`'s thread. A waiter cannot be withdrawn: one whose
    // work is no longer wanted lets its slot go at once. When `context` is destroyed first, its
    // waiters are dropped and their turn passes on.
    void wait(QObject* context, Granted granted);

    [[nodiscard]] int running() const;
    [[nodiscard]] int waiting() const;

private:
    struct Waiter {
        quint64 id = 0;
        QObject* context = nullptr;
        Granted granted;
        QMetaObject::Connection contextDestroyed;
    };
    class PendingResume;
    friend struct Slot::Holder;

    void signal();
    void enqueueLocked(Waiter waiter, bool atFront);
    void resumeFirstWaiterLocked();
    void resume(const std::shared_ptr<PendingResume>& pending);
    void dropWaiter(quint64 id);

    mutable QMutex m_mutex;
    // Receives the destruction of waiters' contexts, on the destroying thread.
    QObject m_contextWatcher;
    int m_running = 0;
    quint64 m_nextWaiterID = 1;
    std::deque<Waiter> m_waiters;
};

} // namespace limnoscope
