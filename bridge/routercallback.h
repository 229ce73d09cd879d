#pragma once

#include <QMetaType>
#include <QString>

#include <memory>

// The counted reference that page requests carry. The embedded browser's own names are kept so
// that signal signatures read as they do in the rest of the program.
template <class T> using CefRefPtr = std::shared_ptr<T>;

class CefMessageRouterBrowserSide {
public:
    // One pending page query. Implementations answer at most once; later calls are ignored.
    class Callback {
    public:
        virtual ~Callback() = default;
        virtual void Success(const QString& response) = 0;
        virtual void Failure(int errorCode, const QString& errorMessage) = 0;
    };
};

using RouterCallback = CefRefPtr<CefMessageRouterBrowserSide::Callback>;

Q_DECLARE_METATYPE(CefRefPtr<CefMessageRouterBrowserSide::Callback>)

// Registers the callback type for queued connections under its full name. Safe to call often.
void registerRouterCallbackType();

// Both drop the reference they were given once the answer is passed on.
void answerSuccess(RouterCallback callback, const QString& text);
void answerFailure(RouterCallback callback, int code, const QString& text);
