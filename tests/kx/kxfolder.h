#pragma once

// A private copy of the device library in a temporary folder with its own kx.json, so each test
// gets a fresh adapter (a copy at another path loads as another library).

#include "buildpaths.h"
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <string>

class KxFolder {
public:
    static QJsonObject device(const QString& id, const QString& sn, int number) {
        const QString hex = QString::number(0xA000 + number, 16);
        return QJsonObject{
            {"DeviceID", id},
            {"SN", sn},
            {"Version", "1.0.0"},
            {"MASK", "01"},
            {"VendorId", "0x04D9"},
            {"ProductId", "0x" + hex},
            {"DevicePath", "\\\\?\\hid#vid_04d9&pid_" + hex + "#" + sn},
            {"HardwareID", "HID\\Vid_04d9&Pid_" + hex},
            {"UsbPath", "\\\\?\\USB#VID_04D9&PID_" + hex.toUpper() + "#" + sn + "#{a5dcbf10}"},
            {"MemorySize", 65536},
        };
    }

    explicit KxFolder(const QJsonArray& devices = QJsonArray{device("04D9A001", "SN1", 1)}) {
        write(devices);
        QFile::copy(buildpaths::resolve(KX_LIBRARY_PATH), libraryPath());
    }

    void write(const QJsonArray& devices) {
        QFile f(path("kx.json"));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(QJsonDocument(QJsonObject{{"devices", devices}}).toJson());
    }

    void writeBus(const QString& text) {
        QFile f(path("sim-usb.txt.tmp"));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text.toUtf8());
        f.close();
        QFile::remove(path("sim-usb.txt"));
        QFile::rename(path("sim-usb.txt.tmp"), path("sim-usb.txt"));
    }

    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QString libraryPath() const { return path("libkx.so"); }

    QTemporaryDir dir;
};

inline std::u16string w(const QString& s) {
    return s.toStdU16String();
}
