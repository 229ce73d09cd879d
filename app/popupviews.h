#pragma once

#include "bridge/routercallback.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

class PopWidget;
class QWidget;
class TavixWebView;

// The main window's popup windows: one per URL, the one activated last as the current popup,
// and every popup's page requests handed on as the main window's own.
class PopupViews : public QObject {
    Q_OBJECT
public:
    // `mainWindow` parents the popups; `mainView` becomes the listener again when one closes.
    PopupViews(QWidget* mainWindow, TavixWebView* mainView);

    // Opens a popup for `url` at `size` and makes it the listener and window-command target;
    // nothing when one exists for the URL. Returns the new popup, else null.
    PopWidget* open(const QString& url, const QSize& size);
    // Gives requests and window commands back to the main window, then closes the current
    // popup (when there is one).
    void closeCurrent();

    PopWidget* current() const { return m_current; }
    PopWidget* find(const QString& url) const { return m_views.value(url); }
    int count() const { return m_views.size(); }

signals:
    void jsMessage(const QString& request,
                   const CefRefPtr<CefMessageRouterBrowserSide::Callback> callback);

private:
    void onActivated(PopWidget* popup);

    QWidget* m_mainWindow;
    TavixWebView* m_mainView;
    QMap<QString, QPointer<PopWidget>> m_views;
    QPointer<PopWidget> m_current;
};
