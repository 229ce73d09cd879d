#pragma once

#include "kx.h"

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx {

// One emulated device: what kx.json says of it, and the memory and properties it keeps in its
// state file.
struct Device {
    std::string deviceId, sn, version, mask;
    uint32_t vendorId = 0, productId = 0, collection = 0xFFA00001u;
    std::u16string devicePath, hardwareId;
    std::string usbPath; // empty: always on the bus
    QString statePath;
    uint32_t memorySize = 65536;
    int interfaces = 5; // events raised per arrival or removal

    std::vector<uint8_t> memory;
    std::map<uint32_t, std::vector<uint8_t>> props;
    bool plugged = true;
    bool updateMode = false;

    // Firmware being received in update mode.
    bool erased = false;
    bool verified = false;
    std::vector<uint8_t> image;
    size_t imageEnd = 0;

    kxDataCallback dataCallback = nullptr;
};

// The emulated adapter behind the exported entries. One per loaded copy of the library; its
// thread watches the simulated USB bus and delivers events and device data.
class Adapter {
public:
    // Reads `folder`/kx.json and the state files next to it.
    explicit Adapter(const QString& folder);
    ~Adapter();
    Adapter(const Adapter&) = delete;
    Adapter& operator=(const Adapter&) = delete;

    int deviceExist(const kxchar* id);
    int devices(const uint32_t* filters, void* block, uint32_t size);
    int onDeviceEvent(kxEventCallback* cell);
    int onDeviceData(const kxchar* id, const kxchar* path, uint32_t key, kxDataCallback* cell);
    int ask(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count);
    int reset(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t mode, uint8_t* flag);
    int notify(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t event);
    int read(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
             uint32_t address);
    int write(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer, int count,
              uint32_t address);
    int readProp(const kxchar* id, const kxchar* sub, uint32_t key, uint8_t* buffer, int count,
                 uint32_t prop);
    int writeProp(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                  int count, uint32_t prop);
    int scriptOut(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                  int count);
    int rebootRom(const kxchar* id, const kxchar* sub, uint32_t key);
    int finishUpdateRom(const kxchar* id, const kxchar* sub, uint32_t key);
    int checkRom(const kxchar* id, const kxchar* sub, uint32_t key, uint32_t length,
                 uint32_t checksum);
    int bornRom(const kxchar* id, const kxchar* sub, uint32_t key, const uint8_t* buffer,
                int length, uint32_t offset);
    int eraseRom(const kxchar* id, const kxchar* sub, uint32_t key);

    // The largest firmware image the emulated device takes.
    static constexpr size_t kMaxImage = 256 * 1024;
    static constexpr uint32_t kMaxProp = 255;

private:
    struct Pending {
        bool data = false;
        uint32_t event = 0;
        kxDataCallback callback = nullptr;
        uint8_t bytes[8] = {};
    };

    void loadConfig();
    void loadState(Device& d);
    bool saveState(const Device& d);
    void pollBus(std::unique_lock<std::mutex>& lock);
    void run();
    // One event per interface of the device, as the system reports each interface.
    void queueEvent(uint32_t event, int times = 1);
    // Device lookup under the lock: a normal-mode device by hardware id or device path, or the
    // device in update mode by the update-mode identity.
    Device* find(const kxchar* id, bool updateMode);

    // Which devices a call may name.
    enum class Mode { normal, update, either };
    // The device a call names, found and held under the adapter's lock. `device` is null and
    // `error` says why when the call is refused (the lock is then not taken for a bad buffer).
    struct Session {
        std::unique_lock<std::mutex> lock;
        Device* device = nullptr;
        int error = KX_OK;
    };
    // Checks id, sub and key, locks and finds the device; a device present only in the other
    // mode gives KX_E_MODE.
    Session open(const kxchar* id, const kxchar* sub, uint32_t key, Mode mode);
    // The update-mode device, which must have been erased first (KX_E_MODE otherwise).
    Session openErased(const kxchar* id, const kxchar* sub, uint32_t key);
    // What the bytes of a transfer go to or come from.
    enum class Target { stream, memory, property };
    // The same for the calls that move bytes through a caller's buffer of `count` bytes
    // (normal mode): a null buffer or a count outside 0..2048 is refused before the lock; then
    // `count` bytes at address `where` must lie in the device's memory (Target::memory), or
    // `where` must be a property id 0..255 (Target::property); KX_E_RANGE otherwise.
    Session openTransfer(const kxchar* id, const kxchar* sub, uint32_t key, const void* buffer,
                         int count, Target target = Target::stream, uint32_t where = 0);
    // The device leaves the bus and comes back, as after a restart.
    void queueReappearance(const Device& d);
    void leaveUpdateMode(Device& d);

    QString m_folder;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::string m_busText;
    bool m_busRead = false;
    bool m_busExists = false;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Pending> m_pending;
    // Data reports in m_pending, and those dropped because the data callback fell behind.
    size_t m_pendingReports = 0;
    unsigned long long m_droppedReports = 0;
    kxEventCallback m_eventCallback = nullptr;
    bool m_stop = false;
    std::thread m_thread;
};

// Byte text "0x01,2,ff" as kx.json writes initial property values.
std::vector<uint8_t> parseBytes(const QString& text);

} // namespace kx
