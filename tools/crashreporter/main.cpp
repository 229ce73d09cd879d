// The crash reporter: "CrashReporter <dump folder>/<dump id>.dmp", started by the program's
// crash handler after a crash.
#include "reporterwindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    CrashReporterWindow window(arguments.size() > 1 ? arguments.at(1) : QString(),
                               QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
