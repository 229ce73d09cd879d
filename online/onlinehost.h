#pragma once

#include <QList>
#include <QString>

class QWidget;
namespace kx {
class FirmwareSession;
}

// One connected device as the device library lists it.
struct OnlineDevice {
    QString deviceId;
    QString sn;
    QString version; // firmware version
    QString hardwareId;
    QString devicePath;
};

// How long writing firmware gives the device for each step, in milliseconds: the device's own
// times. Tests shorten them.
struct FirmwareWaits {
    int restart = 4000;  // after the switch to update mode, and again before the second look
    int lastLook = 5000; // before the third and last look for the update-mode device
    int erase = 1000;    // after erasing
    int block = 20;      // after each block written
    int finish = 100;    // after a good check, before finishing

    // Every wait at `percent` per cent of its time.
    FirmwareWaits scaled(int percent) const {
        return {restart * percent / 100, lastLook * percent / 100, erase * percent / 100,
                block * percent / 100, finish * percent / 100};
    }
};

// What the online services take from the program that hosts them: configuration, devices and
// the main window. GUI thread only.
class OnlineHost {
public:
    virtual ~OnlineHost() = default;

    // Base address of the vendor API, scheme, host and port, without a trailing "/".
    virtual QString apiServer() const = 0;

    // A `client` attribute of conf.xml as held in memory ("version", "synchronize").
    virtual QString clientSetting(const QString& name) const = 0;
    virtual void setClientSetting(const QString& name, const QString& value) = 0;

    // conf.xml as it is on disk now; a null text when it cannot be read.
    virtual QString readConfFile() const = 0;
    // The configuration text held in memory.
    virtual QString confText() const = 0;
    // The commit sequence: the text replaces the one in memory and is written to conf.xml.
    virtual void commitConf(const QString& text) = 0;

    // The devices the device library lists now, in its order.
    virtual QList<OnlineDevice> connectedDevices() const = 0;
    // The device library's update mode, owned by the host (null when it has no device manager).
    virtual kx::FirmwareSession* firmwareSession() const = 0;
    virtual FirmwareWaits firmwareWaits() const { return FirmwareWaits(); }

    // The window dialogs are centred on; may be null.
    virtual QWidget* mainWindow() const = 0;
    // Ends the event loop unless the program is quitting already.
    virtual void quitProgram() = 0;
    // A device's pages have been installed: the page is told about the device again.
    virtual void reportDeviceArrival(const QString& deviceId, const QString& devicePath) = 0;
};
