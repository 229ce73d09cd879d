#pragma once

#include "config/configstore.h"
#include "config/programfolders.h"
#include "device/deviceenumeration.h"
#include "online/onlinesettings.h"
#include "programonlinehost.h"

#include <QApplication>
#include <QLocalSocket>
#include <QPair>
#include <QPointer>
#include <QVector>

class HotplugWatcher;
class OnlineCommands;
class QLocalServer;
class devices_handler;
class tavix;

// The application object: configuration, the device manager with the start-up snapshot of the
// devices, the single-instance hand-over and the main window.
class cefApplication : public QApplication {
    Q_OBJECT
public:
    cefApplication(int& argc, char** argv);
    ~cefApplication() override;

    // Style sheet, then the single-instance hand-over; run before the event loop.
    void start();

    // Where the program's files are; the data folder is seeded by the time this is built.
    const ProgramFolders& folders() const { return m_folders; }

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
    void createMainWindow();
    // Where the online services work, and whom they trust.
    OnlineSettings onlineSettings() const;
    // Starts the simulated devices of this program folder (not on Win32, nor in an installed
    // copy, which has only the machine's own).
    void startSimulation();
    // Brings an installed copy's data folder in step with the package's defaults.
    void seedDataFolder();

    ProgramFolders m_folders;
    ProgramFolders::Seeded m_seeded;
    DeviceEnumeration m_enumeration; // device map, counter map, known device keys
    ConfigStore m_config;
    QString m_serverName;
    QLocalSocket* m_socket = nullptr;
    QByteArray m_receiveBuffer;
    QLocalServer* m_server = nullptr;
    QVector<QPair<QPointer<QLocalSocket>, QByteArray>> m_clients;
    bool m_connected = false;
    // While another copy holds the single-instance name but does not listen yet, the connection
    // is tried again this often, this many times.
    static constexpr int kClaimRetryMs = 100;
    static constexpr int kClaimRetries = 100;
    int m_claimRetries = 0;
    bool m_autostart = false;
    tavix* m_mainWindow = nullptr;
    devices_handler* m_devices = nullptr;
    HotplugWatcher* m_hotplug = nullptr;
    ProgramOnlineHost m_onlineHost;
    // The update check and the product-information clients live in here.
    OnlineCommands* m_online = nullptr;
};
