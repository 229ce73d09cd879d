#pragma once

#include "bridge/routercallback.h"
#include "config/programfolders.h"

#include <QCoreApplication>
#include <QSize>
#include <QString>
#include <QVariantMap>

#include <optional>

class QWidget;

// What the system and view commands need from the main window.
class ViewHost {
public:
    virtual ~ViewHost() = default;
    // The main page's browser; nothing happens while it does not exist yet.
    virtual void loadMainPage(const QString& url) = 0;
    virtual void mainPageHistory(bool back) = 0;
    // Opens a popup for `url` unless one exists for it.
    virtual void openView(const QString& url, const QSize& size) = 0;
    virtual void closeView() = 0;
    // Delivers an event to the main page.
    virtual void pushToMainPage(const QString& name, const QString& text) = 0;
    virtual QWidget* dialogParent() = 0;
};

// Bridge commands that act on the machine or on the program's windows: main-page navigation,
// popups, messages to the main page, file dialogs, web addresses, mouse settings and the
// keyboard layout. Each answers at most once; a missing argument gives no answer.
class SystemCommands {
    // The dialogs speak the language the page chose.
    Q_DECLARE_TR_FUNCTIONS(SystemCommands)
public:
    SystemCommands(ViewHost& host, const ProgramFolders& folders);

    void loadurl(const QVariantMap& args, const RouterCallback& callback);
    void goback(const QVariantMap& args, const RouterCallback& callback);
    void goforward(const QVariantMap& args, const RouterCallback& callback);
    void openView(const QVariantMap& args, const RouterCallback& callback);
    void closeView(const QVariantMap& args, const RouterCallback& callback);
    void sendMsgToMainBrowser(const QVariantMap& args, const RouterCallback& callback);
    void saveFileDialog(const QVariantMap& args, const RouterCallback& callback);
    void openFileDialog(const QVariantMap& args, const RouterCallback& callback);
    void openFileDialogEx(const QVariantMap& args, const RouterCallback& callback);
    void openUrl(const QVariantMap& args, const RouterCallback& callback);
    void modifyMouseSpeed(const QVariantMap& args, const RouterCallback& callback);
    void modifyMouseScrollLines(const QVariantMap& args, const RouterCallback& callback);
    // The system's pointer speed and wheel lines as they are now: {"speed": "10",
    // "scrollLines": "3"}, each "" where the system has no such setting.
    void getMouseSettings(const QVariantMap& args, const RouterCallback& callback);
    // Whether a file of the program's folders is there, "1" or "0": the page asks before it
    // reads a file the profile commands would never answer for, or offers a page to open.
    // `relativePath` is taken as the page's addresses are (data folder, then share folder); a
    // path that climbs out of them is no file of ours.
    void fileExists(const QVariantMap& args, const RouterCallback& callback);
    void setIME(const QVariantMap& args, const RouterCallback& callback);

    // The file:// address of a page-relative one (ProgramFolders::pageUrl), when it names a page
    // inside the program's "view" folder (after "..", percent escapes and the engine's reading
    // of "\" as "/"); nothing for any other place: the bridge belongs to the program's pages
    // only.
    std::optional<QString> pageUrl(const QString& relative) const;
    // A popup's size when nothing else gives one.
    static constexpr QSize kDefaultViewSize{1000, 600};
    // A popup's size from "width,height"; kDefaultViewSize when it does not give two positive
    // numbers.
    static QSize viewSize(const QString& text);

private:
    // The page is told when a file dialog went, chosen ("1") or not ("0"): a dialog closed
    // without a choice gives no answer, and the page would otherwise wait for it forever.
    void dialogClosed(const QString& path);

    ViewHost& m_host;
    ProgramFolders m_folders;
};
