#include "clientapp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

static int initBrowserResourcesOnce() {
    Q_INIT_RESOURCE(browser);
    return 0;
}

static void initBrowserResources() {
    static const int done = initBrowserResourcesOnce();
    Q_UNUSED(done);
}

namespace {
const char kScriptName[] = "tavix-router";

QString readResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}
} // namespace

QString ClientApp::pageScript() {
    initBrowserResources();
    static const QString script = readResource(QStringLiteral(":/qtwebchannel/qwebchannel.js")) +
                                  QLatin1Char('\n') +
                                  readResource(QStringLiteral(":/browser/pagescript.js"));
    return script;
}

void ClientApp::initialize(QWebEngineProfile* profile) {
    if (!profile->scripts()->findScripts(QLatin1String(kScriptName)).isEmpty())
        return;
    profile->setCachePath(QDir::tempPath() + QStringLiteral("/Cache"));
    profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);

    QWebEngineScript script;
    script.setName(QLatin1String(kScriptName));
    script.setSourceCode(pageScript());
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    profile->scripts()->insert(script);

    applyBrowserSettings(profile->settings());
}

void ClientApp::applyBrowserSettings(QWebEngineSettings* settings) {
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::LinksIncludedInFocusChain, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
}

namespace {
QMutex g_pagesLock;
QStringList g_pages; // empty: the program folder's "view"
} // namespace

void ClientApp::setProgramPages(const QStringList& folders) {
    QMutexLocker lock(&g_pagesLock);
    g_pages.clear();
    for (const QString& folder : folders)
        g_pages << QDir::cleanPath(folder);
}

QStringList ClientApp::programPages() {
    QMutexLocker lock(&g_pagesLock);
    if (g_pages.isEmpty())
        return {QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/view"))};
    return g_pages;
}

bool ClientApp::isProgramPage(const QUrl& url) {
    if (!url.isLocalFile())
        return false;
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity files = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity files = Qt::CaseSensitive;
#endif
    const QString path = QDir::cleanPath(url.toLocalFile());
    for (const QString& folder : programPages()) {
        if (path.startsWith(folder + QLatin1Char('/'), files))
            return true;
    }
    return false;
}

void ClientApp::prepareEnvironment() {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--disable-web-security")) {
        if (!flags.isEmpty())
            flags += ' ';
        flags += "--disable-web-security";
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    }
}

bool ClientApp::isSoftwareRenderer(const QString& renderer) {
    // Mesa's rasterizers, Google's, and the one Windows falls back to.
    for (const char* name :
         {"llvmpipe", "softpipe", "swrast", "Software Rasterizer", "SwiftShader", "GDI Generic"}) {
        if (renderer.contains(QLatin1String(name), Qt::CaseInsensitive))
            return true;
    }
    return renderer.startsWith(QLatin1String("SWR "));
}

namespace {

// The renderer of the application's shared OpenGL context; empty when there is none that works.
QString sharedContextRenderer() {
    QOpenGLContext* shared = QOpenGLContext::globalShareContext();
    if (!shared || !shared->isValid())
        return {};
    QOffscreenSurface surface;
    surface.setFormat(shared->format());
    surface.create();
    if (!surface.isValid() || !shared->makeCurrent(&surface))
        return {};
    const auto* name = shared->functions()->glGetString(GL_RENDERER);
    const QString renderer =
        name ? QString::fromLatin1(reinterpret_cast<const char*>(name)) : QString();
    shared->doneCurrent();
    return renderer;
}

} // namespace

bool ClientApp::chooseSceneGraph() {
    QByteArray chosen = qgetenv("QT_QUICK_BACKEND");
    if (chosen.isEmpty())
        chosen = qgetenv("QMLSCENE_DEVICE");
    if (!chosen.isEmpty())
        return chosen == "software" || chosen == "softwarecontext";
    const QString renderer = sharedContextRenderer();
    if (!renderer.isEmpty() && !isSoftwareRenderer(renderer))
        return false;
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    return true;
}
