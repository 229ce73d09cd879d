// The exported entries: each hands its arguments unchanged to the adapter, which checks them.
#include "adapter.h"

#include <QFileInfo>

#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// The folder this copy of the library was loaded from: its kx.json lives there.
QString libraryFolder() {
#ifdef _WIN32
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH] = {};
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&libraryFolder), &module);
    GetModuleFileNameW(module, path, MAX_PATH);
    return QFileInfo(QString::fromWCharArray(path)).absolutePath();
#else
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libraryFolder), &info) == 0 || !info.dli_fname)
        return QStringLiteral(".");
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
#endif
}

// Created on first use and destroyed when the library is unloaded, which stops its thread.
kx::Adapter& adapter() {
    static kx::Adapter instance(libraryFolder());
    return instance;
}

} // namespace

extern "C" {

int kxDeviceExist(const kxchar* id) {
    return adapter().deviceExist(id);
}

int kxDevices(uint32_t f0, uint32_t f1, uint32_t f2, uint32_t f3, uint32_t f4, uint32_t f5,
              uint32_t f6, uint32_t f7, uint32_t f8, uint32_t f9, uint32_t f10, uint32_t f11,
              uint32_t f12, uint32_t f13, uint32_t f14, uint32_t f15, uint32_t f16, uint32_t f17,
              uint32_t f18, uint32_t f19, void* block, uint32_t size) {
    const uint32_t filters[20] = {f0,  f1,  f2,  f3,  f4,  f5,  f6,  f7,  f8,  f9,
                                  f10, f11, f12, f13, f14, f15, f16, f17, f18, f19};
    return adapter().devices(filters, block, size);
}

int kxOnDeviceEvent(kxEventCallback* cell) {
    return adapter().onDeviceEvent(cell);
}

int kxonDeviceData(const kxchar* id, const kxchar* path, uint32_t key, kxDataCallback* cell) {
    return adapter().onDeviceData(id, path, key, cell);
}

int kxAsk(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count) {
    return adapter().ask(id, sub, key, buffer, count);
}

int kxReset(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t mode, uint8_t* flag,
            uint32_t) {
    return adapter().reset(id, sub, key, mode, flag);
}

int kxNotify(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t event) {
    return adapter().notify(id, sub, key, event);
}

int kxRead(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
           uint32_t address) {
    return adapter().read(id, sub, key, buffer, count, address);
}

int kxWrite(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer, int count,
            uint32_t address) {
    return adapter().write(id, sub, key, buffer, count, address);
}

int kxReadProp(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
               uint32_t prop) {
    return adapter().readProp(id, sub, key, buffer, count, prop);
}

int kxWriteProp(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer, int count,
                uint32_t prop) {
    return adapter().writeProp(id, sub, key, buffer, count, prop);
}

int kxScriptOut(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                int count) {
    return adapter().scriptOut(id, sub, key, buffer, count);
}

int kxRebootRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    return adapter().rebootRom(id, sub, key);
}

int kxFinishUpdateRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    return adapter().finishUpdateRom(id, sub, key);
}

int kxCheckRom(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t length,
               uint32_t checksum) {
    return adapter().checkRom(id, sub, key, length, checksum);
}

int kxBornRom(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer, int length,
              uint32_t offset) {
    return adapter().bornRom(id, sub, key, buffer, length, offset);
}

int kxEraseRom(const kxchar* id, const kxchar* sub, uint32_t key) {
    return adapter().eraseRom(id, sub, key);
}

} // extern "C"
