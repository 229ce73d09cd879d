#pragma once

#include "bridge/requesthandler.h"
#include "commandcontext.h"

#include <QString>
#include <QVariantMap>

// Turns page request texts into command calls. Runs on the GUI thread, one request at a time.
// The browser hands it every page request directly (PageRequestHandler).
//
// The profile commands may run for minutes on a large profile: while the profile group has a
// worker, the commands the table marks for it run there, one at a time in the order sent, and
// are answered on this thread; the window and every other command need not wait. The commands
// of other groups that read the profiles or replace their files (keyMapChanged,
// synchronizeConf) run here but in turn with them, so each takes effect in the order sent.
class Dispatcher : public PageRequestHandler {
public:
    explicit Dispatcher(CommandContext context = {}) : m_context(context) {}

    CommandContext& context() { return m_context; }

    // Whole-text window requests first, then JSON object with "funcname"; anything else is
    // dropped without an answer.
    void onJsMessage(const QString& request, RouterCallback callback) override;

    // Runs the first command whose name equals `name`; an unknown name does nothing.
    void dispatchCommand(const QString& name, const QVariantMap& args, RouterCallback callback);

    // The names in matching order (for tests and the bench).
    static QStringList commandNames();

private:
    CommandContext m_context;
};
