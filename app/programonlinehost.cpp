#include "programonlinehost.h"

#include "config/configstore.h"
#include "device/devices_handler.h"
#include "quit.h"
#include "tavix.h"

#include <QFile>

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

void ProgramOnlineHost::setClientSetting(const QString& name, const QString& value) {
    m_config.setClientAttribute(name, value);
}

QString ProgramOnlineHost::readConfFile() const {
    QFile f(m_config.filePath());
    if (!ConfigStore::mayReadWhole(f.fileName()) || !f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QString ProgramOnlineHost::confText() const {
    return m_config.confText();
}

void ProgramOnlineHost::commitConf(const QString& text) {
    m_config.setConfText(text);
    m_config.writeConf();
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
