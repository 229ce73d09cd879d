#include "browserpage.h"

#include "clientapp.h"
#include "pagerouter.h"
#include "weblog/startuptrace.h"

#include <QDesktopServices>
#include <QPointer>
#include <QRegularExpression>
#include <QWebChannel>
#include <QWebEngineHistory>
#include <QWebEngineQuotaRequest>

namespace {

int g_nextBrowserId = 1;

bool isSpotify(const QUrl& url) {
    return url.toString().startsWith(QLatin1String("spotify:"));
}

// Takes the place of a new window: whatever it is asked to show opens in the system's browser.
class PopupCatcher : public QWebEnginePage {
public:
    explicit PopupCatcher(QObject* parent) : QWebEnginePage(parent) {
        connect(this, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) { hand(url); });
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        hand(url);
        return false;
    }

private:
    void hand(const QUrl& url) {
        if (m_done || url.isEmpty() || url.scheme() == QLatin1String("about"))
            return;
        m_done = true;
        QDesktopServices::openUrl(url);
        deleteLater();
    }
    bool m_done = false;
};

} // namespace

BrowserPage::BrowserPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent), m_id(g_nextBrowserId++), m_router(new PageRouter(this)),
      m_channel(new QWebChannel(this)) {
    m_channel->registerObject(QStringLiteral("cefRouter"), m_router);
    setWebChannel(m_channel);
    setBackgroundColor(ClientApp::backgroundColor());
    ClientApp::applyBrowserSettings(settings());

    // The frame navigates: its pending queries are gone.
    connect(this, &QWebEnginePage::loadStarted, m_router, &PageRouter::cancelAll);
    connect(this, &QWebEnginePage::loadStarted, this, &BrowserPage::pushLoadingState);
    connect(this, &QWebEnginePage::loadStarted, this,
            [] { startuptrace::markOnce("first page load started"); });
    connect(this, &QWebEnginePage::loadFinished, this, &BrowserPage::onLoadFinished);
    connect(this, &QWebEnginePage::renderProcessTerminated, m_router, &PageRouter::cancelAll);
    connect(this, &QWebEnginePage::quotaRequested, this, [](QWebEngineQuotaRequest request) {
        if (request.requestedSize() <= kQuotaLimit)
            request.accept();
        else
            request.reject();
    });
}

BrowserPage::~BrowserPage() {
    emit aboutToClose(this);
}

QString BrowserPage::errorPage(const QString& failedUrl, const QString& errorText, int errorCode) {
    // Escaped so that an address cannot add markup of its own; ordinary addresses read the same.
    const QString engineText = QStringLiteral("Failed to load URL ") + failedUrl.toHtmlEscaped() +
                               QStringLiteral(" with error ") + errorText.toHtmlEscaped() +
                               QStringLiteral(" (") + QString::number(errorCode) +
                               QStringLiteral(").");
    // Said in words first; the engine's own text is kept behind "details".
    const QString why =
        errorCode == -6
            ? tr("找不到这个页面的文件：%1").arg(QUrl(failedUrl).toLocalFile().toHtmlEscaped())
            : tr("浏览器无法载入这个页面。");
    return QStringLiteral("<html><head><meta charset=\"utf-8\"><title>") + tr("页面无法打开") +
           QStringLiteral("</title></head><body bgcolor=\"white\" style=\"font-family: sans-serif;"
                          " margin: 24px 48px 24px 24px; color: #222\"><h1 style=\"font-size: "
                          "20px\">") +
           tr("页面无法打开") + QStringLiteral("</h1><p>") + why +
           QStringLiteral("</p><details><summary>") + tr("详细信息") +
           QStringLiteral("</summary><h2 style=\"font-size: 14px\">") + engineText +
           QStringLiteral("</h2></details></body></html>");
}

int BrowserPage::netErrorCode(const QString& errorName) {
    static const struct {
        const char* name;
        int code;
    } kErrors[] = {
        {"ERR_FAILED", -2},
        {"ERR_ABORTED", -3},
        {"ERR_INVALID_ARGUMENT", -4},
        {"ERR_FILE_NOT_FOUND", -6},
        {"ERR_TIMED_OUT", -7},
        {"ERR_FILE_TOO_BIG", -8},
        {"ERR_ACCESS_DENIED", -10},
        {"ERR_BLOCKED_BY_CLIENT", -20},
        {"ERR_BLOCKED_BY_RESPONSE", -27},
        {"ERR_CONNECTION_CLOSED", -100},
        {"ERR_CONNECTION_RESET", -101},
        {"ERR_CONNECTION_REFUSED", -102},
        {"ERR_CONNECTION_ABORTED", -103},
        {"ERR_CONNECTION_FAILED", -104},
        {"ERR_NAME_NOT_RESOLVED", -105},
        {"ERR_INTERNET_DISCONNECTED", -106},
        {"ERR_SSL_PROTOCOL_ERROR", -107},
        {"ERR_ADDRESS_INVALID", -108},
        {"ERR_ADDRESS_UNREACHABLE", -109},
        {"ERR_CONNECTION_TIMED_OUT", -118},
        {"ERR_NAME_RESOLUTION_FAILED", -137},
        {"ERR_CERT_COMMON_NAME_INVALID", -200},
        {"ERR_CERT_DATE_INVALID", -201},
        {"ERR_CERT_AUTHORITY_INVALID", -202},
        {"ERR_INVALID_URL", -300},
        {"ERR_DISALLOWED_URL_SCHEME", -301},
        {"ERR_UNKNOWN_URL_SCHEME", -302},
        {"ERR_TOO_MANY_REDIRECTS", -310},
        {"ERR_UNSAFE_PORT", -312},
        {"ERR_INVALID_RESPONSE", -320},
        {"ERR_EMPTY_RESPONSE", -324},
        {"ERR_HTTP_RESPONSE_CODE_FAILURE", -379},
    };
    for (const auto& e : kErrors) {
        if (errorName == QLatin1String(e.name))
            return e.code;
    }
    return -2;
}

QWebEnginePage* BrowserPage::createWindow(WebWindowType) {
    return new PopupCatcher(this);
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    if (isSpotify(url)) {
        QDesktopServices::openUrl(url);
        return false;
    }
    // Other outside protocols are not handed to the system.
    static const QStringList own = {
        "http",   "https", "file",       "data",         "about",    "blob",        "qrc",
        "chrome", "ftp",   "javascript", "chrome-error", "devtools", "view-source", "filesystem"};
    if (!url.scheme().isEmpty() && !own.contains(url.scheme(), Qt::CaseInsensitive))
        return false;
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

void BrowserPage::pushLoadingState() {
    emit navigationStateChanged(history()->canGoBack(), history()->canGoForward());
}

void BrowserPage::onLoadFinished(bool ok) {
    startuptrace::markOnce("first page loaded");
    pushLoadingState();
    if (ok)
        return;
    // The engine does not hand out the error code; its own error page names it, so read the
    // name from there and put our text in its place.
    const QUrl failed = requestedUrl().isValid() ? requestedUrl() : url();
    QPointer<BrowserPage> self = this;
    toPlainText([self, failed](const QString& text) {
        if (self)
            self->showLoadError(failed, text);
    });
}

void BrowserPage::showLoadError(const QUrl& failedUrl, const QString& pageText) {
    if (pageText.contains(QLatin1String("Failed to load URL ")))
        return; // still our own text: the later load was aborted
    if (url() != failedUrl)
        return; // the engine's error page stands at the failed address; this load was cancelled
    static const QRegularExpression name(QStringLiteral("\\bERR_[A-Z0-9_]+"));
    const QRegularExpressionMatch match = name.match(pageText);
    if (!match.hasMatch())
        return; // no error page: an aborted load, nothing to show
    const QString errorText = match.captured(0);
    const int code = netErrorCode(errorText);
    if (code == -3)
        return;
    if (code == -302 && isSpotify(failedUrl))
        return;
    const QString shown = failedUrl.toString();
    setHtml(errorPage(shown, errorText, code), failedUrl);
    emit loadErrorShown(shown, code);
}
