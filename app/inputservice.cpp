#include "inputservice.h"

#include "config/configstore.h"
#include "config/profilecache.h"
#include "device/devices_handler.h"
#ifndef Q_OS_WIN
#include "platform/inputdevices.h"
#endif

#include "weblog/weblog.h"

#include <QFileInfo>

InputService::InputService(ConfigStore& config, devices_handler* devices,
                           ProfileCache& profileCache, const QString& dataFolder, Push push)
    : m_config(config), m_devices(devices), m_profileCache(profileCache), m_dataFolder(dataFolder),
      m_recorder([push](const QStringList& item) {
          push(QStringLiteral("macroItem"), {item.at(0), item.at(1), item.at(2), item.at(3)});
      }) {
    // Without the virtual device there is no output device: the mode cannot be switched.
    const bool opened = m_virtualDevice.openVirtualDevice();
    m_redirection = std::make_unique<InputRedirection>(opened ? &m_virtualDevice : nullptr);
    m_commands = std::make_unique<InputCommands>(*m_redirection, m_recorder,
                                                 [this] { return loadKeyMaps(); });
    m_commands->reloadKeyMaps();
#ifndef Q_OS_WIN
    const std::string missing = platform::inputdevices::choice().problem;
    if (!missing.empty())
        m_commands->setDevicesNotice([push, missing] {
            push(QStringLiteral("inputDevicesMissing"), {QString::fromStdString(missing)});
        });
#endif
    // The page hears of the emergency stop as of the hotkey, with "0": the mode is off now.
    QObject::connect(m_redirection.get(), &InputRedirection::emergencyStopped, [push] {
        push(QStringLiteral("onSwitchVirtualDevice"), {QStringLiteral("0")});
    });
    switchOnAtStart();
}

void InputService::switchOnAtStart() {
    if (m_config.clientAttribute(QStringLiteral("keyMappingAtStart")) != QLatin1String("1"))
        return;
    if (!m_redirection->outputDevicePresent()) {
        qCInfo(lcTavix, "keyMappingAtStart: the virtual device is missing; key mapping stays off");
        return;
    }
    m_redirection->switchOn();
    qCInfo(lcTavix, "keyMappingAtStart: key mapping switched on");
}

InputService::~InputService() {
    m_recorder.stopRecord();
    m_redirection->shutdown();
}

void InputService::updateConnectedIds() {
    if (m_devices)
        m_redirection->setConnectedIds(m_devices->knownDeviceKeys());
}

KeyMaps InputService::loadKeyMaps() {
    QList<KeyMapDevice> devices;
    if (m_devices) {
        for (const UsbDeviceEntry& entry : m_devices->usbDeviceList())
            devices << KeyMapDevice{entry.vendorId, entry.productId};
    }
    updateConnectedIds();
    return ::loadKeyMaps(
        m_config.parsed(), [this](const QString& id) { return m_config.pageFolder(id); }, devices,
        m_dataFolder, [this](const QString& path) { return m_profileCache.load(path); },
        [](const QString& path) { return QFileInfo::exists(path); });
}
