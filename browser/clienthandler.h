#pragma once

#include "bridge/requesthandler.h"
#include "bridge/routercallback.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QWidget>

#include <functional>

class BrowserPage;

// The one browser client handler of the process. It knows the current browser (the first one
// created; every event push goes there), the window that window commands act on and where page
// requests go, and it is the query handler of every page.
class ClientHandler : public QObject, public PageRequestHandler {
    Q_OBJECT
public:
    // Window commands that run where the query arrives, before any other handling. Gets the
    // whole request text; the default drops it.
    using WindowCommand = std::function<void(const QString& request)>;

    // Reads the switches "--url=<address>" (start address) and "--mouse-cursor-change-disabled".
    explicit ClientHandler(const QStringList& arguments = {}, QObject* parent = nullptr);
    ~ClientHandler() override;

    // The process-wide handler (null before the entry point created it).
    static ClientHandler* instance();

    // Every page's queries arrive here. Window commands run at once and are never answered;
    // every other request goes to the request handler on this object's thread: at once when it
    // arrives there (the engine's queries do), else as a posted MessageEvent. Without a request
    // handler it is dropped unanswered.
    void onJsMessage(const QString& request, RouterCallback callback) override;
    static bool isWindowCommand(const QString& request);
    void setWindowCommand(WindowCommand command) { m_windowCommand = std::move(command); }

    // Where page requests go (borrowed): the program's command table.
    void setRequestHandler(PageRequestHandler* handler) { m_requestHandler = handler; }
    PageRequestHandler* requestHandler() const { return m_requestHandler; }

    // Called by a view once its browser exists; the handler then hears of its loading state and
    // of its end through the page's signals.
    void OnAfterCreated(BrowserPage* browser);
    void OnBeforeClose(BrowserPage* browser);

    // The current browser (read under the lock).
    BrowserPage* currentBrowser() const;
    int currentBrowserId() const;

    // Sends an event to the current browser's page; safe from any thread. Dropped without a
    // browser.
    void sendProcessMessage(const QString& name, const QVariantList& args);
    // The same on the GUI thread, where the caller already is.
    void pushEvent(const QString& name, const QVariantList& args);

    void setMainWindowHandle(QWidget* window) { m_mainWindow = window; }
    QWidget* mainWindowHandle() const { return m_mainWindow; }

    void setMainUrl(const QString& url) { m_mainUrl = url; }
    QString mainUrl() const { return m_mainUrl; }

    bool editableFocus() const { return m_editableFocus; }
    void setEditableFocus(bool editable) { m_editableFocus = editable; }

    // From the command-line switch "mouse-cursor-change-disabled".
    bool mouseCursorChangeDisabled() const { return m_cursorChangeDisabled; }

protected:
    // A request that came from another thread (MessageEvent).
    void customEvent(QEvent* event) override;

private:
    mutable QMutex m_lock; // guards the current browser and its identifier
    QPointer<BrowserPage> m_currentBrowser;
    int m_currentBrowserId = 0;

    PageRequestHandler* m_requestHandler = nullptr;
    QPointer<QWidget> m_mainWindow;
    QString m_mainUrl;
    bool m_editableFocus = false;
    bool m_cursorChangeDisabled = false;
    WindowCommand m_windowCommand;
};
