#pragma once

#include "platform/result.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

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
    // A value the program learnt: into conf.xml when its client element has the attribute (the
    // commit sequence), then into the settings in memory. The result tells whether conf.xml took
    // it.
    virtual platform::Result commitClientSetting(const QString& name, const QString& value) = 0;

    // Whether conf.xml can be read from disk now.
    virtual platform::Result confReadable() const = 0;
    // The page folder that conf.xml on disk records for the device; nothing when the device has
    // no record. Fails when conf.xml cannot be read or is not XML.
    virtual platform::ResultOf<std::optional<QString>>
    recordedPageFolder(const QString& deviceId) const = 0;
    // Records the device's product information in conf.xml as it is on disk, `attributes` in
    // their order, and commits it. Fails, changing nothing, when conf.xml cannot be read or is
    // not XML.
    virtual platform::Result
    recordProductInfo(const QString& deviceId,
                      const QList<QPair<QString, QString>>& attributes) = 0;

    // conf.xml as a sync writes it: `text` with this program's own "apiServer", "version" and
    // "synchronize" kept. Refused when `text` is no conf.xml the program could read.
    virtual platform::ResultOf<QByteArray> syncedConf(const QByteArray& text) const = 0;
    // Takes that text as conf.xml, through the store (which writes the file): its settings show
    // at once, and the next commit starts from it.
    virtual platform::Result commitSyncedConf(const QByteArray& text) = 0;
    // Files of the program folder (relative names) were replaced on disk by a sync or an
    // install: cached profile texts give way to the files, and the key maps are read again.
    virtual void filesReplaced(const QStringList& names) = 0;

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

    // Runs `install`, which replaces files of the program folder (pages, key maps), after the
    // profile commands the page sent before it, so that a queued save is not written over
    // what it installs: off the window's thread where the host runs those commands on a worker.
    // Then `done` on the window's thread, still in that turn (`install` may be empty). At once,
    // in that order, where nothing else touches those files.
    virtual void replaceFilesInTurn(std::function<void()> install, std::function<void()> done) {
        if (install)
            install();
        done();
    }
};
