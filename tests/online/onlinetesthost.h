#pragma once

#include "config/configstore.h"
#include "online/onlinehost.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QStringList>

// The program's side of the online services: conf.xml through a real configuration store in
// `programFolder`, the rest held in memory.
class OnlineTestHost : public OnlineHost {
public:
    OnlineTestHost(const QString& programFolder, const QString& conf) : m_store(programFolder) {
        QDir().mkpath(programFolder + QStringLiteral("/Resources/profiles"));
        QFile f(m_store.filePath());
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(conf.toUtf8());
        f.close();
        m_store.load();
        ++commits;
    }

    QString apiServer() const override { return api; }
    QString clientSetting(const QString& name) const override {
        return m_store.clientAttribute(name);
    }
    platform::Result commitClientSetting(const QString& name, const QString& value) override {
        const platform::Result r = m_store.recordClientAttribute(name, value);
        if (r)
            ++commits;
        return r;
    }
    platform::Result confReadable() const override { return m_store.fileReadable(); }
    platform::ResultOf<std::optional<QString>>
    recordedPageFolder(const QString& deviceId) const override {
        return m_store.recordedPageFolder(deviceId);
    }
    platform::Result recordProductInfo(const QString& deviceId,
                                       const QList<QPair<QString, QString>>& attributes) override {
        const platform::Result r = m_store.recordProductInfo(deviceId, attributes);
        if (r)
            ++commits;
        return r;
    }
    platform::ResultOf<QByteArray> syncedConf(const QByteArray& text) const override {
        return m_store.syncedText(text, {QStringLiteral("apiServer"), QStringLiteral("version"),
                                         QStringLiteral("synchronize")});
    }
    platform::Result commitSyncedConf(const QByteArray& text) override {
        const platform::Result r = m_store.commitText(QString::fromUtf8(text));
        if (r)
            ++commits;
        return r;
    }
    void filesReplaced(const QStringList& names) override { replaced << names; }
    QList<OnlineDevice> connectedDevices() const override { return devices; }
    kx::FirmwareSession* firmwareSession() const override { return session; }
    FirmwareWaits firmwareWaits() const override { return waits; }
    QWidget* mainWindow() const override { return nullptr; }
    void quitProgram() override { ++quits; }
    void reportDeviceArrival(const QString& deviceId, const QString&) override {
        arrivals << deviceId;
    }

    // What the test sets or reads beside the services.
    void setClientSetting(const QString& name, const QString& value) {
        m_store.setClientAttribute(name, value);
    }
    // Takes conf.xml from disk again, as at a start.
    bool reloadConf() { return m_store.load().ok; }
    QString readConfFile() const {
        QFile f(m_store.filePath());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    void writeConfFile(const QString& text) {
        QFile f(m_store.filePath());
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text.toUtf8());
    }

    QString api;
    QList<OnlineDevice> devices;
    kx::FirmwareSession* session = nullptr;
    FirmwareWaits waits;
    QStringList arrivals;
    QStringList replaced; // files the services said they replaced
    int commits = 0;      // conf.xml written, counting the one that set the host up
    int quits = 0;

private:
    ConfigStore m_store;
};
