#pragma once

// The simulated world of input redirection for tests: the HID bus hosting the virtual device,
// the filter driver with its slots, and a client opened on the bus. Reads what the virtual
// device reported as "+a -a" (press and release of usage names).

#include "input/virtualdeviceclient.h"
#include "platform/sim/filterdriver.h"
#include "platform/sim/hidbus.h"

#include <QString>
#include <QStringList>

namespace rig {

inline void resetDevices() {
    platform::hid::sim::configure(platform::hid::sim::Options{});
    platform::hid::sim::clearInputEvents();
    platform::devio::sim::configure(platform::devio::sim::defaultOptions());
}

// Press and release changes of one kind of collection, in order: "+a -a +right".
inline QString reported(const std::string& device) {
    QStringList out;
    for (const auto& e : platform::hid::sim::inputEvents()) {
        if (e.device != device)
            continue;
        for (const auto& n : e.pressed)
            out << "+" + QString::fromStdString(n);
        for (const auto& n : e.released)
            out << "-" + QString::fromStdString(n);
    }
    return out.join(QLatin1Char(' '));
}

inline QStringList systemGot() {
    QStringList out;
    for (const auto& s : platform::devio::sim::systemStrokes())
        out << QString::fromStdString(s.stroke.text());
    return out;
}

inline bool nothingHeld() {
    return platform::hid::sim::keysDown().empty() && platform::hid::sim::buttonsDown().empty();
}

inline bool captureReady() {
    const auto slots_ = platform::devio::sim::slotStates();
    return slots_.front().mask == 0xFFFF && slots_.back().mask == 0x03FC;
}

inline bool captureEnded() {
    for (const auto& s : platform::devio::sim::slotStates())
        if (s.open)
            return false;
    return true;
}

inline VirtualDeviceClient::Printer silent() {
    return [](const std::string&) {};
}

} // namespace rig
