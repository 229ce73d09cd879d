// Profile package files (".pfd") as the page imports them with modifyReplaceProfileEx. The input
// is the file. What one import accepts must be stored as a text that parses again, and must
// export and import again.
#include "fuzzsupport.h"

#include "bridge/routercallback.h"
#include "config/profilecache.h"
#include "config/profilecommands.h"

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

fuzzsupport::Scratch* scratch = nullptr;

const QByteArray kProfile = "<?xml version=\"1.0\"?>\n<root>\n\t<keys>\n\t\t<key id=\"1\" "
                            "code=\"0x02,%,0x00,%\"/>\n\t</keys>\n\t<macros/>\n</root>\n";

// Remembers whether the one answer was a success.
class Answer : public CefMessageRouterBrowserSide::Callback {
public:
    void Success(const QString&) override { ++count, success = true; }
    void Failure(int code, const QString&) override {
        ++count;
        if (code != 0)
            fuzzsupport::broken("a failure with a code other than 0");
    }
    int count = 0;
    bool success = false;
};

bool run(ProfileCommands& commands,
         void (ProfileCommands::*command)(const QVariantMap&, const RouterCallback&),
         const QVariantMap& args) {
    auto answer = std::make_shared<Answer>();
    (commands.*command)(args, answer);
    if (answer->count > 1)
        fuzzsupport::broken("answered twice");
    return answer->success;
}

bool parses(const QByteArray& text) {
    pugi::xml_document doc;
    return doc.load_buffer(text.constData(), size_t(text.size())).status == pugi::status_ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    scratch = new fuzzsupport::Scratch;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scratch->reset();
    const QString folder = scratch->folder();
    fuzzsupport::Scratch::writeFile(folder + QStringLiteral("/p.xml"), kProfile);
    const QString in = folder + QStringLiteral("/in.pfd");
    fuzzsupport::Scratch::writeFile(
        in, QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size)));

    ProfileCache cache;
    ProfileCommands commands(cache, folder);
    const QVariantMap import{{"srcFilePath", in},
                             {"desFilePath", "p.xml"},
                             {"srcXpath", "/"},
                             {"desXpath", "/root/macros"}};
    if (run(commands, &ProfileCommands::modifyReplaceProfileEx, import)) {
        const QString path = commands.resolve(QStringLiteral("p.xml"));
        if (!parses(cache.text(path)))
            fuzzsupport::broken("an import stored a text that does not parse");
        const QString out = folder + QStringLiteral("/out.pfd");
        const QVariantMap exportArgs{
            {"srcFilePath", "p.xml"}, {"desFilePath", out}, {"xpath", "/root/macros"}};
        if (!run(commands, &ProfileCommands::saveXmlAs, exportArgs))
            fuzzsupport::broken("what was imported cannot be exported");
        QVariantMap again = import;
        again.insert(QStringLiteral("srcFilePath"), out);
        if (!run(commands, &ProfileCommands::modifyReplaceProfileEx, again))
            fuzzsupport::broken("what was exported cannot be imported again");
    }
    scratch->checkOutside();
    return 0;
}
