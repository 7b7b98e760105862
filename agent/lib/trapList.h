/* SPDX-License-Identifier: BSD-3-Clause */
// Trap destinations (the "trapsink" lines of the master agent's snmpd.conf)
// and the sending of the agent's notifications.
//
// Polling threads never call the agent library: a group's sender builds the
// varbind list and queues it; the main thread, woken through a pipe that the
// library's select loop watches, sends queued notifications in order.
#pragma once

#include "lib/groupHealth.h"

#include "lib/list.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The group's semaphore set (semaphore.h).
extern int sem_trap_id;           // guards the trap destination list and the sending of notifications

// Where the master agent's configuration lives; the unit tests point it elsewhere.
extern std::string snmpdConfPath;

// The part of an snmpd.conf line the destination parser examines, in
// characters; any word it takes from a line fits in this many.
constexpr size_t TRAPSINK_LINE_EXAMINED = 99;

struct trapInfo {
    char trapIp[20];              // destination host, NUL-terminated (cut to 19)
    char masterIp[20];            // the host the master agent sends to: trapIp as
                                  // snmpd.conf had it when the master last read it
    char trapPort[10];            // UDP port, decimal text; empty: the default, 162
    char trapAuthentication[10];  // always "enable"
    // Community exactly as the line gives it: the agent's own traps must carry
    // what the receiver expects (only the served column is cut to 9).
    char trapCommunity[TRAPSINK_LINE_EXAMINED + 1];
    char trapVersion[10];         // always "v1"
    double editedAt;              // seconds since boot of the agent's last edit
                                  // of its line; 0: none since the agent started
    long trapIndex;               // 1-based position among the destination lines
    list_head list;
};

// Destinations in file order; guarded by sem_trap_id once threads run.
extern list_head Global_trapList;
extern int Global_trapNumber;   // number of destinations
extern int trapBaseAddr;        // 1-based line of the first "trapsink" line, 0 without one

// Where the host lies in the address word of a destination line. snmpd takes
// HOST or HOST:PORT, either one after the transport "udp:" (any case); a word
// with more colons is an IPv6 address and all host.
struct SinkAddress {
    size_t hostStart, hostLength;   // within the word
    std::string port;               // the word's port; empty when it names none
};
SinkAddress splitSinkAddress(const std::string &word);

// One destination line as the parser finds it.
struct TrapSinkLine {
    int lineNumber;               // 1-based line of snmpd.conf
    std::string host, community, port;
};
// Every line holding "trapsink" (a commented one too), in file order, with
// its first word skipped and the next ones taken as address, community and
// port: "trapsink HOST:PORT COMMUNITY" as snmpd writes it today, or the older
// "trapsink HOST COMMUNITY PORT" (a port in the address wins over the third
// word). Only the first TRAPSINK_LINE_EXAMINED characters of a line are
// examined.
std::vector<TrapSinkLine> parseTrapSinkLines(const std::string &conf);

// Whether the agent sends its own SNMPv1 trap to a destination: only while
// its address differs from the one the master agent serves, which already
// gets every notification from the master.
bool sendsDirectly(const trapInfo &dest);

// Main thread: the AgentX session opened again. A master that started
// (`masterStart`, seconds since boot) after the agent's last edit of a
// destination's line has read that line: it now serves the address the file
// holds. A reconnection to the same master (a ping it missed while busy)
// changes nothing, and neither does one whose start cannot be told: the
// agent goes on sending itself, a copy too many rather than none.
void masterReadConfiguration(std::optional<double> masterStart);

// Seconds since boot (CLOCK_BOOTTIME): the clock edits and the master's
// start are compared on.
double secondsSinceBoot();

// The start of a process, in clock ticks since boot, from the text of its
// /proc/PID/stat (field 22, counted after the command name in parentheses,
// which may hold blanks and parentheses itself); none when it is not there.
std::optional<unsigned long long> parseProcStartTicks(std::string_view stat);

// Builds the destination list from snmpd.conf; a missing file gives an empty
// list. Always 0. `reading` (if given) gets how reading the file went.
int init_trap_list(GroupReading *reading = nullptr);

// snmpTrapOID.0, the first varbind of every notification.
extern const oid snmptrap_oid[];
extern const size_t snmptrap_oid_len;

// Owns a varbind list; frees it unless released.
class VarbindList {
public:
    VarbindList() = default;
    ~VarbindList() { snmp_free_varbind(head_); }
    VarbindList(const VarbindList &) = delete;
    VarbindList &operator=(const VarbindList &) = delete;

    netsnmp_variable_list **ptr() { return &head_; }
    netsnmp_variable_list *get() const { return head_; }
    netsnmp_variable_list *release()
    {
        netsnmp_variable_list *h = head_;
        head_ = nullptr;
        return h;
    }
    // Appends snmpTrapOID.0 = 1.3.6.1.4.1.42424.200.10.0.number.
    void addNotificationOid(unsigned number);
    void addInteger(const oid *name, size_t len, long value);
    void addOctets(const oid *name, size_t len, const void *data, size_t size);

private:
    netsnmp_variable_list *head_ = nullptr;
};

// Hands a complete notification to the main thread; safe on any thread and
// never waits on the network.
void queueNotification(VarbindList &vars);

// Main thread: sends (through deliver) and frees every queued notification,
// oldest first.
void deliverQueuedNotifications(void (*deliver)(netsnmp_variable_list *));

// Main thread: sets up the queue's wake-up pipe in the library's select loop
// and the hook that learns when the master agent has read snmpd.conf again.
// Called once at start-up, before init_snmp and the polling threads.
void init_notification_queue();

// Main thread: sends one notification by the common procedure: a direct
// SNMPv1 session to every destination the agent sends to itself
// (sendsDirectly), send_v2trap (which also hands it to the master agent),
// sessions closed.
void deliverNotification(netsnmp_variable_list *vars);
