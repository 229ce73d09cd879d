#include "singleinstance.h"

#include "platform/process.h"
#include "platform/windows.h"

#include <QDebug>
#include <QLocalServer>
#include <QRegularExpression>

namespace singleinstance {

QString serverName() {
    return QStringLiteral("Global\\{776E7BB3-A590-447E-8C5F-21E6F2319DD3}");
}

QStringList takeCommands(QByteArray& buffer) {
    QStringList commands;
    const int end = buffer.lastIndexOf(';');
    if (end < 0)
        return commands;
    const QString text = QString::fromLocal8Bit(buffer.constData(), end);
    buffer.remove(0, end + 1);
    const QStringList segments = text.split(QLatin1Char(';'));
    for (const QString& segment : segments) {
        if (segment.startsWith(QLatin1String("CMD:")))
            commands << segment.mid(4);
    }
    return commands;
}

QByteArray showCommand() {
    return QByteArrayLiteral("CMD:show;");
}

QByteArray reply(qint64 processId) {
    return QStringLiteral("RES:%1;").arg(processId).toUtf8();
}

quint64 parseAnswer(const QByteArray& buffer, bool* complete) {
    static const QRegularExpression answer(QStringLiteral("RES:(\\d+);"));
    const QRegularExpressionMatch match = answer.match(QString::fromLatin1(buffer));
    if (complete)
        *complete = match.hasMatch();
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const quint64 pid = match.captured(1).toULongLong(&ok);
    return ok ? pid : 0;
}

bool titleMatches(const QString& title) {
    static const QRegularExpression pattern(QStringLiteral("^tavix(\\s*\\(\\d+\\))?$"));
    return pattern.match(title).hasMatch();
}

bool raiseWindowOf(quint64 processId) {
    if (processId == 0)
        return false;
    for (const auto& window : platform::windows::topLevelWindows()) {
        if (window.processId == processId &&
            titleMatches(QString::fromStdString(window.title).left(1023)))
            return platform::windows::bringToFront(window.handle).ok;
    }
    return false;
}

QLocalServer* listenAsFirstInstance(const QString& name, QObject* parent, bool* heldElsewhere) {
    *heldElsewhere = false;
    const platform::ResultOf<bool> claim = platform::claimInstance(name.toStdString());
    if (!claim) {
        qDebug() << "tavix: cannot claim" << name << claim.text.c_str();
        return nullptr;
    }
    if (!claim.value) {
        *heldElsewhere = true;
        return nullptr;
    }
    // The claim's holder alone listens, so a socket file already there is one that a copy
    // which ended left behind: without removing it the program would never start again.
    QLocalServer::removeServer(name);
    auto* server = new QLocalServer(parent);
    if (!server->listen(name)) {
        qDebug() << "tavix: cannot listen on" << name << server->errorString();
        delete server;
        return nullptr;
    }
    return server;
}

} // namespace singleinstance
