#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects information lines of the online log categories while it lives.
class LogCapture {
public:
    LogCapture() {
        s_lines().clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    QStringList lines() const {
        QMutexLocker lock(&s_mutex());
        return s_lines();
    }
    bool contains(const QString& text) const {
        for (const QString& l : lines())
            if (l.contains(text))
                return true;
        return false;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
        if (type != QtInfoMsg)
            return;
        QMutexLocker lock(&s_mutex());
        s_lines().append(QString::fromLatin1(ctx.category ? ctx.category : "") + QLatin1Char(':') +
                         msg);
    }
    static QStringList& s_lines() {
        static QStringList lines;
        return lines;
    }
    static QMutex& s_mutex() {
        static QMutex mutex;
        return mutex;
    }
    QtMessageHandler m_previous = nullptr;
};
