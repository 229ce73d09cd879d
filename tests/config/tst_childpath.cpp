#include "config/childpath.h"

#include <QtTest>

#include <pugixml.hpp>

namespace {

const char* const kDoc = "<?xml version=\"1.0\"?>\n<!-- c --><?pi x?>\n"
                         "<root xmlns=\"urn:x\" id=\"r\">\n"
                         " <keys>\n"
                         "  <key id=\"1\" name=\"A\" name=\"B\"/>\n"
                         "  <key id=\"2\" name=\"\"><key id=\"1\"/></key>text\n"
                         "  <key id=\"7\" q='say \"hi\"' v=\"&#x4E2D;\"/>\n"
                         "  <!-- key --><key-2.x id=\"1\"/>\n"
                         " </keys>\n"
                         " <keys><key id=\"1\" xmlns=\"urn:y\"/></keys>\n"
                         "</root>\n";

// Where a node lies, for messages and comparison.
QStringList paths(const std::vector<pugi::xml_node>& nodes) {
    QStringList out;
    for (const pugi::xml_node& n : nodes)
        out << QString::fromUtf8(n.path().c_str()) + "#" + QString::number(n.offset_debug());
    return out;
}

} // namespace

class TestChildPath : public QObject {
    Q_OBJECT

private slots:
    void answersAsXPath_data() {
        QTest::addColumn<QByteArray>("expression");
        QTest::addColumn<bool>("walked"); // taken by the direct walk rather than the library
        const std::pair<const char*, bool> rows[] = {
            {"/root", true},
            {"/root/keys/key", true},
            {"/root/keys/key[@id='1']", true},
            {"/root/keys/key[@id=\"1\"]", true},
            {"/root/keys/key/key[@id='1']", true},
            {"/root/keys/key[@name='B']", true},
            {"/root/keys/key[@name='']", true},
            {"/root/keys/key[@name]", true},
            {"/root/keys/key[@q='say \"hi\"']", true},
            {"/root/keys/key[@v='\xE4\xB8\xAD']", true},
            {"/root/keys/key[@id='1'][@name='A']", true},
            {"/root/keys/key[@id='2'][@name='A']", true},
            {"/root/keys/key-2.x", true},
            {"/root/keys/missing", true},
            {"/root[@id='r']/keys/key[@id='7']", true},
            {"/root/keys/key[@ID='1']", true},
            {"/keys", true},
            // Left to the library: other shapes, and namespace declarations, which XPath does
            // not count as attributes.
            {"/root/keys/key[@xmlns]", false},
            {"/root/keys/key[@xmlns='urn:y']", false},
            {"//key[@id='1']", false},
            {"/root/keys/key[1]", false},
            {"/root/keys/key[ @id='1']", false},
            {"/root/keys/*", false},
            {"/root/keys/key/@id", false},
            {"/root/keys/text()", false},
            {"/root/keys/key[@id='1' or @id='2']", false},
            {"root/keys", false},
            {"/", false},
            {"/root/", false},
            {"/root/keys/key[@id='1", false},
            {"/root/keys/key[@id=1]", false},
            {"/x:root", false},
        };
        for (const auto& [expression, walked] : rows)
            QTest::newRow(expression) << QByteArray(expression) << walked;
    }

    void answersAsXPath() {
        QFETCH(QByteArray, expression);
        QFETCH(bool, walked);
        pugi::xml_document doc;
        QVERIFY(doc.load_string(kDoc));
        const std::optional<ChildPath> path = ChildPath::parse(expression.constData());
        QCOMPARE(path.has_value(), walked);
        if (!path)
            return;
        pugi::xpath_node_set expected = doc.select_nodes(expression.constData());
        expected.sort();
        std::vector<pugi::xml_node> want;
        for (const pugi::xpath_node& n : expected)
            want.push_back(n.node());
        std::vector<pugi::xml_node> got;
        // From any node of the document: the path is absolute.
        path->all(doc.child("root").child("keys"), &got);
        QCOMPARE(paths(got), paths(want));
        QCOMPARE(path->first(doc), want.empty() ? pugi::xml_node() : want.front());
    }

    void readsUpToTheFirstNul() {
        // The library takes the expression as a C string, so a NUL ends it there.
        const char expression[] = "/root\0/keys";
        const auto path = ChildPath::parse(expression);
        QVERIFY(path);
        pugi::xml_document doc;
        QVERIFY(doc.load_string(kDoc));
        QCOMPARE(path->first(doc), doc.child("root"));
    }
};

QTEST_GUILESS_MAIN(TestChildPath)
#include "tst_childpath.moc"
