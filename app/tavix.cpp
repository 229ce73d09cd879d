#include "tavix.h"

#include "browser/browserpage.h"
#include "browser/clienthandler.h"
#include "browser/tavixwebview.h"
#include "cefapplication.h"
#include "hotplug.h"
#include "startup.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>

tavix::tavix(ConfigStore& config, QWidget* parent)
    : QWidget(parent), m_config(config), m_confCommands(config, nullptr),
      m_appCommands(config, *this) {
    setObjectName(QStringLiteral("tavixClass"));
    resize(600, 400);
    setWindowTitle(QCoreApplication::translate("tavixClass", "tavix"));

    const QSize size = startup::clientSize(m_config.clientAttributes());
    resize(size);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/tavix/desk_icon")));

    m_view = new TavixWebView(this);
    m_view->resize(size);
    setMinimumSize(size);
    setMouseTracking(true);

    m_pageUrl = QStringLiteral("file:///") + QCoreApplication::applicationDirPath() +
                QStringLiteral("/view/index.html");
    // On Linux the folder already starts with "/"; keep one slash after the scheme's three.
    m_pageUrl.replace(QLatin1String("file:////"), QLatin1String("file:///"));
    if (ClientHandler* handler = ClientHandler::instance())
        handler->setMainUrl(m_pageUrl);
    m_view->loadUrl(m_pageUrl);

    connect(m_view, &TavixWebView::jsMessage, this, &tavix::onJsMessage);

    // The program shortcuts, the per-device hotkeys and the key maps are set up here once
    // their parts exist; the configuration commands then get the shortcuts as their host.

    CommandContext& context = m_dispatcher.context();
    context.window = this;
    context.conf = &m_confCommands;
    context.app = &m_appCommands;
}

tavix::~tavix() = default;

void tavix::push(const QString& name, const QVariantList& args) {
    if (ClientHandler* handler = ClientHandler::instance())
        handler->sendProcessMessage(name, args);
}

void tavix::requestDeviceNotifications() {
    // The platform's USB facility delivers notifications to deviceInterfaceEvent once it is
    // part of the build.
}

void tavix::deviceInterfaceEvent(int code, int deviceType, const QString& devicePath) {
    qDebug().noquote() << hotplug::logLine(code);
    const QStringList known =
        cefApplication::instance() ? cefApplication::instance()->knownDeviceKeys() : QStringList();
    const int argument = hotplug::eventArgument(code, deviceType, devicePath, known);
    if (argument == 0)
        return;
    devicesChanged(argument);
    // The product information of an arriving device and the key maps follow here once their
    // parts exist.
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
    // The profile cache writes its pending files here once it is part of the window.
}

void tavix::reload_currentPage() {
    if (ClientHandler* handler = ClientHandler::instance()) {
        if (BrowserPage* browser = handler->currentBrowser())
            browser->triggerAction(QWebEnginePage::Reload);
    }
}

void tavix::onJsMessage(const QString& name,
                        const CefRefPtr<CefMessageRouterBrowserSide::Callback> callbackPtr) {
    m_dispatcher.onJsMessage(name, callbackPtr);
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
    cefApplication::requestQuit();
}

void tavix::showMouseConf() {
    push(QStringLiteral("onSwitchVirtualDevice"));
}

void tavix::showDebug() {
    // The test tool window opens here once popup windows exist.
}

void tavix::onTaskFinished() {}

void tavix::deviceHotKeyActive() {
    // Device settings pages open here once the device hotkeys exist.
}

void tavix::closeEvent(QCloseEvent* event) {
    // The system's close only hides: the program lives on in the tray.
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
