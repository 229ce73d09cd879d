#include "handoff.h"

namespace {

class AnswerOn : public CefMessageRouterBrowserSide::Callback {
public:
    AnswerOn(RouterCallback inner, QObject* home) : m_inner(std::move(inner)), m_home(home) {}
    ~AnswerOn() override {
        if (m_inner && m_home)
            handoff::post(m_home, [cb = std::move(m_inner)]() mutable { cb.reset(); });
    }

    void Success(const QString& text) override {
        deliver([text](const RouterCallback& cb) { answerSuccess(cb, text); });
    }
    void Failure(int code, const QString& text) override {
        deliver([code, text](const RouterCallback& cb) { answerFailure(cb, code, text); });
    }

private:
    template <class F> void deliver(F answer) {
        if (!m_inner || !m_home)
            return;
        handoff::post(m_home, [cb = std::move(m_inner), answer]() { answer(cb); });
    }

    RouterCallback m_inner;
    QPointer<QObject> m_home;
};

} // namespace

RouterCallback handoff::answerOn(QObject* home, RouterCallback inner) {
    return std::make_shared<AnswerOn>(std::move(inner), home);
}
