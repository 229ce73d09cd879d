#include "onlinethreads.h"

#include <QList>
#include <QPointer>

namespace online {
namespace {
// Touched on the GUI thread only.
QList<QPointer<QThread>>& tracked() {
    static QList<QPointer<QThread>> list;
    return list;
}
} // namespace

void trackThread(QThread* thread) {
    QList<QPointer<QThread>>& list = tracked();
    list.removeAll(QPointer<QThread>());
    list.append(thread);
}

void stopThreads() {
    const QList<QPointer<QThread>> list = tracked();
    for (const QPointer<QThread>& t : list) {
        if (!t)
            continue;
        t->requestInterruption();
        t->quit();
    }
    for (const QPointer<QThread>& t : list)
        if (t)
            t->wait();
    tracked().clear();
}

} // namespace online
