#pragma once

// An XPath expression from the page, and the node matches an edit may touch.

#include "childpath.h"
#include "platform/result.h"

#include <pugixml.hpp>

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// An expression that does not compile, or that gives a number, text or truth value instead of
// nodes, is not usable: every lookup with it fails. The usual plain paths are walked directly
// (ChildPath), with the library's answers.
class PageQuery {
public:
    explicit PageQuery(const QString& expression);

    bool usable() const { return m_path || m_query; }

    // All matches, in document order. `index` (the document's own) may be null.
    platform::ResultOf<pugi::xpath_node_set> all(const pugi::xml_node& root,
                                                 ChildIndex* index) const;

    // The first match in document order; a null node when nothing matches or the match is an
    // attribute.
    platform::ResultOf<pugi::xml_node> first(const pugi::xml_node& root, ChildIndex* index) const;

private:
    std::optional<ChildPath> m_path;
    std::unique_ptr<pugi::xpath_query> m_query;
};

// The node matches (attributes are no element) that do not lie inside another of them. Emptying
// or removing an outer match takes the inner ones along, so they must not be touched afterwards.
// With `documentHolds` false a matched document node does not count as outer: it cannot be
// removed, so what lies in it stays to be handled.
std::vector<pugi::xml_node> outermost(const pugi::xpath_node_set& set, bool documentHolds);
