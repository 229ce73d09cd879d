#pragma once

#include <QString>
#include <QUrl>
#include <QWebEnginePage>

class PageRouter;
class QWebChannel;

// One browser: a page with its router end and the program's page behaviour (popups go to the
// system browser, load errors show a plain error text, storage quota up to 20 MiB, loading state
// announced with navigationStateChanged). It knows nothing of the client handler.
class BrowserPage : public QWebEnginePage {
    Q_OBJECT
public:
    BrowserPage(QWebEngineProfile* profile, QObject* parent = nullptr);
    ~BrowserPage() override;

    int identifier() const { return m_id; }
    PageRouter* router() const { return m_router; }

    // The text a failed load shows.
    static QString errorPage(const QString& failedUrl, const QString& errorText, int errorCode);
    // The browser's code for an error name such as "ERR_FILE_NOT_FOUND" (-2, failed, when the
    // name is not one we know).
    static int netErrorCode(const QString& errorName);
    static constexpr qint64 kQuotaLimit = 20 * 1024 * 1024;

signals:
    // The page goes (emitted from its destructor).
    void aboutToClose(BrowserPage* page);
    // A load started or finished: whether the history can go back and forward.
    void navigationStateChanged(bool canGoBack, bool canGoForward);
    // Emitted after a failed load was given its error text (tests, logs).
    void loadErrorShown(const QString& failedUrl, int errorCode);

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    void onLoadFinished(bool ok);
    void showLoadError(const QUrl& failedUrl, const QString& pageText);
    void pushLoadingState();

    int m_id;
    PageRouter* m_router;
    QWebChannel* m_channel;
};
