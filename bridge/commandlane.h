#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;
class QThread;

namespace handoff {

// Steps that take effect in the order they were queued, although some run on a worker thread of
// the lane's own (work that may take long: the profile commands) and some on the thread that
// made the lane (work on objects living there: reading the key maps, conf.xml). A step starts
// only once every step queued before it has ended. Neither thread waits for the other: the turn
// passes between them as a posted event, and steps of one side that follow each other run back
// to back.
class CommandLane {
public:
    enum class Side { Worker, Home };
    // What is lost when the step is dropped at exit: only an answer nobody waits for any more
    // (Reads), or a change (Writes).
    enum class Effect { Reads, Writes };

    CommandLane();
    // finish(), waiting for the worker as long as it takes.
    ~CommandLane();
    CommandLane(const CommandLane&) = delete;
    CommandLane& operator=(const CommandLane&) = delete;

    // Starts the worker thread; until then worker steps run on the home thread. Call once.
    void startWorker(const QString& name, unsigned stackSize);
    bool hasWorker() const;
    // The worker thread; null without one.
    QThread* workerThread() const;
    // Lives on the home thread for as long as anything queued may answer to it.
    QObject* home() const;

    // Queues `step`. A home step queued on the home thread while nothing is queued or running
    // runs inside the call. After finish() a step that writes runs at once, one that reads not
    // at all.
    void queue(Side side, Effect effect, std::function<void()> step);

    // Nothing queued or running.
    bool idle() const;

    // Program exit, on the home thread: steps still queued that only read are dropped. The
    // worker gets up to `waitMs` (negative: no limit) to end the step it runs; then the steps
    // left that write run here, in order. A worker still busy then is abandoned: `abandoned` is
    // called first, so that the steps left touch nothing the worker uses, and the worker's
    // thread is left to end by itself and is never deleted (the process is about to end).
    // Returns false when the worker was abandoned.
    bool finish(int waitMs, const std::function<void()>& abandoned = {});

    // What the lane and the steps' hand-overs share; it outlives an abandoned lane.
    struct Shared;

private:
    std::shared_ptr<Shared> d;
};

} // namespace handoff
