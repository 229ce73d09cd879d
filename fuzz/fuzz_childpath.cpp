// The direct path walk against the XML library's XPath. The input's first line is the
// expression, the rest the document. Wherever the walk takes an expression, it must find what
// the library finds, in the same order, with and without lookup tables.
#include "fuzzsupport.h"

#include "config/childpath.h"

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t end = input.find('\n');
    if (end == std::string::npos)
        return 0;
    const std::string expression = input.substr(0, end);
    const auto path = ChildPath::parse(expression.c_str());
    pugi::xml_document doc;
    if (!path || !doc.load_buffer(input.data() + end + 1, input.size() - end - 1))
        return 0;

    pugi::xpath_node_set expected;
    try {
        expected = doc.select_nodes(expression.c_str());
    } catch (const pugi::xpath_exception&) {
        fuzzsupport::broken("the walk took an expression the library refuses",
                            QString::fromStdString(expression));
    }
    expected.sort();
    std::vector<pugi::xml_node> want;
    for (const pugi::xpath_node& n : expected)
        want.push_back(n.node());

    ChildIndex index;
    // Twice with the index: the first sight scans, the second builds and uses the tables.
    for (ChildIndex* with : {static_cast<ChildIndex*>(nullptr), &index, &index}) {
        std::vector<pugi::xml_node> got;
        path->all(doc, &got, with);
        if (got != want)
            fuzzsupport::broken("the walk found other nodes", QString::fromStdString(expression));
        if (path->first(doc, with) != (want.empty() ? pugi::xml_node() : want.front()))
            fuzzsupport::broken("the walk found another first node");
    }
    return 0;
}
