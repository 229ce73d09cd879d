#include "cefapplication.h"

#include "browser/clientapp.h"
#include "browser/clienthandler.h"
#include "device/devices_handler.h"
#include "device/hotplug.h"
#include "online/onlinecommands.h"
#include "online/onlinethreads.h"
#include "online/signature.h"
#include "platform/simcontrol.h"
#ifndef Q_OS_WIN
#include "platform/inputdevices.h"
#include "platform/sim/filterdriver.h"
#include "platform/sim/foreground.h"
#include "platform/sim/hidbus.h"
#include "platform/sim/keyhook.h"
#include "platform/sim/usb.h"
#endif
#include "quit.h"
#include "singleinstance.h"
#include "startup.h"
#include "tavix.h"
#include "weblog/startuptrace.h"
#include "weblog/weblog.h"

#include <QDebug>
#include <QFile>
#include <QLocalServer>
#include <QSslCertificate>
#include <QTimer>

cefApplication::cefApplication(int& argc, char** argv)
    : QApplication(argc, argv),
      m_folders(ProgramFolders::forProgram(QCoreApplication::applicationDirPath())),
      m_config(m_folders.data()), m_onlineHost(m_config) {
    startuptrace::mark("application object created");
    m_serverName = singleinstance::serverName();
    QCoreApplication::setApplicationVersion(startup::programVersion());

    seedDataFolder();
    m_config.load();
    // A newer package's settings reach a conf.xml the user has changed.
    const QString conf = QStringLiteral("Resources/profiles/conf.xml");
    if (m_folders.isInstalled() && m_seeded.keptBeside.contains(conf)) {
        const platform::Result adopted = m_config.adoptNewDefaults(
            m_folders.data() + QLatin1Char('/') + conf + ProgramFolders::kNewDefaultSuffix);
        if (!adopted)
            qWarning("tavix: the new default settings were not taken: %s", adopted.text.c_str());
    }
    if (!m_config.clientAttributes().isEmpty()) {
        QMap<QString, QString> client = m_config.clientAttributes();
        startup::putLiveAddresses(client);
        m_config.replaceClientAttributes(client); // in memory only
    }

    startuptrace::mark("configuration read");
    m_devices = new devices_handler(this, m_folders.binaries() + QStringLiteral("/libkx"));
    m_devices->setEnumeration(&m_enumeration);
    m_enumeration.refresh(m_devices->deviceList());
    m_onlineHost.setDevices(m_devices);
    startuptrace::mark("devices listed");

    m_autostart = startup::hasAutostartSwitch(arguments());
    m_socket = new QLocalSocket(this);
}

cefApplication::~cefApplication() {
    if (m_socket)
        m_socket->close();
    delete m_online; // the update check and the product-information clients
    m_online = nullptr;
    delete m_mainWindow;
    m_mainWindow = nullptr;
    // Downloads the update dialog started write into the program folder too.
    online::stopThreads();
    delete m_hotplug;
    m_hotplug = nullptr;
    delete m_devices;
    m_devices = nullptr;
#ifndef Q_OS_WIN
    platform::simcontrol::stopServer();
#endif
    for (auto& client : m_clients) {
        if (client.first)
            client.first->deleteLater();
    }
    m_clients.clear();
}

void cefApplication::start() {
    QFile style(QStringLiteral(":/qss/tavix"));
    if (style.open(QIODevice::ReadOnly))
        setStyleSheet(QString::fromUtf8(style.readAll()));

    connect(m_socket, &QLocalSocket::connected, this, &cefApplication::socketConnected);
    connect(m_socket, &QLocalSocket::disconnected, this, &cefApplication::socketDisconnected);
    connect(m_socket, &QLocalSocket::errorOccurred, this, &cefApplication::socketError);
    connect(m_socket, &QLocalSocket::bytesWritten, this, &cefApplication::socketWritten);
    connect(m_socket, &QLocalSocket::readyRead, this, &cefApplication::socketReading);

    m_socket->connectToServer(m_serverName, QIODevice::ReadWrite);
}

void cefApplication::socketConnected() {
    m_connected = true;
    m_socket->write(singleinstance::showCommand());
    // A first copy that is ending (or hangs) listens but never answers.
    QTimer::singleShot(singleinstance::kAnswerTimeoutMs, Qt::PreciseTimer, this, [] {
        if (quit::requested())
            return;
        qWarning("tavix: the running copy did not answer within %d ms; this copy ends",
                 singleinstance::kAnswerTimeoutMs);
        quit::request(1);
    });
}

void cefApplication::socketError(QLocalSocket::LocalSocketError) {
    if (m_connected || m_server) {
        quit::request();
        return;
    }
    m_socket->close();
    bool heldElsewhere = false;
    m_server = singleinstance::listenAsFirstInstance(m_serverName, this, &heldElsewhere);
    if (!m_server) {
        if (heldElsewhere && ++m_claimRetries <= kClaimRetries) {
            // Another copy started a moment before and is about to listen: ask it again.
            QTimer::singleShot(kClaimRetryMs, this, [this] {
                m_socket->connectToServer(m_serverName, QIODevice::ReadWrite);
            });
            return;
        }
        quit::request();
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &cefApplication::newInstanceConnected);
    createMainWindow();
}

void cefApplication::socketDisconnected() {
    if (m_connected)
        quit::request();
}

void cefApplication::socketWritten(qint64) {}

void cefApplication::socketReading() {
    if (!m_connected)
        return;
    m_receiveBuffer += m_socket->readAll();
    bool complete = false;
    const quint64 pid = singleinstance::parseAnswer(m_receiveBuffer, &complete);
    if (!complete)
        return;
    if (pid != 0)
        singleinstance::raiseWindowOf(pid);
    quit::request();
}

void cefApplication::newInstanceConnected() {
    while (QLocalSocket* client = m_server->nextPendingConnection()) {
        m_clients.append(qMakePair(QPointer<QLocalSocket>(client), QByteArray()));
        connect(client, &QLocalSocket::readyRead, this, &cefApplication::readClients);
        connect(client, &QLocalSocket::disconnected, this, &cefApplication::removeClients);
    }
}

void cefApplication::readClients() {
    for (auto& client : m_clients) {
        QLocalSocket* socket = client.first;
        if (!socket)
            continue;
        client.second += socket->readAll();
        if (client.second.isEmpty())
            continue;
        const QStringList commands = singleinstance::takeCommands(client.second);
        for (const QString& command : commands) {
            if (command == QLatin1String("show") && m_mainWindow) {
                m_mainWindow->setWindowState(m_mainWindow->windowState() & ~Qt::WindowMinimized);
                m_mainWindow->activateWindow();
                m_mainWindow->show();
            }
            socket->write(singleinstance::reply(QCoreApplication::applicationPid()));
        }
    }
}

void cefApplication::removeClients() {
    for (int i = m_clients.size() - 1; i >= 0; --i) {
        QLocalSocket* socket = m_clients.at(i).first;
        if (!socket || socket->state() != QLocalSocket::ConnectedState) {
            if (socket)
                socket->deleteLater();
            m_clients.remove(i);
        }
    }
}

void cefApplication::seedDataFolder() {
    const platform::ResultOf<ProgramFolders::Seeded> seeded = m_folders.seed();
    if (!seeded) {
        qWarning("tavix: %s", seeded.text.c_str());
        return;
    }
    m_seeded = seeded.value;
    for (const QString& file : m_seeded.copied)
        qInfo("tavix: %s taken from the defaults", qUtf8Printable(file));
    for (const QString& file : m_seeded.replaced)
        qInfo("tavix: %s replaced by the newer default", qUtf8Printable(file));
    for (const QString& file : m_seeded.keptBeside)
        qInfo("tavix: %s keeps your changes; the newer default is beside it as %s%s",
              qUtf8Printable(file), qUtf8Printable(file), ProgramFolders::kNewDefaultSuffix);
    for (const QString& file : m_seeded.failed)
        qWarning("tavix: %s could not be written in %s", qUtf8Printable(file),
                 qUtf8Printable(m_folders.data()));
}

void cefApplication::startSimulation() {
#ifndef Q_OS_WIN
    // Which keyboards and mice the capture filter, the recorder and the virtual HID device meet:
    // the system's, or the simulated ones.
    const platform::inputdevices::Choice& input = platform::inputdevices::choice();
    if (input.source == platform::inputdevices::Source::System)
        qCInfo(lcDevicefilter, "input devices: the system's keyboards and mice");
    else
        qCInfo(lcDevicefilter, "input devices: simulated");
    if (!input.problem.empty()) {
        qCInfo(lcDevicefilter, "real keyboards and mice cannot be reached: %s",
               input.problem.c_str());
        qWarning("tavix: real keyboards and mice cannot be reached: %s", input.problem.c_str());
    }
    if (m_folders.isInstalled())
        return;
    const std::string folder = m_folders.binaries().toStdString();
    // The simulated devices of this program folder are driven through tools/simctl; only the
    // first instance answers there. The HID bus takes its extra devices from simulation.conf.
    const platform::Result hid = platform::hid::sim::configureFromFile(folder + "/simulation.conf");
    if (!hid)
        qWarning("tavix: simulation.conf: %s", hid.text.c_str());
    platform::hid::sim::registerControlCommands();
    platform::usb::sim::registerControlCommands();
    // The filter driver's slots and their hardware ids; keys typed on them reach the program's
    // capture and, when not taken, the simulated keyboard hook.
    const platform::Result filter =
        platform::devio::sim::configureFromFile(folder + "/sim-filter.txt");
    if (!filter)
        qWarning("tavix: sim-filter.txt: %s", filter.text.c_str());
    platform::devio::sim::registerControlCommands();
    platform::keyhook::sim::registerControlCommands();
    // The application in front stays the desktop's until simctl names one.
    platform::windows::sim::registerForegroundCommands();
    platform::simcontrol::startServer(platform::simcontrol::socketPathFor(folder));
#endif
}

OnlineSettings cefApplication::onlineSettings() const {
    OnlineSettings settings(m_folders.data());
    settings.programUpdates = !m_folders.isInstalled();
    // Update packages are taken only when signed by the key built in.
    if (signature::builtInKeyIsTestKey())
        qCInfo(lcUpdatesystem, "Update packages are checked against the reference test key: this "
                               "is a development build");
    // Tests serve "https" with a certificate of their own authority; the program never trusts
    // one by itself.
    const QString extra = qEnvironmentVariable("TAVIX_EXTRA_CA_FILE");
    if (!extra.isEmpty()) {
        settings.extraCaCertificates = QSslCertificate::fromPath(extra);
        qCInfo(lcUpdatesystem, "Trusting %d certificate(s) from %s besides the system's",
               settings.extraCaCertificates.size(), qUtf8Printable(extra));
    }
    return settings;
}

void cefApplication::createMainWindow() {
    startuptrace::mark("first instance");
    startSimulation();
    startuptrace::mark("simulation started");
    m_hotplug = new HotplugWatcher(m_enumeration);
    startuptrace::mark(ClientApp::chooseSceneGraph() ? "pages drawn without OpenGL"
                                                     : "pages drawn with OpenGL");
    m_mainWindow = new tavix(m_config, m_devices, m_folders);
    startuptrace::mark("main window built");
    // Device-interface notifications are asked for here, before the window shows; the device
    // hotkeys and the tray follow the window.
    m_mainWindow->watchDeviceChanges(m_hotplug);
    m_mainWindow->setDeviceEnumeration(&m_enumeration);
    startuptrace::mark("device hotkeys set");
    m_mainWindow->createTray();
    startuptrace::mark("tray created");
    if (ClientHandler* handler = ClientHandler::instance())
        handler->setMainWindowHandle(m_mainWindow);
    if (!m_autostart)
        m_mainWindow->show();
    startuptrace::mark("main window shown");

    m_onlineHost.setMainWindow(m_mainWindow);
    m_online = new OnlineCommands(m_onlineHost, onlineSettings());
    m_mainWindow->setOnlineCommands(m_online);
    // Each listed device gets its product information and pages; then the one update check of
    // the start-up, for the first device.
    for (const DeviceEntry& device : m_enumeration.deviceMap())
        if (!device.deviceId.isEmpty())
            m_online->deviceArrived(device.deviceId, device.devicePath);
    // The other USB devices of the machine by their vendor-and-product key, as a hot-plug
    // arrival names them.
    for (const UsbDeviceEntry& usb : m_devices->usbDeviceList())
        m_online->deviceArrived(usb.vendorId + usb.productId, usb.path);
    if (!m_enumeration.deviceMap().isEmpty())
        m_online->startUpdateCheck(false);
    startuptrace::mark("online commands started");
}
