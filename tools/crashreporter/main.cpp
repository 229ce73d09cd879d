// The crash reporter: "CrashReporter <dump folder>/<dump id>.dmp", started by the program's
// crash handler after a crash.
#include "app/nativelanguage.h"
#include "config/programfolders.h"
#include "reporterwindow.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString dump = arguments.size() > 1 ? arguments.at(1) : QString();
    const QString folder = QCoreApplication::applicationDirPath();
    const ProgramFolders folders = ProgramFolders::forProgram(folder);
    // The language the program's page was set to: its settings lie in the dump's folder (the
    // program's data folder), else in the data folder as this program finds it.
    const QString page = QStringLiteral("/view/xml/page.xml");
    QString language;
    if (!dump.isEmpty())
        language = nativelanguage::fromPageFile(QFileInfo(dump).absolutePath() + page);
    if (language.isEmpty())
        language = nativelanguage::fromPageFile(folders.data() + page);
    NativeLanguage texts(folders.share() + QStringLiteral("/translations"));
    texts.setLanguage(language);
    CrashReporterWindow window(dump, folder);
    window.show();
    return app.exec();
}
