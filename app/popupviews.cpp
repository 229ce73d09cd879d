#include "popupviews.h"

#include "browser/clienthandler.h"
#include "browser/tavixwebview.h"
#include "popwidget.h"
#include "windowcommands.h"

PopupViews::PopupViews(QWidget* mainWindow) : QObject(mainWindow), m_mainWindow(mainWindow) {}

PopWidget* PopupViews::open(const QString& url, const QSize& asked) {
    if (m_views.contains(url))
        return nullptr;
    const QRect space = windowcommands::screenSpace();
    const QSize size = space.isEmpty() ? asked : asked.boundedTo(space.size());
    auto* popup = new PopWidget(m_mainWindow, url, size);
    m_views.insert(url, popup);
    popup->makeWindowCommandTarget();
    connect(popup, &PopWidget::popupActivated, this, &PopupViews::onActivated);
    connect(popup, &PopWidget::closeRequested, this, &PopupViews::close);
    // A popup that went another way (the program ending) leaves no stale entry.
    connect(popup, &QObject::destroyed, this, [this, url] {
        const auto it = m_views.find(url);
        if (it != m_views.end() && it.value().isNull())
            m_views.erase(it);
    });
    popup->show();
    // Opened by a hotkey from anywhere, it takes the keyboard, so Esc closes it at once.
    popup->raise();
    popup->activateWindow();
    popup->view()->setFocus();
    return popup;
}

void PopupViews::onActivated(PopWidget* popup) {
    m_current = popup;
}

void PopupViews::closeCurrent() {
    if (ClientHandler* handler = ClientHandler::instance())
        handler->setMainWindowHandle(m_mainWindow);
    if (!m_current)
        return;
    forget(m_current);
    m_current->deleteLater();
    m_current = nullptr;
}

void PopupViews::close(PopWidget* popup) {
    if (!popup)
        return;
    ClientHandler* handler = ClientHandler::instance();
    if (handler && handler->mainWindowHandle() == popup)
        handler->setMainWindowHandle(m_mainWindow);
    if (m_current == popup)
        m_current = nullptr;
    forget(popup);
    popup->hide();
    popup->deleteLater();
}

void PopupViews::forget(PopWidget* popup) {
    for (auto it = m_views.begin(); it != m_views.end(); ++it) {
        if (it.value() == popup) {
            m_views.erase(it);
            break;
        }
    }
}
