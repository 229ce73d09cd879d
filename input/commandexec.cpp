#include "input/commandexec.h"

#include "input/reportmsg.h"
#include "input/ustyping.h"
#include "input/virtualdeviceclient.h"
#include "weblog/weblog.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <array>
#include <optional>

commandExec::commandExec(QThread* thread, const CommandList& commands, VirtualDeviceClient* client,
                         int32_t playType, int32_t playCount)
    : m_commands(commands), m_client(client), m_playType(playType), m_playCount(playCount),
      m_generation(client ? client->generation() : 0) {
    moveToThread(thread);
    connect(thread, &QThread::started, this, &commandExec::start);
}

commandExec::~commandExec() {
    if (!m_completed)
        releaseHeld();
    m_end.set_value();
}

bool commandExec::abandoned() const {
    return m_cut || (m_abandon && m_abandon->load()) ||
           (m_client && m_client->generation() != m_generation);
}

bool commandExec::repeats() const {
    return m_playType == KeyAction::Toggle || m_playType == KeyAction::WhileHeld;
}

void commandExec::start() {
    if (m_previous.valid())
        m_previous.wait_for(std::chrono::milliseconds(kPredecessorWaitMs));
    if (m_commands.isEmpty())
        return;
    if (m_playType == KeyAction::PlayCount) {
        for (int32_t i = 0; i < m_playCount && !abandoned(); ++i)
            executeCommand();
        m_completed = !abandoned();
        emit taskFinished();
    } else if (m_playType == KeyAction::Toggle || m_playType == KeyAction::WhileHeld) {
        if (m_timer)
            m_timer->deleteLater();
        m_timer = new QTimer(this);
        m_timer->setInterval(kRepeatIntervalMs);
        connect(m_timer, &QTimer::timeout, this, &commandExec::executeCommand);
        m_timer->start();
    }
}

void commandExec::stop_display() {
    if (m_timer)
        m_timer->stop();
    // A repeating list cut between its "down" and its "up" would leave the key held.
    releaseHeld();
    emit taskFinished();
}

void commandExec::executeCommand() {
    for (const CommandItem& command : qAsConst(m_commands)) {
        if (abandoned())
            return;
        run(command);
    }
}

void commandExec::run(const CommandItem& command) {
    const QString& name = command.first;
    const QString& value = command.second;
    if (name == QLatin1String("down")) {
        const uint8_t code = uint8_t(value.toUInt(nullptr, 16));
        if (m_client) {
            m_client->sendKeys({code, 0, 0, 0, 0, 0}, m_generation);
            m_keysHeld = code != 0;
            m_pressed.clear();
        }
    } else if (name == QLatin1String("delayTime")) {
        sleep(value.toInt());
    } else if (name == QLatin1String("up")) {
        if (m_client) {
            m_client->sendKeys({0, 0, 0, 0, 0, 0}, m_generation);
            m_keysHeld = false;
            m_pressed.clear();
        }
    } else if (name == QLatin1String("mouseDown")) {
        const uint8_t buttons = uint8_t(value.toUInt(nullptr, 16));
        if (m_client) {
            m_client->sendMouseButtons(buttons, m_generation);
            m_buttonsHeld = buttons != 0;
        }
    } else if (name == QLatin1String("mouseUp")) {
        if (m_client) {
            m_client->sendMouseButtons(0, m_generation);
            m_buttonsHeld = false;
        }
    } else if (name == QLatin1String("openUrl")) {
        QDesktopServices::openUrl(QUrl(QStringLiteral("file:///") + value, QUrl::TolerantMode));
    } else if (name == QLatin1String("reportMsg")) {
        reportMsg(value);
    } else if (name == QLatin1String("keyDown")) {
        keyDown(value);
    } else if (name == QLatin1String("keyUp")) {
        keyUp(value);
    } else if (name == QLatin1String("typeText")) {
        typeText(value);
    }
}

namespace {

// A key usage as "keyDown" and "keyUp" take it: hexadecimal, 01 to FF.
std::optional<uint8_t> usageOf(const QString& name, const QString& value) {
    bool ok = false;
    const uint number = value.trimmed().toUInt(&ok, 16);
    if (ok && number >= 1 && number <= 0xFF)
        return uint8_t(number);
    qCInfo(lcDevicefilter, "%s \"%s\": no key usage (01 to FF); nothing sent", qUtf8Printable(name),
           qUtf8Printable(value.left(40)));
    return std::nullopt;
}

} // namespace

void commandExec::keyDown(const QString& value) {
    const std::optional<uint8_t> usage = usageOf(QStringLiteral("keyDown"), value);
    if (!usage || !m_client)
        return;
    switch (m_client->keyDown(*usage, m_generation)) {
    case VirtualDeviceClient::KeyResult::Sent:
        if (!m_pressed.contains(*usage))
            m_pressed.append(*usage);
        break;
    case VirtualDeviceClient::KeyResult::Full:
        qCInfo(lcDevicefilter, "keyDown %02X: six keys are held already; not pressed",
               unsigned(*usage));
        break;
    case VirtualDeviceClient::KeyResult::Refused:
    case VirtualDeviceClient::KeyResult::Failed:
        break;
    }
}

void commandExec::keyUp(const QString& value) {
    const std::optional<uint8_t> usage = usageOf(QStringLiteral("keyUp"), value);
    if (!usage || !m_client)
        return;
    m_client->keyUp(*usage, m_generation);
    m_pressed.removeAll(*usage);
}

void commandExec::typeText(const QString& text) {
    QString untyped; // characters no US key types, handed on together in their place
    const auto handOn = [&untyped] {
        if (untyped.isEmpty())
            return;
        qCInfo(lcDevicefilter,
               "typeText: \"%s\" has no keys on the US keyboard; typed by reportMsg into the "
               "window under the cursor",
               qUtf8Printable(untyped.left(80)));
        reportMsg(untyped);
        untyped.clear();
    };
    const QVector<uint> characters = text.toUcs4();
    for (int i = 0; i < characters.size(); ++i) {
        if (abandoned())
            return;
        const char32_t c = characters.at(i);
        // A Windows line end is one new line.
        if (c == '\r' && i + 1 < characters.size() && characters.at(i + 1) == '\n')
            continue;
        const std::optional<UsKey> key = usKeyFor(c);
        if (!key) {
            untyped += QString::fromUcs4(&c, 1);
            continue;
        }
        handOn();
        if (!m_client)
            continue;
        // Each character is released before the next, Shift last, as a typist would.
        if (key->shift)
            m_client->keyDown(kLeftShiftUsage, m_generation);
        m_client->keyDown(key->usage, m_generation);
        m_client->keyUp(key->usage, m_generation);
        if (key->shift)
            m_client->keyUp(kLeftShiftUsage, m_generation);
    }
    handOn();
}

void commandExec::sleep(int milliseconds) {
    // In slices, so a program exit does not wait for a long pause.
    QElapsedTimer clock;
    clock.start();
    while (!abandoned()) {
        const qint64 left = milliseconds - clock.elapsed();
        if (left <= 0)
            break;
        QThread::msleep(unsigned(qMin<qint64>(left, 20)));
    }
}

void commandExec::releaseHeld() {
    if (!m_client)
        return;
    // Only what this player pressed: keys another player or a remapped key holds stay held.
    if (m_keysHeld)
        m_client->sendKeys({0, 0, 0, 0, 0, 0}, m_generation);
    else
        for (uint8_t usage : qAsConst(m_pressed))
            m_client->keyUp(usage, m_generation);
    if (m_buttonsHeld)
        m_client->sendMouseButtons(0, m_generation);
    m_keysHeld = false;
    m_buttonsHeld = false;
    m_pressed.clear();
}
