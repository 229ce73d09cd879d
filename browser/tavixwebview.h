#pragma once

#include "bridge/requesthandler.h"
#include "clienthandler.h"

#include <QString>
#include <QWidget>

class BrowserPage;
class QWebEngineView;

// A widget that hosts one browser and is the client handler's listener: page requests arrive
// here as posted MessageEvents and go to the request handler, on the GUI thread.
class TavixWebView : public QWidget, public ClientHandler::Listener {
    Q_OBJECT
public:
    enum class BrowserState { NotRequested, Creating, Created };

    explicit TavixWebView(QWidget* parent = nullptr, bool popup = false);
    ~TavixWebView() override;

    // Stores the address; creates the browser with it, remembers it while the browser is being
    // created, or loads it in the main frame. An empty address is ignored.
    void loadUrl(const QString& url);
    QString url() const { return m_url; }

    BrowserState browserState() const { return m_state; }
    BrowserPage* browser() const { return m_page; }
    QWebEngineView* browserWidget() const { return m_view; }

    // ClientHandler::Listener
    void OnBrowserCreated(BrowserPage* browser) override;
    void postRequestEvent(const QString& request, RouterCallback callback) override;

    // Where page requests go (borrowed; none: they are dropped unanswered).
    void setRequestHandler(PageRequestHandler* handler) { m_requestHandler = handler; }

protected:
    void customEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createBrowser();
    void watchKeys(QObject* object);

    QString m_url;
    bool m_popup;
    BrowserState m_state = BrowserState::NotRequested;
    bool m_loadPending = false;
    QWebEngineView* m_view = nullptr;
    BrowserPage* m_page = nullptr;
    PageRequestHandler* m_requestHandler = nullptr;
};
