#pragma once

#include "online/onlinehost.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// Writes a firmware update file ("update.bin") to a device through the device library's update
// mode: switch to update mode, wait for the update-mode device, erase, write the image in
// 2000-byte blocks, check, finish. Each wait runs on a timer, so the event loop keeps running;
// destroying the writer abandons the remaining steps.
class FirmwareWriter : public QObject {
    Q_OBJECT
public:
    // `session` is borrowed and may be null (nothing can be written then); `waits` are the
    // device's times (tests shorten them).
    explicit FirmwareWriter(kx::FirmwareSession* session,
                            const FirmwareWaits& waits = FirmwareWaits(),
                            QObject* parent = nullptr);

    // Starts writing `filePath` to the device at `devicePath`. False, with nothing sent to the
    // device, when the library lacks the device test, the device is absent or the file is not
    // a firmware update file whose image lies inside it.
    bool start(const QString& devicePath, const QString& filePath);

signals:
    // A status text for the user.
    void status(const QString& text);
    // The procedure has ended; `ok` when the device took the image and restarted with it.
    void finished(bool ok);

private:
    void after(int ms, std::function<void()> step);
    void askForUpdateDevice(int attempt);
    void erase();
    void writeBlock(quint32 index);
    void check();
    void end(bool ok, const QString& text);

    kx::FirmwareSession* m_session;
    FirmwareWaits m_waits;
    QByteArray m_file;
    quint64 m_length = 0;
    quint32 m_blocks = 0;
};
