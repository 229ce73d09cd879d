#include "dispatcher.h"

#include "appcommands.h"
#include "bridge/args.h"
#include "bridge/handoff.h"
#include "config/confcommands.h"
#include "config/profilecommands.h"
#include "device/devicecommands.h"
#include "input/inputcommands.h"
#include "online/onlinecommands.h"
#include "systemcommands.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

using Runner = void (*)(const CommandContext&, const QVariantMap&, const RouterCallback&);

template <class Group, CommandMethod<Group> Method>
void run(const CommandContext& ctx, const QVariantMap& args, const RouterCallback& cb) {
    if (Group* g = ctx.group(static_cast<Group*>(nullptr)))
        (g->*Method)(args, cb);
}

using Lane = handoff::CommandLane;

// Where a command runs: in the call, or in turn in the profile group's lane (after every
// command queued there before it), on the lane's worker or here.
struct Turn {
    bool inLane;
    Lane::Side side;
    Lane::Effect effect;
};
constexpr Turn kAtOnce{false, Lane::Side::Home, Lane::Effect::Writes};
// The profile commands: on the worker, for they may run long.
constexpr Turn kQuery{true, Lane::Side::Worker, Lane::Effect::Reads};
constexpr Turn kWorker{true, Lane::Side::Worker, Lane::Effect::Writes};
// Commands of other groups that read the profiles or the files they replace.
constexpr Turn kInTurn{true, Lane::Side::Home, Lane::Effect::Reads};

struct Command {
    const char* name;
    Runner runner;
    Turn turn = kAtOnce;
};

// The one index of every page command, in matching order. Names are matched case-sensitively
// and in full; the first equal name runs.
const Command kCommands[] = {
    {"getDevicesList", &run<DeviceCommands, &DeviceCommands::getDevicesList>},
    {"readDevicesProp", &run<DeviceCommands, &DeviceCommands::readDevicesProp>},
    {"writeDevicesProp", &run<DeviceCommands, &DeviceCommands::writeDevicesProp>},
    {"readByAddr", &run<DeviceCommands, &DeviceCommands::readByAddr>},
    {"writeByAddr", &run<DeviceCommands, &DeviceCommands::writeByAddr>},
    {"isPropEmpty", &run<DeviceCommands, &DeviceCommands::isPropEmpty>},
    {"cleanMacroByAddr", &run<DeviceCommands, &DeviceCommands::cleanMacroByAddr>},
    {"writeMacroByAddr", &run<DeviceCommands, &DeviceCommands::writeMacroByAddr>},

    {"loadurl", &run<SystemCommands, &SystemCommands::loadurl>},

    {"queryProfile", &run<ProfileCommands, &ProfileCommands::queryProfile>, kQuery},
    {"nodeCounterProfile", &run<ProfileCommands, &ProfileCommands::nodeCounterProfile>, kQuery},
    {"modifyProfile", &run<ProfileCommands, &ProfileCommands::modifyProfile>, kWorker},
    {"modifyProfileEx", &run<ProfileCommands, &ProfileCommands::modifyProfileEx>, kWorker},
    {"modifyRemoveProfile", &run<ProfileCommands, &ProfileCommands::modifyRemoveProfile>, kWorker},
    {"modifyAddProfile", &run<ProfileCommands, &ProfileCommands::modifyAddProfile>, kWorker},
    {"modifyReplaceProfile", &run<ProfileCommands, &ProfileCommands::modifyReplaceProfile>,
     kWorker},
    {"modifyReplaceSubNode", &run<ProfileCommands, &ProfileCommands::modifyReplaceSubNode>,
     kWorker},
    {"modifyReplaceProfileEx", &run<ProfileCommands, &ProfileCommands::modifyReplaceProfileEx>,
     kWorker},
    {"resetProfile", &run<ProfileCommands, &ProfileCommands::resetProfile>, kWorker},
    {"queryHexByte", &run<ProfileCommands, &ProfileCommands::queryHexByte>, kQuery},

    {"goback", &run<SystemCommands, &SystemCommands::goback>},
    {"goforward", &run<SystemCommands, &SystemCommands::goforward>},

    {"getConf", &run<ConfCommands, &ConfCommands::getConf>},
    {"getHotKey", &run<ConfCommands, &ConfCommands::getHotKey>},
    {"setHotKey", &run<ConfCommands, &ConfCommands::setHotKey>},
    {"setConf", &run<ConfCommands, &ConfCommands::setConf>},
    {"resetConf", &run<ConfCommands, &ConfCommands::resetConf>},

    {"checkUpdate", &run<OnlineCommands, &OnlineCommands::checkUpdate>},

    {"savexml", &run<ProfileCommands, &ProfileCommands::savexml>, kWorker},
    {"saveXmlAs", &run<ProfileCommands, &ProfileCommands::saveXmlAs>, kWorker},

    {"modifyMouseSpeed", &run<SystemCommands, &SystemCommands::modifyMouseSpeed>},
    {"modifyMouseScrollLines", &run<SystemCommands, &SystemCommands::modifyMouseScrollLines>},

    {"closeApp", &run<AppCommands, &AppCommands::closeApp>},

    {"startRecord", &run<InputCommands, &InputCommands::startRecord>},
    {"stopRecord", &run<InputCommands, &InputCommands::stopRecord>},
    {"startVDevice", &run<InputCommands, &InputCommands::startVDevice>},
    {"stopVDevice", &run<InputCommands, &InputCommands::stopVDevice>},
    {"getVDevice", &run<InputCommands, &InputCommands::getVDevice>},
    {"keyMapChanged", &run<InputCommands, &InputCommands::keyMapChanged>, kInTurn},

    {"saveFileDialog", &run<SystemCommands, &SystemCommands::saveFileDialog>},
    {"openFileDialog", &run<SystemCommands, &SystemCommands::openFileDialog>},
    {"openUrl", &run<SystemCommands, &SystemCommands::openUrl>},

    {"downloadFile", &run<OnlineCommands, &OnlineCommands::downloadFile>},
    {"synchronizeConf", &run<OnlineCommands, &OnlineCommands::synchronizeConf>, kInTurn},

    {"openView", &run<SystemCommands, &SystemCommands::openView>},
    {"closeView", &run<SystemCommands, &SystemCommands::closeView>},
    {"sendMsgToMainBrowser", &run<SystemCommands, &SystemCommands::sendMsgToMainBrowser>},
    {"openFileDialogEx", &run<SystemCommands, &SystemCommands::openFileDialogEx>},
    {"setIME", &run<SystemCommands, &SystemCommands::setIME>},
    // Not among the system's own commands: the page shows the pointer settings as they are, and
    // asks for a file before it waits for an answer the profile commands never give.
    {"getMouseSettings", &run<SystemCommands, &SystemCommands::getMouseSettings>},
    {"fileExists", &run<SystemCommands, &SystemCommands::fileExists>},
};

} // namespace

void Dispatcher::onJsMessage(const QString& request, RouterCallback callback) {
    // Exact texts only: any extra blank makes them ordinary requests.
    if (request == QLatin1String("{\"funcname\":\"maxsizeWindow\"}")) {
        if (m_context.window)
            m_context.window->maxsizeWindow();
        return;
    }
    if (request == QLatin1String("{\"funcname\":\"restoreWindow\"}")) {
        if (m_context.window)
            m_context.window->restoreWindow();
        return;
    }

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(request.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return;
    const QVariantMap args = doc.object().toVariantMap();
    if (!args.contains(QStringLiteral("funcname")))
        return;
    dispatchCommand(args::str(args, "funcname"), args, std::move(callback));
}

void Dispatcher::dispatchCommand(const QString& name, const QVariantMap& args,
                                 RouterCallback callback) {
    for (const Command& command : kCommands) {
        if (name != QLatin1String(command.name))
            continue;
        ProfileCommands* profiles = m_context.profiles;
        if (!command.turn.inLane || !profiles) {
            command.runner(m_context, args, callback);
            return;
        }
        Lane& lane = profiles->lane();
        Lane::Side side = command.turn.side;
        // conf.xml belongs to the configuration store, which lives here.
        if (side == Lane::Side::Worker && profiles->namesConfig(args))
            side = Lane::Side::Home;
        if (side == Lane::Side::Worker && lane.hasWorker())
            callback = handoff::answerOn(lane.home(), std::move(callback));
        lane.queue(side, command.turn.effect,
                   [context = m_context, runner = command.runner, args,
                    answer = std::move(callback)] { runner(context, args, answer); });
        return;
    }
}

QStringList Dispatcher::commandNames() {
    QStringList names;
    for (const Command& command : kCommands)
        names << QLatin1String(command.name);
    return names;
}
