#pragma once

#include "routercallback.h"

#include <QString>

// Where the browser hands each page request, on the GUI thread: the program's command table
// (app/dispatcher.h) implements it. Answers at most once through the callback, or never.
class PageRequestHandler {
public:
    virtual ~PageRequestHandler() = default;
    virtual void onJsMessage(const QString& request, RouterCallback callback) = 0;
};
