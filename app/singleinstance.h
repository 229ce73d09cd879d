#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QLocalServer;
class QObject;

// The texts of the single-instance hand-over: a new instance sends "CMD:show;", the first one
// answers "RES:<its process id>;".
namespace singleinstance {

QString serverName();

// How long a new instance waits for the running one's answer before it gives up and ends.
constexpr int kAnswerTimeoutMs = 5000;

// Takes every ";"-terminated segment out of `buffer` and returns the ones that start with
// "CMD:", without that prefix and without the ";". What follows the last ";" stays in `buffer`.
QStringList takeCommands(QByteArray& buffer);

QByteArray showCommand();
QByteArray reply(qint64 processId);

// The process id of a complete answer in `buffer`; 0 while it is incomplete or not an answer.
// `complete` tells whether the buffer holds a whole answer.
quint64 parseAnswer(const QByteArray& buffer, bool* complete = nullptr);

// Whether a window title is the main window's ("tavix", optionally followed by a number in
// parentheses).
bool titleMatches(const QString& title);

// Brings the first top-level window of `processId` whose title matches to the front.
bool raiseWindowOf(quint64 processId);

// After a connection to `name` found nobody: claims the name for this process
// (platform::claimInstance) and listens on it, removing first what a copy that ended left there.
// Only the claim's holder listens, so two copies starting together never both become the first.
// Returns the listening server (a child of `parent`), or null: `*heldElsewhere` then tells that
// another copy holds the name (it is starting and will listen: connect again shortly), else
// listening failed.
QLocalServer* listenAsFirstInstance(const QString& name, QObject* parent, bool* heldElsewhere);

} // namespace singleinstance
