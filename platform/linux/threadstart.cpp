// Every thread of the process gets an alternate signal stack as it starts, so that the crash
// handler still runs when a thread overruns its own stack. The program defines pthread_create
// itself: the executable's definition comes first for every library of the process (Qt, the
// browser engine, the device library), so threads started anywhere pass through here, and the
// thread runs its own start routine once its stack is in place.
//
// Linked only into programs that install the crash handler (target tavix_threadstacks). Not with
// a sanitizer: its runtime defines pthread_create for its own bookkeeping and gives every thread
// an alternate stack itself.

#include "platform/crash.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define TAVIX_THREADSTART_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVIX_THREADSTART_SANITIZED 1
#endif

#ifndef TAVIX_THREADSTART_SANITIZED

#include <dlfcn.h>
#include <new>
#include <pthread.h>

namespace {

using CreateThread = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct Start {
    void* (*routine)(void*);
    void* argument;
};

void* startWithAltStack(void* data) {
    const Start start = *static_cast<Start*>(data);
    delete static_cast<Start*>(data);
    // Without memory for it the thread still runs, as it would have without this.
    platform::crash::prepareThread();
    return start.routine(start.argument);
}

CreateThread systemCreateThread() {
    static const auto create = reinterpret_cast<CreateThread>(::dlsym(RTLD_NEXT, "pthread_create"));
    return create;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int
pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
               void* argument) noexcept {
    const CreateThread create = systemCreateThread();
    if (!create)
        return 11; // EAGAIN: the C library's own is out of reach
    auto* start = new (std::nothrow) Start{routine, argument};
    if (!start)
        return create(thread, attributes, routine, argument);
    const int result = create(thread, attributes, startWithAltStack, start);
    if (result != 0)
        delete start;
    return result;
}

#endif
