#include "tavix.h"

#include "browser/browserpage.h"
#include "browser/clienthandler.h"
#include "browser/tavixwebview.h"
#include "config/configstore.h"
#include "device/devices_handler.h"
#include "devicehotkeys.h"
#include "inputservice.h"
#include "nativelanguage.h"
#include "online/onlinecommands.h"
#include "popupviews.h"
#include "popwidget.h"
#include "programshortcuts.h"
#include "quit.h"
#include "startup.h"
#include "systemtray.h"
#include "weblog/startuptrace.h"
#include "windowcommands.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

tavix::tavix(ConfigStore& config, devices_handler* devices, const ProgramFolders& folders,
             QWidget* parent)
    : QWidget(parent), m_config(config), m_devices(devices),
      m_profileCache(std::make_unique<ProfileCache>()),
      m_shortcuts(new ProgramShortcuts(folders.launcher(), this)),
      m_confCommands(config, m_shortcuts), m_appCommands(config, *this),
      m_profileCommands(std::make_unique<ProfileCommands>(*m_profileCache, folders.data())),
      m_systemCommands(*this, folders), m_dataFolder(folders.data()) {
    // Before anything that shows text of its own: the translations are read-only files, the
    // page's language is kept with what the page writes.
    m_language = new NativeLanguage(folders.share() + QStringLiteral("/translations"), this);
    m_language->follow(folders.data() + QStringLiteral("/view/xml/page.xml"));
    createView();
    assignShortcuts();
    startuptrace::mark("shortcuts assigned");
    m_input = std::make_unique<InputService>(
        m_config, m_devices, *m_profileCache, m_dataFolder,
        [this](const QString& name, const QVariantList& args) { push(name, args); });
    startuptrace::mark("virtual device and key maps ready");
    wireCommands();
}

void tavix::createView() {
    setObjectName(QStringLiteral("tavixClass"));
    resize(600, 400);
    setWindowTitle(QCoreApplication::translate("tavixClass", "tavix"));

    // conf.xml may ask for any size; the screens decide what can be shown.
    QSize size = startup::clientSize(m_config.clientAttributes());
    const QRect space = windowcommands::screenSpace();
    if (!space.isEmpty())
        size = size.boundedTo(space.size());
    resize(size);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/tavix/desk_icon")));

    m_view = new TavixWebView(this);
    m_view->resize(size);
    setMinimumSize(size);
    setMouseTracking(true);

    m_pageUrl = m_systemCommands.pageUrl(QStringLiteral("view/index.html")).value_or(QString());
    m_client = ClientHandler::instance();
    if (m_client)
        m_client->setMainUrl(m_pageUrl);
    m_view->loadUrl(m_pageUrl);
    startuptrace::mark("page requested");

    m_popups = new PopupViews(this);
    if (m_client) {
        m_client->setRequestHandler(&m_dispatcher);
        m_client->setWindowCommand([this](const QString& request) { windowCommand(request); });
    }
}

void tavix::assignShortcuts() {
    const QMap<QString, QString> client = m_config.clientAttributes();
    for (const char* name : {"fastSwitch", "testTool"}) {
        const auto it = client.find(QLatin1String(name));
        if (it != client.end())
            m_shortcuts->assignShortcut(QLatin1String(name), *it);
    }
    connect(m_shortcuts, &ProgramShortcuts::fastSwitchActivated, this, &tavix::showMouseConf);
    connect(m_shortcuts, &ProgramShortcuts::testToolActivated, this, &tavix::showDebug);
    m_deviceHotKeys = new DeviceHotKeys(this);
    m_deviceHotKeys->setSources(m_devices, nullptr, &m_config);
    connect(m_deviceHotKeys, &DeviceHotKeys::activated, this, &tavix::openDeviceSettings);
}

void tavix::wireCommands() {
    CommandContext& context = m_dispatcher.context();
    context.window = this;
    context.conf = &m_confCommands;
    context.app = &m_appCommands;
    context.profiles = m_profileCommands.get();
    context.system = &m_systemCommands;
    m_confCommands.setDeviceHotKeys(m_deviceHotKeys);
    context.input = &m_input->commands();
    // The profile commands marked for it run there, so a long one holds up nothing else.
    m_profileCommands->setConfigStore(&m_config);
    m_profileCommands->startWorker();
    if (m_devices) {
        m_deviceCommands = std::make_unique<DeviceCommands>(*m_devices, m_config);
        context.device = m_deviceCommands.get();
        m_devices->setEventSink(this);
    }
}

tavix::~tavix() {
    // First, while everything its queued steps use is still there. The edits and writes still
    // queued are done; a profile command that runs on is left behind with what it uses.
    if (!m_profileCommands->finishForExit()) {
        (void)m_profileCommands.release();
        (void)m_profileCache.release();
        quit::leaveWorkRunning();
    }
    if (m_devices)
        m_devices->setEventSink(nullptr);
    m_input.reset();
    if (m_client) {
        m_client->setWindowCommand({});
        if (m_client->requestHandler() == &m_dispatcher)
            m_client->setRequestHandler(nullptr);
    }
}

void tavix::setDeviceEnumeration(DeviceEnumeration* enumeration) {
    m_deviceHotKeys->setSources(m_devices, enumeration, &m_config);
    m_deviceHotKeys->refreshDeviceHotKeys();
}

void tavix::createTray() {
    if (m_tray)
        return;
    m_tray = new SystemTray(this);
    connect(m_tray, &QSystemTrayIcon::activated, this, &tavix::onSystemtrayActive,
            Qt::UniqueConnection);
    connect(m_tray, &SystemTray::showWidget, this, &tavix::onshowWidget);
    connect(m_tray, &SystemTray::closeApp, this, &tavix::oncloseApp);
}

void tavix::windowCommand(const QString& request) {
    QWidget* target = m_client ? m_client->mainWindowHandle() : nullptr;
    if (!target)
        target = this;
    const auto window = static_cast<std::uintptr_t>(target->window()->winId());
    if (request.startsWith(QLatin1String("moveWindow"))) {
        if (const auto values = windowcommands::parseMoveWindow(request))
            windowcommands::moveWindow(window, *values, windowcommands::desktopBounds());
        return;
    }
    writePendingProfiles();
    windowcommands::minisizeWindow(window);
}

void tavix::loadMainPage(const QString& url) {
    if (m_view->browser())
        m_view->loadUrl(url);
}

void tavix::mainPageHistory(bool back) {
    if (BrowserPage* page = m_view->browser())
        page->triggerAction(back ? QWebEnginePage::Back : QWebEnginePage::Forward);
}

void tavix::openView(const QString& url, const QSize& size) {
    m_popups->open(url, size);
}

void tavix::closeView() {
    m_popups->closeCurrent();
}

void tavix::pushToMainPage(const QString& name, const QString& text) {
    push(name, {text});
}

void tavix::openDeviceSettings(const QString& deviceId) {
    const auto info = m_config.productInfo(deviceId);
    if (!info || info->isEmpty())
        return;
    const auto url = m_systemCommands.pageUrl(QStringLiteral("/view/device/") +
                                              info->value(QStringLiteral("device")) +
                                              QStringLiteral("/seting.html"));
    if (url)
        m_popups->open(*url, SystemCommands::kDefaultViewSize);
}

void tavix::push(const QString& name, const QVariantList& args) {
    if (m_client)
        m_client->pushEvent(name, args);
}

void tavix::watchDeviceChanges(HotplugWatcher* watcher) {
    m_hotplug = watcher;
    // Only Win32 delivers device changes as window messages; elsewhere this asks nothing and the
    // window stays as Qt creates it.
    watcher->watchWindow(reinterpret_cast<void*>(winId()));
    connect(watcher, &HotplugWatcher::changed, this, &tavix::deviceChanged);
}

void tavix::setOnlineCommands(OnlineCommands* online) {
    m_online = online;
    m_dispatcher.context().online = online;
    // checkUpdate is never answered; the page learns the outcome as an event.
    if (online)
        connect(online, &OnlineCommands::updateCheckEnded, this, [this](const QString& outcome) {
            push(QStringLiteral("onUpdateCheck"), {outcome});
        });
}

void tavix::filesReplaced(const QStringList& names) {
    // The cache knows a file by the path the commands resolve, the folder and the name cleaned.
    for (const QString& name : names)
        m_profileCache->forget(QDir::cleanPath(m_dataFolder + QLatin1Char('/') + name));
    m_input->reloadKeyMaps();
}

void tavix::devicesChanged(int code) {
    // The capture filter never remaps the library's devices: it learns of them at once, not at
    // the next key map load.
    m_input->updateConnectedIds();
    push(QStringLiteral("devicesChanged"), {code});
}

void tavix::deviceChanged(const HotplugAction& action) {
    if (m_announced.announce(action.argument, action.key))
        devicesChanged(action.argument);
    if (action.argument == kUsbDeviceArrived && m_online)
        m_online->deviceArrived(action.key, action.path);
    // The key map files are read through the profile cache: after the edits sent before.
    profileLane().queue(handoff::CommandLane::Side::Home, handoff::CommandLane::Effect::Reads,
                        [this] { m_input->reloadKeyMaps(); });
}

bool tavix::nativeEvent(const QByteArray& eventType, void* message, long* result) {
    if (m_hotplug)
        m_hotplug->handleNativeMessage(message);
    // Always left to Qt's own handling as well.
    return QWidget::nativeEvent(eventType, message, result);
}

void tavix::deviceArrived(const QString& deviceId) {
    if (m_online)
        m_online->deviceArrived(deviceId, QString());
}

void tavix::maxsizeWindow() {
    m_normalGeometry = geometry();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
}

void tavix::restoreWindow() {
    if (m_normalGeometry.isValid())
        setGeometry(m_normalGeometry);
}

void tavix::hideToTray() {
    hide();
    writePendingProfiles();
}

void tavix::writePendingProfiles() {
    // In turn with the profile commands still queued, so their edits are written too.
    m_profileCommands->writePending();
}

void tavix::reload_currentPage() {
    if (m_client) {
        if (BrowserPage* browser = m_client->currentBrowser())
            browser->triggerAction(QWebEnginePage::Reload);
    }
}

void tavix::onSystemtrayActive(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        activateWindow();
        show();
        break;
    default:
        break;
    }
}

void tavix::onshowWidget() {
    show();
}

void tavix::oncloseApp() {
    writePendingProfiles();
    quit::request();
}

void tavix::showMouseConf() {
    push(QStringLiteral("onSwitchVirtualDevice"));
}

void tavix::showDebug() {
    const QMap<QString, QString> client = m_config.clientAttributes();
    if (client.isEmpty())
        return;
    // The address is appended as it stands; it starts with "/".
    if (const auto url = m_systemCommands.pageUrl(client.value(QStringLiteral("testToolRurl"))))
        m_popups->open(*url,
                       SystemCommands::viewSize(client.value(QStringLiteral("testToolSize"))));
}

void tavix::closeEvent(QCloseEvent* event) {
    // The system's close only hides the window; closeApp ends the program.
    hide();
    event->ignore();
}

void tavix::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && isMinimized())
        showNormal();
    QWidget::changeEvent(event);
}

void tavix::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->resize(size());
}
