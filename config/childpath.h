#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

// Lookup tables that spare ChildPath the scan of an element with many children: for an element,
// its children of one name by the value of one of their attributes. An index belongs to one
// document and stays right while the document's nodes, names and indexed attribute values stay
// as they are: whoever sets attribute values forgets that attribute first, and a document edited
// in any other way needs a new index.
class ChildIndex {
public:
    // Drops the tables over `attribute`.
    void forget(const char* attribute);

private:
    friend class ChildPath;

    // Elements with fewer children are scanned; so is an element the first time: most
    // queries on a document are single ones, and only a repeated one is worth a table.
    static constexpr size_t kMinChildren = 64;
    // Paths that pass through many elements would otherwise leave a table in each.
    static constexpr size_t kMaxTables = 256;

    struct Key {
        const void* parent;
        std::string name;
        std::string attribute;
        bool operator<(const Key& o) const {
            return std::tie(parent, name, attribute) < std::tie(o.parent, o.name, o.attribute);
        }
    };
    struct Table {
        bool built = false;
        bool used = false; // whether the element has children enough to pay for the table
        // (hash of the value, child), ordered by hash and, within one hash, in document order.
        std::vector<std::pair<size_t, pugi::xml_node>> entries;
    };

    // The table of `parent`'s children named `name` by `attribute`; none on first sight or where
    // a table does not pay.
    const Table* table(const pugi::xml_node& parent, const std::string& name,
                       const std::string& attribute);

    std::map<Key, Table> m_tables;
};

// The shape nearly every page expression has: an absolute path of element names, each step
// optionally filtered by attributes, such as /root/keys/key[@id='7'] or /conf/device[@name]. For
// these it gives what the XML library's XPath gives, in document order, but walks the tree
// directly: the general evaluator builds a node set and a string per candidate, which on a
// profile of a hundred thousand keys costs more than a tenth of parsing the profile.
//
// Only that exact spelling is taken (ASCII names, no blanks, no prefixes, no positions); any
// other expression is left to the library.
class ChildPath {
public:
    // The path of `expression`, read as the library reads it (up to its first NUL); none when
    // the expression has another shape.
    static std::optional<ChildPath> parse(const char* expression);

    // Every match under the document of `node`, in document order. With `index` (the
    // document's own) large elements are looked up rather than scanned.
    void all(const pugi::xml_node& node, std::vector<pugi::xml_node>* out,
             ChildIndex* index = nullptr) const;
    // The first match in document order; a null node when nothing matches.
    pugi::xml_node first(const pugi::xml_node& node, ChildIndex* index = nullptr) const;

private:
    struct Test {
        std::string attribute;
        std::optional<std::string> value; // none: the attribute need only be there
    };
    struct Step {
        std::string name;
        std::vector<Test> tests;
    };

    bool matches(const pugi::xml_node& element, const Step& step) const;
    // Collects the matches of the steps from `index` on below `context`; stops at the first
    // when `one`. Returns whether it stopped.
    bool walk(const pugi::xml_node& context, size_t step, bool one, ChildIndex* index,
              std::vector<pugi::xml_node>* out) const;
    bool take(const pugi::xml_node& child, size_t step, bool one, ChildIndex* index,
              std::vector<pugi::xml_node>* out) const;

    std::vector<Step> m_steps;
};
