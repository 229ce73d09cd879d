#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

class PageRequestHandler;
class PopWidget;
class QWidget;
class TavixWebView;

// The main window's popup windows: one per URL, the one activated last as the current popup;
// every popup's page requests go where the main page's go.
class PopupViews : public QObject {
    Q_OBJECT
public:
    // `mainWindow` parents the popups; `mainView` becomes the listener again when one closes;
    // `requests` takes the popups' page requests, as it takes the main page's.
    PopupViews(QWidget* mainWindow, TavixWebView* mainView, PageRequestHandler* requests);

    // Opens a popup for `url` at `size` and makes it the listener and window-command target;
    // nothing when one exists for the URL. Returns the new popup, else null.
    PopWidget* open(const QString& url, const QSize& size);
    // Gives requests and window commands back to the main window, then closes the current
    // popup (when there is one).
    void closeCurrent();

    PopWidget* current() const { return m_current; }
    PopWidget* find(const QString& url) const { return m_views.value(url); }
    int count() const { return m_views.size(); }

private:
    void onActivated(PopWidget* popup);

    QWidget* m_mainWindow;
    TavixWebView* m_mainView;
    PageRequestHandler* m_requests;
    QMap<QString, QPointer<PopWidget>> m_views;
    QPointer<PopWidget> m_current;
};
