#pragma once

#include "routercallback.h"

#include <QString>

// The one way a page request travels, on the GUI thread: from a page's router to the client
// handler (browser/), and from there to the program's command table (app/dispatcher.h).
// Answers at most once through the callback, or never.
class PageRequestHandler {
public:
    virtual ~PageRequestHandler() = default;
    virtual void onJsMessage(const QString& request, RouterCallback callback) = 0;
};
