#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

class QUrl;
class QWebEngineProfile;
class QWebEngineSettings;

// What the program decides for the browser as a whole: the profile's cache and cookies, the
// script every page context gets before its own scripts, and the settings of every browser.
class ClientApp {
public:
    // Opaque red 0x22, green 0x25, blue 0x29.
    static QColor backgroundColor() { return QColor(0x22, 0x25, 0x29); }

    // The page script: the web channel client followed by the router functions.
    static QString pageScript();

    // Cache under the user's temporary folder, session cookies kept, page script installed.
    // Idempotent.
    static void initialize(QWebEngineProfile* profile);

    // File pages may read other files and remote addresses; links are not tab stops.
    static void applyBrowserSettings(QWebEngineSettings* settings);

    // Arguments to hand to the browser engine on start: it runs without its own web security
    // checks, as the local pages expect.
    static void prepareEnvironment();

    // Draws the browsers without OpenGL when the machine's OpenGL is drawn by the processor, or
    // cannot be used: each frame's trip through a software OpenGL costs more than drawing it
    // directly (on such a machine, about a quarter of the time to the first screen). A scene
    // graph the user chose (QT_QUICK_BACKEND) stands. Call once the application object exists,
    // before the first browser. True: the browsers draw without OpenGL.
    static bool chooseSceneGraph();

    // An OpenGL renderer's name ("llvmpipe (LLVM 15.0.6, 256 bits)") names one that runs on the
    // processor.
    static bool isSoftwareRenderer(const QString& renderer);

    // The folders of the program's own pages: the program folder's "view" unless set otherwise
    // (an installed copy: the user's and the shared ones). Only pages loaded from files inside
    // them reach the program through the bridge or hear its events; any other page (another
    // file, a web address, the engine's error page of another address) gets no answer.
    static void setProgramPages(const QStringList& folders);
    static QStringList programPages();
    static bool isProgramPage(const QUrl& url);
};
