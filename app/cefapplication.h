#pragma once

#include "config/configstore.h"
#include "device/deviceenumeration.h"

#include <QApplication>
#include <QLocalSocket>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QStringList>
#include <QVector>

class QLocalServer;
class devices_handler;
class tavix;

// The application object: configuration, the start-up snapshot of the devices, the
// single-instance hand-over and the main window. Everybody reaches it through instance().
class cefApplication : public QApplication {
    Q_OBJECT
public:
    cefApplication(int& argc, char** argv);
    ~cefApplication() override;

    static cefApplication* instance();

    // Style sheet, global pointer, then the single-instance hand-over; run before the event loop.
    void start();

    // Sets the quit-requested flag (once) and ends the event loop.
    static void requestQuit();
    static bool quitRequested();

    // The program folder followed by "/".
    static QString programPath();

    // Configuration text and client attributes.
    ConfigStore& config() { return m_config; }
    QString confText() const { return m_config.confText(); }
    void setConfText(const QString& text) { m_config.setConfText(text); }
    bool writeConf() const { return m_config.writeConf(); }
    QMap<QString, QString> clientAttributes() const { return m_config.clientAttributes(); }
    QString clientAttribute(const QString& name) const { return m_config.clientAttribute(name); }
    bool setClientAttribute(const QString& name, const QString& value) {
        return m_config.setClientAttribute(name, value);
    }

    // Devices as the last enumeration saw them.
    QStringList knownDeviceKeys() const { return m_enumeration.knownDeviceKeys(); }
    QMap<QString, DeviceEntry> deviceMap() const { return m_enumeration.deviceMap(); }
    QMap<QString, int> deviceCounter() const { return m_enumeration.counterMap(); }
    // Lists the library's devices again; returns the id of a device that is new since the
    // previous listing ("" for none).
    QString enumerateDevices();
    devices_handler* devices() const { return m_devices; }

    bool autostart() const { return m_autostart; }
    tavix* mainWindow() const { return m_mainWindow; }
    bool isServer() const { return m_server != nullptr; }

public slots:
    void socketConnected();
    void socketError(QLocalSocket::LocalSocketError error);
    void socketDisconnected();
    void socketWritten(qint64 bytes);
    void socketReading();
    void newInstanceConnected();
    void readClients();
    void removeClients();

private:
    void becomeFirstInstance();
    void createMainWindow();

    DeviceEnumeration m_enumeration; // device map, counter map, known device keys
    ConfigStore m_config;
    QString m_serverName;
    QLocalSocket* m_socket = nullptr;
    QByteArray m_receiveBuffer;
    QLocalServer* m_server = nullptr;
    QVector<QPair<QPointer<QLocalSocket>, QByteArray>> m_clients;
    bool m_connected = false;
    bool m_autostart = false;
    tavix* m_mainWindow = nullptr;
    devices_handler* m_devices = nullptr;
};
