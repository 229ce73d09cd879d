#pragma once

#include "bridge/routercallback.h"

#include <QString>

#include <memory>
#include <vector>

// A router callback that remembers every answer it was given, so tests can check that a command
// answered exactly once, or not at all.
class RecordingCallback : public CefMessageRouterBrowserSide::Callback {
public:
    struct Answer {
        bool success = false;
        int code = -1;
        QString text;
    };

    void Success(const QString& response) override { answers.push_back({true, 0, response}); }
    void Failure(int errorCode, const QString& errorMessage) override {
        answers.push_back({false, errorCode, errorMessage});
    }

    bool answered() const { return !answers.empty(); }
    const Answer& last() const { return answers.back(); }

    std::vector<Answer> answers;
};

inline std::shared_ptr<RecordingCallback> makeRecorder() {
    return std::make_shared<RecordingCallback>();
}
