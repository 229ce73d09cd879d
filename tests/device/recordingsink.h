#pragma once

#include "device/deviceeventsink.h"

#include <QStringList>

// Writes down what the device manager told the main window, in order.
class RecordingSink : public DeviceEventSink {
public:
    void devicesChanged(int code) override { log << QStringLiteral("changed %1").arg(code); }
    void deviceArrived(const QString& id) override { log << "arrived " + id; }
    void deviceData(const QString& hex) override { log << "data " + hex; }
    QStringList log;
};
