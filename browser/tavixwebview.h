#pragma once

#include <QString>
#include <QWidget>

class BrowserPage;
class QWebEngineView;

// A widget that hosts one browser. Its page's requests go to the client handler, like every
// page's.
class TavixWebView : public QWidget {
    Q_OBJECT
public:
    enum class BrowserState { NotRequested, Creating, Created };

    explicit TavixWebView(QWidget* parent = nullptr);
    ~TavixWebView() override;

    // Stores the address; creates the browser with it, remembers it while the browser is being
    // created, or loads it in the main frame. An empty address is ignored.
    void loadUrl(const QString& url);
    QString url() const { return m_url; }

    BrowserState browserState() const { return m_state; }
    BrowserPage* browser() const { return m_page; }
    QWebEngineView* browserWidget() const { return m_view; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createBrowser();
    void watchKeys(QObject* object);

    QString m_url;
    BrowserState m_state = BrowserState::NotRequested;
    bool m_loadPending = false;
    QWebEngineView* m_view = nullptr;
    BrowserPage* m_page = nullptr;
};
