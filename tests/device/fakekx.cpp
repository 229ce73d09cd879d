// A device library with only four of the seventeen entries, and a device list the test
// composes, to see how the program copes with what a real library might hand it.
#include "kx/kx.h"

#include <cstring>
#include <thread>
#include <vector>

#define FAKE_API extern "C" __attribute__((visibility("default")))

namespace {
std::vector<unsigned char> g_block(KX_LIST_SIZE, 0);
kxEventCallback g_callback = nullptr;
int g_reads = 0;
} // namespace

FAKE_API int kxDevices(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                       uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                       uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, void* block,
                       uint32_t size) {
    if (!block || size != KX_LIST_SIZE)
        return -1;
    std::memcpy(block, g_block.data(), KX_LIST_SIZE);
    return 0;
}

FAKE_API int kxOnDeviceEvent(kxEventCallback* cell) {
    g_callback = cell ? *cell : nullptr;
    return 0;
}

FAKE_API int kxRead(const kxchar*, const kxchar*, uint32_t, uint8_t* buffer, int count,
                    uint32_t address) {
    ++g_reads;
    for (int i = 0; i < count; ++i)
        buffer[i] = static_cast<uint8_t>(address + static_cast<uint32_t>(i));
    return 0;
}

FAKE_API int kxReadProp(const kxchar*, const kxchar*, uint32_t, uint8_t* buffer, int count,
                        uint32_t prop) {
    std::memset(buffer, static_cast<int>(prop), static_cast<size_t>(count));
    return 0;
}

// Test controls.
FAKE_API void fakeSetBlock(const void* block) {
    std::memcpy(g_block.data(), block, KX_LIST_SIZE);
}
FAKE_API int fakeReads() {
    return g_reads;
}

// Raises `count` events numbered first, first + 1, ... from a thread of the library's own.
FAKE_API void fakeFire(uint32_t first, int count) {
    std::thread([first, count] {
        for (int i = 0; i < count; ++i)
            if (g_callback)
                g_callback(first + static_cast<uint32_t>(i));
    }).join();
}

// The same, without waiting: the events arrive while the caller goes on. fakeJoin() waits.
std::thread g_async;
FAKE_API void fakeFireAsync(uint32_t first, int count) {
    g_async = std::thread([first, count] {
        for (int i = 0; i < count; ++i) {
            if (g_callback)
                g_callback(first + static_cast<uint32_t>(i));
            std::this_thread::yield();
        }
    });
}
FAKE_API void fakeJoin() {
    if (g_async.joinable())
        g_async.join();
}
