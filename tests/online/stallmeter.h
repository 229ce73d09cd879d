#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// How long the event loop of the thread it lives on was held at most while it ran: a timer that
// should fire every few milliseconds, and the longest gap between two of its ticks. Reported as
// a figure, not judged.
class StallMeter : public QObject {
public:
    StallMeter() {
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this,
                [this] { m_longest = qMax(m_longest, m_clock.restart()); });
        m_timer.start(5);
    }
    qint64 longestMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};
