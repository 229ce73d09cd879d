#pragma once

#include "bridge/handoff.h"

#include <QThread>

#include <utility>

// The threads of the online services (downloads, package builds) write into the program's
// folders: they are stopped, and waited for, before the program's owner of those folders goes.
namespace online {

void trackThread(QThread* thread);
// Asks every tracked thread still running to stop (the work in it gives up between files) and
// waits for it. GUI thread, at exit.
void stopThreads();

// A download on a thread of its own (handoff::OwnThread) that the exit waits for.
template <class T> class DownloadThread : public handoff::OwnThread<T> {
public:
    template <class... Args> T* create(Args&&... args) {
        T* worker = handoff::OwnThread<T>::create(std::forward<Args>(args)...);
        trackThread(this->thread());
        return worker;
    }
};

} // namespace online
