// The language of the program's own windows: taken from the page's settings file, followed when
// the file is written again, and shown by the tray menu, the no-device dialog and the crash
// reporter.

#include "app/nativelanguage.h"
#include "app/systemtray.h"
#include "buildpaths.h"
#include "online/infodlg.h"
#include "reporterwindow.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool writePage(const QString& path, const QByteArray& text) {
    QSaveFile file(path); // replaced whole, as the program writes it
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

} // namespace

class NativeLanguageTest : public QObject {
    Q_OBJECT
private slots:
    void pageFileNamesTheLanguage_data() {
        QTest::addColumn<QByteArray>("text"); // empty: no file
        QTest::addColumn<QString>("language");
        QTest::newRow("English") << QByteArray("<?xml version=\"1.0\"?>\n<page language=\"en\" />")
                                 << "en";
        QTest::newRow("Chinese") << QByteArray("<page language='zh'/>") << "zh";
        QTest::newRow("not chosen yet") << QByteArray("<page language=\"\" />") << "";
        QTest::newRow("a language without texts") << QByteArray("<page language=\"fr\" />") << "";
        QTest::newRow("another element") << QByteArray("<conf language=\"en\" />") << "";
        QTest::newRow("no file") << QByteArray() << "";
    }
    void pageFileNamesTheLanguage() {
        QFETCH(QByteArray, text);
        QFETCH(QString, language);
        QTemporaryDir dir;
        const QString page = dir.filePath("page.xml");
        if (!text.isEmpty())
            QVERIFY(writePage(page, text));
        QCOMPARE(nativelanguage::fromPageFile(page), language);
        QCOMPARE(nativelanguage::resolve(language).isEmpty(), false);
    }

    void windowsFollowThePageFile() {
        QTemporaryDir dir;
        const QString page = dir.filePath("page.xml");
        QVERIFY(writePage(page, "<page language=\"en\" />"));
        NativeLanguage texts(buildpaths::resolve(TAVIX_TRANSLATIONS));
        texts.follow(page);
        QCOMPARE(texts.language(), QString("en"));
        SystemTray tray;
        QCOMPARE(tray.showAction()->text(), QString("Open tavix"));
        QCOMPARE(tray.quitAction()->text(), QString("Quit"));
        QCOMPARE(infoDlg().text(), QString("   No device is connected"));
        CrashReporterWindow reporter(QString(), dir.path());
        QCOMPARE(reporter.findChild<QLabel*>("lb_heading")->text(),
                 QString("tavix stopped unexpectedly."));

        // Written again by the page: the open tray menu follows, new windows speak it.
        QVERIFY(writePage(page, "<page language=\"zh\" />"));
        QTRY_COMPARE(texts.language(), QString("zh"));
        QTRY_COMPARE(tray.showAction()->text(), QString("打开客户端"));
        QCOMPARE(tray.quitAction()->text(), QString("退出"));
        QCOMPARE(infoDlg().text(), QString("   当前未检测到设备"));
    }
};

QTEST_MAIN(NativeLanguageTest)
#include "tst_nativelanguage.moc"
