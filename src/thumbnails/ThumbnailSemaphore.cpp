#include "ThumbnailSemaphore.h"

#include <QThread>

#include <algorithm>

namespace limnoscope {

struct ThumbnailSemaphore::Slot::Holder {
    explicit Holder(ThumbnailSemaphore* gate)
        : gate(gate)
    {
    }
    ~Holder() { gate->signal(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    ThumbnailSemaphore* gate;
};

// A waiter taken off the queue whose resumption is on its way to the waiter's thread. If the
// resumption never runs (its context was destroyed first), the turn passes to the next waiter.
class ThumbnailSemaphore::PendingResume
{
public:
    PendingResume(ThumbnailSemaphore* gate, Waiter waiter)
        : gate(gate)
        , waiter(std::move(waiter))
    {
    }
    ~PendingResume()
    {
        if (delivered)
            return;
        QMutexLocker lock(&gate->m_mutex);
        if (gate->m_running < limit)
            gate->resumeFirstWaiterLocked();
    }
    PendingResume(const PendingResume&) = delete;
    PendingResume& operator=(const PendingResume&) = delete;

    ThumbnailSemaphore* gate;
    Waiter waiter;
    bool delivered = false; // guarded by gate->m_mutex
};

ThumbnailSemaphore& ThumbnailSemaphore::shared()
{
    static auto* gate = new ThumbnailSemaphore; // never destroyed: slots may be released at exit
    return *gate;
}

ThumbnailSemaphore::~ThumbnailSemaphore()
{
    QMutexLocker lock(&m_mutex);
    Q_ASSERT(m_running == 0);
    for (const Waiter& waiter : m_waiters)
        QObject::disconnect(waiter.contextDestroyed);
}

void ThumbnailSemaphore::wait(QObject* context, Granted granted)
{
    Q_ASSERT(context && context->thread() == QThread::currentThread());
    {
        QMutexLocker lock(&m_mutex);
        // A free slot goes to whoever asks first, even while a released slot's waiter is still on
        // its way back: the waiter then queues again at the front.
        if (m_running >= limit) {
            enqueueLocked(Waiter { m_nextWaiterID++, context, std::move(granted), {} }, false);
            return;
        }
        ++m_running;
    }
    granted(Slot(std::make_shared<Slot::Holder>(this)));
}

int ThumbnailSemaphore::running() const
{
    QMutexLocker lock(&m_mutex);
    return m_running;
}

int ThumbnailSemaphore::waiting() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_waiters.size());
}

void ThumbnailSemaphore::signal()
{
    QMutexLocker lock(&m_mutex);
    Q_ASSERT(m_running > 0);
    --m_running;
    resumeFirstWaiterLocked();
}

void ThumbnailSemaphore::enqueueLocked(Waiter waiter, bool atFront)
{
    // Runs on the context's thread, so the context cannot be half destroyed here.
    const quint64 id = waiter.id;
    waiter.contextDestroyed = QObject::connect(
        waiter.context, &QObject::destroyed, &m_contextWatcher, [this, id] { dropWaiter(id); }, Qt::DirectConnection);
    if (atFront)
        m_waiters.push_front(std::move(waiter));
    else
        m_waiters.push_back(std::move(waiter));
}

void ThumbnailSemaphore::resumeFirstWaiterLocked()
{
    while (!m_waiters.empty()) {
        Waiter waiter = std::move(m_waiters.front());
        m_waiters.pop_front();
        QObject::disconnect(waiter.contextDestroyed);
        // The context is alive: its destruction would first have to take m_mutex to drop it.
        QObject* context = waiter.context;
        auto pending = std::make_shared<PendingResume>(this, std::move(waiter));
        if (QMetaObject::invokeMethod(
                context, [this, pending] { resume(pending); }, Qt::QueuedConnection))
            return;
        pending->delivered = true;
    }
}

void ThumbnailSemaphore::resume(const std::shared_ptr<PendingResume>& pending)
{
    Granted granted;
    {
        QMutexLocker lock(&m_mutex);
        pending->delivered = true;
        if (m_running >= limit) {
            // Someone arriving in between took the freed slot; wait for the next one, still first.
            enqueueLocked(std::move(pending->waiter), true);
            return;
        }
        ++m_running;
        granted = std::move(pending->waiter.granted);
    }
    granted(Slot(std::make_shared<Slot::Holder>(this)));
}

void ThumbnailSemaphore::dropWaiter(quint64 id)
{
    Granted dropped; // destroyed after unlocking: whatever it holds may come back to the gate
    QMutexLocker lock(&m_mutex);
    const auto found
        = std::find_if(m_waiters.begin(), m_waiters.end(), [id](const Waiter& waiter) { return waiter.id == id; });
    if (found == m_waiters.end())
        return;
    dropped = std::move(found->granted);
    m_waiters.erase(found);
}

} // namespace limnoscope
