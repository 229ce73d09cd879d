#pragma once

#include "bridge/routercallback.h"
#include "pagerouter.h"

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
// created; every event push goes there), the current listener (the view that gets page requests)
// and the window that window commands act on, and it runs the query handler.
class ClientHandler : public QObject, public PageQueryHandler {
    Q_OBJECT
public:
    // What a view does for the handler.
    class Listener {
    public:
        virtual ~Listener() = default;
        // The view's browser exists now; a load requested meanwhile may be issued.
        virtual void OnBrowserCreated(BrowserPage* browser) = 0;
        // Hands the request to the view's thread: at once when the query arrives there (the
        // engine's queries do), else as a posted event.
        virtual void postRequestEvent(const QString& request, RouterCallback callback) = 0;
    };

    // Window commands that run where the query arrives, before any other handling. Gets the
    // whole request text; the default drops it.
    using WindowCommand = std::function<void(const QString& request)>;

    // Reads the switches "--url=<address>" (start address) and "--mouse-cursor-change-disabled".
    explicit ClientHandler(const QStringList& arguments = {}, QObject* parent = nullptr);
    ~ClientHandler() override;

    // The process-wide handler (null before the entry point created it).
    static ClientHandler* instance();

    // The query handler of every page: window commands run here, everything else is posted to
    // the current listener.
    void OnQuery(const QString& request, RouterCallback callback) override;
    static bool isWindowCommand(const QString& request);
    void setWindowCommand(WindowCommand command) { m_windowCommand = std::move(command); }

    void setListener(Listener* listener) { m_listener = listener; }
    Listener* listener() const { return m_listener; }

    // Called by a view once its browser exists; the handler then hears of its loading state and
    // of its end through the page's signals.
    void OnAfterCreated(BrowserPage* browser, bool popup);
    void OnBeforeClose(BrowserPage* browser);

    // The current browser (read under the lock).
    BrowserPage* currentBrowser() const;
    int currentBrowserId() const;
    int browserCount() const { return m_browserCount; }

    // Sends an event to the current browser's page; safe from any thread. Dropped without a
    // browser.
    void sendProcessMessage(const QString& name, const QVariantList& args);
    // The same on the GUI thread, where the caller already is.
    void pushEvent(const QString& name, const QVariantList& args);

    void setMainWindowHandle(QWidget* window) { m_mainWindow = window; }
    QWidget* mainWindowHandle() const { return m_mainWindow; }

    void setMainUrl(const QString& url) { m_mainUrl = url; }
    QString mainUrl() const { return m_mainUrl; }

    bool isClosing() const { return m_closing; }
    void setClosing(bool closing) { m_closing = closing; }

    bool editableFocus() const { return m_editableFocus; }
    void setEditableFocus(bool editable) { m_editableFocus = editable; }

    // From the command-line switch "mouse-cursor-change-disabled".
    bool mouseCursorChangeDisabled() const { return m_cursorChangeDisabled; }

private:
    mutable QMutex m_lock; // guards the current browser and its identifier
    QPointer<BrowserPage> m_currentBrowser;
    int m_currentBrowserId = 0;

    Listener* m_listener = nullptr;
    QPointer<QWidget> m_mainWindow;
    QString m_mainUrl;
    QList<QPointer<BrowserPage>> m_popups;
    int m_browserCount = 0;
    bool m_closing = false;
    bool m_editableFocus = false;
    bool m_cursorChangeDisabled = false;
    WindowCommand m_windowCommand;
};
