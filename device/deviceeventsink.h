#pragma once

#include <QString>

// The "devicesChanged" argument for a device that arrived or left, whether the hot-plug test
// (hotplug.h) or the library's event (whose own codes are the other way round) reported it.
constexpr int kUsbDeviceArrived = 2;
constexpr int kUsbDeviceLeft = 1;

// What the device manager tells the rest of the program about the device library's callbacks.
// The main window implements it; every call comes on the GUI thread, in the order the library
// reported, after the application's device enumeration has been refreshed.
class DeviceEventSink {
public:
    virtual ~DeviceEventSink() = default;

    // A device event that the event counter let through: push "devicesChanged" to the page with
    // kUsbDeviceArrived or kUsbDeviceLeft for the library's arrival or removal (any other code,
    // the low 16 bits of the library's event, as it is).
    virtual void devicesChanged(int code) = 0;

    // After devicesChanged for an arrival (code 1) whose enumeration named a device that was not
    // there before: run the device-arrival step for it unless the application knows it already.
    virtual void deviceArrived(const QString& deviceId) = 0;

    // The data callback's 8 bytes as 16 lower-case hexadecimal digits: push "onDeviceData".
    virtual void deviceData(const QString& hex) = 0;
};
