#include "input/commandexec.h"

#include "input/reportmsg.h"
#include "input/virtualdeviceclient.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <array>

commandExec::commandExec(QThread* thread, const CommandList& commands, VirtualDeviceClient* client,
                         int32_t playType, int32_t playCount)
    : m_commands(commands), m_client(client), m_playType(playType), m_playCount(playCount) {
    moveToThread(thread);
    connect(thread, &QThread::started, this, &commandExec::start);
}

commandExec::~commandExec() {
    if (!m_completed)
        releaseHeld();
    m_end.set_value();
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
            m_client->sendKeys({code, 0, 0, 0, 0, 0});
            m_keysHeld = code != 0;
        }
    } else if (name == QLatin1String("delayTime")) {
        sleep(value.toInt());
    } else if (name == QLatin1String("up")) {
        if (m_client) {
            m_client->sendKeys({0, 0, 0, 0, 0, 0});
            m_keysHeld = false;
        }
    } else if (name == QLatin1String("mouseDown")) {
        const uint8_t buttons = uint8_t(value.toUInt(nullptr, 16));
        if (m_client) {
            m_client->sendMouseButtons(buttons);
            m_buttonsHeld = buttons != 0;
        }
    } else if (name == QLatin1String("mouseUp")) {
        if (m_client) {
            m_client->sendMouseButtons(0);
            m_buttonsHeld = false;
        }
    } else if (name == QLatin1String("openUrl")) {
        QDesktopServices::openUrl(QUrl(QStringLiteral("file:///") + value, QUrl::TolerantMode));
    } else if (name == QLatin1String("reportMsg")) {
        reportMsg(value);
    }
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
    if (m_keysHeld)
        m_client->sendKeys({0, 0, 0, 0, 0, 0});
    if (m_buttonsHeld)
        m_client->sendMouseButtons(0);
    m_keysHeld = false;
    m_buttonsHeld = false;
}
