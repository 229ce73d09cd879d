#pragma once

#include "kx/kx.h"

#include <QList>
#include <QString>

class QWidget;

// One connected device as the device library lists it.
struct OnlineDevice {
    QString deviceId;
    QString sn;
    QString version; // firmware version
    QString hardwareId;
    QString devicePath;
};

// The device library entries that writing firmware uses; each null when the library lacks it.
struct FirmwareEntries {
    decltype(&kxDeviceExist) deviceExist = nullptr;
    decltype(&kxReset) reset = nullptr;
    decltype(&kxRebootRom) rebootRom = nullptr;
    decltype(&kxEraseRom) eraseRom = nullptr;
    decltype(&kxBornRom) bornRom = nullptr;
    decltype(&kxCheckRom) checkRom = nullptr;
    decltype(&kxFinishUpdateRom) finishUpdateRom = nullptr;
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
    virtual FirmwareEntries firmwareEntries() const = 0;

    // The window dialogs are centred on; may be null.
    virtual QWidget* mainWindow() const = 0;
    // Ends the event loop unless the program is quitting already.
    virtual void quitProgram() = 0;
    // A device's pages have been installed: the page is told about the device again.
    virtual void reportDeviceArrival(const QString& deviceId, const QString& devicePath) = 0;
};
