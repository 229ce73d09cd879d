#include "systemcommands.h"

#include "bridge/args.h"
#include "platform/syssettings.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QUrl>

namespace ss = platform::syssettings;

namespace {

// Thresholds and acceleration by mouse speed; speeds above 3 keep the last row.
const ss::MouseAcceleration kAccelerationBySpeed[] = {
    {0, 0, 0},
    {7, 0, 1},
    {4, 6, 2},
    {4, 0, 1},
};
constexpr int kRows = int(sizeof(kAccelerationBySpeed) / sizeof(kAccelerationBySpeed[0]));

// A whole decimal number; false for anything else (text, fractions, empty).
bool wholeNumber(const QVariantMap& a, const char* key, int* value) {
    bool ok = false;
    *value = args::str(a, key).toInt(&ok, 10);
    return ok;
}

QString documentsFolder() {
    return QDir::homePath() + QStringLiteral("/Documents");
}

} // namespace

SystemCommands::SystemCommands(ViewHost& host, const ProgramFolders& folders)
    : m_host(host), m_folders(folders) {}

std::optional<QString> SystemCommands::pageUrl(const QString& relative) const {
    // The path, and what follows it (query, fragment) as the page wrote it.
    int end = relative.size();
    for (const QChar c : {QLatin1Char('?'), QLatin1Char('#')}) {
        const int at = relative.indexOf(c);
        if (at >= 0 && at < end)
            end = at;
    }
    const QString path = QUrl::fromPercentEncoding(relative.left(end).toUtf8());
    // The engine takes "\" for "/" in a file address; control characters name no page.
    for (const QChar c : path) {
        if (c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return std::nullopt;
    }
    const QString inside = QDir::cleanPath(QLatin1Char('/') + path);
    if (!inside.startsWith(QLatin1String("/view/")) || inside.contains(QLatin1String("/../")) ||
        inside.endsWith(QLatin1String("/..")))
        return std::nullopt;
    return m_folders.pageUrl(inside + relative.mid(end));
}

QSize SystemCommands::viewSize(const QString& text) {
    const QStringList items = text.split(QLatin1Char(','));
    if (items.size() >= 2) {
        const QSize size(items.at(0).toInt(), items.at(1).toInt());
        if (size.width() > 0 && size.height() > 0)
            return size;
    }
    return kDefaultViewSize;
}

void SystemCommands::loadurl(const QVariantMap& a, const RouterCallback&) {
    if (!args::has(a, "url"))
        return;
    if (const auto url = pageUrl(args::str(a, "url")))
        m_host.loadMainPage(*url);
}

void SystemCommands::goback(const QVariantMap&, const RouterCallback& callback) {
    m_host.mainPageHistory(true);
    answerSuccess(callback, QStringLiteral("goback"));
}

void SystemCommands::goforward(const QVariantMap&, const RouterCallback& callback) {
    m_host.mainPageHistory(false);
    answerSuccess(callback, QStringLiteral("goforward"));
}

void SystemCommands::openView(const QVariantMap& a, const RouterCallback&) {
    if (!args::has(a, "relativeUrl") || !args::has(a, "size"))
        return;
    if (const auto url = pageUrl(args::str(a, "relativeUrl")))
        m_host.openView(*url, viewSize(args::str(a, "size")));
}

void SystemCommands::closeView(const QVariantMap&, const RouterCallback&) {
    m_host.closeView();
}

void SystemCommands::sendMsgToMainBrowser(const QVariantMap& a, const RouterCallback& callback) {
    if (!args::has(a, "msg"))
        return;
    m_host.pushToMainPage(QStringLiteral("onBrowserMsg"), args::str(a, "msg"));
    answerSuccess(callback, QStringLiteral("sendMsgToMainBrowser success"));
}

void SystemCommands::dialogClosed(const QString& path) {
    m_host.pushToMainPage(QStringLiteral("fileDialogClosed"),
                          path.isEmpty() ? QStringLiteral("0") : QStringLiteral("1"));
}

void SystemCommands::saveFileDialog(const QVariantMap&, const RouterCallback& callback) {
    const QString path = QFileDialog::getSaveFileName(m_host.dialogParent(), tr("保存为"),
                                                      documentsFolder(), tr("pfd文件(*.pfd)"));
    if (!path.isEmpty())
        answerSuccess(callback, path);
    dialogClosed(path);
}

void SystemCommands::openFileDialog(const QVariantMap&, const RouterCallback& callback) {
    const QString path = QFileDialog::getOpenFileName(m_host.dialogParent(), tr("打开"),
                                                      documentsFolder(), tr("pfd文件(*.pfd)"));
    if (!path.isEmpty())
        answerSuccess(callback, path);
    dialogClosed(path);
}

void SystemCommands::openFileDialogEx(const QVariantMap&, const RouterCallback& callback) {
    const QString path = QFileDialog::getOpenFileName(m_host.dialogParent(), tr("打开"));
    if (!path.isEmpty())
        answerSuccess(callback, path);
    dialogClosed(path);
}

void SystemCommands::openUrl(const QVariantMap& a, const RouterCallback& callback) {
    if (!args::has(a, "url"))
        return;
    QDesktopServices::openUrl(QUrl::fromUserInput(args::str(a, "url")));
    answerSuccess(callback, QStringLiteral("open successed"));
}

void SystemCommands::modifyMouseSpeed(const QVariantMap& a, const RouterCallback& callback) {
    if (!args::has(a, "speednum"))
        return;
    int speed = 0;
    // Only the system's speeds: anything else would index past the table.
    if (!wholeNumber(a, "speednum", &speed) || speed < 0 || speed > 20) {
        answerFailure(callback, 0, QStringLiteral("modifyMouseSpeed failed"));
        return;
    }
    const bool accelerationSet =
        ss::setMouseAcceleration(kAccelerationBySpeed[speed < kRows ? speed : kRows - 1]).ok;
    const bool speedSet = ss::setMouseSpeed(speed).ok;
    if (accelerationSet && speedSet)
        answerSuccess(callback, QStringLiteral("modifyMouseSpeed success"));
    else
        answerFailure(callback, 0, QStringLiteral("modifyMouseSpeed failed"));
}

void SystemCommands::modifyMouseScrollLines(const QVariantMap& a, const RouterCallback& callback) {
    if (!args::has(a, "linenum"))
        return;
    int lines = 0;
    // A negative count would reach the system as its "scroll a page" value.
    if (wholeNumber(a, "linenum", &lines) && lines >= 0 && ss::setWheelScrollLines(lines).ok)
        answerSuccess(callback, QStringLiteral("modifyMouseScrollLines success"));
    else
        answerFailure(callback, 0, QStringLiteral("modifyMouseScrollLines failed"));
}

void SystemCommands::getMouseSettings(const QVariantMap&, const RouterCallback& callback) {
    const auto speed = ss::mouseSpeed();
    const auto lines = ss::wheelScrollLines();
    const QJsonObject settings{
        {QStringLiteral("speed"), speed ? QString::number(speed.value) : QString()},
        {QStringLiteral("scrollLines"), lines ? QString::number(lines.value) : QString()}};
    answerSuccess(callback,
                  QString::fromUtf8(QJsonDocument(settings).toJson(QJsonDocument::Compact)));
}

void SystemCommands::fileExists(const QVariantMap& a, const RouterCallback& callback) {
    if (!args::has(a, "relativePath"))
        return;
    QString relative = args::str(a, "relativePath");
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    const QString cleaned = QDir::cleanPath(relative);
    const bool inside = !cleaned.isEmpty() && !QDir::isAbsolutePath(cleaned) &&
                        cleaned != QLatin1String("..") && !cleaned.startsWith(QLatin1String("../"));
    const bool there = inside && QFileInfo(m_folders.locate(cleaned)).isFile();
    answerSuccess(callback, there ? QStringLiteral("1") : QStringLiteral("0"));
}

void SystemCommands::setIME(const QVariantMap&, const RouterCallback& callback) {
    // The page relies on the answer, whatever the system made of the request.
    ss::activateKeyboardLayout("0x0409");
    answerSuccess(callback, QStringLiteral("setIME success!"));
}
