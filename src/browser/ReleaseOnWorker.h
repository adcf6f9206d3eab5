#pragma once

#include <QThreadPool>

#include <utility>

namespace limnoscope {

// Frees `container` on a thread of `workers`: freeing a set or cache of 100,000 entries takes
// tens of milliseconds. An empty container is dropped right away, without a job.
template <typename Container> void releaseOnWorker(QThreadPool& workers, Container container)
{
    if (!container.isEmpty())
        workers.start([released = std::move(container)] { Q_UNUSED(released) });
}

} // namespace limnoscope
