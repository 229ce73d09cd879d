#include "pagequery.h"

#include "profilexml.h"

#include <unordered_set>

namespace {
const char kUnusable[] = "the expression selects no nodes";
}

PageQuery::PageQuery(const QString& expression) {
    const QByteArray utf8 = expression.toUtf8();
    m_path = ChildPath::parse(utf8.constData());
    if (m_path)
        return;
    profilexml::guarded([&] {
        auto query = std::make_unique<pugi::xpath_query>(utf8.constData());
        if (*query && query->return_type() == pugi::xpath_type_node_set)
            m_query = std::move(query);
    });
}

platform::ResultOf<pugi::xpath_node_set> PageQuery::all(const pugi::xml_node& root,
                                                        ChildIndex* index) const {
    using Matches = platform::ResultOf<pugi::xpath_node_set>;
    if (m_path) {
        std::vector<pugi::xml_node> nodes;
        m_path->all(root, &nodes, index);
        const std::vector<pugi::xpath_node> matches(nodes.begin(), nodes.end());
        return Matches::success(pugi::xpath_node_set(
            matches.data(), matches.data() + matches.size(), pugi::xpath_node_set::type_sorted));
    }
    if (!m_query)
        return Matches::failure(0, kUnusable);
    pugi::xpath_node_set set;
    const platform::Result evaluated = profilexml::guarded([&] {
        set = root.select_nodes(*m_query);
        set.sort();
    });
    if (!evaluated)
        return Matches::failure(evaluated.code, evaluated.text);
    return Matches::success(std::move(set));
}

platform::ResultOf<pugi::xml_node> PageQuery::first(const pugi::xml_node& root,
                                                    ChildIndex* index) const {
    using Match = platform::ResultOf<pugi::xml_node>;
    if (m_path)
        return Match::success(m_path->first(root, index));
    if (!m_query)
        return Match::failure(0, kUnusable);
    pugi::xml_node node;
    const platform::Result evaluated =
        profilexml::guarded([&] { node = root.select_node(*m_query).node(); });
    if (!evaluated)
        return Match::failure(evaluated.code, evaluated.text);
    return Match::success(node);
}

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
