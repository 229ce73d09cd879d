#include "profilecommands.h"

#include "bridge/args.h"
#include "childpath.h"
#include "pfdfile.h"
#include "profilecache.h"

#include <pugixml.hpp>

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>

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

// Far above any real profile (a package holds at most 64 MiB). With one tab per level of
// indentation the text of a deeply nested document grows with the square of its depth, so a
// request of a megabyte could otherwise ask for gigabytes.
constexpr int kMaxText = 64 * 1024 * 1024;

// Real profiles nest a handful of levels. Deeper documents are refused wherever they come from
// (file, fragment, package): the XML library frees a removed subtree recursively, and a tree of a
// few hundred thousand levels overflows even an 8 MiB stack (Windows gives a thread 1 MiB).
constexpr int kMaxDepth = 1024;

// Collects the XML library's output; stops it once the text would pass kMaxText.
class ByteSink : public pugi::xml_writer {
public:
    struct TooLarge {};

    void write(const void* data, size_t size) override {
        if (overflow || size > size_t(kMaxText - bytes.size())) {
            overflow = true;
#ifndef PUGIXML_NO_EXCEPTIONS
            throw TooLarge{};
#endif
            return;
        }
        bytes.append(static_cast<const char*>(data), int(size));
    }

    QByteArray bytes;
    bool overflow = false;
};

// Runs `print` into `sink`; false when the text grew past kMaxText.
template <class F> bool capped(ByteSink& sink, F&& print) {
#ifdef PUGIXML_NO_EXCEPTIONS
    print();
#else
    try {
        print();
    } catch (const ByteSink::TooLarge&) {
    }
#endif
    return !sink.overflow;
}

// Whether no node of the tree lies more than kMaxDepth levels deep (the root element is on level
// one). Iterative, as it must not itself depend on the depth.
bool shallow(const pugi::xml_node& root) {
    int depth = 1;
    pugi::xml_node node = root.first_child();
    while (node) {
        if (node.first_child()) {
            if (++depth > kMaxDepth)
                return false;
            node = node.first_child();
            continue;
        }
        while (node && node != root && !node.next_sibling()) {
            node = node.parent();
            --depth;
        }
        if (!node || node == root)
            break;
        node = node.next_sibling();
    }
    return true;
}

// Parses `text`; false for a text that is no XML or nests deeper than kMaxDepth. A fragment
// (`fragment` true) is taken for whatever the library kept of it, malformed or not.
bool parse(pugi::xml_document& doc, const QByteArray& text, bool fragment = false) {
    const pugi::xml_parse_result result = doc.load_buffer(text.constData(), size_t(text.size()),
                                                          pugi::parse_default, pugi::encoding_utf8);
    return (fragment || result.status == pugi::status_ok) && shallow(doc);
}

// The document in the default save format; empty when the text would pass kMaxText.
std::optional<QByteArray> serialise(const pugi::xml_document& doc, int sizeHint = 0) {
    ByteSink sink;
    sink.bytes.reserve(sizeHint);
    if (!capped(sink, [&] { doc.save(sink, "\t", pugi::format_default, pugi::encoding_utf8); }))
        return std::nullopt;
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
// truth value instead of nodes, is not ok; the command then answers its load failure text. The
// usual plain paths are walked directly (ChildPath), with the library's answers.
class PageQuery {
public:
    explicit PageQuery(const QString& expression) {
        const QByteArray utf8 = expression.toUtf8();
        m_path = ChildPath::parse(utf8.constData());
        if (m_path)
            return;
        guarded([&] {
            auto query = std::make_unique<pugi::xpath_query>(utf8.constData());
            if (*query && query->return_type() == pugi::xpath_type_node_set)
                m_query = std::move(query);
        });
    }

    bool ok() const { return m_path || m_query; }

    // All matches, in document order.
    bool all(const pugi::xml_node& root, ChildIndex* index, pugi::xpath_node_set* out) const {
        if (m_path) {
            std::vector<pugi::xml_node> nodes;
            m_path->all(root, &nodes, index);
            const std::vector<pugi::xpath_node> matches(nodes.begin(), nodes.end());
            *out = pugi::xpath_node_set(matches.data(), matches.data() + matches.size(),
                                        pugi::xpath_node_set::type_sorted);
            return true;
        }
        return ok() && guarded([&] {
                   *out = root.select_nodes(*m_query);
                   out->sort();
               });
    }

    // The first match in document order; a null node when nothing matches or the match is an
    // attribute.
    bool first(const pugi::xml_node& root, ChildIndex* index, pugi::xml_node* out) const {
        if (m_path) {
            *out = m_path->first(root, index);
            return true;
        }
        return ok() && guarded([&] { *out = root.select_node(*m_query).node(); });
    }

private:
    std::optional<ChildPath> m_path;
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

// Whether the UTF-8 bytes that will be stored are an XML name, so that what is written with it
// parses again. The check is made on the converted bytes: the conversion replaces what UTF-8
// cannot hold (a lone surrogate becomes "?"), and the stored text is what must parse.
bool isXmlName(const QByteArray& utf8) {
    const QString name = QString::fromUtf8(utf8);
    if (name.toUtf8() != utf8)
        return false;
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

// Whether saveXmlAs may write its package to `path`. The path comes from a save dialog that
// offers only package files, so anything else is refused: a relative path (it would land in
// whatever folder the program runs in), a name not ending in ".pfd", a symbolic link (the
// package would replace what it points to), and anything that exists but is no regular file
// (a folder, device or pipe). Windows takes the device names with any extension as the device.
bool isPackagePath(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (!info.isAbsolute() || name.size() <= 4 ||
        !name.endsWith(QLatin1String(".pfd"), Qt::CaseInsensitive))
        return false;
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return false;
    static const QRegularExpression device(QStringLiteral("^(con|prn|aux|nul|com\\d|lpt\\d)$"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString base = name.left(name.indexOf(QLatin1Char('.'))).trimmed();
    return !device.match(base).hasMatch();
}

// D's children become copies of S's children, in order; nothing happens without D.
void replaceChildren(pugi::xml_node d, const pugi::xml_node& s) {
    if (!d)
        return;
    d.remove_children();
    for (pugi::xml_node child = s.first_child(); child; child = child.next_sibling())
        d.append_copy(child);
}

// A profile as one command uses it: its cache key, the text it was loaded with and the document
// parsed from that text, usually the one the cache keeps (an edit changes that one in place).
struct Profile {
    QString path;
    QByteArray text;
    std::shared_ptr<pugi::xml_document> doc;
    bool settled = false; // as ProfileCache::Document::settled
    // The kept document's lookup tables; none for a command's own document.
    std::shared_ptr<ChildIndex> index;
};

// The items of "attribute" and "attributeValue", pairwise.
struct AttributeLists {
    std::vector<QByteArray> names;
    std::vector<QByteArray> values;
};

} // namespace

// One command's arguments, callback and load failure text, and the steps the commands share.
// Every step returns false when the command ends there, having answered as that end requires:
// not at all for a missing argument or a file that cannot be opened, the failure text for a text
// that is no XML or an XPath expression that cannot be used.
class ProfileCommands::Request {
public:
    Request(ProfileCommands& owner, const QVariantMap& args, const RouterCallback& cb,
            const QString& failure)
        : m_owner(owner), m_args(args), m_cb(cb), m_failure(failure) {}

    QString str(const char* key) const { return args::str(m_args, key); }

    // All required arguments are present.
    bool has(std::initializer_list<const char*> keys) const {
        for (const char* key : keys) {
            if (!args::has(m_args, key))
                return false;
        }
        return true;
    }

    // Loads the page-relative path given as argument `key`.
    bool load(const char* key, Profile* p) {
        const auto text = m_owner.load(str(key), &p->path);
        if (text)
            p->text = *text;
        return text.has_value();
    }

    // The cache's document of the profile, parsed and kept if there is none yet. With `own` a
    // document of the command's own, neither taken from the cache nor kept there.
    bool parse(Profile* p, bool own = false) {
        if (!own) {
            const ProfileCache::Document kept = m_owner.m_cache.document(p->path);
            if (kept.doc) {
                p->doc = kept.doc;
                p->settled = kept.settled;
                p->index = kept.index;
                return true;
            }
        }
        p->doc = std::make_shared<pugi::xml_document>();
        if (!check(::parse(*p->doc, p->text)))
            return false;
        if (!own) {
            p->index = std::make_shared<ChildIndex>();
            m_owner.m_cache.keepDocument(p->path, {p->doc, false, p->index});
        }
        return true;
    }

    bool selectAll(const char* xpathKey, const Profile& p, pugi::xpath_node_set* matches) {
        return check(PageQuery(str(xpathKey)).all(*p.doc, p.index.get(), matches));
    }

    bool selectFirst(const char* xpathKey, const Profile& p, pugi::xml_node* match) {
        return check(PageQuery(str(xpathKey)).first(*p.doc, p.index.get(), match));
    }

    // The head of the commands on one file: load and parse the file, then select by "xpath".
    bool openAll(const char* fileKey, Profile* p, pugi::xpath_node_set* matches) {
        return load(fileKey, p) && parse(p) && selectAll("xpath", *p, matches);
    }

    bool openFirst(const char* fileKey, Profile* p, pugi::xml_node* match) {
        return load(fileKey, p) && parse(p) && selectFirst("xpath", *p, match);
    }

    // The head of the commands from one file into another: load the source, then the
    // destination, parse both, then take the first match of "srcXpath" and of "desXpath". A
    // source that is the destination is parsed apart: the edit of the destination may remove
    // what is copied.
    bool openPair(Profile* src, Profile* des, pugi::xml_node* s, pugi::xml_node* d) {
        return load("srcFilePath", src) && load("desFilePath", des) &&
               parse(src, src->path == des->path) && parse(des) &&
               selectFirst("srcXpath", *src, s) && selectFirst("desXpath", *des, d);
    }

    // The head of the commands that write attributes: the four arguments present, the file
    // opened and selected by "xpath", then "attribute" and "attributeValue" split into lists of
    // equal length.
    bool openAttributeEdit(Profile* p, pugi::xpath_node_set* matches, AttributeLists* lists) {
        if (!has({"filePath", "xpath", "attribute", "attributeValue"}) ||
            !openAll("filePath", p, matches))
            return false;
        lists->names = splitList(str("attribute"));
        lists->values = splitList(str("attributeValue"));
        return lists->names.size() == lists->values.size() || fail(kCountMismatch);
    }

    // `ok`, or the load failure answer.
    bool check(bool ok) { return ok || fail(m_failure); }

    bool fail(const QString& text) {
        answerFailure(m_cb, 0, text);
        return false;
    }

    void succeed(const QString& text) { answerSuccess(m_cb, text); }

    // The edited document becomes the file's cached text; then the success answer. A text that
    // would not parse again would be written over the file by the next save and break it for
    // good (an edit that left no element, a name the conversion made unusable, nesting past
    // kMaxDepth), and one that would pass kMaxText cannot be held: each is refused with the
    // failure text and nothing changes (the edited document is dropped from the cache).
    // `valuesOnly` tells that the edit only set values of attributes the elements had.
    void store(const Profile& p, const QString& success, bool valuesOnly = false) {
        if (storeText(p, valuesOnly)) {
            succeed(success);
        } else {
            m_owner.m_cache.dropDocument(p.path);
            fail(m_failure);
        }
    }

private:
    bool storeText(const Profile& p, bool valuesOnly) {
        if (!p.doc->document_element())
            return false;
        const auto text = serialise(*p.doc, p.text.size());
        if (!text)
            return false;
        // A settled document saves as its text, which parses to it; setting attribute values
        // changes only what lies between the quotes, which the save escapes completely (every
        // control character too), so the new text parses to the edited document and it stays
        // settled. Other edits may not: adjacent texts merge, a carriage return in a text reads
        // back as a line feed. The text is then parsed again, which also proves it parses.
        if (valuesOnly && p.settled) {
            m_owner.m_cache.store(p.path, *text, {p.doc, true, p.index});
            return true;
        }
        auto again = std::make_shared<pugi::xml_document>();
        if (!::parse(*again, *text))
            return false;
        bool settled = false;
        if (valuesOnly) {
            // Worth knowing only where the next edit may use it.
            const auto resaved = serialise(*again, text->size());
            settled = resaved && *resaved == *text;
        }
        m_owner.m_cache.store(p.path, *text, {again, settled, std::make_shared<ChildIndex>()});
        return true;
    }

public:
private:
    ProfileCommands& m_owner;
    const QVariantMap& m_args;
    const RouterCallback& m_cb;
    const QString m_failure;
};

namespace {

// Passes a command's answer back to the thread that called the command, and lets go of the
// caller's callback there too: the callback belongs to that thread.
class AnswerAtHome : public CefMessageRouterBrowserSide::Callback {
public:
    AnswerAtHome(RouterCallback inner, QObject* home) : m_inner(std::move(inner)), m_home(home) {}
    ~AnswerAtHome() override { release(); }

    void Success(const QString& text) override {
        deliver([text](const RouterCallback& cb) { answerSuccess(cb, text); });
    }
    void Failure(int code, const QString& text) override {
        deliver([code, text](const RouterCallback& cb) { answerFailure(cb, code, text); });
    }

private:
    template <class F> void deliver(F answer) {
        if (!m_inner || !m_home)
            return;
        QMetaObject::invokeMethod(
            m_home, [cb = std::move(m_inner), answer]() { answer(cb); }, Qt::QueuedConnection);
    }
    void release() {
        if (m_inner && m_home)
            QMetaObject::invokeMethod(
                m_home, [cb = std::move(m_inner)]() mutable { cb.reset(); }, Qt::QueuedConnection);
    }

    RouterCallback m_inner;
    QPointer<QObject> m_home;
};

// Deep documents are refused long before this, but the XML library recurses and Windows gives a
// new thread only 1 MiB of stack.
constexpr uint kWorkerStack = 16u * 1024u * 1024u;

} // namespace

// The worker thread, an object living there to queue the commands to, and one living on the
// calling thread to queue the answers to.
class ProfileCommands::Worker {
public:
    Worker() : home(new QObject), target(new QObject) {
        thread.setObjectName(QStringLiteral("profile commands"));
        thread.setStackSize(kWorkerStack);
        target->moveToThread(&thread);
        thread.start();
    }
    ~Worker() {
        // Queued after every command still waiting, so those run first.
        QMetaObject::invokeMethod(
            target.get(), [this] { thread.quit(); }, Qt::QueuedConnection);
        thread.wait();
    }

    QThread thread;
    std::unique_ptr<QObject> home;
    std::unique_ptr<QObject> target;
};

ProfileCommands::ProfileCommands(ProfileCache& cache, const QString& programFolder)
    : m_cache(cache), m_folder(QDir::cleanPath(programFolder)) {}

ProfileCommands::~ProfileCommands() = default;

void ProfileCommands::startWorker() {
    if (!m_worker)
        m_worker = std::make_unique<Worker>();
}

void ProfileCommands::writePending() {
    if (!m_worker) {
        m_cache.writePending();
        return;
    }
    QMetaObject::invokeMethod(
        m_worker->target.get(), [this] { m_cache.writePending(); }, Qt::QueuedConnection);
}

bool ProfileCommands::handOver(Method method, const QVariantMap& args, const RouterCallback& cb) {
    if (!m_worker || QThread::currentThread() == &m_worker->thread)
        return false;
    auto answer = std::make_shared<AnswerAtHome>(cb, m_worker->home.get());
    QMetaObject::invokeMethod(
        m_worker->target.get(),
        [this, method, args, answer]() mutable {
            RouterCallback forward = std::move(answer);
            (this->*method)(args, forward);
        },
        Qt::QueuedConnection);
    return true;
}

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
    if (handOver(&ProfileCommands::queryProfile, a, cb))
        return;
    Request r(*this, a, cb, kQueryFailed);
    Profile p;
    pugi::xpath_node_set matches;
    if (!r.has({"filePath", "xpath"}) || !r.openAll("filePath", &p, &matches))
        return;
    ByteSink sink;
    const bool fits = capped(sink, [&] {
        for (const pugi::xpath_node& match : matches) {
            if (match.node())
                match.node().print(sink, "\t", pugi::format_default, pugi::encoding_utf8);
        }
    });
    if (r.check(fits))
        r.succeed(QString::fromUtf8(sink.bytes));
}

void ProfileCommands::nodeCounterProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::nodeCounterProfile, a, cb))
        return;
    Request r(*this, a, cb, kCounterFailed);
    Profile p;
    pugi::xml_node node;
    if (!r.has({"filePath", "xpath"}) || !r.openFirst("filePath", &p, &node))
        return;
    int count = 0;
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        ++count;
    r.succeed(QString::number(count));
}

void ProfileCommands::modifyProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::modifyProfile, a, cb))
        return;
    Request r(*this, a, cb, kModifyFailed);
    Profile p;
    pugi::xpath_node_set matches;
    AttributeLists lists;
    if (!r.openAttributeEdit(&p, &matches, &lists))
        return;
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
    r.store(p, QStringLiteral("modifyProfile success!"), true);
}

void ProfileCommands::modifyProfileEx(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::modifyProfileEx, a, cb))
        return;
    Request r(*this, a, cb, kModifyExFailed);
    Profile p;
    pugi::xpath_node_set matches;
    if (!r.has({"filePath", "xpath", "subTreeString"}) || !r.openAll("filePath", &p, &matches))
        return;
    // A malformed fragment is used for what the library kept of it; one nested too deeply is not
    // used at all.
    pugi::xml_document fragment;
    if (!r.check(parse(fragment, r.str("subTreeString").toUtf8(), true)))
        return;

    // The fragment's nodes move into the first match; every later match ends up empty.
    for (pugi::xml_node node : outermost(matches, true)) {
        node.remove_children();
        for (pugi::xml_node top = fragment.first_child(); top; top = fragment.first_child()) {
            node.append_copy(top);
            if (!fragment.remove_child(top))
                break;
        }
    }
    r.store(p, QStringLiteral("modifyProfileEx success"));
}

void ProfileCommands::modifyRemoveProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::modifyRemoveProfile, a, cb))
        return;
    Request r(*this, a, cb, kModifyFailed);
    Profile p;
    pugi::xpath_node_set matches;
    if (!r.has({"filePath", "xpath"}) || !r.openAll("filePath", &p, &matches))
        return;
    for (pugi::xml_node node : outermost(matches, false)) {
        if (pugi::xml_node parent = node.parent())
            parent.remove_child(node);
    }
    r.store(p, QStringLiteral("modifyRemoveProfile success"));
}

void ProfileCommands::modifyAddProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::modifyAddProfile, a, cb))
        return;
    Request r(*this, a, cb, kModifyFailed);
    Profile p;
    pugi::xpath_node_set matches;
    AttributeLists lists;
    if (!r.openAttributeEdit(&p, &matches, &lists))
        return;
    // Without a usable element or attribute name the result would not parse again; refuse
    // before anything changes.
    const QByteArray element =
        args::has(a, "addNodeName") ? r.str("addNodeName").toUtf8() : QByteArray();
    bool namesUsable = isXmlName(element);
    for (const QByteArray& name : lists.names)
        namesUsable = namesUsable && isXmlName(name);
    if (!r.check(namesUsable))
        return;

    for (const pugi::xpath_node& match : matches) {
        pugi::xml_node added = match.node().append_child(element.constData());
        if (!added)
            continue;
        for (size_t i = 0; i < lists.names.size(); ++i)
            added.append_attribute(lists.names[i].constData())
                .set_value(lists.values[i].constData());
    }
    r.store(p, QStringLiteral("modifyAddProfile success"));
}

void ProfileCommands::modifyReplaceProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::modifyReplaceProfile, a, cb))
        return;
    Request r(*this, a, cb, kReplaceFailed);
    Profile src, des;
    pugi::xml_node s, d;
    if (!r.has({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}) ||
        !r.openPair(&src, &des, &s, &d))
        return;
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
    r.store(des, kReplaceSuccess);
}

void ProfileCommands::modifyReplaceSubNode(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::modifyReplaceSubNode, a, cb))
        return;
    Request r(*this, a, cb, kReplaceFailed);
    Profile src, des;
    pugi::xml_node s, d;
    if (!r.has({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}) ||
        !r.openPair(&src, &des, &s, &d))
        return;
    replaceChildren(d, s);
    r.store(des, kReplaceSuccess);
}

void ProfileCommands::modifyReplaceProfileEx(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::modifyReplaceProfileEx, a, cb))
        return;
    Request r(*this, a, cb, kReplaceFailed);
    Profile des;
    if (!r.has({"srcFilePath", "desFilePath", "srcXpath", "desXpath"}) ||
        !r.load("desFilePath", &des) || !r.parse(&des))
        return;
    // The package path comes from a file dialog and is used as it is.
    const auto packaged = pfdfile::read(r.str("srcFilePath"));
    pugi::xml_document package;
    pugi::xml_node d;
    if (!r.check(packaged && parse(package, asUtf8Text(*packaged))) ||
        !r.selectFirst("desXpath", des, &d))
        return;
    // The package's root element gives its children.
    replaceChildren(d, package.first_child());
    r.store(des, kReplaceSuccess);
}

void ProfileCommands::resetProfile(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::resetProfile, a, cb))
        return;
    Request r(*this, a, cb, QString());
    Profile src, des;
    if (!r.has({"srcFilePath", "desFilePath"}) || !r.load("srcFilePath", &src) ||
        !r.load("desFilePath", &des))
        return;
    // The text is taken as it is, but never one that does not parse: the next save would write
    // it over the destination and break that file for good. This command has no failure
    // answer, so it ends without one, as for a source that cannot be opened. A kept document
    // shows that the text parses.
    pugi::xml_document check;
    if (!m_cache.document(src.path).doc && !parse(check, src.text))
        return;
    m_cache.store(des.path, src.text);
    r.succeed(QStringLiteral("resetProfile success"));
}

void ProfileCommands::queryHexByte(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::queryHexByte, a, cb))
        return;
    Request r(*this, a, cb, kModifyFailed);
    Profile p;
    pugi::xml_node node;
    if (!r.has({"filePath", "xpath", "args"}) || !r.openFirst("filePath", &p, &node))
        return;
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
    r.succeed(code);
}

void ProfileCommands::savexml(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::savexml, a, cb))
        return;
    // Nothing cached, or a file that could not be written: no answer.
    if (m_cache.writePending() == ProfileCache::WriteResult::Written)
        answerSuccess(cb, QStringLiteral("save xml success"));
}

void ProfileCommands::saveXmlAs(const QVariantMap& a, const RouterCallback& cb) {
    if (handOver(&ProfileCommands::saveXmlAs, a, cb))
        return;
    Request r(*this, a, cb, kSaveAsFailed);
    Profile p;
    pugi::xml_node node;
    if (!r.has({"srcFilePath", "desFilePath", "xpath"}) || !r.openFirst("srcFilePath", &p, &node))
        return;
    pugi::xml_document exported;
    if (node)
        exported.append_copy(node);
    const auto xml = serialise(exported);
    if (!r.check(xml.has_value()))
        return;
    // The package path comes from a file dialog and is used as it is, if it is one.
    const QString target = r.str("desFilePath");
    if (!isPackagePath(target) || !pfdfile::write(target, *xml)) {
        r.fail(kSaveAsDestFailed);
        return;
    }
    r.succeed(QStringLiteral("saveXmlAs success"));
}
