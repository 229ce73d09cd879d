#pragma once

#include "bridge/routercallback.h"

// A router callback for benchmarks: counts what it was answered without keeping it.
class CountingCallback : public CefMessageRouterBrowserSide::Callback {
public:
    void Success(const QString& response) override { chars += response.size(); }
    void Failure(int, const QString& message) override {
        chars += message.size();
        ++failures;
    }
    long long chars = 0;
    long long failures = 0;
};
