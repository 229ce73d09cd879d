#include "profilecommands.h"

#include "bridge/args.h"
#include "pfdfile.h"
#include "profilecache.h"

#include <pugixml.hpp>

#include <QDir>
#include <QStringList>

#include <memory>
#include <unordered_set>
#include <vector>

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

class ByteSink : public pugi::xml_writer {
public:
    void write(const void* data, size_t size) override {
        bytes.append(static_cast<const char*>(data), int(size));
    }
    QByteArray bytes;
};

bool parse(pugi::xml_document& doc, const QByteArray& text) {
    return doc.load_buffer(text.constData(), size_t(text.size()), pugi::parse_default,
                           pugi::encoding_utf8)
               .status == pugi::status_ok;
}

QByteArray serialise(const pugi::xml_document& doc, int sizeHint = 0) {
    ByteSink sink;
    sink.bytes.reserve(sizeHint);
    doc.save(sink, "\t", pugi::format_default, pugi::encoding_utf8);
    return sink.bytes;
}

// Runs a call into the XML library that may throw (a malformed XPath expression, memory
// exhaustion while evaluating one) and reports whether it came through.
template <class F> bool guarded(F&& f) {
#ifdef PUGIXML_NO_EXCEPTIONS
    f();
    return true;
#else
    try {
        f();
        return true;
    } catch (const std::exception&) {
        return false;
    }
#endif
}

// An XPath expression from the page. One that does not compile, or that gives a number, text or
// truth value instead of nodes, is not ok; the command then answers its load failure text.
class PageQuery {
public:
    explicit PageQuery(const QString& expression) {
        const QByteArray utf8 = expression.toUtf8();
        guarded([&] {
            auto query = std::make_unique<pugi::xpath_query>(utf8.constData());
            if (*query && query->return_type() == pugi::xpath_type_node_set)
                m_query = std::move(query);
        });
    }

    bool ok() const { return m_query != nullptr; }

    // All matches, in document order.
    bool all(const pugi::xml_node& root, pugi::xpath_node_set* out) const {
        return ok() && guarded([&] {
                   *out = root.select_nodes(*m_query);
                   out->sort();
               });
    }

    // The first match in document order; a null node when nothing matches or the match is an
    // attribute.
    bool first(const pugi::xml_node& root, pugi::xml_node* out) const {
        return ok() && guarded([&] { *out = root.select_node(*m_query).node(); });
    }

private:
    std::unique_ptr<pugi::xpath_query> m_query;
};

// The node matches (attributes are no element) that do not lie inside another of them. Emptying
// or removing an outer match takes the inner ones along, so they must not be touched afterwards.
// With `documentHolds` false a matched document node does not count as outer: it cannot be
// removed, so what lies in it stays to be handled.
std::vector<pugi::xml_node> outermost(const pugi::xpath_node_set& set, bool documentHolds) {
    std::unordered_set<pugi::xml_node_struct*> holders;
    for (const pugi::xpath_node& match : set) {
        const pugi::xml_node node = match.node();
        if (node && (documentHolds || node.type() != pugi::node_document))
            holders.insert(node.internal_object());
    }
    std::vector<pugi::xml_node> result;
    for (const pugi::xpath_node& match : set) {
        const pugi::xml_node node = match.node();
        if (!node)
            continue;
        bool nested = false;
        for (pugi::xml_node up = node.parent(); up && !nested; up = up.parent())
            nested = holders.count(up.internal_object()) != 0;
        if (!nested)
            result.push_back(node);
    }
    return result;
}

std::vector<QByteArray> splitList(const QString& text) {
    std::vector<QByteArray> items;
    const QStringList parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    items.reserve(size_t(parts.size()));
    for (const QString& part : parts)
        items.push_back(part.toUtf8());
    return items;
}

bool isNameStart(uint c) {
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(uint c) {
    return isNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// An XML name, so that what is written with it parses again.
bool isXmlName(const QString& name) {
    const QVector<uint> code = name.toUcs4();
    if (code.isEmpty() || !isNameStart(code.first()))
        return false;
    for (uint c : code) {
        if (!isNameChar(c))
            return false;
    }
    return true;
}

// What the package holds as text, with bytes that are not UTF-8 replaced as a file read is.
QByteArray asUtf8Text(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).toUtf8();
}

} // namespace

ProfileCommands::ProfileCommands(ProfileCache& cache, const QString& programFolder)
    : m_cache(cache), m_folder(QDir::cleanPath(programFolder)) {}

QString ProfileCommands::resolve(const QString& relative) const {
    const QString path = QDir::cleanPath(m_folder + QLatin1Char('/') + relative);
    const QString inside =
        m_folder.endsWith(QLatin1Char('/')) ? m_folder : m_folder + QLatin1Char('/');
    if (!path.startsWith(inside))
        return {};
    return path;
}

std::optional<QByteArray> ProfileCommands::load(const QString& relative, QString* path) {
    *path = resolve(relative);
    if (path->isEmpty())
        return std::nullopt;
    return m_cache.load(*path);
}

void ProfileCommands::queryProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "filePath") || !args::has(a, "xpath"))
        return;
    QString path;
    const auto text = load(args::str(a, "filePath"), &path);
    if (!text)
        return;
    pugi::xml_document doc;
    pugi::xpath_node_set matches;
    if (!parse(doc, *text) || !PageQuery(args::str(a, "xpath")).all(doc, &matches)) {
        answerFailure(cb, 0, kQueryFailed);
        return;
    }
    ByteSink sink;
    for (const pugi::xpath_node& match : matches) {
        if (match.node())
            match.node().print(sink, "\t", pugi::format_default, pugi::encoding_utf8);
    }
    answerSuccess(cb, QString::fromUtf8(sink.bytes));
}

void ProfileCommands::nodeCounterProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "filePath") || !args::has(a, "xpath"))
        return;
    QString path;
    const auto text = load(args::str(a, "filePath"), &path);
    if (!text)
        return;
    pugi::xml_document doc;
    pugi::xml_node node;
    if (!parse(doc, *text) || !PageQuery(args::str(a, "xpath")).first(doc, &node)) {
        answerFailure(cb, 0, kCounterFailed);
        return;
    }
    int count = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        ++count;
    answerSuccess(cb, QString::number(count));
}

void ProfileCommands::modifyProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "filePath") || !args::has(a, "xpath") || !args::has(a, "attribute") ||
        !args::has(a, "attributeValue"))
        return;
    QString path;
    const auto text = load(args::str(a, "filePath"), &path);
    if (!text)
        return;
    pugi::xml_document doc;
    pugi::xpath_node_set matches;
    if (!parse(doc, *text) || !PageQuery(args::str(a, "xpath")).all(doc, &matches)) {
        answerFailure(cb, 0, kModifyFailed);
        return;
    }
    const auto names = splitList(args::str(a, "attribute"));
    const auto values = splitList(args::str(a, "attributeValue"));
    if (names.size() != values.size()) {
        answerFailure(cb, 0, kCountMismatch);
        return;
    }
    for (const pugi::xpath_node& match : matches) {
        const pugi::xml_node node = match.node();
        if (!node)
            continue;
        for (size_t i = 0; i < names.size(); ++i) {
            // Only attributes the element has; absent ones are not created.
            if (pugi::xml_attribute attr = node.attribute(names[i].constData()))
                attr.set_value(values[i].constData());
        }
    }
    m_cache.store(path, serialise(doc, text->size()));
    answerSuccess(cb, QStringLiteral("modifyProfile success!"));
}

void ProfileCommands::modifyProfileEx(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "filePath") || !args::has(a, "xpath") || !args::has(a, "subTreeString"))
        return;
    QString path;
    const auto text = load(args::str(a, "filePath"), &path);
    if (!text)
        return;
    pugi::xml_document doc;
    pugi::xpath_node_set matches;
    if (!parse(doc, *text) || !PageQuery(args::str(a, "xpath")).all(doc, &matches)) {
        answerFailure(cb, 0, kModifyExFailed);
        return;
    }
    // A malformed fragment is used for what the library kept of it.
    pugi::xml_document fragment;
    fragment.load_string(args::str(a, "subTreeString").toUtf8().constData());

    // The fragment's nodes move into the first match; every later match ends up empty.
    for (pugi::xml_node node : outermost(matches, true)) {
        node.remove_children();
        for (pugi::xml_node top = fragment.first_child(); top; top = fragment.first_child()) {
            node.append_copy(top);
            if (!fragment.remove_child(top))
                break;
        }
    }
    m_cache.store(path, serialise(doc, text->size()));
    answerSuccess(cb, QStringLiteral("modifyProfileEx success"));
}

void ProfileCommands::modifyRemoveProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "filePath") || !args::has(a, "xpath"))
        return;
    QString path;
    const auto text = load(args::str(a, "filePath"), &path);
    if (!text)
        return;
    pugi::xml_document doc;
    pugi::xpath_node_set matches;
    if (!parse(doc, *text) || !PageQuery(args::str(a, "xpath")).all(doc, &matches)) {
        answerFailure(cb, 0, kModifyFailed);
        return;
    }
    for (pugi::xml_node node : outermost(matches, false)) {
        if (pugi::xml_node parent = node.parent())
            parent.remove_child(node);
    }
    m_cache.store(path, serialise(doc, text->size()));
    answerSuccess(cb, QStringLiteral("modifyRemoveProfile success"));
}

void ProfileCommands::modifyAddProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "filePath") || !args::has(a, "xpath") || !args::has(a, "attribute") ||
        !args::has(a, "attributeValue"))
        return;
    QString path;
    const auto text = load(args::str(a, "filePath"), &path);
    if (!text)
        return;
    pugi::xml_document doc;
    pugi::xpath_node_set matches;
    if (!parse(doc, *text) || !PageQuery(args::str(a, "xpath")).all(doc, &matches)) {
        answerFailure(cb, 0, kModifyFailed);
        return;
    }
    const QString attribute = args::str(a, "attribute");
    const auto names = splitList(attribute);
    const auto values = splitList(args::str(a, "attributeValue"));
    if (names.size() != values.size()) {
        answerFailure(cb, 0, kCountMismatch);
        return;
    }
    // Without a usable element or attribute name the result would not parse again; refuse
    // before anything changes.
    const QString nodeName = args::has(a, "addNodeName") ? args::str(a, "addNodeName") : QString();
    bool namesUsable = isXmlName(nodeName);
    for (const QString& name : attribute.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        namesUsable = namesUsable && isXmlName(name);
    if (!namesUsable) {
        answerFailure(cb, 0, kModifyFailed);
        return;
    }

    const QByteArray element = nodeName.toUtf8();
    for (const pugi::xpath_node& match : matches) {
        pugi::xml_node added = match.node().append_child(element.constData());
        if (!added)
            continue;
        for (size_t i = 0; i < names.size(); ++i)
            added.append_attribute(names[i].constData()).set_value(values[i].constData());
    }
    m_cache.store(path, serialise(doc, text->size()));
    answerSuccess(cb, QStringLiteral("modifyAddProfile success"));
}

void ProfileCommands::modifyReplaceProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "srcFilePath") || !args::has(a, "desFilePath") || !args::has(a, "srcXpath") ||
        !args::has(a, "desXpath"))
        return;
    QString srcPath, desPath;
    const auto srcText = load(args::str(a, "srcFilePath"), &srcPath);
    if (!srcText)
        return;
    const auto desText = load(args::str(a, "desFilePath"), &desPath);
    if (!desText)
        return;
    pugi::xml_document src, des;
    pugi::xml_node s, d;
    if (!parse(src, *srcText) || !parse(des, *desText) ||
        !PageQuery(args::str(a, "srcXpath")).first(src, &s) ||
        !PageQuery(args::str(a, "desXpath")).first(des, &d)) {
        answerFailure(cb, 0, kReplaceFailed);
        return;
    }
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
    m_cache.store(desPath, serialise(des, desText->size()));
    answerSuccess(cb, kReplaceSuccess);
}

void ProfileCommands::modifyReplaceSubNode(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "srcFilePath") || !args::has(a, "desFilePath") || !args::has(a, "srcXpath") ||
        !args::has(a, "desXpath"))
        return;
    QString srcPath, desPath;
    const auto srcText = load(args::str(a, "srcFilePath"), &srcPath);
    if (!srcText)
        return;
    const auto desText = load(args::str(a, "desFilePath"), &desPath);
    if (!desText)
        return;
    pugi::xml_document src, des;
    pugi::xml_node s, d;
    if (!parse(src, *srcText) || !parse(des, *desText) ||
        !PageQuery(args::str(a, "srcXpath")).first(src, &s) ||
        !PageQuery(args::str(a, "desXpath")).first(des, &d)) {
        answerFailure(cb, 0, kReplaceFailed);
        return;
    }
    if (d) {
        d.remove_children();
        for (pugi::xml_node child = s.first_child(); child; child = child.next_sibling())
            d.append_copy(child);
    }
    m_cache.store(desPath, serialise(des, desText->size()));
    answerSuccess(cb, kReplaceSuccess);
}

void ProfileCommands::modifyReplaceProfileEx(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "srcFilePath") || !args::has(a, "desFilePath") || !args::has(a, "srcXpath") ||
        !args::has(a, "desXpath"))
        return;
    QString desPath;
    const auto desText = load(args::str(a, "desFilePath"), &desPath);
    if (!desText)
        return;
    pugi::xml_document des;
    if (!parse(des, *desText)) {
        answerFailure(cb, 0, kReplaceFailed);
        return;
    }
    // The package path comes from a file dialog and is used as it is.
    const auto packaged = pfdfile::read(args::str(a, "srcFilePath"));
    pugi::xml_document package;
    pugi::xml_node d;
    if (!packaged || !parse(package, asUtf8Text(*packaged)) ||
        !PageQuery(args::str(a, "desXpath")).first(des, &d)) {
        answerFailure(cb, 0, kReplaceFailed);
        return;
    }
    if (d) {
        d.remove_children();
        const pugi::xml_node s = package.first_child();
        for (pugi::xml_node child = s.first_child(); child; child = child.next_sibling())
            d.append_copy(child);
    }
    m_cache.store(desPath, serialise(des, desText->size()));
    answerSuccess(cb, kReplaceSuccess);
}

void ProfileCommands::resetProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "srcFilePath") || !args::has(a, "desFilePath"))
        return;
    QString srcPath, desPath;
    const auto srcText = load(args::str(a, "srcFilePath"), &srcPath);
    if (!srcText)
        return;
    if (!load(args::str(a, "desFilePath"), &desPath))
        return;
    m_cache.store(desPath, *srcText);
    answerSuccess(cb, QStringLiteral("resetProfile success"));
}

void ProfileCommands::queryHexByte(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "filePath") || !args::has(a, "xpath") || !args::has(a, "args"))
        return;
    QString path;
    const auto text = load(args::str(a, "filePath"), &path);
    if (!text)
        return;
    pugi::xml_document doc;
    pugi::xml_node node;
    if (!parse(doc, *text) || !PageQuery(args::str(a, "xpath")).first(doc, &node)) {
        answerFailure(cb, 0, kModifyFailed);
        return;
    }
    QString code = QString::fromUtf8(node.attribute("code").value());
    if (code.contains(QLatin1Char('%'))) {
        const QStringList fill = args::str(a, "args").split(QLatin1Char(','), Qt::SkipEmptyParts);
        QStringList items = code.split(QLatin1Char(','));
        // A code is four bytes; only those are filled. A "%" without an args value stays.
        int next = 0;
        for (int i = 0; i < items.size() && i < 4 && next < fill.size(); ++i) {
            if (items[i] == QLatin1String("%"))
                items[i] = fill[next++];
        }
        code = items.join(QLatin1Char(','));
    }
    answerSuccess(cb, code);
}

void ProfileCommands::savexml(const QVariantMap&, const RouterCallback& cb) {
    // Nothing cached, or a file that could not be written: no answer.
    if (m_cache.writePending() == ProfileCache::WriteResult::Written)
        answerSuccess(cb, QStringLiteral("save xml success"));
}

void ProfileCommands::saveXmlAs(const QVariantMap& a, const RouterCallback& cb) {
    if (!args::has(a, "srcFilePath") || !args::has(a, "desFilePath") || !args::has(a, "xpath"))
        return;
    QString path;
    const auto text = load(args::str(a, "srcFilePath"), &path);
    if (!text)
        return;
    pugi::xml_document doc;
    pugi::xml_node node;
    if (!parse(doc, *text) || !PageQuery(args::str(a, "xpath")).first(doc, &node)) {
        answerFailure(cb, 0, kSaveAsFailed);
        return;
    }
    pugi::xml_document exported;
    if (node)
        exported.append_copy(node);
    // The package path comes from a file dialog and is used as it is.
    if (!pfdfile::write(args::str(a, "desFilePath"), serialise(exported))) {
        answerFailure(cb, 0, kSaveAsDestFailed);
        return;
    }
    answerSuccess(cb, QStringLiteral("saveXmlAs success"));
}
