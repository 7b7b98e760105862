// SPDX-License-Identifier: BSD-3-Clause
// The trap server table's rows from the destination list, and the edit of a
// destination's line in the master agent's snmpd.conf.
#include "groups/trapServers/trapServerProbe.h"

#include "groups/trapServers/trapServerTable.h"
#include "lib/atomicFile.h"
#include "lib/trapList.h"

#include <arpa/inet.h>
#include <cstdio>
#include <fstream>
#include <sstream>

void init_atMgmt()
{
    init_trapInfo();
}

void init_trapInfo()
{
    list_for_each(pos, &Global_trapList)
    {
        trapInfo *dest = list_entry(pos, trapInfo, list);
        snmpTrapSrvTable_createEntry(dest->trapIndex, dest->trapIp, dest->trapPort, dest->trapAuthentication,
                                     dest->trapCommunity, dest->trapVersion);
    }
}

int judgeIpv4Address(const char *text)
{
    struct in_addr addr;
    return inet_pton(AF_INET, text, &addr);
}

std::string editTrapSinkHost(const std::string &conf, long index, const std::string &oldIp,
                             const std::string &newIp)
{
    long seen = 0;
    size_t start = 0;
    while (start < conf.size()) {
        size_t end = conf.find('\n', start);
        if (end == std::string::npos)
            end = conf.size();
        // The same characters the destinations were read from.
        std::string head = conf.substr(start, std::min(end - start, TRAPSINK_LINE_EXAMINED));
        if (head.find("trapsink") != std::string::npos && ++seen == index) {
            // Skip the keyword and the blanks after it: the address word follows.
            // Blanks are those that separate the reader's words (isspace).
            const char *const blanks = " \t\r\v\f";
            size_t pos = head.find_first_not_of(blanks);
            pos = head.find_first_of(blanks, pos);
            pos = pos == std::string::npos ? pos : head.find_first_not_of(blanks, pos);
            if (pos == std::string::npos)
                return std::string();
            size_t wordEnd = head.find_first_of(blanks, pos);
            std::string word = head.substr(pos, wordEnd == std::string::npos ? std::string::npos : wordEnd - pos);
            // Only the host part changes: a transport and a port stay.
            const SinkAddress a = splitSinkAddress(word);
            if (word.compare(a.hostStart, a.hostLength, oldIp) != 0)
                return std::string();
            std::string out = conf;
            out.replace(start + pos + a.hostStart, a.hostLength, newIp);
            return out;
        }
        start = end + 1;
    }
    return std::string();
}

bool changeTrapSinkHost(long index, const std::string &oldIp, const std::string &newIp)
{
    std::ifstream in(snmpdConfPath);
    if (!in) {
        snmp_log(LOG_ERR, "cannot read %s\n", snmpdConfPath.c_str());
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string edited = editTrapSinkHost(text.str(), index, oldIp, newIp);
    if (edited.empty()) {
        snmp_log(LOG_ERR, "%s: trap destination %ld is no longer \"%s\"; not changed\n", snmpdConfPath.c_str(),
                 index, oldIp.c_str());
        return false;
    }
    if (!replaceFileAtomically(snmpdConfPath, edited)) {
        snmp_log(LOG_ERR, "cannot write %s: %s\n", snmpdConfPath.c_str(), strerror(errno));
        return false;
    }
    return true;
}
