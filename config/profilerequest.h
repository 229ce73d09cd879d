#pragma once

// One profile command's arguments and the steps the profile commands are made of. Every step
// returns a Result; a failed one ends the command, and its code tells the command's answer
// (made by ProfileCommands alone): none for a missing argument or a file that cannot be
// opened, the command's load failure text for a text that is no XML or an XPath expression that
// cannot be used.

#include "platform/result.h"

#include <pugixml.hpp>

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

class ChildIndex;
class ConfigStore;
class ProfileCache;
class ProfileCommands;

// How a command that ended early answers: the code of the failed step.
namespace profileend {
constexpr uint32_t kUnanswered = 1;    // no answer
constexpr uint32_t kLoadFailure = 2;   // the command's load failure text
constexpr uint32_t kCountMismatch = 3; // "attribute" and "attributeValue" differ in length
constexpr uint32_t kDestination = 4;   // saveXmlAs cannot write its package there

// `result`, its failure turned into a load failure.
platform::Result asLoadFailure(const platform::Result& result);
} // namespace profileend

// A profile as one command uses it: its cache key, the text it was loaded with and the document
// parsed from that text, usually the one the cache keeps (an edit changes that one in place).
struct Profile {
    QString path;
    QByteArray text;
    std::shared_ptr<pugi::xml_document> doc;
    bool settled = false; // as ProfileCache::Document::settled
    // The kept document's lookup tables; none for a command's own document.
    std::shared_ptr<ChildIndex> index;
    // conf.xml's owner when the profile is conf.xml: the text is the store's, the document the
    // command's own, and an edit is committed through the store.
    ConfigStore* conf = nullptr;
};

// The items of "attribute" and "attributeValue", pairwise.
struct AttributeLists {
    std::vector<QByteArray> names;
    std::vector<QByteArray> values;
};

class ProfileRequest {
public:
    ProfileRequest(ProfileCache& cache, const ProfileCommands& commands, const QVariantMap& args)
        : m_cache(cache), m_commands(commands), m_args(args) {}

    ProfileCache& cache() { return m_cache; }
    QString str(const char* key) const;

    // All required arguments are present.
    platform::Result has(std::initializer_list<const char*> keys) const;

    // Loads the page-relative path given as argument `key`.
    platform::Result load(const char* key, Profile* p);

    // The cache's document of the profile, parsed and kept if there is none yet. With `own` a
    // document of the command's own, neither taken from the cache nor kept there.
    platform::Result parse(Profile* p, bool own = false);

    platform::Result selectAll(const char* xpathKey, const Profile& p,
                               pugi::xpath_node_set* matches);
    platform::Result selectFirst(const char* xpathKey, const Profile& p, pugi::xml_node* match);

    // The head of the commands on one file: load and parse the file, then select by "xpath".
    platform::Result openAll(const char* fileKey, Profile* p, pugi::xpath_node_set* matches);
    platform::Result openFirst(const char* fileKey, Profile* p, pugi::xml_node* match);

    // The head of the commands from one file into another: the four arguments present, load the
    // source, then the destination, parse both, then take the first match of "srcXpath" and of
    // "desXpath". A source that is the destination is parsed apart: the edit of the destination
    // may remove what is copied.
    platform::Result openPair(Profile* src, Profile* des, pugi::xml_node* s, pugi::xml_node* d);

    // The head of the commands that write attributes: the four arguments present, the file
    // opened and selected by "xpath", then "attribute" and "attributeValue" split into lists of
    // equal length.
    platform::Result openAttributeEdit(Profile* p, pugi::xpath_node_set* matches,
                                       AttributeLists* lists);

    // The edited document becomes the file's cached text. A text that would not parse again
    // would be written over the file by the next save and break it for good (an edit that left
    // no element, a name the conversion made unusable, nesting past the limit), and one past the
    // size limit cannot be held: each is refused as a load failure and nothing changes (the
    // edited document is dropped from the cache). `valuesOnly` tells that the edit only set
    // values of attributes the elements had.
    platform::Result store(const Profile& p, bool valuesOnly = false);
    // `text`, which parses, becomes the profile's text as it stands.
    void replaceText(const Profile& p, const QByteArray& text);

private:
    platform::Result storeText(const Profile& p, bool valuesOnly);

    ProfileCache& m_cache;
    const ProfileCommands& m_commands;
    const QVariantMap& m_args;
};
