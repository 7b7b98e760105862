// SPDX-License-Identifier: BSD-3-Clause
// Reading and rewriting the XML configuration file with libxml2.
#include "parseXml.h"

#include "lib/atomicFile.h"
#include "lib/dateAndTime.h"
#include "lib/fieldCopy.h"
#include "groups/system/sysInfoFrame.h"
#include "groups/hotplug/hwdInfoFrame.h"
#include "groups/memory/memoryInfoFrame.h"
#include "groups/power/powerInfoFrame.h"
#include "groups/sensors/sensors.h"
#include "groups/storage/storageInfoFrame.h"

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

// Decimal text as atoi reads it, limited to the range of a 32-bit INTEGER so
// that a huge number cannot wrap.
long decimal(const std::string &text)
{
    long v = strtol(text.c_str(), nullptr, 10);
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return v;
}

void applyDetail(ConfigValues &cv, const std::string &key, const std::string &text)
{
    static const char *const tpKeys[4] = {"tpHigh", "tpLow", "tpHighHigh", "tpLowLow"};
    static const char *const memKeys[4] = {"memoryTh1", "memoryTh2", "memoryTh3", "memoryTh4"};
    static const char *const siKeys[4] = {"siUsageTh1", "siUsageTh2", "siUsageTh3", "siUsageTh4"};

    if (key == "sysDeviceName") {
        cv.hasDeviceName = true;
        cv.deviceName = text;
    } else if (key == "sysDescr") {
        cv.hasDescr = true;
        cv.descr = text;
    } else if (key == "sysFirstBootTime") {
        cv.hasFirstBootTime = true;
        cv.firstBootTime = text;
    } else if (key == "sysBootCount") {
        cv.hasBootCount = true;
        cv.bootCount = text;
    } else if (key.size() > 2 && (key.compare(0, 2, "vt") == 0 || key.compare(0, 2, "cr") == 0)) {
        // Voltage and current keys belong to the group they stand in; keys
        // before the first such group have no sensor to go to and are ignored.
        std::vector<ThresholdConfig> &list = key[0] == 'v' ? cv.voltage : cv.current;
        if (list.empty())
            return;
        ThresholdConfig &t = list.back();
        std::string field = key.substr(2);
        if (field == "High")
            t.high = text;
        else if (field == "Low")
            t.low = text;
        else if (field == "HighHigh")
            t.highHigh = text;
        else if (field == "LowLow")
            t.lowLow = text;
        else if (field == "State") {
            t.hasState = true;
            t.state = decimal(text);
        }
    } else if (key == "tpState") {
        cv.hasTpState = true;
        cv.tpState = decimal(text);
    } else if (key == "memoryTrapState") {
        cv.memoryTrapState = decimal(text);
    } else if (key == "powerTrapState") {
        cv.powerTrapState = decimal(text);
    } else if (key == "maxTableRow") {
        cv.maxTableRow = decimal(text);
    } else if (key == "trapEnable") {
        cv.hwdTrapEnable = decimal(text);
    } else if (key == "storageTrapEnable") {
        cv.storageTrapEnable = decimal(text);
    } else {
        for (int i = 0; i < 4; i++) {
            if (key == tpKeys[i]) {
                cv.hasTp[i] = true;
                cv.tp[i] = text;
            } else if (key == memKeys[i]) {
                cv.memoryTh[i] = decimal(text);
            } else if (key == siKeys[i]) {
                cv.siUsageTh[i] = decimal(text);
            }
        }
    }
}

writableThreshold *newThreshold(const std::string &name)
{
    auto *t = static_cast<writableThreshold *>(calloc(1, sizeof(writableThreshold)));
    if (!t) {
        printf("can not allocate memory\n");
        exit(1);
    }
    setFieldText(t->name, name);
    t->state = 2;
    t->level = 1;
    return t;
}

void freeThresholds(writableThreshold *head)
{
    while (head) {
        writableThreshold *next = head->next;
        free(head);
        head = next;
    }
}

// Builds a threshold list: the sentinel head, then one record per group.
// A group without a state key gets notifications enabled, like the factory file.
writableThreshold *buildThresholds(const std::vector<ThresholdConfig> &groups)
{
    writableThreshold *head = newThreshold("");
    writableThreshold *tail = head;
    for (const ThresholdConfig &g : groups) {
        writableThreshold *t = newThreshold(g.name);
        t->state = g.hasState ? g.state : 1;
        setFieldText(t->high, g.high);
        setFieldText(t->low, g.low);
        setFieldText(t->highHigh, g.highHigh);
        setFieldText(t->lowLow, g.lowLow);
        tail->next = t;
        tail = t;
    }
    return head;
}

void applyToRecords(const ConfigValues &cv)
{
    if (cv.hasDeviceName)
        setFieldOctets(sysInfo.deviceName, cv.deviceName.data(), cv.deviceName.size());
    if (cv.hasDescr)
        setFieldOctets(sysInfo.descr, cv.descr.data(), cv.descr.size());

    freeThresholds(Global_writableVtHead);
    freeThresholds(Global_writableCrHead);
    Global_writableVtHead = buildThresholds(cv.voltage);
    Global_writableCrHead = buildThresholds(cv.current);

    char *tp[4] = {Global_tpHigh, Global_tpLow, Global_tpHighHigh, Global_tpLowLow};
    for (int i = 0; i < 4; i++)
        if (cv.hasTp[i]) {
            memset(tp[i], 0, sizeof Global_tpHigh);
            memcpy(tp[i], cv.tp[i].data(), std::min(cv.tp[i].size(), sizeof Global_tpHigh - 1));
        }
    if (cv.hasTpState)
        Global_tpState = static_cast<int>(cv.tpState);

    memInfo &m = Global_memInfoVal;
    m.memoryTh1 = static_cast<int32_t>(cv.memoryTh[0]);
    m.memoryTh2 = static_cast<int32_t>(cv.memoryTh[1]);
    m.memoryTh3 = static_cast<int32_t>(cv.memoryTh[2]);
    m.memoryTh4 = static_cast<int32_t>(cv.memoryTh[3]);
    m.memoryTrapState = static_cast<int32_t>(cv.memoryTrapState);

    Global_pwrInfoVal.pwrTrapState = static_cast<int32_t>(cv.powerTrapState);

    Global_hwdInfoVal.maxTableRow = cv.maxTableRow;
    Global_hwdInfoVal.trapEnable = cv.hwdTrapEnable;

    storageInfo &s = Global_storageInfoVal;
    s.siUsageTh1 = static_cast<int32_t>(cv.siUsageTh[0]);
    s.siUsageTh2 = static_cast<int32_t>(cv.siUsageTh[1]);
    s.siUsageTh3 = static_cast<int32_t>(cv.siUsageTh[2]);
    s.siUsageTh4 = static_cast<int32_t>(cv.siUsageTh[3]);
    s.trapEnable = static_cast<int32_t>(cv.storageTrapEnable);
}

int legacyResult(ConfigWrite r)
{
    switch (r) {
    case ConfigWrite::Saved:
    case ConfigWrite::SavedNoMatch:
        return 1;
    case ConfigWrite::NotWellFormed:
        return -1;
    default:
        return 0;
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

std::string hexText(const unsigned char *octets, size_t n)
{
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; i++) {
        snprintf(two, sizeof two, "%02X", octets[i]);
        s += two;
    }
    return s;
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

bool isVoltageGroup(const std::string &id)
{
    return id == "VIN" || id == "Vin" || id == "5VSB" || id == "VBAT" || id == "VCORE" || id == "12V";
}

bool readConfigValues(const char *buf, int len, ConfigValues &out, std::string *where)
{
    DocPtr doc = readDoc(buf, len, where);
    if (!doc)
        return false;
    out = ConfigValues();
    walkDetails(doc.get(), [&out](xmlNode *child) {
        bool present;
        if (named(child, "subtype")) {
            std::string id = attribute(child, "id", present);
            if (isVoltageGroup(id)) {
                out.voltage.emplace_back();
                out.voltage.back().name = id;
            } else if (id == "Current") {
                out.current.emplace_back();
                out.current.back().name = id;
            }
        } else if (named(child, "detail")) {
            std::string key = attribute(child, "name", present);
            if (present)
                applyDetail(out, key, content(child));
        }
        return true;
    });
    return true;
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

int modifyIntValue_xmlFile(const char *typeName, const char *subTypeName, long modifyValue)
{
    char text[24];
    snprintf(text, sizeof text, "%ld", modifyValue);
    return legacyResult(writeEdits({{typeName, subTypeName, text}}, "openf file error"));
}

int modifyStrValue_xmlFile(const char *typeName, const char *subTypeName, const char *modifyValue)
{
    return legacyResult(writeEdits({{typeName, subTypeName, modifyValue}}, "openf file error"));
}

BootTimes computeBootTimes(const std::string &firstBootText, time_t now)
{
    BootTimes bt = {};
    dateAndTime(now, bt.bootTime);
    bool valid = firstBootText.size() == 2 * DATE_AND_TIME_LEN &&
                 firstBootText.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (valid) {
        for (int i = 0; i < DATE_AND_TIME_LEN; i++)
            bt.firstBootTime[i] =
                static_cast<unsigned char>(strtoul(firstBootText.substr(2 * i, 2).c_str(), nullptr, 16));
        bt.firstBootText = firstBootText;
        bt.writeFirstBootTime = false;
    } else {
        memcpy(bt.firstBootTime, bt.bootTime, DATE_AND_TIME_LEN);
        bt.firstBootText = hexText(bt.bootTime, DATE_AND_TIME_LEN);
        bt.writeFirstBootTime = true;
    }
    return bt;
}

long nextBootCount(const std::string &stored)
{
    long count = strtol(stored.c_str(), nullptr, 10);
    if (count < 0)
        count = 0;
    if (count >= INT32_MAX)
        count = INT32_MAX - 1;   // served as a 32-bit INTEGER
    return count + 1;
}

int parse_xml_file(const char *buf, int len, std::string *where)
{
    ConfigValues cv;
    if (!readConfigValues(buf, len, cv, where))
        return -1;
    applyToRecords(cv);

    // Boot bookkeeping: every start counts one boot; the first start after
    // installation records the first boot time. Both go back in one write.
    std::vector<ConfigEdit> edits;
    BootTimes bt = computeBootTimes(cv.firstBootTime, time(nullptr));
    memcpy(sysInfo.firstBootTime, bt.firstBootTime, sizeof sysInfo.firstBootTime);
    memcpy(sysInfo.bootTime, bt.bootTime, sizeof sysInfo.bootTime);
    if (cv.hasFirstBootTime && bt.writeFirstBootTime)
        edits.push_back({"atSystem", "sysFirstBootTime", bt.firstBootText});
    sysInfo.bootCount = nextBootCount(cv.bootCount);
    if (cv.hasBootCount)
        edits.push_back({"atSystem", "sysBootCount", std::to_string(sysInfo.bootCount)});

    if (!edits.empty()) {
        ConfigWrite r = writeConfigEdits(edits);
        if (r != ConfigWrite::Saved)
            fprintf(stderr, "the boot count could not be stored in %s\n", configFilePath.c_str());
    }
    return 1;
}
