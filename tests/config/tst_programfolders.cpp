#include "config/programfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

const QStringList kDefaults = {"Resources/profiles/conf.xml", "view/xml/page.xml",
                               "view/device/virtual/xml/configuration.xml"};

} // namespace

class ProgramFoldersTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& rel) const { return m_dir.filePath(rel); }
    QString share() const { return path("usr/share/tavix"); }
    QString data() const { return path("home/.local/share/tavix"); }
    ProgramFolders installed() const {
        return ProgramFolders::installed(path("usr/lib/tavix"), share(), data(), path("usr/bin"));
    }
    // The package's files, each default's text tagged with `version`.
    void package(const QByteArray& version) {
        QVERIFY(writeFile(share() + "/view/index.html", "<page/>"));
        for (const QString& rel : kDefaults)
            QVERIFY(writeFile(share() + '/' + rel, rel.toUtf8() + ' ' + version));
    }

private slots:
    void init() {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    void layoutOfTheProgram_data() {
        QTest::addColumn<QString>("xdg");
        QTest::addColumn<QString>("home");
        QTest::addColumn<bool>("staged");
        QTest::addColumn<bool>("launcherLink");
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("launcher");
        QTest::newRow("staged folder") << ""
                                       << "/h" << true << false << "usr/lib/tavix"
                                       << "usr/lib/tavix";
        QTest::newRow("installed, XDG_DATA_HOME") << "/x/data"
                                                  << "/h" << false << true << "/x/data/tavix"
                                                  << "usr/bin";
        QTest::newRow("installed, relative XDG_DATA_HOME ignored")
            << "rel"
            << "/h" << false << true << "/h/.local/share/tavix"
            << "usr/bin";
        QTest::newRow("installed, no launcher in bin")
            << ""
            << "/h" << false << false << "/h/.local/share/tavix"
            << "usr/lib/tavix";
        QTest::newRow("installed, no home") << ""
                                            << "" << false << true << ""
                                            << "usr/bin";
    }
    void layoutOfTheProgram() {
        QFETCH(QString, xdg);
        QFETCH(QString, home);
        QFETCH(bool, staged);
        QFETCH(bool, launcherLink);
        QFETCH(QString, data);
        QFETCH(QString, launcher);
        QVERIFY(writeFile(path("usr/lib/tavix/tavix"), "program"));
        package("1");
        if (staged)
            QVERIFY(writeFile(path("usr/lib/tavix/view/index.html"), "<page/>"));
        QDir().mkpath(path("usr/bin"));
        if (launcherLink)
            QVERIFY(QFile::link("../lib/tavix/tavix", path("usr/bin/tavix")));
        const QByteArray oldXdg = qgetenv("XDG_DATA_HOME"), oldHome = qgetenv("HOME");
        qputenv("XDG_DATA_HOME", xdg.toUtf8());
        qputenv("HOME", home.toUtf8());
        const ProgramFolders f = ProgramFolders::forProgram(path("usr/lib/tavix"));
        qputenv("XDG_DATA_HOME", oldXdg);
        qputenv("HOME", oldHome);

        QCOMPARE(f.isInstalled(), !staged);
        QCOMPARE(f.binaries(), path("usr/lib/tavix"));
        QCOMPARE(f.share(), staged ? path("usr/lib/tavix") : share());
        QCOMPARE(f.data(), data.startsWith('/') || data.isEmpty() ? data : path(data));
        QCOMPARE(f.launcher(), path(launcher));
    }

    // Pages are read from the data folder where it has them (installed device pages), else
    // from the package.
    void pagesAreFoundWhereTheyAre_data() {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("url");
        QTest::newRow("the page") << "view/index.html"
                                  << "usr/share/tavix/view/index.html";
        QTest::newRow("an installed device page, leading slash")
            << "/view/device/kx/seting.html"
            << "home/.local/share/tavix/view/device/kx/seting.html";
        QTest::newRow("query kept out of the lookup")
            << "/view/device/kx/seting.html?a=1#b"
            << "home/.local/share/tavix/view/device/kx/seting.html?a=1#b";
        QTest::newRow("missing everywhere") << "view/none.html"
                                            << "usr/share/tavix/view/none.html";
    }
    void pagesAreFoundWhereTheyAre() {
        QFETCH(QString, relative);
        QFETCH(QString, url);
        package("1");
        QVERIFY(writeFile(data() + "/view/device/kx/seting.html", "<settings/>"));
        QCOMPARE(installed().pageUrl(relative), "file://" + path(url));
    }

    // First start, a second start, then a newer package: what the user changed is never
    // overwritten, what they left alone follows the package, and nothing else is touched.
    void seedingFollowsThePackage() {
        const ProgramFolders f = installed();
        package("1");
        auto first = f.seed();
        QVERIFY(first.ok);
        QCOMPARE(first.value.copied, kDefaults);
        QCOMPARE(QFileInfo(data()).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(!QFileInfo::exists(data() + "/view/index.html"));
        for (const QString& rel : kDefaults)
            QCOMPARE(readFile(data() + '/' + rel), rel.toUtf8() + " 1");

        QVERIFY(writeFile(data() + "/view/xml/page.xml", "mine"));
        QVERIFY(QFile::remove(data() + "/Resources/profiles/conf.xml"));
        auto second = f.seed();
        QCOMPARE(second.value.copied, QStringList{"Resources/profiles/conf.xml"});
        QVERIFY(second.value.replaced.isEmpty() && second.value.keptBeside.isEmpty());
        QCOMPARE(readFile(data() + "/view/xml/page.xml"), QByteArray("mine"));

        package("2");
        auto upgrade = f.seed();
        QVERIFY(upgrade.value.copied.isEmpty());
        QCOMPARE(upgrade.value.replaced,
                 (QStringList{"Resources/profiles/conf.xml",
                              "view/device/virtual/xml/configuration.xml"}));
        QCOMPARE(upgrade.value.keptBeside, QStringList{"view/xml/page.xml"});
        QCOMPARE(readFile(data() + "/view/xml/page.xml"), QByteArray("mine"));
        QCOMPARE(readFile(data() + "/view/xml/page.xml.new-default"),
                 QByteArray("view/xml/page.xml 2"));
        QCOMPARE(readFile(data() + "/Resources/profiles/conf.xml"),
                 QByteArray("Resources/profiles/conf.xml 2"));

        // The same package again changes nothing and offers nothing twice.
        auto again = f.seed();
        QVERIFY(again.value.copied.isEmpty() && again.value.replaced.isEmpty() &&
                again.value.keptBeside.isEmpty() && again.value.failed.isEmpty());
        QVERIFY(QFileInfo(share()).isDir()); // the package is only read
        QCOMPARE(readFile(share() + "/view/xml/page.xml"), QByteArray("view/xml/page.xml 2"));
    }

    // What stands in the data folder where a default belongs is the user's: a pipe is not read
    // (which would hang the start) and nothing replaces it; a staged folder is never seeded; a
    // copy without any data folder fails with a reason.
    void seedingLeavesOddFilesAlone() {
        package("1");
        QDir().mkpath(data() + "/view/xml");
        QCOMPARE(::mkfifo(QFile::encodeName(data() + "/view/xml/page.xml").constData(), 0600), 0);
        auto seeded = installed().seed();
        QVERIFY(seeded.ok);
        QCOMPARE(seeded.value.keptBeside, QStringList{"view/xml/page.xml"});
        QVERIFY(QFileInfo(data() + "/view/xml/page.xml").exists());
        QVERIFY(!QFileInfo(data() + "/view/xml/page.xml").isFile());

        QVERIFY(writeFile(path("stage/view/index.html"), "<page/>"));
        auto staged = ProgramFolders::staged(path("stage")).seed();
        QVERIFY(staged.ok && staged.value.copied.isEmpty());
        QCOMPARE(QDir(path("stage")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"view"});

        const ProgramFolders homeless =
            ProgramFolders::installed(path("usr/lib/tavix"), share(), QString(), path("usr/bin"));
        QVERIFY(!homeless.seed().ok);
    }
};

QTEST_GUILESS_MAIN(ProgramFoldersTest)
#include "tst_programfolders.moc"
