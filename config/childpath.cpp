#include "childpath.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

namespace {

bool isNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool isNameChar(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Reads an ASCII name at `*p` and moves past it; empty when none starts there.
std::string readName(const char*& p) {
    const char* start = p;
    if (!isNameStart(*p))
        return {};
    while (isNameChar(*p))
        ++p;
    return std::string(start, size_t(p - start));
}

size_t hashOf(const char* value) {
    return std::hash<std::string_view>()(value);
}

} // namespace

std::optional<ChildPath> ChildPath::parse(const char* expression) {
    ChildPath path;
    const char* p = expression;
    if (*p != '/')
        return std::nullopt;
    while (*p == '/') {
        ++p;
        Step step;
        step.name = readName(p);
        if (step.name.empty())
            return std::nullopt;
        while (*p == '[') {
            ++p;
            if (*p++ != '@')
                return std::nullopt;
            Test test;
            test.attribute = readName(p);
            // XPath does not see namespace declarations as attributes.
            if (test.attribute.empty() || test.attribute == "xmlns")
                return std::nullopt;
            if (*p == '=') {
                const char quote = *++p;
                if (quote != '\'' && quote != '"')
                    return std::nullopt;
                const char* end = std::strchr(++p, quote);
                if (!end)
                    return std::nullopt;
                test.value = std::string(p, size_t(end - p));
                p = end + 1;
            }
            if (*p++ != ']')
                return std::nullopt;
            step.tests.push_back(std::move(test));
        }
        path.m_steps.push_back(std::move(step));
    }
    if (*p != '\0')
        return std::nullopt;
    return path;
}

bool ChildPath::matches(const pugi::xml_node& element, const Step& step) const {
    if (element.type() != pugi::node_element || std::strcmp(element.name(), step.name.c_str()))
        return false;
    for (const Test& test : step.tests) {
        // The first attribute of the name decides, should an element carry it twice; so does
        // the library.
        const pugi::xml_attribute a = element.attribute(test.attribute.c_str());
        if (!a || (test.value && std::strcmp(a.value(), test.value->c_str())))
            return false;
    }
    return true;
}

bool ChildPath::take(const pugi::xml_node& child, size_t step, bool one, ChildIndex* index,
                     std::vector<pugi::xml_node>* out) const {
    if (step + 1 < m_steps.size())
        return walk(child, step + 1, one, index, out);
    out->push_back(child);
    return one;
}

bool ChildPath::walk(const pugi::xml_node& context, size_t step, bool one, ChildIndex* index,
                     std::vector<pugi::xml_node>* out) const {
    const Step& s = m_steps[step];
    const auto valued =
        std::find_if(s.tests.begin(), s.tests.end(), [](const Test& t) { return t.value; });
    const ChildIndex::Table* table = index && valued != s.tests.end()
                                         ? index->table(context, s.name, valued->attribute)
                                         : nullptr;
    if (table) {
        // The children with the value's hash, in document order; the full test weeds out
        // those of another value with the same hash.
        const size_t hash = hashOf(valued->value->c_str());
        auto it = std::lower_bound(table->entries.begin(), table->entries.end(), hash,
                                   [](const auto& e, size_t h) { return e.first < h; });
        for (; it != table->entries.end() && it->first == hash; ++it) {
            if (matches(it->second, s) && take(it->second, step, one, index, out))
                return true;
        }
        return false;
    }
    for (pugi::xml_node child = context.first_child(); child; child = child.next_sibling()) {
        if (matches(child, s) && take(child, step, one, index, out))
            return true;
    }
    return false;
}

void ChildPath::all(const pugi::xml_node& node, std::vector<pugi::xml_node>* out,
                    ChildIndex* index) const {
    out->clear();
    walk(node.root(), 0, false, index, out);
}

pugi::xml_node ChildPath::first(const pugi::xml_node& node, ChildIndex* index) const {
    std::vector<pugi::xml_node> out;
    walk(node.root(), 0, true, index, &out);
    return out.empty() ? pugi::xml_node() : out.front();
}

const ChildIndex::Table* ChildIndex::table(const pugi::xml_node& parent, const std::string& name,
                                           const std::string& attribute) {
    Key key{parent.internal_object(), name, attribute};
    const auto found = m_tables.find(key);
    if (found == m_tables.end()) {
        if (m_tables.size() < kMaxTables)
            m_tables.emplace(std::move(key), Table());
        return nullptr;
    }
    Table& table = found->second;
    if (!table.built) {
        size_t children = 0;
        for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
            ++children;
            if (child.type() != pugi::node_element || std::strcmp(child.name(), name.c_str()))
                continue;
            if (const pugi::xml_attribute a = child.attribute(attribute.c_str()))
                table.entries.emplace_back(hashOf(a.value()), child);
        }
        table.built = true;
        table.used = children >= kMinChildren;
        if (!table.used)
            table.entries = {};
        std::stable_sort(table.entries.begin(), table.entries.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    return table.used ? &table : nullptr;
}

void ChildIndex::forget(const char* attribute) {
    for (auto it = m_tables.begin(); it != m_tables.end();) {
        if (it->first.attribute == attribute)
            it = m_tables.erase(it);
        else
            ++it;
    }
}
