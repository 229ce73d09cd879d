#pragma once

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

class PopWidget;
class QWidget;

// The main window's popup windows: one per URL, the one activated last as the current popup.
// Their pages' requests go where every page's go (the client handler).
class PopupViews : public QObject {
    Q_OBJECT
public:
    // `mainWindow` parents the popups and takes the window commands back when one closes.
    explicit PopupViews(QWidget* mainWindow);

    // Opens a popup for `url` at `size` and makes it the window-command target; nothing when
    // one exists for the URL. Returns the new popup, else null.
    PopWidget* open(const QString& url, const QSize& size);
    // Gives the window commands back to the main window, then closes the current popup (when
    // there is one).
    void closeCurrent();
    // Closes `popup` as its user asked (its close control, Esc): the window commands go back
    // to the main window when they acted on it, and the same address opens anew later.
    void close(PopWidget* popup);

    PopWidget* current() const { return m_current; }
    PopWidget* find(const QString& url) const { return m_views.value(url); }
    int count() const { return m_views.size(); }

private:
    void onActivated(PopWidget* popup);
    void forget(PopWidget* popup);

    QWidget* m_mainWindow;
    QMap<QString, QPointer<PopWidget>> m_views;
    QPointer<PopWidget> m_current;
};
