#pragma once

// Linux input event nodes (/dev/input/eventN), as the filter-driver facility and the recording
// hook both need them: what a node is, the nodes present and those that come and go, and the
// uinput mirror that stands in for a grabbed node. Every descriptor is close-on-exec, so a
// program started from here (the crash reporter) never inherits a grab.

#include "platform/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <linux/input.h>

namespace platform::evdev {

constexpr char kInputDirectory[] = "/dev/input";
constexpr char kUinputPath[] = "/dev/uinput";
// The physical path of every mirror, so no facility takes a mirror for a device.
constexpr char kMirrorPhys[] = "tavix-mirror";

struct NodeInfo {
    std::string path;
    std::string name;
    std::string phys;
    input_id id{};
    bool keyboard = false; // letter keys
    bool mouse = false;    // relative motion and a right button
    bool mirror() const { return phys.rfind(kMirrorPhys, 0) == 0; }
    // The capture filter reads this where the Windows driver gives the device's hardware id:
    // "HID\VID_xxxx&PID_yyyy\" and the node's name.
    std::string hardwareId() const;
};

// Reads the name, ids and kind of an open node; false when it is no input device.
bool describe(int fd, const std::string& path, NodeInfo* info);

// Opens a node close-on-exec and non-blocking, for reading and writing where allowed (the
// system's LED state goes back to the device), else for reading.
ResultOf<int> openNode(const std::string& path);

// "/dev/input/eventN" of every event node present, in number order.
std::vector<std::string> eventNodes();
bool isEventNodeName(const std::string& name);

// Event nodes that appear (or whose permissions change) and leave /dev/input.
class DirectoryWatch {
public:
    DirectoryWatch() = default;
    ~DirectoryWatch();
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    Result start();
    int fd() const { return m_fd; }
    // What happened since the last call: nodes worth an open attempt, and nodes gone.
    void take(std::vector<std::string>* appeared, std::vector<std::string>* gone);

private:
    int m_fd = -1;
};

// A wake-up descriptor for a poll loop.
class Wake {
public:
    Wake();
    ~Wake();
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;
    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void signal();
    void clear();

private:
    int m_fd = -1;
};

// A uinput device with the capabilities, ids and name of the open node `source`, marked with
// kMirrorPhys; without key repeat of its own (the source's repeats are passed on). The value
// is the uinput descriptor; `node` gets the mirror's event node.
ResultOf<int> createMirror(int source, const NodeInfo& info, std::string* node);

// Writes whole events; false when the device refused them (it left, or the queue is full).
bool writeEvents(int fd, const input_event* events, size_t count);
input_event makeEvent(uint16_t type, uint16_t code, int32_t value);

// Bits of an EVIOCGBIT or EVIOCGKEY answer.
bool testBit(const std::vector<unsigned long>& bits, unsigned bit);
std::vector<unsigned long> readBits(int fd, unsigned type, unsigned max);
std::vector<unsigned long> keysDown(int fd);

} // namespace platform::evdev
