#include "systemtray.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QMenu>

SystemTray::SystemTray(QObject* parent)
    : QSystemTrayIcon(parent), m_menu(new QMenu), m_showAction(m_menu->addAction(QString())),
      m_quitAction((m_menu->addSeparator(), m_menu->addAction(QString()))) {
    retranslate();
    setIcon(QIcon(QStringLiteral(":/systemtray/tray_icon")));
    connect(m_showAction, &QAction::triggered, this, &SystemTray::doshowWidget);
    connect(m_quitAction, &QAction::triggered, this, &SystemTray::docloseApp);
    setContextMenu(m_menu);
    // The menu is a widget and hears of a new translation; the icon itself does not.
    m_menu->installEventFilter(this);
    show();
}

// The menu has no parent widget to take it along.
SystemTray::~SystemTray() {
    delete m_menu;
}

void SystemTray::retranslate() {
    m_showAction->setText(tr("打开客户端"));
    m_quitAction->setText(tr("退出"));
}

bool SystemTray::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_menu && event->type() == QEvent::LanguageChange)
        retranslate();
    return QSystemTrayIcon::eventFilter(watched, event);
}

void SystemTray::doshowWidget() {
    emit showWidget();
}

void SystemTray::docloseApp() {
    emit closeApp();
}
