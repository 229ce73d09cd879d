// screenshot <file.png> [process id]
// Saves the main window of the given tavix process (the whole screen when it has none that is
// visible) as a picture.

#include "app/singleinstance.h"
#include "platform/windows.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: screenshot <file.png> [process id]\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        std::fprintf(stderr, "screenshot: no screen\n");
        return 1;
    }
    WId window = 0;
    const quint64 pid = args.size() > 2 ? args.at(2).toULongLong() : 0;
    for (const auto& w : platform::windows::topLevelWindows()) {
        if (pid != 0 && w.processId == pid && w.visible &&
            singleinstance::titleMatches(QString::fromStdString(w.title))) {
            window = static_cast<WId>(w.handle);
            break;
        }
    }
    const QPixmap picture = screen->grabWindow(window);
    if (picture.isNull() || !picture.save(args.at(1))) {
        std::fprintf(stderr, "screenshot: cannot write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
