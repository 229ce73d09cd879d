#pragma once

// Profile texts as the profile commands read and write them: parsing and saving within the
// limits that keep a hostile document from exhausting memory or the stack, and the checks that
// what is stored parses again.

#include "platform/result.h"

#include <pugixml.hpp>

#include <QByteArray>

#include <exception>
#include <utility>

namespace profilexml {

// Far above any real profile (a package holds at most 64 MiB). With one tab per level of
// indentation the text of a deeply nested document grows with the square of its depth, so a
// request of a megabyte could otherwise ask for gigabytes.
constexpr int kMaxText = 64 * 1024 * 1024;

// Real profiles nest a handful of levels. Deeper documents are refused wherever they come from
// (file, fragment, package): the XML library frees a removed subtree recursively, and a tree of a
// few hundred thousand levels overflows even an 8 MiB stack (Windows gives a thread 1 MiB).
constexpr int kMaxDepth = 1024;

// Parses `text`; fails for a text that is no XML or nests deeper than kMaxDepth. A fragment
// (`fragment` true) is taken for whatever the library kept of it, malformed or not.
platform::Result parse(pugi::xml_document& doc, const QByteArray& text, bool fragment = false);

// The document in the default save format; fails when the text would pass kMaxText.
platform::ResultOf<QByteArray> serialise(const pugi::xml_document& doc, int sizeHint = 0);

// The nodes of `matches` printed one after another in the default format (attributes are left
// out); fails when the text would pass kMaxText.
platform::ResultOf<QByteArray> printNodes(const pugi::xpath_node_set& matches);

// Runs a call into the XML library that may throw (a malformed XPath expression, memory
// exhaustion while evaluating one) and tells whether it came through.
template <class F> platform::Result guarded(F&& f) {
#ifdef PUGIXML_NO_EXCEPTIONS
    std::forward<F>(f)();
    return platform::Result::success();
#else
    try {
        std::forward<F>(f)();
        return platform::Result::success();
    } catch (const std::exception& e) {
        return platform::Result::failure(0, e.what());
    }
#endif
}

// Whether the UTF-8 bytes that will be stored are an XML name, so that what is written with it
// parses again. The check is made on the converted bytes: the conversion replaces what UTF-8
// cannot hold (a lone surrogate becomes "?"), and the stored text is what must parse.
bool isXmlName(const QByteArray& utf8);

// Whether XML 1.0 can hold `text` as a value or a name: no U+0000 (the library would cut the
// text there), no control character but tab, line feed and carriage return (the library would
// write a character reference that other readers refuse), no U+FFFE or U+FFFF. (A lone surrogate
// half is stored as "?", which any reader takes.)
bool canHold(const QString& text);
// The same for every name and value in the tree under `node` (a fragment may bring such
// characters as character references).
bool canHold(const pugi::xml_node& node);

// What a package holds as text, with bytes that are not UTF-8 replaced as a file read is.
QByteArray asUtf8Text(const QByteArray& bytes);

} // namespace profilexml
