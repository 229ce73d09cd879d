#include "commandlane.h"

#include "handoff.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

#include <deque>

namespace handoff {

struct CommandLane::Shared {
    struct Step {
        Side side;
        Effect effect;
        std::function<void()> run;
    };

    // Guards everything below but the two objects, which only the home thread changes.
    QMutex mutex;
    QWaitCondition workerIdle;
    std::deque<Step> steps;
    bool driving = false;    // one side holds the turn: it runs steps or has a drive posted
    bool workerBusy = false; // the worker runs a step now
    bool exiting = false;    // the worker takes no further step
    bool finished = false;
    bool abandoned = false; // home thread only

    // Deleted by the lane, unless an abandoned worker may still answer to it.
    QObject* home = new QObject;
    QThread* thread = nullptr;
    QObject* target = nullptr; // lives on the worker thread

    // Without a worker thread, worker steps run at home.
    Side where(Side side) const { return thread ? side : Side::Home; }
    QObject* context(Side side) const { return side == Side::Worker ? target : home; }
};

namespace {

using Shared = std::shared_ptr<CommandLane::Shared>;

void drive(const Shared& s, CommandLane::Side side);

void handTo(const Shared& s, CommandLane::Side side) {
    post(s->context(side), [s, side] { drive(s, side); });
}

// Runs the steps of `side` at the head of the lane; hands the turn over at the first step of the
// other side.
void drive(const Shared& s, CommandLane::Side side) {
    const bool worker = side == CommandLane::Side::Worker;
    for (;;) {
        std::function<void()> run;
        {
            QMutexLocker lock(&s->mutex);
            if (s->finished || (worker && s->exiting))
                return;
            if (s->steps.empty()) {
                s->driving = false;
                return;
            }
            const CommandLane::Side next = s->where(s->steps.front().side);
            if (next != side) {
                handTo(s, next);
                return;
            }
            run = std::move(s->steps.front().run);
            s->steps.pop_front();
            s->workerBusy = worker;
        }
        run();
        if (worker) {
            QMutexLocker lock(&s->mutex);
            s->workerBusy = false;
            s->workerIdle.wakeAll();
        }
    }
}

} // namespace

CommandLane::CommandLane() : d(std::make_shared<Shared>()) {}

CommandLane::~CommandLane() {
    finish(-1);
    // An abandoned worker keeps its thread, its target and the home object its answers go to.
    if (d->abandoned)
        return;
    if (d->thread) {
        d->thread->wait();
        delete d->target;
        delete d->thread;
    }
    delete d->home;
}

void CommandLane::startWorker(const QString& name, unsigned stackSize) {
    if (d->thread)
        return;
    auto* thread = new QThread;
    thread->setObjectName(name);
    thread->setStackSize(stackSize);
    auto* target = new QObject;
    target->moveToThread(thread);
    thread->start();
    QMutexLocker lock(&d->mutex);
    d->thread = thread;
    d->target = target;
}

bool CommandLane::hasWorker() const {
    return d->thread != nullptr;
}

QThread* CommandLane::workerThread() const {
    return d->thread;
}

QObject* CommandLane::home() const {
    return d->home;
}

void CommandLane::queue(Side side, Effect effect, std::function<void()> step) {
    Side first = Side::Home;
    {
        QMutexLocker lock(&d->mutex);
        if (d->finished) {
            lock.unlock();
            if (effect == Effect::Writes)
                step();
            return;
        }
        d->steps.push_back({side, effect, std::move(step)});
        if (d->driving)
            return;
        d->driving = true;
        first = d->where(d->steps.front().side);
    }
    if (first == Side::Home && QThread::currentThread() == d->home->thread())
        drive(d, Side::Home);
    else
        handTo(d, first);
}

bool CommandLane::idle() const {
    QMutexLocker lock(&d->mutex);
    return d->steps.empty() && !d->driving;
}

bool CommandLane::finish(int waitMs, const std::function<void()>& abandoned) {
    std::deque<Shared::Step> left;
    bool stuck = false;
    {
        QMutexLocker lock(&d->mutex);
        if (d->finished)
            return !d->abandoned;
        d->exiting = true;
        const QDeadlineTimer deadline =
            waitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(waitMs);
        while (d->workerBusy && !deadline.hasExpired())
            d->workerIdle.wait(&d->mutex, deadline);
        stuck = d->workerBusy;
        left.swap(d->steps);
        d->finished = true;
        d->driving = false;
    }
    if (stuck && abandoned)
        abandoned();
    for (Shared::Step& step : left) {
        if (step.effect == Effect::Writes)
            step.run();
    }
    // Still inside its step, an abandoned worker ends when the step does.
    if (d->thread)
        d->thread->quit();
    d->abandoned = stuck;
    return !stuck;
}

} // namespace handoff
