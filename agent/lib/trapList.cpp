// SPDX-License-Identifier: BSD-3-Clause
// Trap destinations from snmpd.conf, the notification queue of the polling
// threads, and the one sending procedure every group uses.
#include "lib/trapList.h"

#include "lib/fieldCopy.h"
#include "lib/groupHealth.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <net-snmp/agent/agent_callbacks.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sys/socket.h>
#include <time.h>
#include <sstream>
#include <strings.h>
#include <unistd.h>

int sem_trap_id = -1;

std::string snmpdConfPath = "/etc/snmp/snmpd.conf";

list_head Global_trapList = {&Global_trapList, &Global_trapList};
int Global_trapNumber = 0;
int trapBaseAddr = 0;

const oid snmptrap_oid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const size_t snmptrap_oid_len = OID_LENGTH(snmptrap_oid);

namespace {

// One direct session to a destination for the notification being sent.
struct sessionInfo {
    netsnmp_session session;
    netsnmp_session *ss;
    list_head list;
};
list_head Global_sessionList = {&Global_sessionList, &Global_sessionList};

// Notifications waiting for the main thread, oldest first. The bound keeps a
// flood (a receiver unreachable, a storm of events) from eating the board's
// memory; past it the oldest are dropped and counted.
constexpr size_t QUEUE_LIMIT = 4096;
std::mutex queueLock;
std::deque<netsnmp_variable_list *> queue;
unsigned long dropped = 0;
int wakeRead = -1, wakeWrite = -1;

void notificationsReady(int fd, void *)
{
    char buf[256];
    while (read(fd, buf, sizeof buf) > 0) {
    }
    deliverQueuedNotifications(deliverNotification);
}

// Opens an SNMPv1 trap session to a destination the agent sends to itself.
void openDirectSession(const trapInfo *dest)
{
    auto *si = static_cast<sessionInfo *>(calloc(1, sizeof(sessionInfo)));
    if (!si) {
        snmp_log(LOG_ERR, "open_session failed!\n");
        return;
    }
    snmp_sess_init(&si->session);
    char peer[40] = {};
    // Without a port the library's default, 162, is used.
    if (dest->trapPort[0])
        snprintf(peer, sizeof peer, "%s:%s", dest->trapIp, dest->trapPort);
    else
        snprintf(peer, sizeof peer, "%s", dest->trapIp);
    si->session.peername = peer;
    si->session.version = SNMP_VERSION_1;
    si->session.community = reinterpret_cast<u_char *>(const_cast<char *>(dest->trapCommunity));
    si->session.community_len = strnlen(dest->trapCommunity, sizeof dest->trapCommunity);
    si->ss = snmp_open(&si->session);
    si->session.peername = nullptr;
    si->session.community = nullptr;
    if (!si->ss) {
        snmp_log(LOG_ERR, "open_session failed!\n");
        free(si);
        return;
    }
    add_trap_session(si->ss, SNMP_MSG_TRAP, 0, SNMP_VERSION_1);
    list_add_tail(&si->list, &Global_sessionList);
}

// When the master at the other end of the AgentX session started, in
// seconds since boot: its process, from the peer of the local socket. None
// for a session over TCP or without /proc.
std::optional<double> masterStart(netsnmp_session *session)
{
    netsnmp_transport *transport = session ? snmp_sess_transport(snmp_sess_pointer(session)) : nullptr;
    struct ucred peer = {};
    socklen_t size = sizeof peer;
    if (!transport || transport->sock < 0 ||
        getsockopt(transport->sock, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0)
        return std::nullopt;
    std::ifstream in("/proc/" + std::to_string(peer.pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat))
        return std::nullopt;
    const std::optional<unsigned long long> ticks = parseProcStartTicks(stat);
    const long perSecond = sysconf(_SC_CLK_TCK);
    if (!ticks || perSecond <= 0)
        return std::nullopt;
    return static_cast<double>(*ticks) / static_cast<double>(perSecond);
}

// Called by the agent library each time the AgentX session to the master
// opens (the session is the server argument): at start-up and when the agent
// reconnects, after a master restart or after a ping the master missed.
// (A master that re-reads its files on SIGHUP keeps both its process and
// the session: the agent cannot tell, and goes on sending its own copy.)
int masterConnected(int, int, void *session, void *)
{
    masterReadConfiguration(masterStart(static_cast<netsnmp_session *>(session)));
    return SNMP_ERR_NOERROR;
}

void closeDirectSessions()
{
    while (!list_empty(&Global_sessionList)) {
        list_head *first = Global_sessionList.next;
        sessionInfo *si = list_entry(first, sessionInfo, list);
        remove_trap_session(si->ss);
        snmp_close(si->ss);
        list_del(first);
        free(si);
    }
}

} // namespace

SinkAddress splitSinkAddress(const std::string &word)
{
    SinkAddress a{0, 0, std::string()};
    static const char transport[] = "udp:";
    const size_t transportLength = sizeof transport - 1;
    if (word.size() >= transportLength && strncasecmp(word.c_str(), transport, transportLength) == 0)
        a.hostStart = transportLength;
    const size_t colon = word.find(':', a.hostStart);
    if (colon != std::string::npos && word.find(':', colon + 1) == std::string::npos) {
        a.hostLength = colon - a.hostStart;
        a.port = word.substr(colon + 1);
    } else {
        a.hostLength = word.size() - a.hostStart;
    }
    return a;
}

std::vector<TrapSinkLine> parseTrapSinkLines(const std::string &conf)
{
    std::vector<TrapSinkLine> found;
    std::istringstream in(conf);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        std::string head = line.substr(0, TRAPSINK_LINE_EXAMINED);
        if (head.find("trapsink") == std::string::npos)
            continue;
        std::istringstream words(head);
        std::string keyword, address;
        TrapSinkLine t;
        t.lineNumber = number;
        words >> keyword >> address >> t.community >> t.port;
        const SinkAddress a = splitSinkAddress(address);
        t.host = address.substr(a.hostStart, a.hostLength);
        if (!a.port.empty())
            t.port = a.port;
        found.push_back(t);
    }
    return found;
}

bool sendsDirectly(const trapInfo &dest)
{
    return fieldText(dest.trapIp) != fieldText(dest.masterIp);
}

void masterReadConfiguration(std::optional<double> started)
{
    SemHold hold(sem_trap_id);
    list_for_each(pos, &Global_trapList)
    {
        trapInfo *dest = list_entry(pos, trapInfo, list);
        if (started && *started > dest->editedAt)
            setFieldText(dest->masterIp, fieldText(dest->trapIp));
    }
}

double secondsSinceBoot()
{
    struct timespec ts = {};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::optional<unsigned long long> parseProcStartTicks(std::string_view stat)
{
    const size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::istringstream fields{std::string(stat.substr(close + 1))};
    // Fields 3 (state) to 21 come before the start time.
    std::string skip;
    for (int field = 3; field <= 21; field++)
        if (!(fields >> skip))
            return std::nullopt;
    unsigned long long ticks;
    if (!(fields >> ticks))
        return std::nullopt;
    return ticks;
}

int init_trap_list(GroupReading *outcome)
{
    // Built once at start-up; a second build (the unit tests) replaces the first.
    while (!list_empty(&Global_trapList)) {
        list_head *first = Global_trapList.next;
        list_del(first);
        free(list_entry(first, trapInfo, list));
    }
    INIT_LIST_HEAD(&Global_trapList);
    INIT_LIST_HEAD(&Global_sessionList);
    Global_trapNumber = 0;
    trapBaseAddr = 0;

    // Read once, at start-up: the group's status is that of this reading.
    std::ifstream in(snmpdConfPath);
    if (!in) {
        if (outcome)
            outcome->openFailed(snmpdConfPath, errno);
        return 0;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (in.bad() && outcome)
        outcome->fail(snmpdConfPath + ": cannot be read");
    for (const TrapSinkLine &line : parseTrapSinkLines(text.str())) {
        auto *dest = static_cast<trapInfo *>(calloc(1, sizeof(trapInfo)));
        if (!dest) {
            printf("can not allocate memory\n");
            exit(1);
        }
        if (trapBaseAddr == 0)
            trapBaseAddr = line.lineNumber;
        dest->trapIndex = ++Global_trapNumber;
        setFieldText(dest->trapIp, line.host);
        // Taken to be what the master read too. An address the agent changed
        // before it was itself restarted, the master running on, is not known
        // as such: the agent then leaves that receiver to the master.
        setFieldText(dest->masterIp, line.host);
        setFieldText(dest->trapCommunity, line.community);
        setFieldText(dest->trapPort, line.port);
        setFieldText(dest->trapVersion, "v1");
        setFieldText(dest->trapAuthentication, "enable");
        list_add_tail(&dest->list, &Global_trapList);
    }
    return 0;
}

void VarbindList::addNotificationOid(unsigned number)
{
    const oid notification[] = {VLM_ENTERPRISE, 200, 10, 0, number};
    snmp_varlist_add_variable(&head_, snmptrap_oid, snmptrap_oid_len, ASN_OBJECT_ID,
                              reinterpret_cast<const u_char *>(notification), sizeof notification);
}

void VarbindList::addInteger(const oid *name, size_t len, long value)
{
    snmp_varlist_add_variable(&head_, name, len, ASN_INTEGER, reinterpret_cast<const u_char *>(&value),
                              sizeof value);
}

void VarbindList::addOctets(const oid *name, size_t len, const void *data, size_t size)
{
    snmp_varlist_add_variable(&head_, name, len, ASN_OCTET_STR, static_cast<const u_char *>(data), size);
}

void queueNotification(VarbindList &vars)
{
    netsnmp_variable_list *list = vars.release();
    if (!list)
        return;
    netsnmp_variable_list *oldest = nullptr;
    {
        std::lock_guard<std::mutex> hold(queueLock);
        if (queue.size() >= QUEUE_LIMIT) {
            oldest = queue.front();
            queue.pop_front();
            dropped++;
        }
        queue.push_back(list);
    }
    snmp_free_varbind(oldest);
    if (wakeWrite >= 0) {
        // A full pipe already holds a wake-up: nothing is lost by EAGAIN.
        char one = 1;
        if (write(wakeWrite, &one, 1) < 0 && errno != EAGAIN) {
        }
    }
}

void deliverQueuedNotifications(void (*deliver)(netsnmp_variable_list *))
{
    for (;;) {
        netsnmp_variable_list *vars;
        unsigned long lost;
        {
            std::lock_guard<std::mutex> hold(queueLock);
            if (queue.empty())
                return;
            vars = queue.front();
            queue.pop_front();
            lost = dropped;
            dropped = 0;
        }
        if (lost)
            snmp_log(LOG_WARNING, "%lu notifications dropped: too many waiting to be sent\n", lost);
        deliver(vars);
        snmp_free_varbind(vars);
    }
}

void init_notification_queue()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("cannot create the notification pipe");
        exit(1);
    }
    wakeRead = fds[0];
    wakeWrite = fds[1];
    register_readfd(wakeRead, notificationsReady, nullptr);
    // subagent_open_master_session() calls this hook once the session is
    // open, before the agent's objects are registered again.
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START, masterConnected, nullptr);
}

void deliverNotification(netsnmp_variable_list *vars)
{
    SemHold hold(sem_trap_id);
    list_for_each(pos, &Global_trapList)
    {
        trapInfo *dest = list_entry(pos, trapInfo, list);
        if (sendsDirectly(*dest))
            openDirectSession(dest);
    }
    send_v2trap(vars);
    closeDirectSessions();
}
