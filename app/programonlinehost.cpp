#include "programonlinehost.h"

#include "config/configstore.h"
#include "device/devices_handler.h"
#include "quit.h"
#include "tavix.h"

namespace {
// Where the reference server listens when conf.xml names none.
const char* const kDefaultApiServer = "http://127.0.0.1:18080";
} // namespace

void ProgramOnlineHost::setMainWindow(tavix* window) {
    m_window = window;
}

QString ProgramOnlineHost::apiServer() const {
    QString server = m_config.clientAttribute(QStringLiteral("apiServer")).trimmed();
    if (server.isEmpty())
        server = QLatin1String(kDefaultApiServer);
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    return server;
}

QString ProgramOnlineHost::clientSetting(const QString& name) const {
    return m_config.clientAttribute(name);
}

platform::Result ProgramOnlineHost::commitClientSetting(const QString& name, const QString& value) {
    return m_config.recordClientAttribute(name, value);
}

platform::Result ProgramOnlineHost::confReadable() const {
    return m_config.fileReadable();
}

platform::ResultOf<std::optional<QString>>
ProgramOnlineHost::recordedPageFolder(const QString& deviceId) const {
    return m_config.recordedPageFolder(deviceId);
}

platform::Result
ProgramOnlineHost::recordProductInfo(const QString& deviceId,
                                     const QList<QPair<QString, QString>>& attributes) {
    return m_config.recordProductInfo(deviceId, attributes);
}

platform::ResultOf<QByteArray> ProgramOnlineHost::syncedConf(const QByteArray& text) const {
    // The server this program asks, the version it runs and the revision it holds are its own:
    // a synced file from elsewhere must not change where updates come from.
    return m_config.syncedText(text, {QStringLiteral("apiServer"), QStringLiteral("version"),
                                      QStringLiteral("synchronize")});
}

platform::Result ProgramOnlineHost::commitSyncedConf(const QByteArray& text) {
    return m_config.commitText(QString::fromUtf8(text));
}

void ProgramOnlineHost::filesReplaced(const QStringList& names) {
    if (m_window)
        m_window->filesReplaced(names);
}

QList<OnlineDevice> ProgramOnlineHost::connectedDevices() const {
    QList<OnlineDevice> devices;
    if (!m_devices)
        return devices;
    const DeviceListBlock block = m_devices->deviceList();
    for (int i = 0; i < block.recordCount(); ++i) {
        const DeviceRecord& r = block.records[i];
        // A device in update mode has no id: it is not a device the page works with.
        if (r.deviceId().isEmpty())
            continue;
        devices << OnlineDevice{r.deviceId(), r.sn(), r.version(), r.hardwareId(), r.devicePath()};
    }
    return devices;
}

kx::FirmwareSession* ProgramOnlineHost::firmwareSession() const {
    return m_devices ? &m_devices->firmwareSession() : nullptr;
}

QWidget* ProgramOnlineHost::mainWindow() const {
    return m_window;
}

void ProgramOnlineHost::quitProgram() {
    if (quit::requested())
        return;
    if (m_window)
        m_window->oncloseApp(); // writes what the profiles left pending, then quits
    else
        quit::request();
}

void ProgramOnlineHost::reportDeviceArrival(const QString&, const QString&) {
    // The page lists the devices again and now finds the device's pages.
    if (m_window)
        m_window->devicesChanged(2);
}

void ProgramOnlineHost::replaceFilesInTurn(std::function<void()> install,
                                           std::function<void()> done) {
    if (!m_window) {
        if (install)
            install();
        done();
        return;
    }
    // The copying (with its waits for files in use) on the profile commands' worker; what the
    // window learns of it at home, right after.
    handoff::CommandLane& lane = m_window->profileLane();
    if (install)
        lane.queue(handoff::CommandLane::Side::Worker, handoff::CommandLane::Effect::Writes,
                   std::move(install));
    lane.queue(handoff::CommandLane::Side::Home, handoff::CommandLane::Effect::Writes,
               std::move(done));
}
