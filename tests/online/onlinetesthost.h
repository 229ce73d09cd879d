#pragma once

#include "online/onlinehost.h"

#include <QFile>
#include <QMap>
#include <QStringList>

// The program's side of the online services, held in memory; conf.xml is also written to disk
// so that what reads the file sees the commits.
class OnlineTestHost : public OnlineHost {
public:
    OnlineTestHost(const QString& confPath, const QString& conf) : m_confPath(confPath) {
        commitConf(conf);
        m_settings.insert(QStringLiteral("version"), QStringLiteral("1.0.0"));
        m_settings.insert(QStringLiteral("synchronize"), QStringLiteral("0"));
    }

    QString apiServer() const override { return api; }
    QString clientSetting(const QString& name) const override { return m_settings.value(name); }
    void setClientSetting(const QString& name, const QString& value) override {
        m_settings.insert(name, value);
    }
    QString readConfFile() const override {
        QFile f(m_confPath);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString confText() const override { return m_text; }
    void commitConf(const QString& text) override {
        m_text = text;
        ++commits;
        QFile f(m_confPath);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text.toUtf8());
    }
    QList<OnlineDevice> connectedDevices() const override { return devices; }
    kx::FirmwareSession* firmwareSession() const override { return session; }
    FirmwareWaits firmwareWaits() const override { return waits; }
    QWidget* mainWindow() const override { return nullptr; }
    void quitProgram() override { ++quits; }
    void reportDeviceArrival(const QString& deviceId, const QString&) override {
        arrivals << deviceId;
    }

    QString api;
    QList<OnlineDevice> devices;
    kx::FirmwareSession* session = nullptr;
    FirmwareWaits waits;
    QStringList arrivals;
    int commits = 0;
    int quits = 0;

private:
    QString m_confPath;
    QString m_text;
    QMap<QString, QString> m_settings;
};
