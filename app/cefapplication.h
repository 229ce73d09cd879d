#pragma once

#include "config/configstore.h"

#include <QApplication>
#include <QLocalSocket>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QStringList>
#include <QVector>

class QLocalServer;
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
    QStringList knownDeviceKeys() const { return m_knownDeviceKeys; }
    QMap<QString, QStringList> deviceMap() const { return m_deviceMap; }
    QMap<QString, int> deviceCounter() const { return m_deviceCounter; }
    void enumerateDevices();

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

    QMap<QString, QStringList> m_deviceMap;
    ConfigStore m_config;
    QMap<QString, int> m_deviceCounter;
    QString m_serverName;
    QLocalSocket* m_socket = nullptr;
    QByteArray m_receiveBuffer;
    QLocalServer* m_server = nullptr;
    QVector<QPair<QPointer<QLocalSocket>, QByteArray>> m_clients;
    bool m_connected = false;
    bool m_autostart = false;
    QStringList m_knownDeviceKeys;
    tavix* m_mainWindow = nullptr;
};
