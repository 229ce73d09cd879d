#pragma once

#include "online/onlinehost.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// Writes a firmware update file ("update.bin") to a device through the device library: switch
// to update mode, wait for the update-mode device, erase, write the image in 2000-byte blocks,
// check, finish. Each wait runs on a timer, so the event loop keeps running; destroying the
// writer abandons the remaining steps.
class FirmwareWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int kFileSize = 67170;
    static constexpr int kImageOffset = 264;
    static constexpr int kLengthOffset = 66113;
    static constexpr int kChecksumOffset = 66121;
    static constexpr int kBlockSize = 2000;
    static constexpr quint32 kMagic = 4118;
    // The device in update mode.
    static const QString kUpdateModeId;

    FirmwareWriter(const FirmwareEntries& entries, QObject* parent = nullptr);

    // Starts writing `filePath` to the device at `devicePath`. False, with nothing sent to the
    // device, when the library lacks the device test, the device is absent or the file is not
    // a firmware update file whose image lies inside it.
    bool start(const QString& devicePath, const QString& filePath);

    // Tests only: every wait lasts `percent` per cent of its time. The program never calls it.
    static void setWaitPercent(int percent);

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

    FirmwareEntries m_kx;
    QString m_devicePath;
    QByteArray m_file;
    quint64 m_length = 0;
    quint32 m_blocks = 0;
};
