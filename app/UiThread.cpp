#include "app/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <exception>

namespace UiThread {

bool IsCurrent() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void Synchronize(const std::function<void()>& step) {
    if (IsCurrent() || !QCoreApplication::instance()) {
        step();
        return;
    }
    std::exception_ptr failure;
    // Qt's own hand-over is invisible to ThreadSanitizer (uninstrumented
    // futexes); this release/acquire pair states the ordering it guarantees.
    std::atomic<int> handover{0};
    handover.store(1, std::memory_order_release);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            handover.load(std::memory_order_acquire);
            try {
                step();
            } catch (...) {
                failure = std::current_exception();
            }
            handover.store(2, std::memory_order_release);
        },
        Qt::BlockingQueuedConnection);
    handover.load(std::memory_order_acquire);
    if (failure)
        std::rethrow_exception(failure);
}

void PumpOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::msleep(50);
}

void PumpUntil(const std::function<bool()>& done) {
    while (!done())
        PumpOnce();
}

} // namespace UiThread
