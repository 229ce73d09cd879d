// What users of key remappers expect, in the running program: set up on the page as a user
// would, played on the simulated keyboards (simctl filter-key), read where the virtual device
// reported it (simctl hid-keyboard) or where the system got it (simctl filter-system). Pictures
// of the screens in both languages go to build/screenshots/.

#include "buildpaths.h"
#include "pagedriver.h"
#include "stagedprogram.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

using stagedprogram::quoted;

class tst_Remapping : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void capitalFromARecordedShiftH();
    void chordFromHeldKeys();
    void capsLockActsAsLeftCtrl();
    void keySwitchedOff();
    void textTypedThroughTheDevice();
    void applicationSectionOnlyWhileInFront();
    void emergencyChordStopsEverything();
    void mappingOnAfterARestart();
    void screensInBothLanguages();

private:
    void startProgram();
    QJsonValue js(const QString& expression) {
        const QJsonValue value = m_page.eval(expression);
        if (!m_page.lastError().isEmpty())
            qWarning("page: %s: %s", qPrintable(expression.left(120)),
                     qPrintable(m_page.lastError()));
        return value;
    }
    bool waitJs(const QString& condition, int timeoutMs = 10000) {
        return m_page.waitFor(condition, timeoutMs);
    }
    // Sets a control as a user would, so its listeners run.
    void set(const QString& id, const QString& value, const char* event = "change") {
        js(QString("(function(){var e=document.getElementById(%1); e.value=%2;"
                   "e.dispatchEvent(new Event('%3', {bubbles: true}));})()")
               .arg(quoted(id), quoted(value), QLatin1String(event)));
    }
    void click(const QString& id) {
        js(QString("document.getElementById(%1).click()").arg(quoted(id)));
    }
    QString simctl(const QString& line) { return stagedprogram::simctl(m_folder.path(), line); }
    // The virtual keyboard's presses and releases since the last hid-clear: "+left-shift +h".
    QString keyboard() {
        QStringList out;
        const QRegularExpression event("^#\\d+ keyboard (.*)$");
        for (const QString& line : simctl("hid-keyboard 200").split('\n')) {
            const QRegularExpressionMatch m = event.match(line);
            if (!m.hasMatch())
                continue;
            // "press a release b", or "hold a" for a report that changed nothing.
            const QStringList words = m.captured(1).split(' ');
            for (int i = 0; i + 1 < words.size(); i += 2) {
                if (words.at(i) == "press" || words.at(i) == "release")
                    out << (words.at(i) == "press" ? "+" : "-") + words.at(i + 1);
            }
        }
        return out.join(' ');
    }
    void key(const QString& scanAndAction) {
        QCOMPARE(simctl("filter-key 1 " + scanAndAction).trimmed(), QString("ok"));
    }
    // Opens the mapping editor for a new mapping of `trigger` ("scan:flag").
    void newMapping(const QString& trigger, const QString& kind = "commands") {
        click("km-add");
        QVERIFY(waitJs("document.getElementById('map-dialog').open"));
        set("map-trigger", trigger);
        set("map-kind", kind);
    }
    void addCommand(const QString& task, const QString& value) {
        set("map-newtask", task);
        click("map-addcmd");
        const QString id =
            QString("map-value-%1")
                .arg(js("document.querySelectorAll('#map-commands li').length").toInt() - 1);
        const bool choice =
            js(QString("document.getElementById(%1).tagName === 'SELECT'").arg(quoted(id)))
                .toBool();
        set(id, value, choice ? "change" : "input");
    }
    // Saves the editor and waits until the program uses the new key map.
    void save() {
        click("map-save");
        QVERIFY(waitJs("!document.getElementById('map-dialog').open"));
        QVERIFY(waitJs("document.getElementById('km-status').classList.contains('ok')"));
        QVERIFY2(js("document.getElementById('km-status').textContent")
                     .toString()
                     .contains("the program uses the new key map"),
                 qPrintable(js("document.getElementById('km-status').textContent").toString()));
    }
    void switchOn() {
        if (js("KeyMap.vdOn()").toBool())
            return;
        click("vd-switch");
        QVERIFY(waitJs("KeyMap.vdOn()"));
        QCOMPARE(simctl("hid-clear").trimmed(), QString("cleared"));
    }
    void shot(const QString& name) {
        QTest::qWait(300); // let the last answers paint
        QVERIFY2(m_page.screenshot(m_shots + "/" + name + ".png"), qPrintable(name));
    }

    QTemporaryDir m_folder;
    QTemporaryDir m_home;
    QProcess m_program;
    PageDriver m_page;
    QString m_shots;
};

void tst_Remapping::startProgram() {
    const quint16 port = stagedprogram::freePort();
    stagedprogram::start(m_program, m_folder.path(), m_home.path(), port);
    QVERIFY(m_program.waitForStarted());
    QVERIFY2(m_page.connectTo(port, "/view/index.html", 60000), qPrintable(m_page.lastError()));
    QVERIFY(waitJs("document.documentElement.dataset.ready === '1'", 60000));
    js("App.show('keymap')");
    QVERIFY(waitJs("KeyMap.current() !== null"));
}

void tst_Remapping::initTestCase() {
    QVERIFY(m_folder.isValid() && m_home.isValid());
    QVERIFY(stagedprogram::copyTree(buildpaths::resolve(TAVIX_STAGE_DIR), m_folder.path()));
    m_shots = buildpaths::resolve(TAVIX_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(m_shots));
    startProgram();
}

void tst_Remapping::cleanupTestCase() {
    m_page.disconnect();
    stagedprogram::stop(m_program);
}

void tst_Remapping::init() {
    QCOMPARE(m_program.state(), QProcess::Running);
    js("document.querySelectorAll('dialog[open]').forEach(function(d){d.close();})");
    simctl("hid-clear");
    simctl("filter-clear");
}

void tst_Remapping::capitalFromARecordedShiftH() {
    js("App.show('macro')");
    click("mac-start");
    QVERIFY(waitJs("Macro.recording()"));
    QVERIFY(waitJs("document.getElementById('mac-status').classList.contains('ok')"));
    for (const char* line : {"hook-key 0x2a down", "hook-key 0x23 press", "hook-key 0x2a up"})
        QCOMPARE(simctl(line).trimmed(), QString("ok"));
    QVERIFY(waitJs("document.querySelectorAll('#mac-timeline .item.release').length === 2"));
    click("mac-stop");
    click("mac-use");
    QVERIFY(waitJs("document.getElementById('map-dialog').open"));
    set("map-trigger", "59:0"); // F1
    save();
    switchOn();
    key("0x3b press");
    QTRY_COMPARE_WITH_TIMEOUT(keyboard(), QString("+left-shift +h -h -left-shift"), 10000);
    QCOMPARE(simctl("filter-system").trimmed(), QString("nothing reached the system"));
}

void tst_Remapping::chordFromHeldKeys() {
    newMapping("60:0"); // F2
    addCommand("keyDown", "e0");
    addCommand("keyDown", "06");
    addCommand("keyUp", "06");
    addCommand("keyUp", "e0");
    shot("keymap-editor-chord");
    save();
    switchOn();
    key("0x3c press");
    QTRY_COMPARE_WITH_TIMEOUT(keyboard(), QString("+left-control +c -c -left-control"), 10000);
}

void tst_Remapping::capsLockActsAsLeftCtrl() {
    newMapping("58:0", "key");
    set("map-remapkey", "e0");
    shot("keymap-editor-remap");
    save();
    QVERIFY(waitJs("document.getElementById('km-table').textContent.indexOf("
                   "'acts as Left Ctrl') >= 0"));
    switchOn();
    // Held as long as Caps Lock is held, repeats and all; C in between reaches the system
    // while Ctrl is down on the virtual keyboard: Ctrl+C.
    key("0x3a down");
    key("0x3a down");
    QTRY_COMPARE_WITH_TIMEOUT(keyboard(), QString("+left-control"), 10000);
    key("0x2e press");
    QTRY_VERIFY(simctl("filter-system").contains("scan=0x2e up"));
    QCOMPARE(simctl("hid-keyboard 0").section('\n', 0, 0), QString("keys down: left-control"));
    key("0x3a up");
    QTRY_COMPARE_WITH_TIMEOUT(keyboard(), QString("+left-control -left-control"), 10000);
    QVERIFY(!simctl("filter-system").contains("scan=0x3a"));
}

void tst_Remapping::keySwitchedOff() {
    newMapping("61:0", "off"); // F3
    save();
    switchOn();
    key("0x3d press");
    key("0x10 press"); // then a key that passes, so the first had its turn
    QTRY_VERIFY(simctl("filter-system").contains("scan=0x10 up"));
    QVERIFY(!simctl("filter-system").contains("scan=0x3d"));
    QCOMPARE(keyboard(), QString());
}

void tst_Remapping::textTypedThroughTheDevice() {
    newMapping("62:0"); // F4
    addCommand("typeText", "Hi!");
    save();
    QVERIFY(waitJs("document.getElementById('km-table').textContent.indexOf('type \"Hi!\"') >= 0"));
    switchOn();
    key("0x3e press");
    QTRY_COMPARE_WITH_TIMEOUT(
        keyboard(), QString("+left-shift +h -h -left-shift +i -i +left-shift +1 -1 -left-shift"),
        10000);
}

void tst_Remapping::applicationSectionOnlyWhileInFront() {
    set("km-app-name", "C:\\Windows\\Notepad.exe", "input");
    click("km-app-add");
    QVERIFY(waitJs("document.getElementById('km-section').value === 'notepad'"));
    QVERIFY(waitJs("document.getElementById('km-status').classList.contains('ok')"));
    newMapping("58:0", "key"); // Caps Lock acts as Left Shift in notepad only
    set("map-remapkey", "e1");
    save();
    QVERIFY(waitJs("document.querySelectorAll('#km-table tbody tr').length === 1"));
    shot("keymap-application");
    switchOn();

    QCOMPARE(simctl("foreground notepad.exe").trimmed(), QString("in front: notepad.exe"));
    key("0x3a press");
    QTRY_COMPARE_WITH_TIMEOUT(keyboard(), QString("+left-shift -left-shift"), 10000);
    simctl("hid-clear");
    QCOMPARE(simctl("foreground firefox").trimmed(), QString("in front: firefox"));
    key("0x3a press");
    QTRY_COMPARE_WITH_TIMEOUT(keyboard(), QString("+left-control -left-control"), 10000);
    simctl("foreground system");

    set("km-section", "");
    QVERIFY(waitJs("document.getElementById('km-app-remove').hidden"));
}

void tst_Remapping::emergencyChordStopsEverything() {
    newMapping("63:0"); // F5 types "a" on and off with each press
    set("map-playtype", "1");
    addCommand("keyDown", "04");
    addCommand("delayTime", "20");
    addCommand("keyUp", "04");
    save();
    switchOn();
    key("0x3f press");
    key("0x3a down"); // Left Ctrl held by Caps Lock as well
    QTRY_VERIFY_WITH_TIMEOUT(keyboard().count("+a") >= 3, 10000);
    key("0x1d down");
    QTRY_VERIFY(simctl("filter-system").contains("scan=0x1d down"));
    QCOMPARE(simctl("filter-key 2 0x1d e0 down").trimmed(), QString("ok"));
    QTRY_VERIFY(simctl("filter-system").contains("scan=0x1d e0 down"));
    key("0x01 down");

    QVERIFY(waitJs("!KeyMap.vdOn()"));
    QCOMPARE(js("Bridge.request('getVDevice')").toString(), QString("0"));
    QVERIFY(js("document.getElementById('km-status').textContent")
                .toString()
                .startsWith("Emergency stop (both Ctrl keys and Esc)"));
    QTRY_COMPARE(simctl("hid-keyboard 0").section('\n', 0, 0), QString("keys down: (none)"));
    const QString played = keyboard();
    QTest::qWait(300);
    QCOMPARE(keyboard(), played); // nothing plays on
    QVERIFY(!simctl("filter-system").contains("scan=0x01 down"));
    QFile log(m_folder.filePath("web.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("emergency stop (both Ctrl keys and Esc)"));
    shot("keymap-emergency-stop");
    // Off now: the keys reach the system again.
    key("0x1d up");
    QCOMPARE(simctl("filter-key 2 0x1d e0 up").trimmed(), QString("ok"));
    key("0x3a up");
    QTRY_VERIFY(simctl("filter-system").contains("scan=0x3a up"));
}

void tst_Remapping::mappingOnAfterARestart() {
    js("App.show('settings')");
    QVERIFY(waitJs("!document.getElementById('set-mapatstart').disabled"));
    QVERIFY(!js("document.getElementById('set-mapatstart').checked").toBool());
    click("set-mapatstart");
    QVERIFY(waitJs("document.getElementById('set-status').classList.contains('ok')"));
    QFile conf(m_folder.filePath("Resources/profiles/conf.xml"));
    QVERIFY(conf.open(QIODevice::ReadOnly));
    QVERIFY(conf.readAll().contains("keyMappingAtStart=\"1\""));

    m_page.disconnect();
    stagedprogram::stop(m_program);
    startProgram();
    QVERIFY(waitJs("KeyMap.vdOn()"));
    QCOMPARE(js("document.getElementById('sb-vd').textContent").toString(),
             QString("Key mapping: on"));
    simctl("hid-clear");
    key("0x3e press"); // F4 types Hi! without the switch touched
    QTRY_VERIFY_WITH_TIMEOUT(keyboard().endsWith("+1 -1 -left-shift"), 10000);
    js("App.show('settings')");
    QVERIFY(waitJs("document.getElementById('set-mapatstart').checked"));
    shot("settings-mapping-at-start");
}

void tst_Remapping::screensInBothLanguages() {
    for (const QString lang : {"en", "zh"}) {
        js(QString("I18n.setLanguage(%1)").arg(quoted(lang)));
        js("App.show('keymap')");
        set("km-section", "notepad");
        QVERIFY(waitJs("!document.getElementById('km-app-remove').hidden"));
        shot("keymap-application-" + lang);
        set("km-section", "");
        newMapping("58:0", "key");
        QVERIFY(waitJs("!document.getElementById('map-kind-hint').hidden"));
        shot("keymap-editor-remap-" + lang);
        js("document.getElementById('map-dialog').close()");
        js("App.show('settings')");
        shot("settings-" + lang);
    }
    js("I18n.setLanguage('en')");
}

QTEST_MAIN(tst_Remapping)
#include "tst_remapping.moc"
