#include "profilecommands.h"

#include "bridge/args.h"
#include "childpath.h"
#include "configstore.h"
#include "pagequery.h"
#include "pfdfile.h"
#include "profilecache.h"
#include "profilerequest.h"
#include "profilexml.h"

#include <pugixml.hpp>

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {

const QString kQueryFailed = QStringLiteral("queryProfile load xml file failed!");
const QString kCounterFailed = QStringLiteral("nodeCounterProfile load xml file failed!");
const QString kModifyFailed = QStringLiteral("modifyProfile load xml file failed!");
const QString kModifyExFailed = QStringLiteral("modifyProfileEx load xml file failed!");
const QString kReplaceFailed = QStringLiteral("modifyReplaceProfile load xml file failed!");
const QString kSaveAsFailed = QStringLiteral("saveXmlAs load xml file failed!");
const QString kSaveAsDestFailed = QStringLiteral("saveXmlAs desFilePath is failed!");
const QString kCountMismatch = QStringLiteral("attribute count isn't equal attributeValue count");
const QString kReplaceSuccess = QStringLiteral("modifyReplaceProfile success");

using platform::Result;
using Text = platform::ResultOf<QString>;

Text ended(const Result& end) {
    return Text::failure(end.code, end.text);
}

// The answer of a command that ended early, by the code of its end (profileend).
// `loadFailure` is the command's load failure text.
void answerEnd(const RouterCallback& cb, const Result& end, const QString& loadFailure) {
    switch (end.code) {
    case profileend::kLoadFailure:
        // A command without a load failure text (resetProfile) does not answer.
        if (!loadFailure.isEmpty())
            answerFailure(cb, 0, loadFailure);
        break;
    case profileend::kCountMismatch:
        answerFailure(cb, 0, kCountMismatch);
        break;
    case profileend::kDestination:
        answerFailure(cb, 0, kSaveAsDestFailed);
        break;
    default: // profileend::kUnanswered
        break;
    }
}

// The command boundary: the success answer, or the answer of the end.
void finish(const RouterCallback& cb, const Result& r, const QString& loadFailure,
            const QString& success) {
    if (r)
        answerSuccess(cb, success);
    else
        answerEnd(cb, r, loadFailure);
}

void finish(const RouterCallback& cb, const Text& r, const QString& loadFailure) {
    if (r)
        answerSuccess(cb, r.value);
    else
        answerEnd(cb, r, loadFailure);
}

// D's children become copies of S's children, in order; nothing happens without D.
void replaceChildren(pugi::xml_node d, const pugi::xml_node& s) {
    if (!d)
        return;
    d.remove_children();
    for (pugi::xml_node child = s.first_child(); child; child = child.next_sibling())
        d.append_copy(child);
}

Text queryNodes(ProfileRequest& r) {
    Profile p;
    pugi::xpath_node_set matches;
    Result end = r.has({"filePath", "xpath"});
    if (end)
        end = r.openAll("filePath", &p, &matches);
    if (!end)
        return ended(end);
    const auto printed = profilexml::printNodes(matches);
    if (!printed)
        return ended(profileend::asLoadFailure(printed));
    return Text::success(QString::fromUtf8(printed.value));
}

Text countChildren(ProfileRequest& r) {
    Profile p;
    pugi::xml_node node;
    Result end = r.has({"filePath", "xpath"});
    if (end)
        end = r.openFirst("filePath", &p, &node);
    if (!end)
        return ended(end);
    int count = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        ++count;
    return Text::success(QString::number(count));
}

Result setAttributes(ProfileRequest& r) {
    Profile p;
    pugi::xpath_node_set matches;
    AttributeLists lists;
    const Result end = r.openAttributeEdit(&p, &matches, &lists);
    if (!end)
        return end;
    if (p.index) {
        for (const QByteArray& name : lists.names)
            p.index->forget(name.constData());
    }
    for (const pugi::xpath_node& match : matches) {
        const pugi::xml_node node = match.node();
        if (!node)
            continue;
        for (size_t i = 0; i < lists.names.size(); ++i) {
            // Only attributes the element has; absent ones are not created.
            if (pugi::xml_attribute attr = node.attribute(lists.names[i].constData()))
                attr.set_value(lists.values[i].constData());
        }
    }
    return r.store(p, true);
}

Result replaceByFragment(ProfileRequest& r) {
    Profile p;
    pugi::xpath_node_set matches;
    Result end = r.has({"filePath", "xpath", "subTreeString"});
    if (end)
        end = r.openAll("filePath", &p, &matches);
    if (!end)
        return end;
    // A malformed fragment is used for what the library kept of it; one nested too deeply is not
    // used at all.
    pugi::xml_document fragment;
    end = profileend::asLoadFailure(
        profilexml::parse(fragment, r.str("subTreeString").toUtf8(), true));
    if (!end)
        return end;
    if (!profilexml::canHold(fragment))
        return Result::failure(profileend::kLoadFailure, "a character that XML cannot hold");

    // The fragment's nodes move into the first match; every later match ends up empty.
    for (pugi::xml_node node : outermost(matches, true)) {
        node.remove_children();
        for (pugi::xml_node top = fragment.first_child(); top; top = fragment.first_child()) {
            node.append_copy(top);
            if (!fragment.remove_child(top))
                break;
        }
    }
    return r.store(p);
}

Result removeMatches(ProfileRequest& r) {
    Profile p;
    pugi::xpath_node_set matches;
    Result end = r.has({"filePath", "xpath"});
    if (end)
        end = r.openAll("filePath", &p, &matches);
    if (!end)
        return end;
    for (pugi::xml_node node : outermost(matches, false)) {
        if (pugi::xml_node parent = node.parent())
            parent.remove_child(node);
    }
    return r.store(p);
}

Result addChildren(ProfileRequest& r) {
    Profile p;
    pugi::xpath_node_set matches;
    AttributeLists lists;
    const Result end = r.openAttributeEdit(&p, &matches, &lists);
    if (!end)
        return end;
    // Without a usable element or attribute name the result would not parse again; refuse
    // before anything changes.
    const QByteArray element =
        r.has({"addNodeName"}) ? r.str("addNodeName").toUtf8() : QByteArray();
    bool namesUsable = profilexml::isXmlName(element);
    for (const QByteArray& name : lists.names)
        namesUsable = namesUsable && profilexml::isXmlName(name);
    if (!namesUsable)
        return platform::Result::failure(profileend::kLoadFailure, "a name is no XML name");

    for (const pugi::xpath_node& match : matches) {
        pugi::xml_node added = match.node().append_child(element.constData());
        if (!added)
            continue;
        for (size_t i = 0; i < lists.names.size(); ++i)
            added.append_attribute(lists.names[i].constData())
                .set_value(lists.values[i].constData());
    }
    return r.store(p);
}

Result replaceElement(ProfileRequest& r) {
    Profile src, des;
    pugi::xml_node s, d;
    const Result end = r.openPair(&src, &des, &s, &d);
    if (!end)
        return end;
    // The copy takes D's place; without S, D just goes.
    if (pugi::xml_node parent = d.parent()) {
        if (parent.first_child() == d) {
            parent.remove_child(d);
            if (s)
                parent.prepend_copy(s);
        } else {
            const pugi::xml_node before = d.previous_sibling();
            parent.remove_child(d);
            if (s)
                parent.insert_copy_after(s, before);
        }
    }
    return r.store(des);
}

Result replaceSubNodes(ProfileRequest& r) {
    Profile src, des;
    pugi::xml_node s, d;
    const Result end = r.openPair(&src, &des, &s, &d);
    if (!end)
        return end;
    replaceChildren(d, s);
    return r.store(des);
}

Result replaceFromPackage(ProfileRequest& r) {
    Profile des;
    Result end = r.has({"srcFilePath", "desFilePath", "srcXpath", "desXpath"});
    if (end)
        end = r.load("desFilePath", &des);
    if (end)
        end = r.parse(&des);
    if (!end)
        return end;
    // The package path comes from a file dialog and is used as it is.
    const auto packaged = pfdfile::read(r.str("srcFilePath"));
    pugi::xml_document package;
    end = profileend::asLoadFailure(packaged);
    if (end)
        end = profileend::asLoadFailure(
            profilexml::parse(package, profilexml::asUtf8Text(packaged.value)));
    pugi::xml_node d;
    if (end)
        end = r.selectFirst("desXpath", des, &d);
    if (!end)
        return end;
    // The package's root element gives its children.
    replaceChildren(d, package.first_child());
    return r.store(des);
}

// This command has no failure answer: every end is without one.
Result copyText(ProfileRequest& r) {
    Profile src, des;
    Result end = r.has({"srcFilePath", "desFilePath"});
    if (end)
        end = r.load("srcFilePath", &src);
    if (end) {
        end = r.load("desFilePath", &des);
        // A file that is not there yet (inside the program folder: the path was resolved) is
        // begun as the copy, and written by the next save: a device's own key map starts so.
        // One that is there but cannot be read still ends the command.
        if (!end && !des.path.isEmpty() && !QFileInfo::exists(des.path))
            end = Result::success();
    }
    if (!end)
        return end;
    // The text is taken as it is, but never one that does not parse: the next save would write
    // it over the destination and break that file for good. It ends without an answer, as for
    // a source that cannot be opened. A kept document shows that the text parses.
    pugi::xml_document check;
    if (!r.cache().document(src.path).doc) {
        const Result parsed = profilexml::parse(check, src.text);
        if (!parsed)
            return platform::Result::failure(profileend::kUnanswered, parsed.text);
    }
    r.replaceText(des, src.text);
    return end;
}

Text fillCode(ProfileRequest& r) {
    Profile p;
    pugi::xml_node node;
    Result end = r.has({"filePath", "xpath", "args"});
    if (end)
        end = r.openFirst("filePath", &p, &node);
    if (!end)
        return ended(end);
    QString code = QString::fromUtf8(node.attribute("code").value());
    if (code.contains(QLatin1Char('%'))) {
        const QStringList fill = r.str("args").split(QLatin1Char(','), Qt::SkipEmptyParts);
        QStringList items = code.split(QLatin1Char(','));
        // A code is four bytes; only those are filled. A "%" without an args value stays.
        int next = 0;
        for (int i = 0; i < items.size() && i < 4 && next < fill.size(); ++i) {
            if (items[i] == QLatin1String("%"))
                items[i] = fill[next++];
        }
        code = items.join(QLatin1Char(','));
    }
    return Text::success(code);
}

Result exportPackage(ProfileRequest& r) {
    Profile p;
    pugi::xml_node node;
    Result end = r.has({"srcFilePath", "desFilePath", "xpath"});
    if (end)
        end = r.openFirst("srcFilePath", &p, &node);
    if (!end)
        return end;
    pugi::xml_document exported;
    if (node)
        exported.append_copy(node);
    const auto xml = profilexml::serialise(exported);
    if (!xml)
        return profileend::asLoadFailure(xml);
    // The package path comes from a file dialog and is used as it is, if it is one.
    const QString target = r.str("desFilePath");
    if (!pfdfile::isPackagePath(target))
        return platform::Result::failure(profileend::kDestination, "no package path");
    const Result written = pfdfile::write(target, xml.value);
    return written ? written : platform::Result::failure(profileend::kDestination, written.text);
}

// Deep documents are refused long before this, but the XML library recurses and Windows gives a
// new thread only 1 MiB of stack.
constexpr uint kWorkerStack = 16u * 1024u * 1024u;

} // namespace

ProfileCommands::ProfileCommands(ProfileCache& cache, const QString& programFolder)
    : m_cache(cache), m_folder(QDir::cleanPath(programFolder)) {}

ProfileCommands::~ProfileCommands() = default;

void ProfileCommands::startWorker() {
    m_lane.startWorker(QStringLiteral("profile commands"), kWorkerStack);
}

void ProfileCommands::writePending() {
    m_lane.queue(handoff::CommandLane::Side::Worker, handoff::CommandLane::Effect::Writes,
                 [this] { m_cache.writePending(); });
}

bool ProfileCommands::finishForExit() {
    return m_lane.finish(kExitWaitMs, [this] {
        // What it still holds, and what it would still store, stay its own.
        m_cache.shutOut(m_lane.workerThread());
        m_cache.dropDocuments();
    });
}

ConfigStore* ProfileCommands::configOwning(const QString& path) const {
    if (!m_conf || path.isEmpty())
        return nullptr;
    return path == QDir::cleanPath(m_conf->filePath()) ? m_conf : nullptr;
}

bool ProfileCommands::namesConfig(const QVariantMap& args) const {
    if (!m_conf)
        return false;
    for (const char* key : {"filePath", "srcFilePath", "desFilePath"}) {
        if (args::has(args, key) && configOwning(resolve(args::str(args, key))))
            return true;
    }
    return false;
}

QString ProfileCommands::resolve(const QString& relative) const {
    const QString path = QDir::cleanPath(m_folder + QLatin1Char('/') + relative);
    const QString inside =
        m_folder.endsWith(QLatin1Char('/')) ? m_folder : m_folder + QLatin1Char('/');
    if (!path.startsWith(inside))
        return {};
    return path;
}

void ProfileCommands::queryProfile(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, queryNodes(r), kQueryFailed);
}

void ProfileCommands::nodeCounterProfile(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, countChildren(r), kCounterFailed);
}

void ProfileCommands::modifyProfile(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, setAttributes(r), kModifyFailed, QStringLiteral("modifyProfile success!"));
}

void ProfileCommands::modifyProfileEx(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, replaceByFragment(r), kModifyExFailed, QStringLiteral("modifyProfileEx success"));
}

void ProfileCommands::modifyRemoveProfile(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, removeMatches(r), kModifyFailed, QStringLiteral("modifyRemoveProfile success"));
}

void ProfileCommands::modifyAddProfile(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, addChildren(r), kModifyFailed, QStringLiteral("modifyAddProfile success"));
}

void ProfileCommands::modifyReplaceProfile(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, replaceElement(r), kReplaceFailed, kReplaceSuccess);
}

void ProfileCommands::modifyReplaceSubNode(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, replaceSubNodes(r), kReplaceFailed, kReplaceSuccess);
}

void ProfileCommands::modifyReplaceProfileEx(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, replaceFromPackage(r), kReplaceFailed, kReplaceSuccess);
}

void ProfileCommands::resetProfile(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, copyText(r), QString(), QStringLiteral("resetProfile success"));
}

void ProfileCommands::queryHexByte(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, fillCode(r), kModifyFailed);
}

void ProfileCommands::savexml(const QVariantMap&, const RouterCallback& cb) {
    // Nothing cached, or a file that could not be written: no answer.
    if (m_cache.writePending() == ProfileCache::WriteResult::Written)
        answerSuccess(cb, QStringLiteral("save xml success"));
}

void ProfileCommands::saveXmlAs(const QVariantMap& a, const RouterCallback& cb) {
    ProfileRequest r(m_cache, *this, a);
    finish(cb, exportPackage(r), kSaveAsFailed, QStringLiteral("saveXmlAs success"));
}
