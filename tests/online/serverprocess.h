#pragma once

#include "buildpaths.h"
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QtTest>

// Runs the reference vendor server on a free loopback port for one test.
class ServerProcess {
public:
    ServerProcess(const QString& dataFolder, const QStringList& extra = {}) {
        m_process.setProgram(buildpaths::resolve(VENDOR_SERVER_PATH));
        m_process.setArguments(QStringList{QStringLiteral("--data"), dataFolder,
                                           QStringLiteral("--port"), QStringLiteral("0")} +
                               extra);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return;
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead(5000))
            line += m_process.readAllStandardOutput();
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral(":(\\d+)\\s*$")).match(QString::fromLatin1(line));
        if (m.hasMatch())
            m_port = m.captured(1).toInt();
    }
    ~ServerProcess() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    bool ok() const { return m_port > 0; }
    // With --verbose: how many requests so far had a target starting with `path`.
    int requestCount(const QString& path) {
        m_log += QString::fromUtf8(m_process.readAllStandardError());
        int n = 0;
        for (const QString& line : m_log.split(QLatin1Char('\n')))
            if (line.section(QLatin1Char(' '), 1).startsWith(path))
                ++n;
        return n;
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

private:
    QProcess m_process;
    int m_port = 0;
    QString m_log;
};
