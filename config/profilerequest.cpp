#include "profilerequest.h"

#include "bridge/args.h"
#include "childpath.h"
#include "configstore.h"
#include "pagequery.h"
#include "profilecache.h"
#include "profilecommands.h"
#include "profilexml.h"

#include <QStringList>

namespace {

std::vector<QByteArray> splitList(const QString& text) {
    std::vector<QByteArray> items;
    const QStringList parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    items.reserve(size_t(parts.size()));
    for (const QString& part : parts)
        items.push_back(part.toUtf8());
    return items;
}

template <class T> platform::Result selected(platform::ResultOf<T>&& found, T* out) {
    if (!found)
        return profileend::asLoadFailure(found);
    *out = std::move(found.value);
    return platform::Result::success();
}

} // namespace

platform::Result profileend::asLoadFailure(const platform::Result& result) {
    return result ? result : platform::Result::failure(kLoadFailure, result.text);
}

QString ProfileRequest::str(const char* key) const {
    return args::str(m_args, key);
}

platform::Result ProfileRequest::has(std::initializer_list<const char*> keys) const {
    for (const char* key : keys) {
        if (!args::has(m_args, key))
            return platform::Result::failure(profileend::kUnanswered,
                                             std::string("no argument ") + key);
    }
    // The XML library reads its texts up to the first U+0000: a path, an expression or a value
    // holding one would be taken for its first part.
    for (const char* key : keys) {
        if (str(key).contains(QChar(0)))
            return platform::Result::failure(profileend::kLoadFailure,
                                             std::string("U+0000 in argument ") + key);
    }
    return platform::Result::success();
}

platform::Result ProfileRequest::load(const char* key, Profile* p) {
    p->path = m_commands.resolve(str(key));
    if (p->path.isEmpty())
        return platform::Result::failure(profileend::kUnanswered,
                                         "the path leaves the program folder");
    // conf.xml is taken into the cache as any profile the page used (savexml answers by
    // whether the cache holds anything), but never stored there: the store's text is the one
    // the command uses. A conf.xml the store could not take is used as read; an edit that
    // parses then repairs it through the store.
    p->conf = m_commands.configOwning(p->path);
    const auto text = m_cache.load(p->path);
    if (p->conf && !p->conf->confText().isEmpty()) {
        p->text = p->conf->confText().toUtf8();
        return platform::Result::success();
    }
    if (!text)
        return platform::Result::failure(profileend::kUnanswered, "the file cannot be opened");
    p->text = *text;
    return platform::Result::success();
}

platform::Result ProfileRequest::parse(Profile* p, bool own) {
    own = own || p->conf;
    if (!own) {
        const ProfileCache::Document kept = m_cache.document(p->path);
        if (kept.doc) {
            p->doc = kept.doc;
            p->settled = kept.settled;
            p->index = kept.index;
            return platform::Result::success();
        }
    }
    p->doc = std::make_shared<pugi::xml_document>();
    const platform::Result parsed = profilexml::parse(*p->doc, p->text);
    if (!parsed)
        return profileend::asLoadFailure(parsed);
    if (!own) {
        p->index = std::make_shared<ChildIndex>();
        m_cache.keepDocument(p->path, {p->doc, false, p->index});
    }
    return parsed;
}

platform::Result ProfileRequest::selectAll(const char* xpathKey, const Profile& p,
                                           pugi::xpath_node_set* matches) {
    return selected(PageQuery(str(xpathKey)).all(*p.doc, p.index.get()), matches);
}

platform::Result ProfileRequest::selectFirst(const char* xpathKey, const Profile& p,
                                             pugi::xml_node* match) {
    return selected(PageQuery(str(xpathKey)).first(*p.doc, p.index.get()), match);
}

platform::Result ProfileRequest::openAll(const char* fileKey, Profile* p,
                                         pugi::xpath_node_set* matches) {
    platform::Result r = load(fileKey, p);
    if (r)
        r = parse(p);
    if (r)
        r = selectAll("xpath", *p, matches);
    return r;
}

platform::Result ProfileRequest::openFirst(const char* fileKey, Profile* p, pugi::xml_node* match) {
    platform::Result r = load(fileKey, p);
    if (r)
        r = parse(p);
    if (r)
        r = selectFirst("xpath", *p, match);
    return r;
}

platform::Result ProfileRequest::openPair(Profile* src, Profile* des, pugi::xml_node* s,
                                          pugi::xml_node* d) {
    platform::Result r = has({"srcFilePath", "desFilePath", "srcXpath", "desXpath"});
    if (r)
        r = load("srcFilePath", src);
    if (r)
        r = load("desFilePath", des);
    if (r)
        r = parse(src, src->path == des->path);
    if (r)
        r = parse(des);
    if (r)
        r = selectFirst("srcXpath", *src, s);
    if (r)
        r = selectFirst("desXpath", *des, d);
    return r;
}

platform::Result ProfileRequest::openAttributeEdit(Profile* p, pugi::xpath_node_set* matches,
                                                   AttributeLists* lists) {
    platform::Result r = has({"filePath", "xpath", "attribute", "attributeValue"});
    if (r)
        r = openAll("filePath", p, matches);
    if (!r)
        return r;
    if (!profilexml::canHold(str("attribute")) || !profilexml::canHold(str("attributeValue")))
        return platform::Result::failure(profileend::kLoadFailure,
                                         "a character that XML cannot hold");
    lists->names = splitList(str("attribute"));
    lists->values = splitList(str("attributeValue"));
    if (lists->names.size() != lists->values.size())
        return platform::Result::failure(profileend::kCountMismatch, "the lists differ in length");
    return r;
}

platform::Result ProfileRequest::store(const Profile& p, bool valuesOnly) {
    const platform::Result stored = storeText(p, valuesOnly);
    if (!stored)
        m_cache.dropDocument(p.path);
    return profileend::asLoadFailure(stored);
}

platform::Result ProfileRequest::storeText(const Profile& p, bool valuesOnly) {
    if (!p.doc->document_element())
        return platform::Result::failure(0, "the edit left no element");
    const auto text = profilexml::serialise(*p.doc, p.text.size());
    if (!text)
        return text;
    // A settled document saves as its text, which parses to it; setting attribute values
    // changes only what lies between the quotes, which the save escapes completely (every
    // control character too), so the new text parses to the edited document and it stays
    // settled. Other edits may not: adjacent texts merge, a carriage return in a text reads
    // back as a line feed. The text is then parsed again, which also proves it parses.
    if (valuesOnly && p.settled) {
        m_cache.store(p.path, text.value, {p.doc, true, p.index});
        return text;
    }
    auto again = std::make_shared<pugi::xml_document>();
    const platform::Result parsed = profilexml::parse(*again, text.value);
    if (!parsed)
        return parsed;
    if (p.conf)
        return p.conf->commitText(QString::fromUtf8(text.value));
    bool settled = false;
    if (valuesOnly) {
        // Worth knowing only where the next edit may use it.
        const auto resaved = profilexml::serialise(*again, text.value.size());
        settled = resaved && resaved.value == text.value;
    }
    m_cache.store(p.path, text.value, {again, settled, std::make_shared<ChildIndex>()});
    return parsed;
}

void ProfileRequest::replaceText(const Profile& p, const QByteArray& text) {
    if (p.conf)
        p.conf->commitText(QString::fromUtf8(text));
    else
        m_cache.store(p.path, text);
}
