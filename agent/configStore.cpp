// SPDX-License-Identifier: BSD-3-Clause
// Reading and rewriting the XML configuration file with libxml2.
#include "configStore.h"

#include "groups/groups.h"
#include "lib/atomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/entities.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

std::string configFilePath = "/etc/snmp/vlmSNMPsubagent.xml";

namespace {

struct DocFree {
    void operator()(xmlDoc *doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

struct XmlCharFree {
    void operator()(xmlChar *p) const { xmlFree(p); }
};
using XmlText = std::unique_ptr<xmlChar, XmlCharFree>;

struct ParserFree {
    void operator()(xmlParserCtxt *ctxt) const { xmlFreeParserCtxt(ctxt); }
};

// Blank text nodes are kept: a value made only of blanks must come back as it
// was written, and the saved file keeps the layout it was installed with.
// When the text is not well-formed, `where` (if given) gets the file, the line
// and libxml2's words for what is wrong: "FILE:LINE: MESSAGE".
DocPtr readDoc(const char *buf, int len, std::string *where = nullptr)
{
    auto fail = [where](int line, std::string what) {
        if (where) {
            while (!what.empty() && (what.back() == '\n' || what.back() == ' '))
                what.pop_back();
            *where = configFilePath + ":" + std::to_string(line) + ": " + what;
        }
        return nullptr;
    };
    if (!buf || len <= 0)
        return fail(1, "the file is empty");
    std::unique_ptr<xmlParserCtxt, ParserFree> ctxt(xmlNewParserCtxt());
    if (!ctxt)
        return fail(0, "out of memory");
    // The first error says where the text goes wrong; later ones follow from
    // it (a tag left open is reported again at the end of the file).
    struct FirstError {
        int line = 0;
        std::string message;
    } first;
    ctxt->_private = &first;
    ctxt->sax->serror = [](void *userData, xmlErrorPtr e) {
        auto *f = static_cast<FirstError *>(static_cast<xmlParserCtxt *>(userData)->_private);
        if (f->message.empty() && e && e->message) {
            f->line = e->line;
            f->message = e->message;
        }
    };
    DocPtr doc(xmlCtxtReadMemory(ctxt.get(), buf, len, nullptr, nullptr,
                                 XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR));
    if (!doc)
        return fail(first.line, first.message.empty() ? "not well-formed XML" : first.message);
    return doc;
}

bool named(const xmlNode *node, const char *name)
{
    return node->type == XML_ELEMENT_NODE &&
           xmlStrcasecmp(node->name, reinterpret_cast<const xmlChar *>(name)) == 0;
}

std::string attribute(xmlNode *node, const char *name, bool &present)
{
    XmlText value(xmlGetProp(node, reinterpret_cast<const xmlChar *>(name)));
    present = value != nullptr;
    return present ? reinterpret_cast<const char *>(value.get()) : std::string();
}

std::string content(xmlNode *node)
{
    XmlText text(xmlNodeGetContent(node));
    return text ? reinterpret_cast<const char *>(text.get()) : std::string();
}

// Calls visit(child) for every child of every `details` of every `type` under
// the root, in document order, until visit returns false.
template <typename Visit>
void walkDetails(xmlDoc *doc, Visit visit)
{
    xmlNode *root = xmlDocGetRootElement(doc);
    if (!root)
        return;
    for (xmlNode *type = root->children; type; type = type->next) {
        if (!named(type, "type"))
            continue;
        for (xmlNode *details = type->children; details; details = details->next) {
            if (!named(details, "details"))
                continue;
            for (xmlNode *child = details->children; child; child = child->next)
                if (!visit(child))
                    return;
        }
    }
}

ConfigWrite writeEdits(const std::vector<ConfigEdit> &edits, const char *openError)
{
    std::string text;
    ConfigWrite r = readConfigFile(text, openError);
    if (r != ConfigWrite::Saved)
        return r;
    std::string updated = applyConfigEdits(text.data(), static_cast<int>(text.size()), edits, r);
    if (r == ConfigWrite::NotWellFormed)
        return r;
    // A symbolic link stays; the file it names is replaced.
    if (!replaceFileAtomically(configFilePath, updated)) {
        perror("cannot write the configuration file");
        return ConfigWrite::SaveFailed;
    }
    return r;
}

} // namespace

ConfigWrite readConfigFile(std::string &text, const char *openError)
{
    FILE *f = fopen(configFilePath.c_str(), "r");
    if (!f) {
        fprintf(stderr, "%s: %s: %s\n", openError, configFilePath.c_str(), strerror(errno));
        return ConfigWrite::OpenFailed;
    }
    char chunk[4096];
    size_t n;
    text.clear();
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    const int failed = ferror(f) ? errno : 0;
    fclose(f);
    if (failed || text.empty()) {
        fprintf(stderr, "read file error: %s: %s\n", configFilePath.c_str(),
                failed ? strerror(failed) : "the file is empty");
        return ConfigWrite::ReadFailed;
    }
    return ConfigWrite::Saved;
}

long configNumber(const std::string &text)
{
    long v = strtol(text.c_str(), nullptr, 10);
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return v;
}

bool ConfigStore::read(const char *buf, int len, std::string *where)
{
    DocPtr doc = readDoc(buf, len, where);
    if (!doc)
        return false;
    groups_.clear();
    walkDetails(doc.get(), [this](xmlNode *child) {
        bool present;
        if (named(child, "subtype")) {
            groups_.push_back({attribute(child, "id", present), {}});
        } else if (named(child, "detail")) {
            std::string key = attribute(child, "name", present);
            if (present) {
                if (groups_.empty())
                    groups_.push_back({});
                groups_.back().details.emplace_back(std::move(key), content(child));
            }
        }
        return true;
    });
    return true;
}

const std::string *ConfigStore::last(std::string_view key) const
{
    for (auto g = groups_.rbegin(); g != groups_.rend(); ++g)
        for (auto d = g->details.rbegin(); d != g->details.rend(); ++d)
            if (d->first == key)
                return &d->second;
    return nullptr;
}

long ConfigStore::number(std::string_view key) const
{
    const std::string *text = last(key);
    return text ? configNumber(*text) : 0;
}

namespace {

// The blanks that lead up to `node` in the file's layout, from the last line
// break on ("\n      "), so that an element put beside it lines up.
std::string indentBefore(xmlNode *node)
{
    std::string blanks;
    if (node && node->prev && node->prev->type == XML_TEXT_NODE) {
        blanks = content(node->prev);
        if (blanks.find_first_not_of(" \t\r\n") != std::string::npos)
            blanks.clear();
    }
    const size_t lineBreak = blanks.rfind('\n');
    return lineBreak == std::string::npos ? std::string("\n") : blanks.substr(lineBreak);
}

// Puts `element`, preceded by a line break and `indent`, right after `anchor`.
void insertAfter(xmlNode *anchor, xmlNode *element, const std::string &indent)
{
    xmlNode *blank = xmlNewText(reinterpret_cast<const xmlChar *>(indent.c_str()));
    xmlAddNextSibling(anchor, blank);
    xmlAddNextSibling(blank, element);
}

xmlNode *newElement(const char *name, const char *attribute, const std::string &value)
{
    xmlNode *node = xmlNewNode(nullptr, reinterpret_cast<const xmlChar *>(name));
    xmlNewProp(node, reinterpret_cast<const xmlChar *>(attribute), reinterpret_cast<const xmlChar *>(value.c_str()));
    return node;
}

// The escaped value, so that "&", "<" and ">" are stored as text, not markup.
void setValue(xmlDoc *doc, xmlNode *detail, const std::string &value)
{
    XmlText escaped(xmlEncodeSpecialChars(doc, reinterpret_cast<const xmlChar *>(value.c_str())));
    xmlNodeSetContent(detail, escaped.get());
}

// Applies one edit. A group runs from its subtype element to the next
// subtype element; the key is looked for there and nowhere else, so an edit
// can never change another group's element. A key the group lacks is added
// at the group's end, a group the file lacks at the end of the last
// `details`, so that a value the agent answered for is there at the next
// start. False only for a document without any `details` element.
bool applyEdit(xmlDoc *doc, const ConfigEdit &e)
{
    enum { Before, Inside, After } where = Before;
    xmlNode *last = nullptr;          // the group's last element so far
    xmlNode *lastDetails = nullptr;   // the document's last `details`
    xmlNode *found = nullptr;
    walkDetails(doc, [&](xmlNode *child) {
        lastDetails = child->parent;
        if (where == After || child->type != XML_ELEMENT_NODE)
            return true;
        bool present;
        if (named(child, "subtype")) {
            if (where == Inside) {
                where = After;
                return true;
            }
            if (attribute(child, "id", present) == e.group && present) {
                where = Inside;
                last = child;
            }
            return true;
        }
        if (where != Inside)
            return true;
        last = child;
        if (named(child, "detail") && attribute(child, "name", present) == e.key && present) {
            found = child;
            return false;
        }
        return true;
    });
    if (!found && !lastDetails) {
        // An empty `details` holds no child for the walk to see.
        xmlNode *root = xmlDocGetRootElement(doc);
        for (xmlNode *type = root ? root->children : nullptr; type && !lastDetails; type = type->next)
            for (xmlNode *d = named(type, "type") ? type->children : nullptr; d; d = d->next)
                if (named(d, "details"))
                    lastDetails = d;
        if (!lastDetails)
            return false;
    }
    if (!found) {
        found = newElement("detail", "name", e.key);
        if (last) {
            insertAfter(last, found, indentBefore(last));
        } else {
            // The group too: after the last element of the last `details`.
            xmlNode *anchor = xmlGetLastChild(lastDetails);
            while (anchor && anchor->type != XML_ELEMENT_NODE)
                anchor = anchor->prev;
            xmlNode *subtype = newElement("subtype", "id", e.group);
            if (anchor) {
                const std::string indent = indentBefore(anchor);
                insertAfter(anchor, subtype, "\n" + indent);
                insertAfter(subtype, found, indent);
            } else {
                xmlAddChild(lastDetails, subtype);
                xmlAddChild(lastDetails, found);
            }
        }
    }
    setValue(doc, found, e.value);
    return true;
}

} // namespace

std::string applyConfigEdits(const char *buf, int len, const std::vector<ConfigEdit> &edits,
                             ConfigWrite &result)
{
    DocPtr doc = readDoc(buf, len);
    if (!doc) {
        result = ConfigWrite::NotWellFormed;
        return std::string();
    }
    result = ConfigWrite::Saved;
    for (const ConfigEdit &e : edits)
        if (!applyEdit(doc.get(), e))
            result = ConfigWrite::SavedNoMatch;
    xmlChar *mem = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &mem, &size, "UTF-8", 1);
    std::string text = mem ? std::string(reinterpret_cast<const char *>(mem), static_cast<size_t>(size))
                           : std::string();
    xmlFree(mem);
    return text;
}

ConfigWrite writeConfigEdits(const std::vector<ConfigEdit> &edits)
{
    return writeEdits(edits, "openf file error");
}

int loadConfiguration(const char *buf, int len, std::string *where)
{
    ConfigStore store;
    if (!store.read(buf, len, where))
        return -1;
    for (const GroupDescriptor *g : agentGroups())
        if (g->configure)
            g->configure(store);
    return 1;
}
