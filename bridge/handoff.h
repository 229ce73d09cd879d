#pragma once

#include "routercallback.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <utility>

// Work handed to another thread and answered back. Everything that crosses threads goes through
// these three helpers, so a reader finds every hand-off by grepping "handoff::".
namespace handoff {

// Runs `work` on the thread `context` lives on, from that thread's event loop, after what is
// already queued there. Nothing runs when `context` is gone by then.
template <class F> void post(QObject* context, F&& work) {
    QMetaObject::invokeMethod(context, std::forward<F>(work), Qt::QueuedConnection);
}

// A callback for a command that runs on another thread: its answer, and the release of `inner`,
// happen on the thread `home` lives on, since `inner` belongs to that thread. Nothing is
// delivered once `home` is gone.
RouterCallback answerOn(QObject* home, RouterCallback inner);

// One worker object on a thread of its own, as downloads run. `create` builds the worker with
// the thread it is to live on as its first argument (the worker moves itself there and starts
// on QThread::started); the caller wires its signals, then calls `start`. The thread deletes
// itself once it has finished; `release` hands the worker to deferred deletion on its thread and
// ends the thread. Destroying the holder releases.
template <class T> class OwnThread {
public:
    OwnThread() = default;
    OwnThread(const OwnThread&) = delete;
    OwnThread& operator=(const OwnThread&) = delete;
    ~OwnThread() { release(); }

    template <class... Args> T* create(Args&&... args) {
        release();
        m_thread = new QThread;
        QObject::connect(m_thread.data(), &QThread::finished, m_thread.data(),
                         &QObject::deleteLater);
        m_worker = new T(m_thread.data(), std::forward<Args>(args)...);
        return m_worker;
    }
    void start() {
        if (m_thread)
            m_thread->start(QThread::InheritPriority);
    }
    void release() {
        if (m_worker)
            m_worker->deleteLater();
        m_worker = nullptr;
        if (m_thread)
            m_thread->quit();
        m_thread = nullptr;
    }

    T* worker() const { return m_worker; }
    QThread* thread() const { return m_thread; }
    // A worker was created and not yet released.
    bool active() const { return m_thread != nullptr; }

private:
    QPointer<QThread> m_thread;
    QPointer<T> m_worker;
};

} // namespace handoff
