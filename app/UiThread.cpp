#include "app/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

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
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            try {
                step();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
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
