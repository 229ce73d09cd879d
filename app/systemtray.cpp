#include "systemtray.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

SystemTray::SystemTray(QObject* parent)
    : QSystemTrayIcon(parent), m_menu(new QMenu),
      m_showAction(m_menu->addAction(QStringLiteral("打开客户端"))),
      m_quitAction((m_menu->addSeparator(), m_menu->addAction(QStringLiteral("退出")))) {
    setIcon(QIcon(QStringLiteral(":/systemtray/tray_icon")));
    connect(m_showAction, &QAction::triggered, this, &SystemTray::doshowWidget);
    connect(m_quitAction, &QAction::triggered, this, &SystemTray::docloseApp);
    setContextMenu(m_menu);
    show();
}

// The menu has no parent widget to take it along.
SystemTray::~SystemTray() {
    delete m_menu;
}

void SystemTray::doshowWidget() {
    emit showWidget();
}

void SystemTray::docloseApp() {
    emit closeApp();
}
