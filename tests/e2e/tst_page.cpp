// The application page in the running program, used as its users use it: the staged program is
// started in a folder of its own with the emulated adapter and the simulated devices, and its
// page is driven through the browser's debugging interface. Each screen leaves a picture under
// build/screenshots/ for a person to look at.

#include "buildpaths.h"
#include "pagedriver.h"
#include "platform/inputdevices.h"
#include "stagedprogram.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "xdesk.h"

using stagedprogram::copyTree;
using stagedprogram::freePort;
using stagedprogram::quoted;

class tst_Page : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void everyTextInBothLanguages();
    void keyMapFileRead_data();
    void keyMapFileRead();
    void keyMapFileRoundTrip();
    void macroTurnedIntoCommands();
    void keySequenceText_data();
    void keySequenceText();
    void devicesListed();
    void hotPlugFollowed();
    void settingsPageOfferedOnceInstalled();
    void deviceHotkeySet();
    void hotkeyPopupClosesAndSaysWhatFailed();
    void propertyReadAndWritten();
    void statusLinesKeepPlaceAndLanguage();
    void propertyValueCheckedBeforeSending();
    void memoryEditedAndWritten();
    void memoryInputCheckedBeforeSending_data();
    void memoryInputCheckedBeforeSending();
    void memoryEditsKeptOverUnplug();
    void failureShownInWords();
    void deviceWithoutKeyMapGetsOneAtOnce();
    void keyMapWrittenFromPage();
    void newMappingStartsFreeAndEscapeAsks();
    void secondMappingOfOneKeyRefused();
    void triggerChosenByPressingIt();
    void macroRecordedAndGivenToAKey();
    void eventLogInWords();
    void profileExportedAndImported();
    void importOfAnythingButAPackageExplained();
    void keyMapBackToFactory();
    void keyMapPlayedByAKey();
    void unansweredRequestShownPendingAndCancellable();
    void settingsSaved();
    void hotkeyTakenFromKeys();
    void keyMappingSwitchedByItsHotkey();
    void saveOnceAndLanguageAfterSave();
    void factorySettingsRestored();
    void languageChosenAndKept();
    void fileDialogsSpeakThePageLanguage_data();
    void fileDialogsSpeakThePageLanguage();
    void advancedSettingsChecked_data();
    void advancedSettingsChecked();
    void systemSettingsAsTheyAre();
    void fileDownloadedIntoProgramFolder();
    void filesOfTheMachineStayOut();
    void configurationSynced();
    void keyboardUse();
    void titleBarDragMovesWindow();
    void titleBarDoubleClickMaximises();
    void screensFitDefaultSizeAndMaximised();
    void smallWindowOneColumn();
    void primaryButtonsReadable();
    void everyScreenInBothLanguages();
    void updateCheckOutcomeShown(); // leaves the program's own answer window open
    void adapterPluggedWhileMappingIsNotRemapped();
    void unreachableInputDevicesSaidInWords();
    void editAndReloadTakeEffectInOrder();
    void closeButtonQuitsWhenSetTo(); // last: the program ends

private:
    QJsonValue js(const QString& expression);
    bool waitJs(const QString& condition, int timeoutMs = 10000) {
        return m_page.waitFor(condition, timeoutMs);
    }
    QString text(const QString& id) {
        return js(QString("document.getElementById(%1).textContent").arg(quoted(id))).toString();
    }
    // What a status line says (without the program's own words behind "Details").
    QString status(const QString& id) {
        return js(QString("UI.statusText(document.getElementById(%1))").arg(quoted(id))).toString();
    }
    bool statusIs(const QString& id, const QString& expected, int timeoutMs = 10000) {
        return waitJs(QString("UI.statusText(document.getElementById(%1)) === %2")
                          .arg(quoted(id), quoted(expected)),
                      timeoutMs);
    }
    void click(const QString& selector) {
        js(QString("document.querySelector(%1).click()").arg(quoted(selector)));
    }
    // Sets a field as typing would, so its listeners run.
    void type(const QString& selector, const QString& value, const char* event = "input") {
        js(QString("(function(){var e=document.querySelector(%1); e.value=%2;"
                   "e.dispatchEvent(new Event('%3', {bubbles: true}));})()")
               .arg(quoted(selector), quoted(value), QLatin1String(event)));
    }
    int requestsOf(const QString& funcname) {
        return js(QString("Bridge.log().filter(function(e){return e.kind==='request' && "
                          "e.text===%1;}).length")
                      .arg(quoted(funcname)))
            .toInt();
    }
    QString file(const QString& relative) {
        QFile f(m_folder.filePath(relative));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString simctl(const QString& line);
    void shot(const QString& name);
    // Writes a file into the program folder.
    bool put(const QString& relative, const QByteArray& bytes) {
        QFile f(m_folder.filePath(relative));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    // A profile whose elements each count every element: a query that runs long.
    bool putSlowProfile(const QString& relative, int elements) {
        QByteArray xml = "<root>";
        for (int i = 0; i < elements; ++i)
            xml += "<k id=\"" + QByteArray::number(i) + "\"/>";
        return put(relative, xml + "</root>");
    }
    // The default key map becomes: Caps Lock presses the key with usage `usage`, once.
    void mapCapsLock(const QString& usage) {
        QVERIFY(put("view/test-map.xml",
                    QString(R"(<conf><k scanCode="58" flag="0" playType="0" playCount="1">)"
                            R"(<c task="down" value="%1"/><c task="up" value=""/></k></conf>)")
                        .arg(usage)
                        .toUtf8()));
        QCOMPARE(js(QString("Bridge.request('resetProfile', {srcFilePath: 'view/test-map.xml', "
                            "desFilePath: %1}).then(function(){return Bridge.request("
                            "'keyMapChanged');})")
                        .arg(quoted(m_map)))
                     .toString(),
                 QString("keyMapChanged success"));
    }
    void agree() {
        QVERIFY2(
            waitJs("document.getElementById('confirm-dialog').open"),
            qPrintable(js("JSON.stringify([document.activeElement && document.activeElement.id,"
                          "Bridge.log().slice(-4)])")
                           .toString()));
        click("#confirm-yes");
        QVERIFY(waitJs("!document.getElementById('confirm-dialog').open"));
    }

    QTemporaryDir m_folder;
    QTemporaryDir m_home;
    QProcess m_program;
    QProcess m_server;
    QString m_serverUrl;
    // Starts the reference vendor server once and points the program at it.
    bool startServer();
    // The requests the page still waits for, by name; they are given up, so the tests after a
    // failure start clean.
    QString giveUpPending() {
        const QString names =
            js("Bridge.pendingList().map(function(p){return p.funcname;}).join(', ')").toString();
        js("Bridge.pendingList().forEach(function(p){Bridge.cancel(p.id);})");
        return "the program left unanswered: " + names;
    }
    // Waits for a status line to leave "busy"; false when the program left it waiting.
    bool answered(const QString& id, int timeoutMs = 8000) {
        return waitJs(QString("(function(){var c = document.getElementById(%1).classList;"
                              "return c.contains('ok') || c.contains('error');})()")
                          .arg(quoted(id)),
                      timeoutMs);
    }
    PageDriver m_page;
    XDesk m_desk;
    // Clicks a point of the page with the real pointer (page coordinates).
    void clickPage(int x, int y) {
        const QJsonArray at = js("[window.screenX, window.screenY]").toArray();
        m_desk.click(at.at(0).toInt() + x, at.at(1).toInt() + y);
        QTest::qWait(100);
    }
    QString m_shots;
    QString m_map = "view/device/virtual/xml/configuration.xml";
    quint16 m_port = 0;
    // Chooses the page's language on the settings screen and waits until it is kept.
    void setLanguage(const QString& language) {
        js("App.show('settings')");
        type("#set-language", language, "change");
        QVERIFY(waitJs(QString("I18n.language() === %1").arg(quoted(language))));
        QTRY_VERIFY(file("view/xml/page.xml").contains("language=\"" + language + "\""));
        QTest::qWait(500); // the program's own windows follow the file
    }
    // Holds the answers to one command in the page until release(): a program that takes long.
    void hold(const QString& funcname) {
        js(QString(
               "(function(){var request = Bridge.request, held = [];"
               "Bridge.request = function(f, a){var p = request(f, a);"
               " if (f !== %1) return p;"
               " var q = new Promise(function(ok, no){held.push(function(){p.then(ok, no);});});"
               " q.id = p.id; return q;};"
               "window.release = function(){Bridge.request = request;"
               " held.forEach(function(f){f();});};})()")
               .arg(quoted(funcname)));
    }
};

QJsonValue tst_Page::js(const QString& expression) {
    const QJsonValue value = m_page.eval(expression);
    if (!m_page.lastError().isEmpty())
        qWarning("page: %s: %s", qPrintable(expression.left(120)), qPrintable(m_page.lastError()));
    return value;
}

QString tst_Page::simctl(const QString& line) {
    return stagedprogram::simctl(m_folder.path(), line);
}

void tst_Page::shot(const QString& name) {
    QTest::qWait(300); // let the last answers paint
    QVERIFY2(m_page.screenshot(m_shots + "/" + name + ".png"), qPrintable(name));
}

void tst_Page::initTestCase() {
    QVERIFY(m_folder.isValid() && m_home.isValid());
    QVERIFY(copyTree(buildpaths::resolve(TAVIX_STAGE_DIR), m_folder.path()));
    m_shots = buildpaths::resolve(TAVIX_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(m_shots));

    const quint16 port = m_port = freePort();
    // A home, an instance name and a start-with-the-system entry of its own.
    stagedprogram::start(m_program, m_folder.path(), m_home.path(), port);
    QVERIFY(m_program.waitForStarted());
    QVERIFY2(m_page.connectTo(port, "/view/index.html", 60000), qPrintable(m_page.lastError()));
    QVERIFY(waitJs("document.documentElement.dataset.ready === '1'", 60000));
    QVERIFY(m_desk.usable());
    // A click on the status bar gives the page the keyboard, also without a window manager.
    clickPage(600, 745);
}

void tst_Page::cleanupTestCase() {
    m_page.disconnect();
    if (m_server.state() != QProcess::NotRunning) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
    stagedprogram::stop(m_program);
}

void tst_Page::init() {
    QCOMPARE(m_program.state(), QProcess::Running);
    js("document.querySelectorAll('dialog[open]').forEach(function(d){d.close();})");
}

void tst_Page::everyTextInBothLanguages() {
    QStringList keys;
    QDir view(m_folder.filePath("view"));
    const QRegularExpression used(R"(\b(?:t|L|later)\('([A-Za-z.]+[A-Za-z])'[,)])");
    for (const QString& name : view.entryList({"*.js"}, QDir::Files) +
                                   QDir(view.filePath("js")).entryList({"*.js"}, QDir::Files)) {
        QFile f(QFile::exists(view.filePath(name)) ? view.filePath(name)
                                                   : view.filePath("js/" + name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        auto it = used.globalMatch(QString::fromUtf8(f.readAll()));
        while (it.hasNext())
            keys << it.next().captured(1);
    }
    QVERIFY(keys.size() > 100);
    // A text named twice in the table would silently lose its first wording.
    QFile table(view.filePath("js/i18n.js"));
    QVERIFY(table.open(QIODevice::ReadOnly));
    QStringList defined;
    auto def =
        QRegularExpression(R"(^\s*'([A-Za-z.]+)':\s*\[)", QRegularExpression::MultilineOption)
            .globalMatch(QString::fromUtf8(table.readAll()));
    while (def.hasNext()) {
        const QString key = def.next().captured(1);
        QVERIFY2(!defined.contains(key), qPrintable(key));
        defined << key;
    }
    // Texts named by the markup and the ones put together from a name.
    const QJsonValue missing = js(
        QString(
            "(function(){var keys=%1;"
            "document.querySelectorAll('[data-t],[data-t-label],[data-t-ph]').forEach(function(n){"
            " ['data-t','data-t-label','data-t-ph'].forEach(function(a){"
            "  if(n.hasAttribute(a)) keys.push(n.getAttribute(a));});});"
            "KeyMapFile.TASKS.forEach(function(t){keys.push('task.'+t);});"
            "Keys.buttons.forEach(function(b){keys.push('button.'+b.id);});"
            "['request','answer','failure','event','cancelled','notice'].forEach(function(k){"
            " keys.push('log.kind.'+k);});"
            "return keys.filter(function(k){return !I18n.has(k);})"
            " .concat(I18n.incomplete());})()")
            .arg(QString::fromUtf8(
                QJsonDocument(QJsonArray::fromStringList(keys)).toJson(QJsonDocument::Compact))));
    QVERIFY(missing.isArray());
    QCOMPARE(missing.toArray().toVariantList(), QVariantList());
}

void tst_Page::keyMapFileRead_data() {
    QTest::addColumn<QString>("xml");
    QTest::addColumn<QString>("entries"); // scanCode/flag/playType/playCount:task=value;...
    QTest::newRow("one key") << R"(<conf><a scanCode="58" flag="0" playType="0" playCount="2">)"
                                R"(<c task="down" value="04"/><c task="up" value=""/></a></conf>)"
                             << "58/0/0/2:down=04;up=";
    QTest::newRow("names of elements are not read")
        << R"(<conf><x scanCode="30" flag="1" playType="2" playCount="1"><y task="delayTime" value="5"/></x></conf>)"
        << "30/1/2/1:delayTime=5";
    QTest::newRow("missing and non-numeric numbers count as 0")
        << R"(<conf><k scanCode="abc" playType="" playCount="x"><c task="up"/></k></conf>)"
        << "0/0/0/0:up=";
    QTest::newRow("the later entry of one trigger wins")
        << R"(<conf><k scanCode="4" flag="10" playType="0" playCount="1"><c task="up" value=""/></k>)"
           R"(<k scanCode="5" flag="0" playType="0" playCount="1"><c task="up" value=""/></k>)"
           R"(<k scanCode="4" flag="10" playType="1" playCount="1"><c task="mouseUp" value=""/></k></conf>)"
        << "5/0/0/1:up=|4/10/1/1:mouseUp=";
    QTest::newRow("an entry without commands is kept, as not mapped")
        << R"(<conf><k scanCode="2" flag="0" playType="0" playCount="1"/></conf>)"
        << "2/0/0/1:";
    QTest::newRow("empty key map") << "<conf />"
                                   << "";
    QTest::newRow("not a key map") << "<root><k/></root>"
                                   << "error:noconf";
    QTest::newRow("damaged") << "<conf><k></conf>"
                             << "error:malformed";
}

void tst_Page::keyMapFileRead() {
    QFETCH(QString, xml);
    QFETCH(QString, entries);
    const QString got =
        js(QString("(function(){try{return KeyMapFile.parse(%1).map(function(e){"
                   "return [e.scanCode,e.flag,e.playType,e.playCount].join('/') + ':' +"
                   " e.commands.map(function(c){return c.task + '=' + "
                   "c.value;}).join(';');}).join('|');"
                   "}catch(e){return 'error:' + e.message;}})()")
               .arg(quoted(xml)))
            .toString();
    QCOMPARE(got, entries);
}

void tst_Page::keyMapFileRoundTrip() {
    // Texts with every character XML treats specially come back unchanged.
    const QString got = js(R"((function(){
        var entries = [{scanCode: 58, flag: 0, playType: 0, playCount: 3, commands: [
            {task: 'reportMsg', value: 'a<b>&"c"\'d\'\n\ttab'}, {task: 'openUrl', value: 'C:/x y/z.txt'}]},
          {scanCode: 16, flag: 10, playType: 2, playCount: 1, commands: [{task: 'mouseDown', value: '2'}]}];
        var back = KeyMapFile.parse('<conf>' + KeyMapFile.serialize(entries) + '</conf>');
        return JSON.stringify(back) === JSON.stringify(entries) ? 'same' : JSON.stringify(back);
      })())")
                            .toString();
    QCOMPARE(got, QString("same"));
}

void tst_Page::macroTurnedIntoCommands() {
    // Press A, pause, release A; a key the table does not know (scan 0x70) is left out with its
    // pause kept; a pause of 0 ms is no command; the system's extended Num Lock is Num Lock.
    const QString got = js(R"((function(){
        return KeyMapFile.commandsFromMacro([
          {kind: 'press', scan: 0x1e, ext: 0}, {kind: 'pause', ms: 120}, {kind: 'release', scan: 0x1e, ext: 0},
          {kind: 'pause', ms: 0}, {kind: 'press', scan: 0x70, ext: 0}, {kind: 'pause', ms: 30},
          {kind: 'release', scan: 0x70, ext: 0}, {kind: 'press', scan: 0x45, ext: 1},
          {kind: 'press', scan: 0x1d, ext: 1}
        ]).map(function(c){return c.task + '=' + c.value;}).join(';');
      })())")
                            .toString();
    QCOMPARE(got, QString("keyDown=04;delayTime=120;keyUp=04;delayTime=30;keyDown=53;keyDown=e4"));
}

void tst_Page::keySequenceText_data() {
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("sequence"); // "null": no portable name
    QTest::newRow("letter with Ctrl and Alt") << "{code:'KeyA',ctrlKey:true,altKey:true}"
                                              << "Ctrl+Alt+A";
    QTest::newRow("modifiers in Qt's order")
        << "{code:'F9',shiftKey:true,metaKey:true,ctrlKey:true}"
        << "Ctrl+Shift+Meta+F9";
    QTest::newRow("digit row") << "{code:'Digit3',ctrlKey:true}"
                               << "Ctrl+3";
    QTest::newRow("keypad digit") << "{code:'Numpad7',altKey:true}"
                                  << "Alt+7";
    QTest::newRow("named key") << "{code:'PageDown',ctrlKey:true}"
                               << "Ctrl+PgDown";
    QTest::newRow("main Enter") << "{code:'Enter'}"
                                << "Return";
    QTest::newRow("keypad Enter") << "{code:'NumpadEnter'}"
                                  << "Enter";
    QTest::newRow("punctuation") << "{code:'Slash',ctrlKey:true}"
                                 << "Ctrl+/";
    QTest::newRow("modifier alone") << "{code:'ControlLeft',ctrlKey:true}"
                                    << "";
    QTest::newRow("unknown key") << "{code:'IntlRo'}"
                                 << "null";
}

void tst_Page::keySequenceText() {
    QFETCH(QString, event);
    QFETCH(QString, sequence);
    QCOMPARE(js(QString("String(Keys.sequenceOf(%1))").arg(event)).toString(), sequence);
}

void tst_Page::devicesListed() {
    js("App.show('devices')");
    QVERIFY(
        waitJs("document.querySelector('#dev-list .device-name') &&"
               "document.querySelector('#dev-list .device-name').textContent === 'KX Adapter'"));
    const QString facts = text("dev-facts");
    QVERIFY2(facts.contains("1.0.0") && facts.contains("KX0001") && facts.contains("04D9A0F1"),
             qPrintable(facts));
    QCOMPARE(text("title-device"), QString("KX Adapter"));
    shot("devices");
}

void tst_Page::hotPlugFollowed() {
    js("App.show('devices')");
    const int before = requestsOf("getDevicesList");
    js("window.hotPlugFrom = Date.now()");
    const QString changes = "Bridge.log().filter(function(e){return e.kind==='event' && "
                            "e.text==='devicesChanged' && e.time >= window.hotPlugFrom;})"
                            ".map(function(e){return e.detail;}).join(' ')";
    QCOMPARE(simctl("usb-unplug KX0001").trimmed(), QString("unplugged"));
    QVERIFY(waitJs("document.getElementById('dev-status').textContent.indexOf('No device') === 0"));
    QVERIFY(requestsOf("getDevicesList") > before);
    QVERIFY(
        waitJs("document.getElementById('sb-message').textContent === 'KX Adapter was removed.'"));
    QVERIFY(waitJs("document.getElementById('dev-detail').hidden"));

    QCOMPARE(simctl("usb-plug KX0001").trimmed(), QString("plugged"));
    QVERIFY(
        waitJs("document.getElementById('dev-status').textContent === '1 device(s) connected.'"));
    QVERIFY(waitJs(
        "document.getElementById('sb-message').textContent === 'KX Adapter was connected.'"));
    QVERIFY(!js("document.getElementById('dev-detail').hidden").toBool());
    // The library and the USB notifications both hear of each change: one event each, 1 for the
    // removal, 2 for the arrival.
    QTest::qWait(1500);
    QCOMPARE(js(changes).toString(), QString("1 2"));
}

void tst_Page::settingsPageOfferedOnceInstalled() {
    js("App.show('devices')");
    QVERIFY(waitJs("document.getElementById('dev-page-status').textContent === "
                   "'The settings page of this device is not installed.'"));
    QVERIFY(js("document.getElementById('dev-open-page').disabled").toBool());

    QVERIFY(QDir().mkpath(m_folder.filePath("view/device/kxadapter")));
    QFile page(m_folder.filePath("view/device/kxadapter/seting.html"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<!DOCTYPE html><title>settings</title>");
    page.close();
    click("#dev-refresh");
    QVERIFY(waitJs("!document.getElementById('dev-open-page').disabled"));
    QCOMPARE(text("dev-page-status"), QString());
    QVERIFY(QFile::remove(page.fileName()));
}

// Given to the system as the keys are pressed, like the program's hotkeys; the note beside it
// says when the page it opens is missing.
void tst_Page::deviceHotkeySet() {
    js("App.show('devices')");
    click("#dev-refresh");
    QVERIFY(waitJs("document.getElementById('dev-hotkey-note').textContent === 'No hotkey set.'"));
    QVERIFY(!js("document.getElementById('dev-hotkey-field').hidden").toBool());
    clickPage(600, 745);
    js("document.getElementById('dev-hotkey').focus()");
    m_desk.press({XK_Control_L, XK_Shift_L, XK_F7});
    QVERIFY(waitJs("document.getElementById('dev-hotkey').value === 'Ctrl+Shift+F7'"));
    QVERIFY(statusIs("dev-status", "The hotkey is now Ctrl+Shift+F7."));
    QTRY_VERIFY(file("Resources/profiles/conf.xml").contains("GHotKey=\"Ctrl+Shift+F7\""));
    QCOMPARE(text("dev-hotkey-note"), QString("The system accepted Ctrl+Shift+F7, but the "
                                              "settings page it opens is not installed yet."));
    click("#dev-hotkey-clear");
    QVERIFY(waitJs("document.getElementById('dev-hotkey-note').textContent === 'No hotkey set.'"));
    QTRY_VERIFY(file("Resources/profiles/conf.xml").contains("GHotKey=\"\""));
}

// A hotkey opens its page in a window of its own: a missing page is said in words there, and Esc
// or the window's close control close it (a second press opens it anew).
void tst_Page::hotkeyPopupClosesAndSaysWhatFailed() {
    js("App.show('devices')");
    clickPage(600, 745);
    js("document.getElementById('dev-hotkey').focus()");
    m_desk.press({XK_Control_L, XK_Shift_L, XK_F6});
    QTRY_VERIFY(file("Resources/profiles/conf.xml").contains("GHotKey=\"Ctrl+Shift+F6\""));
    const int pages = PageDriver::pageCount(m_port);
    for (const char* closeBy : {"Escape", "close control"}) {
        m_desk.press({XK_Control_L, XK_Shift_L, XK_F6});
        PageDriver popup;
        QVERIFY2(popup.connectToOther(m_port, "/view/index.html", 20000), closeBy);
        QVERIFY(popup.waitFor("document.body && document.body.innerText.indexOf("
                              "'This page cannot be opened') === 0"));
        QVERIFY(popup.eval("document.body.innerText").toString().contains("seting.html"));
        QVERIFY(popup.eval("document.querySelector('details h2').textContent")
                    .toString()
                    .contains("ERR_FILE_NOT_FOUND"));
        if (QLatin1String(closeBy) == QLatin1String("Escape")) {
            QVERIFY(popup.screenshot(m_shots + "/popup-missing-page.png"));
            m_desk.press({XK_Escape});
        } else {
            const QJsonArray at =
                popup.eval("[window.screenX, window.screenY, window.innerWidth]").toArray();
            m_desk.click(at.at(0).toInt() + at.at(2).toInt() - 19, at.at(1).toInt() + 19);
        }
        popup.disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(PageDriver::pageCount(m_port), pages, 10000);
    }
    click("#dev-hotkey-clear");
    QTRY_VERIFY(file("Resources/profiles/conf.xml").contains("GHotKey=\"\""));
}

void tst_Page::propertyReadAndWritten() {
    js("App.show('devices')");
    type("#prop-id", "2");
    type("#prop-size", "2");
    click("#prop-read");
    QVERIFY(waitJs("document.getElementById('prop-data').value === '0x03,0x20'"));
    QVERIFY(statusIs("dev-status", "Property 2 read."));

    type("#prop-data", "0x05, 6");
    click("#prop-write");
    QVERIFY(statusIs("dev-status", "Property 2 written."));
    type("#prop-data", "");
    click("#prop-read");
    QVERIFY(waitJs("document.getElementById('prop-data').value === '0x05,0x06'"));
}

void tst_Page::propertyValueCheckedBeforeSending() {
    js("App.show('devices')");
    const int before = requestsOf("writeDevicesProp");
    type("#prop-id", "1");
    type("#prop-size", "3");
    type("#prop-data", "0x01,0x02");
    click("#prop-write");
    QCOMPARE(status("dev-status"), QString("The value has 2 byte(s) but the size says 3."));
    type("#prop-size", "1");
    type("#prop-data", "0x100");
    click("#prop-write");
    QVERIFY(status("dev-status").startsWith("\"0x100\" (item 1) is not a byte."));
    QCOMPARE(requestsOf("writeDevicesProp"), before);
    QVERIFY(js("document.getElementById('dev-status').classList.contains('error')").toBool());
}

void tst_Page::memoryEditedAndWritten() {
    js("App.show('memory')");
    type("#mem-addr", "0x100");
    type("#mem-size", "32");
    click("#mem-form button[type=submit]");
    QVERIFY(waitJs("document.querySelectorAll('#mem-view .hexcell').length === 32"));
    QCOMPARE(text("mem-status"), QString("32 byte(s) read from 0x0100."));
    QVERIFY(js("document.getElementById('mem-write').disabled").toBool());

    type("#mem-view [data-index='3']", "ab");
    type("#mem-view [data-index='5']", "7");
    QVERIFY(
        js("document.querySelector(\"#mem-view [data-index='3']\").classList.contains('changed')")
            .toBool());
    click("#mem-write");
    // The span from the first to the last changed byte goes in one write.
    QVERIFY(waitJs("document.getElementById('mem-status').textContent === "
                   "'3 byte(s) written at 0x0103.'"));
    click("#mem-form button[type=submit]");
    QVERIFY(waitJs("document.getElementById('mem-status').textContent.indexOf('read') > 0"));
    QCOMPARE(js("document.querySelector(\"#mem-view [data-index='3']\").value").toString(),
             QString("ab"));
    QCOMPARE(js("document.querySelector(\"#mem-view [data-index='5']\").value").toString(),
             QString("07"));
    shot("memory");
}

void tst_Page::memoryInputCheckedBeforeSending_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("message");
    QTest::newRow("not hexadecimal") << "zz"
                                     << "16"
                                     << "\"zz\" is not an address.";
    QTest::newRow("hex digit then junk") << "0x1g"
                                         << "16"
                                         << "\"0x1g\" is not an address.";
    QTest::newRow("empty address") << ""
                                   << "16"
                                   << "\"\" is not an address.";
    QTest::newRow("no bytes") << "0x10"
                              << "0"
                              << "The size must be";
    QTest::newRow("past the transfer buffer") << "0x10"
                                              << "2049"
                                              << "The size must be";
    QTest::newRow("a fraction") << "0x10"
                                << "1.5"
                                << "The size must be";
}

void tst_Page::memoryInputCheckedBeforeSending() {
    QFETCH(QString, address);
    QFETCH(QString, size);
    QFETCH(QString, message);
    js("App.show('memory')");
    const int before = requestsOf("readByAddr");
    type("#mem-addr", address);
    type("#mem-size", size);
    click("#mem-form button[type=submit]");
    QVERIFY2(text("mem-status").startsWith(message), qPrintable(text("mem-status")));
    QCOMPARE(requestsOf("readByAddr"), before);
}

void tst_Page::failureShownInWords() {
    js("App.show('memory')");
    // The adapter's memory ends at 0x10000; the last byte of this range lies past it: the device
    // refuses the read, and the page shows the failure rather than bytes.
    type("#mem-addr", "fff8");
    type("#mem-size", "16");
    click("#mem-form button[type=submit]");
    QVERIFY(waitJs("document.getElementById('mem-status').classList.contains('error')"));
    // In words; the program's own text only behind "Details".
    QCOMPARE(status("mem-status"), QString("The device refused the read: the address or property "
                                           "may lie outside what it has."));
    QVERIFY(js("document.querySelector('#mem-status .status-detail').hidden").toBool());
    click("#mem-status .details-toggle");
    QVERIFY(waitJs("!document.querySelector('#mem-status .status-detail').hidden &&"
                   "document.querySelector('#mem-status .status-detail').textContent === "
                   "'readByAddr failed!'"));
    QVERIFY(!js("[].some.call(document.querySelectorAll('#mem-view .addr'),"
                " function(a){return a.textContent === '0000fff8';})")
                 .toBool());
    QVERIFY(
        js("Bridge.log().some(function(e){return e.kind==='failure' && e.text==='readByAddr';})")
            .toBool());
    shot("memory-failure");

    // Property ids end at 255: the device refuses the write.
    js("App.show('devices')");
    type("#prop-id", "300");
    type("#prop-size", "1");
    type("#prop-data", "0x01");
    click("#prop-write");
    QVERIFY(waitJs("document.getElementById('dev-status').classList.contains('error')"));
    QCOMPARE(status("dev-status"), QString("The device did not accept the write."));
    QCOMPARE(text("dev-status").contains("writeDevicesProp"), true); // in the details
    QVERIFY(!js("document.getElementById('dev-status').innerText").toString().contains("failed!"));
}

void tst_Page::deviceWithoutKeyMapGetsOneAtOnce() {
    // The adapter's folder holds no key map: said at once (the program would never answer for
    // the missing file), with the way to make one.
    js("App.show('keymap')");
    const int asked = requestsOf("queryProfile");
    type("#km-map", "kxadapter", "change");
    QVERIFY(statusIs("km-status",
                     "This device has no key map of its own; its keys follow the default key map.",
                     1000));
    QVERIFY(js("document.getElementById('km-add').disabled").toBool());
    QVERIFY(!js("document.getElementById('km-create').hidden").toBool());
    QCOMPARE(requestsOf("queryProfile"), asked);
    shot("keymap-device-without-map");

    click("#km-create");
    QVERIFY(waitJs("!document.getElementById('km-add').disabled"));
    QVERIFY(js("document.getElementById('km-create').hidden").toBool());
    const QString own = "view/device/kxadapter/xml/configuration.xml";
    QTRY_COMPARE(file(own).replace("\r\n", "\n"), file(m_map).replace("\r\n", "\n"));
    type("#km-map", "virtual", "change");
    QVERIFY(waitJs("!document.getElementById('km-add').disabled"));
}

void tst_Page::keyMapWrittenFromPage() {
    js("App.show('keymap')");
    QVERIFY(waitJs("!document.getElementById('km-add').disabled"));
    const int reloads = requestsOf("keyMapChanged");
    click("#km-add");
    QVERIFY(waitJs("document.getElementById('map-dialog').open"));
    type("#map-trigger", "58:0", "change"); // Caps Lock
    type("#map-playtype", "0", "change");
    type("#map-playcount", "2");
    type("#map-newtask", "down", "change");
    click("#map-addcmd");
    js("var s = document.getElementById('map-value-0'); s.value = '0b';"
       "s.dispatchEvent(new Event('change'))"); // H
    type("#map-newtask", "delayTime", "change");
    click("#map-addcmd");
    type("#map-value-1", "40");
    type("#map-newtask", "up", "change");
    click("#map-addcmd");
    type("#map-newtask", "reportMsg", "change");
    click("#map-addcmd");
    type("#map-value-3", "a \"quoted\" <text> & more");
    // Reordered: the text goes first.
    click("#map-commands li:nth-child(4) .up");
    click("#map-commands li:nth-child(3) .up");
    click("#map-commands li:nth-child(2) .up");
    QCOMPARE(js("document.getElementById('map-task-0').value").toString(), QString("reportMsg"));
    shot("keymap-editor");
    click("#map-save");
    QVERIFY(waitJs("!document.getElementById('map-dialog').open"));

    QTRY_VERIFY_WITH_TIMEOUT(file(m_map).contains("scanCode=\"58\""), 10000);
    const QString written = file(m_map);
    QVERIFY2(written.contains(
                 QRegularExpression("scanCode=\"58\" flag=\"0\" playType=\"0\" playCount=\"2\">\\s*"
                                    "<command task=\"reportMsg\" value=\"a &quot;quoted&quot; "
                                    "&lt;text(&gt;|>) &amp; more\" />\\s*"
                                    "<command task=\"down\" value=\"0b\" />\\s*"
                                    "<command task=\"delayTime\" value=\"40\" />\\s*"
                                    "<command task=\"up\" value=\"\" />")),
             qPrintable(written));
    QVERIFY(
        waitJs("document.querySelector('#km-table tbody td.trigger') &&"
               "document.querySelector('#km-table tbody td.trigger').textContent === 'Caps Lock'"));
    // The program is told to read the key maps again once the file is written.
    QTRY_VERIFY(requestsOf("keyMapChanged") == reloads + 1);
    shot("keymap");
}

void tst_Page::secondMappingOfOneKeyRefused() {
    js("App.show('keymap')");
    QVERIFY(waitJs("document.querySelectorAll('#km-table tbody tr').length === 1"));
    const QString before = file(m_map);
    click("#km-add");
    QVERIFY(waitJs("document.getElementById('map-dialog').open"));
    type("#map-trigger", "58:0", "change");
    click("#map-save");
    QCOMPARE(text("map-status"), QString("Add at least one command."));
    type("#map-newtask", "mouseDown", "change");
    click("#map-addcmd");
    click("#map-save");
    QCOMPARE(text("map-status"),
             QString("Caps Lock is already mapped. Edit that mapping instead."));
    QVERIFY(js("document.getElementById('map-dialog').open").toBool());
    click("#map-cancel");
    agree(); // the command added would be given up
    QVERIFY(waitJs("!document.getElementById('map-dialog').open"));
    QCOMPARE(file(m_map), before);
}

void tst_Page::triggerChosenByPressingIt() {
    js("App.show('keymap')");
    QVERIFY(waitJs("!document.getElementById('km-add').disabled"));
    clickPage(600, 745);
    click("#km-add");
    QVERIFY(waitJs("document.getElementById('map-dialog').open"));
    click("#map-capture");
    m_desk.press({XK_F7});
    QVERIFY(waitJs("document.getElementById('map-trigger').value === '65:0'"));
    QCOMPARE(text("map-status"), QString("F7 chosen."));
    // The right Ctrl key carries the E0 prefix.
    click("#map-capture");
    m_desk.press({XK_Control_R});
    QVERIFY(waitJs("document.getElementById('map-trigger').value === '29:1'"));
    // A mouse button over the dialog is taken too.
    click("#map-capture");
    const QJsonArray at =
        js("(function(){var r=document.getElementById('map-title').getBoundingClientRect();"
           "return [window.screenX + r.x + 5, window.screenY + r.y + 5];})()")
            .toArray();
    m_desk.moveTo(at.at(0).toInt(), at.at(1).toInt());
    m_desk.button(true, 2);
    m_desk.button(false, 2);
    QVERIFY(waitJs("document.getElementById('map-trigger').value === '16:10'"));
    QCOMPARE(text("map-status"), QString("Middle button chosen."));
    // Escape stops waiting for a key and leaves the choice as it was.
    click("#map-capture");
    m_desk.press({XK_Escape});
    QVERIFY(waitJs("document.getElementById('map-capture').getAttribute('aria-pressed') === null"));
    QCOMPARE(js("document.getElementById('map-trigger').value").toString(), QString("16:10"));
    QVERIFY(js("document.getElementById('map-dialog').open").toBool());
    // The trigger was changed: Escape asks before it is given up.
    m_desk.press({XK_Escape});
    agree();
    QVERIFY(waitJs("!document.getElementById('map-dialog').open"));
}

void tst_Page::macroRecordedAndGivenToAKey() {
    js("App.show('macro')");
    click("#mac-start");
    if (!answered("mac-status", 3000))
        QFAIL(qPrintable(giveUpPending()));
    QCOMPARE(text("mac-status"), QString("Recording: press the keys of your macro."));
    // Keys typed anywhere on the desktop are recorded.
    QCOMPARE(simctl("hook-key 0x1e press").trimmed(), QString("ok"));
    QCOMPARE(simctl("hook-key 0x2a down").trimmed(), QString("ok"));
    QCOMPARE(simctl("hook-key 0x30 press").trimmed(), QString("ok"));
    QCOMPARE(simctl("hook-key 0x2a up").trimmed(), QString("ok"));
    QVERIFY(waitJs("document.querySelectorAll('#mac-timeline .item.release').length === 3"));
    shot("macro");
    click("#mac-stop");
    QVERIFY(answered("mac-status"));
    QVERIFY(text("mac-status").startsWith("Recording stopped:"));
    const QString timeline = text("mac-timeline");
    QVERIFY2(timeline.contains("Apressed") && timeline.contains("Left Shiftpressed") &&
                 timeline.contains("Breleased"),
             qPrintable(timeline));
    // No pause before the first press.
    QVERIFY(
        js("document.querySelector('#mac-timeline .item').classList.contains('press')").toBool());

    click("#mac-use");
    QVERIFY(waitJs("document.getElementById('map-dialog').open"));
    // Caps Lock is mapped already: the macro goes to the first free key.
    QCOMPARE(js("document.getElementById('map-trigger').value").toString(), QString("59:0"));
    const QString commands =
        js("Array.prototype.map.call(document.querySelectorAll("
           "'#map-commands select[id^=map-task]'), function(s){return s.value;})"
           ".join(',')")
            .toString();
    // Pauses of 0 ms are no commands; the keys are all there, in order.
    QCOMPARE(QString(commands).remove(",delayTime"),
             QString("keyDown,keyUp,keyDown,keyDown,keyUp,keyUp"));
    QCOMPARE(js("document.getElementById('map-value-0').value").toString(), QString("04"));
    click("#map-cancel");
}

void tst_Page::profileExportedAndImported() {
    const QString package = m_home.filePath("my keys");
    js("App.show('profiles')");
    type("#pf-map", "virtual", "change");
    type("#pf-export-path", package);
    click("#pf-export-form button[type=submit]");
    QVERIFY(waitJs("document.getElementById('pf-status').classList.contains('ok')"));
    QCOMPARE(js("document.getElementById('pf-export-path').value").toString(), package + ".pfd");

    QFile pfd(package + ".pfd");
    QVERIFY(pfd.open(QIODevice::ReadOnly));
    const QByteArray bytes = pfd.readAll();
    QCOMPARE(bytes.left(4), QByteArray::fromHex("0a0b0c0d"));
    QVERIFY(QString::fromUtf8(QByteArray::fromBase64(bytes.mid(8))).contains("scanCode=\"58\""));

    // The mapping removed from the key map comes back with the package.
    js("App.show('keymap')");
    QVERIFY(waitJs("document.querySelector('#km-table tbody td.actions button:last-child')"));
    click("#km-table tbody td.actions button:last-child");
    agree();
    QTRY_VERIFY_WITH_TIMEOUT(!file(m_map).contains("scanCode"), 10000);
    QVERIFY(waitJs("!document.getElementById('km-empty').hidden"));

    js("App.show('profiles')");
    type("#pf-import-path", package + ".pfd");
    click("#pf-import-form button[type=submit]");
    agree();
    QTRY_VERIFY_WITH_TIMEOUT(file(m_map).contains("scanCode=\"58\""), 10000);
    QVERIFY(waitJs("document.querySelectorAll('#km-table tbody tr').length === 1"));
    shot("profiles");
}

void tst_Page::importOfAnythingButAPackageExplained() {
    const QString notPackage = m_home.filePath("notes.pfd");
    QFile f(notPackage);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<conf><key/></conf>");
    f.close();
    const QString before = file(m_map);
    js("App.show('profiles')");
    type("#pf-import-path", notPackage);
    click("#pf-import-form button[type=submit]");
    agree();
    QVERIFY(waitJs("document.getElementById('pf-status').classList.contains('error')"));
    QVERIFY2(status("pf-status").startsWith("The profile package could not be read"),
             qPrintable(status("pf-status")));
    QCOMPARE(file(m_map), before);
}

void tst_Page::keyMapBackToFactory() {
    js("App.show('profiles')");
    type("#pf-map", "virtual", "change");
    click("#pf-reset");
    agree();
    QTRY_VERIFY_WITH_TIMEOUT(!file(m_map).contains("scanCode"), 10000);
    QCOMPARE(file(m_map).replace("\r\n", "\n"),
             file("view/device/virtual/xml/factory.xml").replace("\r\n", "\n"));
    js("App.show('keymap')");
    QVERIFY(waitJs("!document.getElementById('km-empty').hidden"));
}

void tst_Page::keyMapPlayedByAKey() {
    js("App.show('keymap')");
    type("#km-map", "virtual", "change");
    QVERIFY(waitJs("!document.getElementById('km-add').disabled"));
    QVERIFY(waitJs("!document.getElementById('km-empty').hidden"));
    // Caps Lock types "a" twice.
    click("#km-add");
    QVERIFY(waitJs("document.getElementById('map-dialog').open"));
    type("#map-trigger", "58:0", "change");
    type("#map-playcount", "2");
    type("#map-newtask", "down", "change");
    click("#map-addcmd");
    type("#map-newtask", "delayTime", "change");
    click("#map-addcmd");
    type("#map-value-1", "30");
    type("#map-newtask", "up", "change");
    click("#map-addcmd");
    click("#map-save");
    QVERIFY(waitJs("!document.getElementById('map-dialog').open"));
    QVERIFY(statusIs("km-status", "Caps Lock is mapped; the program uses the new key map."));

    simctl("hid-clear");
    simctl("filter-clear");
    click("#vd-switch");
    QVERIFY(statusIs("km-status", "Key mapping is on: mapped keys play their commands."));
    QCOMPARE(js("document.getElementById('vd-switch').getAttribute('aria-checked')").toString(),
             QString("true"));
    shot("keymap-on");

    QCOMPARE(simctl("filter-key 1 0x3a press").trimmed(), QString("ok"));
    QTRY_VERIFY_WITH_TIMEOUT(simctl("hid-keyboard").count(QRegularExpression("\\ba\\b")) >= 4,
                             10000);
    QCOMPARE(simctl("filter-system").trimmed(), QString("nothing reached the system"));

    // Switched off, Caps Lock is Caps Lock again.
    click("#vd-switch");
    QVERIFY(
        waitJs("document.getElementById('vd-switch').getAttribute('aria-checked') === 'false'"));
    QVERIFY(answered("km-status"));
    QCOMPARE(simctl("filter-key 1 0x3a press").trimmed(), QString("ok"));
    QTRY_VERIFY(simctl("filter-system").contains("scan=0x3a down"));
}

void tst_Page::unansweredRequestShownPendingAndCancellable() {
    // The adapter's folder has no key map files: the program never answers for a missing file.
    js("App.show('profiles')");
    type("#pf-map", "kxadapter", "change");
    QCOMPARE(js("document.getElementById('pf-map').value").toString(), QString("kxadapter"));
    click("#pf-reset");
    agree();
    QVERIFY(waitJs("document.getElementById('pf-status').classList.contains('pending')"));
    QVERIFY(status("pf-status").startsWith("Still waiting for the program to answer"));
    QVERIFY(waitJs("!document.getElementById('sb-pending').hidden"));
    QVERIFY(text("sb-pending").endsWith("waiting for an answer"));
    // The page goes on working meanwhile.
    js("App.show('devices')");
    click("#dev-refresh");
    QVERIFY(
        waitJs("document.getElementById('dev-status').textContent === '1 device(s) connected.'"));

    click("#sb-pending");
    QVERIFY(waitJs("document.getElementById('log-dialog').open"));
    // Named in words, the command's own name only with the details.
    QVERIFY(waitJs("document.querySelector('#log-pending [data-funcname=resetProfile]') &&"
                   "document.getElementById('log-pending').textContent.indexOf("
                   "'copying a key map') === 0"));
    shot("event-log");
    js("document.querySelector('#log-pending [data-funcname=resetProfile]')"
       ".parentNode.querySelector('button').click()");
    QCOMPARE(status("pf-status"), QString("You stopped waiting for this answer."));
    QVERIFY(waitJs("document.getElementById('log-list').textContent.indexOf("
                   "'Stopped waiting: copying a key map') >= 0"));
}

void tst_Page::keyMappingSwitchedByItsHotkey() {
    js("App.show('keymap')");
    const QString fastSwitch =
        js("Bridge.request('getConf').then(function(t){return JSON.parse(t)[0].fastSwitch;})")
            .toString();
    // The one the page set just before (the server keeps Ctrl+Alt+F-keys for itself).
    if (fastSwitch != "Ctrl+Shift+F8,1")
        QSKIP("the system did not accept the key mapping hotkey");
    const int before = requestsOf("startVDevice");
    const bool wasOn = js("KeyMap.vdOn()").toBool();
    QVERIFY(!wasOn);
    // The program's global hotkey only tells the page; the page switches.
    m_desk.press({XK_Control_L, XK_Shift_L, XK_F8});
    QVERIFY(waitJs(QString("Bridge.log().filter(function(e){return e.kind==='request' &&"
                           "e.text==='startVDevice';}).length === %1")
                       .arg(before + 1)));
    QCOMPARE(text("sb-message"), QString("Hotkey pressed: switching key mapping on."));
    QVERIFY(js("Bridge.log().some(function(e){return e.kind==='event' &&"
               "e.text==='onSwitchVirtualDevice';})")
                .toBool());
    if (!waitJs("!document.getElementById('km-status').classList.contains('busy') &&"
                "!document.getElementById('km-status').classList.contains('pending')",
                3000)) {
        QFAIL(qPrintable(giveUpPending()));
    }
    QCOMPARE(js("document.getElementById('vd-switch').getAttribute('aria-checked')").toString(),
             QString("true"));
    QCOMPARE(text("sb-vd"), QString("Key mapping: on"));
    m_desk.press({XK_Control_L, XK_Shift_L, XK_F8});
    QVERIFY(
        waitJs("document.getElementById('vd-switch').getAttribute('aria-checked') === 'false'"));
    QCOMPARE(text("sb-vd"), QString("Key mapping: off"));
}

void tst_Page::settingsSaved() {
    js("App.show('settings')");
    QVERIFY(waitJs("document.getElementById('set-closefunc').value === 'hide'"));
    type("#set-closefunc", "closeapp", "change");
    QVERIFY(waitJs(
        "document.getElementById('set-status').textContent === '\"Closing the window\" saved.'"));
    QVERIFY(file("Resources/profiles/conf.xml").contains("closeFunc=\"closeapp\""));

    click("#set-autostart");
    QVERIFY(waitJs("document.getElementById('set-status').textContent === '\"Start with the "
                   "system\" saved.'"));
    QVERIFY(file("Resources/profiles/conf.xml").contains("autoStart=\"true\""));

    type("#set-conf-apiServer", "http://127.0.0.1:18099", "change");
    QVERIFY(waitJs("document.getElementById('set-status').textContent === '\"Update server "
                   "address\" saved.'"));
    QVERIFY(file("Resources/profiles/conf.xml").contains("apiServer=\"http://127.0.0.1:18099\""));
    // What the program fills in itself is shown, not offered for editing.
    for (const char* key : {"version", "MacAddress", "IpAddress", "synchronize", "updateKey"})
        QVERIFY2(
            js(QString("!document.getElementById('set-conf-%1')").arg(QLatin1String(key))).toBool(),
            key);
    QVERIFY(text("set-about").contains("Program version1.0.0"));
    shot("settings");
}

void tst_Page::hotkeyTakenFromKeys() {
    js("App.show('settings')");
    clickPage(600, 745);
    js("document.getElementById('set-fastswitch').focus()");
    m_desk.press({XK_Control_L, XK_Shift_L, XK_F8});
    QVERIFY(waitJs("document.getElementById('set-fastswitch').value === 'Ctrl+Shift+F8'"));
    QTRY_VERIFY_WITH_TIMEOUT(
        file("Resources/profiles/conf.xml").contains("fastSwitch=\"Ctrl+Shift+F8\""), 10000);
    // The system's verdict is shown next to the field.
    QVERIFY(waitJs("['works', 'refused by the system'].indexOf("
                   "document.getElementById('set-fastswitch-flag').textContent) >= 0"));
    const bool accepted = text("set-fastswitch-flag") == "works";
    QVERIFY(js("Bridge.request('getConf').then(function(t){return JSON.parse(t)[0].fastSwitch;})")
                .toString() == QString("Ctrl+Shift+F8,%1").arg(accepted ? "1" : "0"));
    // Escape leaves the field without changing it.
    m_desk.press({XK_Escape});
    QVERIFY(waitJs("document.activeElement.id !== 'set-fastswitch'"));
    QCOMPARE(js("document.getElementById('set-fastswitch').value").toString(),
             QString("Ctrl+Shift+F8"));
}

void tst_Page::factorySettingsRestored() {
    js("App.show('settings')");
    click("#set-reset");
    agree();
    QVERIFY(waitJs(
        "document.getElementById('set-status').textContent === 'Factory settings restored.'"));
    QCOMPARE(js("document.getElementById('set-closefunc').value").toString(), QString("hide"));
    QCOMPARE(js("document.getElementById('set-autostart').checked").toBool(), false);
    const QString conf = file("Resources/profiles/conf.xml");
    QVERIFY(conf.contains("closeFunc=\"hide\"") &&
            conf.contains("apiServer=\"http://127.0.0.1:18080\""));
}

void tst_Page::languageChosenAndKept() {
    js("App.show('settings')");
    type("#set-language", "zh", "change");
    QVERIFY(waitJs("document.getElementById('tab-devices').textContent === '设备'"));
    QCOMPARE(js("document.documentElement.lang").toString(), QString("zh-CN"));
    QTRY_VERIFY_WITH_TIMEOUT(file("view/xml/page.xml").contains("language=\"zh\""), 10000);
    // Kept across a new start of the page.
    js("location.reload()");
    QTest::qWait(500);
    QVERIFY(waitJs("document.documentElement.dataset.ready === '1'", 30000));
    QCOMPARE(text("tab-settings"), QString("设置"));
    QVERIFY(statusIs("dev-status", "已连接 1 个设备。"));
    js("App.show('settings')");
    shot("settings-zh");
    type("#set-language", "en", "change");
    QVERIFY(waitJs("document.getElementById('tab-settings').textContent === 'Settings'"));
    QTRY_VERIFY_WITH_TIMEOUT(file("view/xml/page.xml").contains("language=\"en\""), 10000);
}

bool tst_Page::startServer() {
    if (!m_serverUrl.isEmpty())
        return true;
    const QString data = m_home.filePath("server");
    if (!QDir().mkpath(data + "/files"))
        return false;
    QFile hello(data + "/files/hello.txt");
    if (!hello.open(QIODevice::WriteOnly) || hello.write("hello from the server\n") <= 0)
        return false;
    hello.close();
    QFile catalog(data + "/catalog.json");
    if (!catalog.open(QIODevice::WriteOnly) || catalog.write("{}") != 2)
        return false;
    catalog.close();
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(m_folder.filePath("vendor-server"), {"--data", data, "--port", "0"});
    if (!m_server.waitForStarted())
        return false;
    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    while (timer.elapsed() < 10000 && !out.contains('\n')) {
        m_server.waitForReadyRead(500);
        out += m_server.readAll();
    }
    const auto m =
        QRegularExpression("listening on (http://[0-9.]+:[0-9]+)").match(QString::fromUtf8(out));
    if (!m.hasMatch())
        return false;
    m_serverUrl = m.captured(1);
    js("App.show('settings')");
    type("#set-conf-apiServer", m_serverUrl, "change");
    return waitJs("document.getElementById('set-status').textContent === "
                  "'\"Update server address\" saved.'");
}

// What a hostile script in the page might ask for: another file shown in the main view, the
// machine's files copied into the program folder. The page stays, nothing is copied.
void tst_Page::filesOfTheMachineStayOut() {
    js("Bridge.send('loadurl', {url: '../../../../etc/passwd'})");
    js("Bridge.send('openView', {relativeUrl: '/view/../../../../etc/passwd', size: '400,300'})");
    QTest::qWait(1500);
    QVERIFY(js("location.href").toString().endsWith("/view/index.html"));
    QCOMPARE(js("document.documentElement.dataset.ready").toString(), QString("1"));
    for (const QString url :
         {"file:///etc/passwd", "file:///proc/self/environ", "data:text/plain,secret/note.txt"}) {
        const QString answer =
            js(QString("Bridge.request('downloadFile', {downloadUrl: %1, relativePath: '/'})"
                       ".then(function (t) { return 'saved ' + t; },"
                       "      function (e) { return 'failed ' + e.message; })")
                   .arg(quoted(url)))
                .toString();
        QCOMPARE(answer, QString("failed downloadFaild"));
    }
    for (const char* name : {"passwd", "environ", "note.txt"})
        QVERIFY2(!QFile::exists(m_folder.filePath(name)), name);
}

void tst_Page::fileDownloadedIntoProgramFolder() {
    QVERIFY(startServer());
    js("App.show('updates')");
    // Refused before anything is sent.
    const int before = requestsOf("downloadFile");
    type("#upd-dl-url", m_serverUrl + "/files/hello.txt");
    type("#upd-dl-folder", "/../outside/");
    click("#upd-dl-form button[type=submit]");
    QCOMPARE(status("upd-status"), QString("The folder must lie inside the program folder."));
    type("#upd-dl-folder", "/tupdates/");
    type("#upd-dl-url", "ftp://example/file");
    click("#upd-dl-form button[type=submit]");
    QCOMPARE(status("upd-status"),
             QString("Enter a web address that starts with http:// or https://."));
    QCOMPARE(requestsOf("downloadFile"), before);

    type("#upd-dl-url", m_serverUrl + "/files/hello.txt");
    type("#upd-dl-folder", "tupdates");
    click("#upd-dl-form button[type=submit]");
    // The folder is written as the program wants it: inside the program folder, ending in "/".
    QCOMPARE(js("document.getElementById('upd-dl-folder').value").toString(),
             QString("/tupdates/"));
    if (!answered("upd-status"))
        QFAIL(qPrintable(giveUpPending()));
    QVERIFY2(status("upd-status").startsWith("Saved as "), qPrintable(status("upd-status")));
    QCOMPARE(file("tupdates/hello.txt"), QString("hello from the server\n"));

    type("#upd-dl-url", m_serverUrl + "/files/missing.txt");
    click("#upd-dl-form button[type=submit]");
    QVERIFY(answered("upd-status", 20000));
    QVERIFY2(status("upd-status").startsWith("The download failed."),
             qPrintable(status("upd-status")));
}

void tst_Page::configurationSynced() {
    QVERIFY(startServer());
    js("App.show('updates')");
    // Only the key map: the program settings take the new revision after each sync.
    QCOMPARE(js("document.getElementById('upd-file-0').value").toString(),
             QString("Resources/profiles/conf.xml"));
    click("#upd-file-0");
    QVERIFY(!js("document.getElementById('upd-file-0').checked").toBool());
    click("#upd-sync");
    if (!answered("upd-status", 15000))
        QFAIL(qPrintable(giveUpPending()));
    const QStringList words{"Your configuration and the server's copy are the same.",
                            "Your configuration was sent to the server.",
                            "The newer configuration from the server was installed."};
    QVERIFY2(words.contains(status("upd-status")), qPrintable(status("upd-status")));
    // Unchanged files a second time: the server's copy is the same.
    click("#upd-sync");
    QVERIFY(answered("upd-status", 15000));
    QCOMPARE(status("upd-status"), words.at(0));
    shot("updates-synced");
}

void tst_Page::keyboardUse() {
    clickPage(600, 745);
    js("App.show('devices'); document.getElementById('tab-devices').focus()");
    m_desk.press({XK_Down});
    QVERIFY(waitJs("document.activeElement.id === 'tab-keymap'"));
    QVERIFY(!js("document.getElementById('screen-keymap').hidden").toBool());
    // Only the chosen tab is in the tab order.
    QCOMPARE(js("document.querySelectorAll('#nav [tabindex=\"0\"]').length").toInt(), 1);

    m_desk.press({XK_Control_L, XK_l});
    QVERIFY(waitJs("document.getElementById('log-dialog').open"));
    m_desk.press({XK_Escape});
    QVERIFY(waitJs("!document.getElementById('log-dialog').open"));

    // Every control has a name a screen reader can say.
    const QJsonValue unnamed = js(
        "Array.prototype.filter.call(document.querySelectorAll('button, input, select'), "
        "function(c){"
        " if (c.closest('[hidden]') && !c.closest('dialog')) return false;"
        " var named = c.getAttribute('aria-label') || c.textContent.trim() || c.closest('label') ||"
        "  (c.id && document.querySelector('label[for=\"' + c.id + '\"]'));"
        " return !named;}).map(function(c){return c.id || c.outerHTML.slice(0, 80);})");
    QCOMPARE(unnamed.toArray().toVariantList(), QVariantList());
}

void tst_Page::titleBarDragMovesWindow() {
    const QJsonArray before = js("[window.screenX, window.screenY]").toArray();
    const int x = before.at(0).toInt(), y = before.at(1).toInt();
    js("cefQuery({request: 'moveWindow:1,0,' + window.innerWidth + ',' + window.innerHeight})");
    QVERIFY2(waitJs(QString("window.screenX === %1").arg(x + 1), 2000),
             "moveWindow left the window where it was");
    js("cefQuery({request: 'moveWindow:-1,0,' + window.innerWidth + ',' + window.innerHeight})");
    QVERIFY(waitJs(QString("window.screenX === %1").arg(x)));

    // Held on the title bar and dragged, as a person moves a window.
    m_desk.moveTo(x + 500, y + 20);
    m_desk.button(true);
    for (int step = 1; step <= 6; ++step) {
        m_desk.moveTo(x + 500 + 10 * step, y + 20 + 5 * step);
        QTest::qWait(60);
    }
    m_desk.button(false);
    QVERIFY2(
        waitJs(QString("window.screenX === %1 && window.screenY === %2").arg(x + 60).arg(y + 30)),
        qPrintable(QJsonDocument(js("[window.screenX, window.screenY]").toArray()).toJson()));
    QCOMPARE(js("window.innerWidth").toInt(), 1200);
    // Moving the pointer with the button up moves nothing.
    m_desk.moveTo(x + 700, y + 300);
    QTest::qWait(300);
    QCOMPARE(js("window.screenX").toInt(), x + 60);
}

void tst_Page::titleBarDoubleClickMaximises() {
    const int x = js("window.screenX").toInt();
    // A double click on the title bar fills the screen; another gives the old place back.
    clickPage(500, 20);
    clickPage(500, 20);
    QVERIFY(waitJs("window.innerWidth > 1200"));
    QCOMPARE(js("document.getElementById('btn-max').getAttribute('aria-label')").toString(),
             QString("Restore"));
    QTest::qWait(800); // two separate double clicks, not one quadruple click
    clickPage(500, 20);
    clickPage(500, 20);
    QVERIFY(waitJs("window.innerWidth === 1200"));
    QVERIFY(waitJs(QString("window.screenX === %1").arg(x)));
    QCOMPARE(js("document.getElementById('btn-max').getAttribute('aria-label')").toString(),
             QString("Maximise"));
}

void tst_Page::screensFitDefaultSizeAndMaximised() {
    QCOMPARE(js("window.innerWidth").toInt(), 1200);
    for (const char* screen :
         {"devices", "keymap", "macro", "memory", "profiles", "settings", "updates"}) {
        js(QString("App.show('%1')").arg(QLatin1String(screen)));
        QVERIFY2(js("document.getElementById('screens').scrollWidth <= "
                    "document.getElementById('screens').clientWidth")
                     .toBool(),
                 screen);
        if (QLatin1String(screen) == QLatin1String("updates"))
            shot(QLatin1String(screen));
    }
    click("#btn-max");
    QVERIFY(waitJs("window.innerWidth > 1200"));
    js("App.show('keymap')");
    shot("keymap-maximised");
    click("#btn-max");
    QVERIFY(waitJs("window.innerWidth === 1200"));
}

// One status line per screen, with its place kept whether it says something or not, and what
// it says shown again in a newly chosen language.
void tst_Page::statusLinesKeepPlaceAndLanguage() {
    QCOMPARE(js("[].map.call(document.querySelectorAll('.screen'), function(s){"
                "return s.querySelectorAll('.status').length;}).join(',')")
                 .toString(),
             QString("1,1,1,1,1,1,1"));
    js("App.show('devices'); UI.setStatus(document.getElementById('dev-status'), '')");
    const QString top = "document.getElementById('dev-prop-form').getBoundingClientRect().top";
    const double before = js(top).toDouble();
    type("#prop-id", "2");
    type("#prop-size", "2");
    click("#prop-read");
    QVERIFY(statusIs("dev-status", "Property 2 read."));
    QCOMPARE(js(top).toDouble(), before);
    setLanguage("zh");
    QCOMPARE(status("dev-status"), QString("已读取属性 2。"));
    setLanguage("en");
    QCOMPARE(status("dev-status"), QString("Property 2 read."));
}

// Unplugged, the device takes no unsaved byte with it: they stay, and are written once it is
// back.
void tst_Page::memoryEditsKeptOverUnplug() {
    js("App.show('memory')");
    type("#mem-addr", "0x200");
    type("#mem-size", "16");
    click("#mem-form button[type=submit]");
    QVERIFY(waitJs("document.querySelectorAll('#mem-view .hexcell').length === 16"));
    type("#mem-view [data-index='2']", "5a");
    QCOMPARE(simctl("usb-unplug KX0001").trimmed(), QString("unplugged"));
    QVERIFY(statusIs("mem-status", "The device was removed. Your changes are kept: plug it in "
                                   "again to write them."));
    QCOMPARE(js("document.querySelector(\"#mem-view [data-index='2']\").value").toString(),
             QString("5a"));
    QVERIFY(js("document.getElementById('mem-write').disabled").toBool());
    QCOMPARE(simctl("usb-plug KX0001").trimmed(), QString("plugged"));
    QVERIFY(statusIs("mem-status", "The device is back: your changes can be written."));
    QVERIFY(waitJs("!document.getElementById('mem-write').disabled"));
    click("#mem-write");
    QVERIFY(statusIs("mem-status", "1 byte(s) written at 0x0202."));
}

// A new mapping starts on a key the key map leaves free; Escape asks before the commands
// added are given up.
void tst_Page::newMappingStartsFreeAndEscapeAsks() {
    js("App.show('keymap')");
    type("#km-map", "virtual", "change");
    QVERIFY(waitJs("document.querySelector('#km-table tbody td.trigger') &&"
                   "!document.getElementById('km-add').disabled"));
    clickPage(600, 745);
    click("#km-add");
    QVERIFY(waitJs("document.getElementById('map-dialog').open"));
    QCOMPARE(js("document.getElementById('map-trigger').value").toString(), QString("59:0"));
    type("#map-newtask", "down", "change");
    click("#map-addcmd");
    m_desk.press({XK_Escape});
    QVERIFY(waitJs("document.getElementById('confirm-dialog').open"));
    click("#confirm-no");
    QVERIFY(waitJs("!document.getElementById('confirm-dialog').open"));
    QVERIFY(js("document.getElementById('map-dialog').open").toBool());
    QCOMPARE(js("document.querySelectorAll('#map-commands li').length").toInt(), 1);
    m_desk.press({XK_Escape});
    agree();
    QVERIFY(waitJs("!document.getElementById('map-dialog').open"));
}

// The event log tells what happened in words; the program's names and raw values only with
// "Show details".
void tst_Page::eventLogInWords() {
    QCOMPARE(simctl("usb-unplug KX0001").trimmed(), QString("unplugged"));
    QVERIFY(
        waitJs("document.getElementById('sb-message').textContent === 'KX Adapter was removed.'"));
    QCOMPARE(simctl("usb-plug KX0001").trimmed(), QString("plugged"));
    QVERIFY(waitJs(
        "document.getElementById('sb-message').textContent === 'KX Adapter was connected.'"));
    js("App.openLog()");
    const QString list = "document.getElementById('log-list').textContent";
    QVERIFY(waitJs(list + ".indexOf('KX Adapter was removed.') >= 0 && " + list +
                   ".indexOf('KX Adapter was connected.') >= 0"));
    QVERIFY(js(list + ".indexOf('Recorded: A pressed') >= 0").toBool());
    QVERIFY(!js(list + ".indexOf('devicesChanged') >= 0 || " + list + ".indexOf('macroItem') >= 0")
                 .toBool());
    click("#log-details");
    QVERIFY(waitJs(list + ".indexOf('devicesChanged 1') >= 0"));
    click("#log-details");
    click("#log-close");
}

// The Save button stays off while the program has not answered, so nothing is saved twice; a
// new language shows once the page's settings file holds it.
void tst_Page::saveOnceAndLanguageAfterSave() {
    js("App.show('keymap')");
    QVERIFY(waitJs("!document.getElementById('km-add').disabled"));
    click("#km-add");
    QVERIFY(waitJs("document.getElementById('map-dialog').open"));
    type("#map-newtask", "up", "change");
    click("#map-addcmd");
    const int saves = requestsOf("modifyProfileEx");
    hold("modifyProfileEx");
    click("#map-save");
    QTest::qWait(2500);
    QVERIFY(js("document.getElementById('map-save').disabled").toBool());
    click("#map-save");
    QCOMPARE(requestsOf("modifyProfileEx"), saves + 1);
    js("release()");
    QVERIFY(waitJs("!document.getElementById('map-dialog').open"));

    js("App.show('settings')");
    hold("savexml");
    type("#set-language", "zh", "change");
    QTest::qWait(1500);
    QCOMPARE(text("tab-devices"), QString("Devices"));
    js("release()");
    QVERIFY(waitJs("document.getElementById('tab-devices').textContent === '设备'"));
    setLanguage("en");
}

// The program's own file windows speak the page's language; closed without a choice, they
// leave the page waiting for nothing.
void tst_Page::fileDialogsSpeakThePageLanguage_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("said");
    QTest::newRow("English") << "en"
                             << "Save as"
                             << "No file was chosen.";
    QTest::newRow("Chinese") << "zh"
                             << "保存为"
                             << "未选择文件。";
}

void tst_Page::fileDialogsSpeakThePageLanguage() {
    QFETCH(QString, language);
    QFETCH(QString, title);
    QFETCH(QString, said);
    setLanguage(language);
    js("App.show('profiles')");
    click("#pf-export-browse");
    unsigned long dialog = 0;
    QTRY_VERIFY_WITH_TIMEOUT((dialog = m_desk.windowNamed(title.toStdString())) != 0, 10000);
    m_desk.focus(dialog);
    m_desk.press({XK_Escape});
    QVERIFY(statusIs("pf-status", said));
    QVERIFY(js("Bridge.pendingList().length === 0").toBool());
    QVERIFY(js("!Profiles.dialogOpen()").toBool());
    if (language != "en")
        setLanguage("en");
}

// What the program could not use is refused before it is stored, saying what is expected.
void tst_Page::advancedSettingsChecked_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("said");
    QTest::newRow("window size not a size") << "clientSize"
                                            << "abc"
                                            << "\"abc\" is not a window size.";
    QTest::newRow("window size too small") << "clientSize"
                                           << "640,480"
                                           << "\"640,480\" is not a window size.";
    QTest::newRow("server not http") << "apiServer"
                                     << "ftp://example"
                                     << "\"ftp://example\" is not a server address.";
    QTest::newRow("server with a path") << "apiServer"
                                        << "http://example/api"
                                        << "\"http://example/api\" is not a server address.";
    QTest::newRow("test tool page outside")
        << "testToolRurl"
        << "/../../etc/passwd"
        << "\"/../../etc/passwd\" is not a page of the program folder.";
}

void tst_Page::advancedSettingsChecked() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, said);
    js("App.show('settings')");
    const QString field = "#set-conf-" + key;
    QVERIFY(waitJs(QString("!!document.querySelector(%1)").arg(quoted(field))));
    QVERIFY(!text("set-conf-" + key + "-hint").isEmpty());
    const QString stored =
        js(QString("document.querySelector(%1).value").arg(quoted(field))).toString();
    const QString conf = file("Resources/profiles/conf.xml");
    const int sent = requestsOf("setConf");
    type(field, value, "change");
    QVERIFY2(status("set-status").startsWith(said), qPrintable(status("set-status")));
    QCOMPARE(requestsOf("setConf"), sent);
    QCOMPARE(js(QString("document.querySelector(%1).value").arg(quoted(field))).toString(), stored);
    QCOMPARE(file("Resources/profiles/conf.xml"), conf);
}

// Only what the system can do is offered, with the values the system has; a hotkey the X
// server keeps for itself is refused.
void tst_Page::systemSettingsAsTheyAre() {
    js("App.show('settings'); Settings.load()");
    QVERIFY(waitJs("Bridge.log().some(function(e){return e.kind === 'answer' &&"
                   " e.text === 'getMouseSettings';})"));
    QVERIFY(js("document.getElementById('set-lines-form').hidden").toBool());
    // The test tool's page is not installed: its hotkey is accepted, and said to open nothing.
    QVERIFY(waitJs("document.getElementById('set-testtool-flag').textContent === "
                   "'works, but the page it opens is missing'"));
    js("document.getElementById('set-speed').value = '7'");
    click("#set-speed-form button[type=submit]");
    QVERIFY(statusIs("set-status", "Pointer speed set to 7."));
    js("document.getElementById('set-speed').value = '15'; Settings.load()");
    QVERIFY(waitJs("document.getElementById('set-speed').value === '7'"));

    const QString conf = file("Resources/profiles/conf.xml");
    js("document.getElementById('set-fastswitch').dispatchEvent(new KeyboardEvent('keydown',"
       " {code: 'F9', key: 'F9', ctrlKey: true, altKey: true, bubbles: true}))");
    QVERIFY(status("set-status").startsWith("The system keeps Ctrl+Alt+F9 for switching"));
    QCOMPARE(file("Resources/profiles/conf.xml"), conf);
    // The shipped defaults are none of those.
    QVERIFY(!conf.contains(QRegularExpression("<defaultConf[^>]*\"Ctrl\\+Alt\\+F")));
}

// At 800 x 600 every screen is one column: nothing lies off to the side.
void tst_Page::smallWindowOneColumn() {
    js("cefQuery({request: 'moveWindow:0,0,800,600'})");
    QVERIFY(waitJs("window.innerWidth === 800 && window.innerHeight === 600"));
    for (const char* screen :
         {"devices", "keymap", "macro", "memory", "profiles", "settings", "updates"}) {
        js(QString("App.show('%1')").arg(QLatin1String(screen)));
        QVERIFY2(js("document.getElementById('screens').scrollWidth <= "
                    "document.getElementById('screens').clientWidth")
                     .toBool(),
                 screen);
    }
    js("App.show('devices')");
    QVERIFY(js("['dev-hotkey', 'prop-write'].every(function(id){"
               "return document.getElementById(id).getBoundingClientRect().right <= 800;})")
                .toBool());
    shot("devices-800x600");
    js("cefQuery({request: 'moveWindow:0,0,1200,760'})");
    QVERIFY(waitJs("window.innerWidth === 1200"));
}

void tst_Page::primaryButtonsReadable() {
    const QJsonArray ratios =
        js("(function(){function lum(c){var v = c.match(/[\\d.]+/g).slice(0, 3).map(function(x){"
           "x = Number(x) / 255; return x <= 0.03928 ? x / 12.92 : Math.pow((x + 0.055) / 1.055, "
           "2.4);}); return 0.2126 * v[0] + 0.7152 * v[1] + 0.0722 * v[2];}"
           "return [].map.call(document.querySelectorAll('button.primary'), function(b){"
           "var s = getComputedStyle(b), a = lum(s.color), c = lum(s.backgroundColor);"
           "return (Math.max(a, c) + 0.05) / (Math.min(a, c) + 0.05);});})()")
            .toArray();
    QVERIFY(ratios.size() >= 5);
    for (const QJsonValue& ratio : ratios)
        QVERIFY2(ratio.toDouble() >= 4.5, qPrintable(QString::number(ratio.toDouble())));
}

void tst_Page::everyScreenInBothLanguages() {
    for (const char* language : {"en", "zh"}) {
        setLanguage(language);
        for (const char* screen :
             {"devices", "keymap", "macro", "memory", "profiles", "settings", "updates"}) {
            js(QString("App.show('%1')").arg(QLatin1String(screen)));
            shot(QString("screen-%1-%2").arg(QLatin1String(screen), QLatin1String(language)));
        }
    }
    setLanguage("en");
}

// The check is never answered; the page learns how it ended and says so.
void tst_Page::updateCheckOutcomeShown() {
    QVERIFY(startServer());
    js("App.show('settings')");
    type("#set-conf-apiServer", QString("http://127.0.0.1:%1").arg(freePort()), "change");
    QVERIFY(answered("set-status"));
    js("App.show('updates')");
    click("#upd-check");
    QVERIFY(statusIs("upd-status",
                     "The server could not be reached. Check the network and the server address "
                     "on the settings screen.",
                     30000));
    js("App.show('settings')");
    type("#set-conf-apiServer", m_serverUrl, "change");
    QVERIFY(answered("set-status"));
    js("App.show('updates')");
    click("#upd-check");
    QVERIFY(statusIs("upd-status", "You have the latest version.", 30000));
    shot("updates-latest");
}

// Mend: the capture filter heard of the library's devices only at the next key map load, so
// the adapter's own keyboard, plugged while mapping was on, got the default key map.
void tst_Page::adapterPluggedWhileMappingIsNotRemapped() {
    mapCapsLock("04");
    js("App.show('devices')");
    QCOMPARE(simctl("usb-unplug KX0001").trimmed(), QString("unplugged"));
    QVERIFY(waitJs("document.getElementById('dev-status').textContent.indexOf('No device') === 0"));
    QCOMPARE(js("Bridge.request('startVDevice')").toString(), QString("startVDevice success"));
    js("window.pluggedAt = Date.now()");
    QCOMPARE(simctl("usb-plug KX0001").trimmed(), QString("plugged"));
    QVERIFY(
        waitJs("document.getElementById('dev-status').textContent === '1 device(s) connected.'"));
    QVERIFY(waitJs("Bridge.log().some(function(e){return e.kind === 'event' && "
                   "e.text === 'devicesChanged' && e.time.getTime() >= window.pluggedAt;})"));
    // The library looks at its bus a few times a second; the hot-plug path may be quicker.
    QTest::qWait(1000);
    simctl("hid-clear");
    simctl("filter-clear");
    // Slot 2 is the adapter's keyboard.
    QCOMPARE(simctl("filter-key 2 0x3a press").trimmed(), QString("ok"));
    QTRY_VERIFY(simctl("filter-system").contains("keyboard 2 scan=0x3a down"));
    QCOMPARE(js("Bridge.request('stopVDevice')").toString(), QString("stopVDevice success"));
    QVERIFY(!simctl("hid-keyboard").contains(QRegularExpression("\\ba\\b")));
}

// Mend: a slow query, an edit of the default key map and keyMapChanged, sent together, were
// answered keyMapChanged first, and the key then played the old map.
void tst_Page::editAndReloadTakeEffectInOrder() {
    mapCapsLock("04");
    QVERIFY(putSlowProfile("slow.xml", 8000));
    const QString order =
        js(QString("(function(){var order = [];"
                   "function noted(p, name){return p.then(function(){order.push(name);});}"
                   "return Promise.all(["
                   " noted(Bridge.request('queryProfile', {filePath: 'slow.xml',"
                   "  xpath: '//*[count(//*) > 0]'}), 'query'),"
                   " noted(Bridge.request('modifyProfile', {filePath: %1,"
                   "  xpath: \"/conf/k/c[@task='down']\", attribute: 'value',"
                   "  attributeValue: '05'}), 'edit'),"
                   " noted(Bridge.request('keyMapChanged'), 'reload')"
                   "]).then(function(){return order.join(' ');});})()")
               .arg(quoted(m_map)))
            .toString();
    QCOMPARE(order, QString("query edit reload"));
    QCOMPARE(js("Bridge.request('startVDevice')").toString(), QString("startVDevice success"));
    simctl("hid-clear");
    QCOMPARE(simctl("filter-key 1 0x3a press").trimmed(), QString("ok"));
    QTRY_VERIFY(simctl("hid-keyboard").contains(QRegularExpression("\\bb\\b")));
    QCOMPARE(js("Bridge.request('stopVDevice')").toString(), QString("stopVDevice success"));
    QVERIFY(!simctl("hid-keyboard").contains(QRegularExpression("\\ba\\b")));
}

// Mend: closing while a long query ran waited for the query (minutes); the edits and the save
// sent before are still written.
// Left to choose on a machine whose keyboards and mice it cannot reach, the program takes the
// simulated ones and says why: in its log, and on the page when mapping goes on and when
// recording starts.
void tst_Page::unreachableInputDevicesSaidInWords() {
    // The program's own test: where it passes, the program would take the real devices.
    if (platform::inputdevices::systemAccess().ok)
        QSKIP("this machine's keyboards and mice can be reached: the program would take them");
    QTemporaryDir folder;
    QTemporaryDir home;
    QVERIFY(folder.isValid() && home.isValid());
    QVERIFY(copyTree(buildpaths::resolve(TAVIX_STAGE_DIR), folder.path()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("TAVIX_INPUT");
    QProcess program;
    PageDriver page;
    const auto stop = qScopeGuard([&] {
        page.disconnect();
        stagedprogram::stop(program);
    });
    const quint16 port = freePort();
    stagedprogram::start(program, folder.path(), home.path(), port, env);
    QVERIFY(program.waitForStarted());
    QVERIFY2(page.connectTo(port, "/view/index.html", 60000), qPrintable(page.lastError()));
    QVERIFY(page.waitFor("document.documentElement.dataset.ready === '1'", 60000));
    // The status line's words up to the program's own explanation, and what to do.
    const auto says = [&page](const char* id, const char* lead) {
        const QString line = QString("UI.statusText(document.getElementById('%1'))").arg(id);
        return page.waitFor(QString("%1.startsWith('%2') && %1.includes('adduser $USER input')")
                                .arg(line, QLatin1String(lead)));
    };
    page.eval("App.show('keymap'); document.getElementById('vd-switch').click()");
    QVERIFY2(page.lastError().isEmpty(), qPrintable(page.lastError()));
    QVERIFY(says("km-status", "Real keyboards and mice are not reached"));
    page.eval("App.show('macro'); document.getElementById('mac-start').click()");
    QVERIFY2(page.lastError().isEmpty(), qPrintable(page.lastError()));
    QVERIFY(says("mac-status", "Real keyboards are not reached"));
    QFile log(folder.filePath("web.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("real keyboards and mice cannot be reached: "));
}

void tst_Page::closeButtonQuitsWhenSetTo() {
    QVERIFY(putSlowProfile("slower.xml", 160000));
    QVERIFY(put("view/test-edit.xml", R"(<conf><k id="1" name="A"/></conf>)"));
    js("Bridge.request('queryProfile', {filePath: 'slower.xml', xpath: '//*[count(//*) > 0]'});"
       "Bridge.request('modifyProfile', {filePath: 'view/test-edit.xml', xpath: '/conf/k',"
       " attribute: 'name', attributeValue: 'E'}); Bridge.request('savexml'); 1");
    js("App.show('settings')");
    type("#set-closefunc", "closeapp", "change");
    QVERIFY(waitJs("document.getElementById('set-status').textContent === "
                   "'\"Closing the window\" saved.'"));
    click("#btn-close");
    QVERIFY(m_program.waitForFinished(20000));
    QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program.exitCode(), 0);
    QVERIFY(file("view/test-edit.xml").contains("name=\"E\""));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        fprintf(stderr, "tst_page: no X display (run under xvfb-run -a); skipped\n");
        return 77;
    }
    QCoreApplication app(argc, argv);
    tst_Page test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_page.moc"
