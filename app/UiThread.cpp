#include "app/UiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <mutex>

namespace UiThread {

namespace {

// The hand-over between a calling thread and the user-interface thread. One
// mutex, made before any thread, orders every access to a call in a way
// ThreadSanitizer can see (Qt's own queues and semaphores use futexes it does
// not know).
struct Call {
    const std::function<void()>* Step = nullptr;
    std::exception_ptr Failure;
    bool Done = false;
};
std::mutex CallMutex;
std::condition_variable CallFinished;

// Queued by name with a plain pointer argument, so that Qt itself allocates
// everything the event queue carries: a functor or event allocated here would
// be read by the application's event filters before any ordering exists.
class Receiver : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void Run(void* address) {
        Call* call = static_cast<Call*>(address);
        std::unique_lock lock(CallMutex);
        lock.unlock();
        std::exception_ptr failure;
        try {
            (*call->Step)();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        call->Failure = failure;
        call->Done = true;
        CallFinished.notify_all();
    }
};

// Created with the application object, on its thread, so that every worker
// finds it ready (and ordered before the worker's own start).
QObject* UiReceiver = nullptr;

void CreateUiReceiver() {
    UiReceiver = new Receiver;
}
Q_COREAPP_STARTUP_FUNCTION(CreateUiReceiver)

} // namespace

bool IsCurrent() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void Synchronize(const std::function<void()>& step) {
    if (IsCurrent() || !QCoreApplication::instance()) {
        step();
        return;
    }
    Call call;
    call.Step = &step;
    std::unique_lock lock(CallMutex);
    QMetaObject::invokeMethod(UiReceiver, "Run", Qt::QueuedConnection, Q_ARG(void*, &call));
    CallFinished.wait(lock, [&] { return call.Done; });
    if (call.Failure)
        std::rethrow_exception(call.Failure);
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

#include "UiThread.moc"
