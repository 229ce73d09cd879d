#include "popupviews.h"

#include "browser/clienthandler.h"
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
    // A popup that went another way (the program ending) leaves no stale entry.
    connect(popup, &QObject::destroyed, this, [this, url] {
        const auto it = m_views.find(url);
        if (it != m_views.end() && it.value().isNull())
            m_views.erase(it);
    });
    popup->show();
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
    for (auto it = m_views.begin(); it != m_views.end(); ++it) {
        if (it.value() == m_current) {
            m_views.erase(it);
            break;
        }
    }
    m_current->deleteLater();
    m_current = nullptr;
}
