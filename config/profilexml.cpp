#include "profilexml.h"

#include <QString>
#include <QVector>

namespace profilexml {

namespace {

const char kTooLarge[] = "the text would pass 64 MiB";

// Collects the XML library's output; stops it once the text would pass kMaxText.
class ByteSink : public pugi::xml_writer {
public:
    struct TooLarge {};

    void write(const void* data, size_t size) override {
        if (overflow || size > size_t(kMaxText - bytes.size())) {
            overflow = true;
#ifndef PUGIXML_NO_EXCEPTIONS
            // The library has no other way to stop a writer.
            throw TooLarge{};
#endif
            return;
        }
        bytes.append(static_cast<const char*>(data), int(size));
    }

    QByteArray bytes;
    bool overflow = false;
};

// Runs `print` into a sink; its text, or a failure once the text grew past kMaxText.
template <class F> platform::ResultOf<QByteArray> capped(int sizeHint, F&& print) {
    ByteSink sink;
    sink.bytes.reserve(sizeHint);
#ifdef PUGIXML_NO_EXCEPTIONS
    print(sink);
#else
    try {
        print(sink);
    } catch (const ByteSink::TooLarge&) {
    }
#endif
    if (sink.overflow)
        return platform::ResultOf<QByteArray>::failure(0, kTooLarge);
    return platform::ResultOf<QByteArray>::success(std::move(sink.bytes));
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

} // namespace

platform::Result parse(pugi::xml_document& doc, const QByteArray& text, bool fragment) {
    const pugi::xml_parse_result result = doc.load_buffer(text.constData(), size_t(text.size()),
                                                          pugi::parse_default, pugi::encoding_utf8);
    if (!fragment && result.status != pugi::status_ok)
        return platform::Result::failure(0, result.description());
    if (!shallow(doc))
        return platform::Result::failure(0, "nested deeper than 1024 levels");
    return platform::Result::success();
}

platform::ResultOf<QByteArray> serialise(const pugi::xml_document& doc, int sizeHint) {
    return capped(sizeHint, [&](ByteSink& sink) {
        doc.save(sink, "\t", pugi::format_default, pugi::encoding_utf8);
    });
}

platform::ResultOf<QByteArray> printNodes(const pugi::xpath_node_set& matches) {
    return capped(0, [&](ByteSink& sink) {
        for (const pugi::xpath_node& match : matches) {
            if (match.node())
                match.node().print(sink, "\t", pugi::format_default, pugi::encoding_utf8);
        }
    });
}

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

bool canHold(const QString& text) {
    for (const QChar ch : text) {
        const ushort c = ch.unicode();
        if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF)
            return false;
    }
    return true;
}

bool canHold(const pugi::xml_node& node) {
    struct Walker : pugi::xml_tree_walker {
        bool ok = true;
        bool for_each(pugi::xml_node& n) override {
            ok = canHold(QString::fromUtf8(n.name())) && canHold(QString::fromUtf8(n.value()));
            for (const pugi::xml_attribute& a : n.attributes())
                ok = ok && canHold(QString::fromUtf8(a.name())) &&
                     canHold(QString::fromUtf8(a.value()));
            return ok;
        }
    } walker;
    const_cast<pugi::xml_node&>(node).traverse(walker);
    return walker.ok;
}

QByteArray asUtf8Text(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).toUtf8();
}

} // namespace profilexml
