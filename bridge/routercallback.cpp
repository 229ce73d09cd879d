#include "routercallback.h"

void registerRouterCallbackType() {
    static const int id =
        qRegisterMetaType<RouterCallback>("CefRefPtr<CefMessageRouterBrowserSide::Callback>");
    Q_UNUSED(id);
}

void answerSuccess(RouterCallback callback, const QString& text) {
    if (callback)
        callback->Success(text);
    callback.reset();
}

void answerFailure(RouterCallback callback, int code, const QString& text) {
    if (callback)
        callback->Failure(code, text);
    callback.reset();
}
