/* SPDX-License-Identifier: BSD-3-Clause */
// Four usage thresholds in percent (-1: not used) and a notification switch
// of a group record, each served as a writable scalar. The memory and storage
// groups share this: a threshold lies in -1..100 and the thresholds in use
// rise strictly from the first to the fourth (judgeIntThres), also when a
// request sets several of them at once.
#pragma once

#include "mibFrame.h"
#include "semaphore.h"
#include "setJournal.h"

#include <cstdint>
#include <cstring>
#include <optional>

// 1 when the thresholds can stand together, 0 otherwise: a threshold of -1
// is not used, and the used ones must rise strictly from th1 to th4.
int judgeIntThres(long th1, long th2, long th3, long th4);

enum class UsageNotification { None, Raise, Clear };

// The band check of a usage against four thresholds, shared by memory and
// storage. `bandFlags` holds 1 for the band usage was in (at most one; all 0
// while normal), `lastSwitch` the switch as the check last saw it. Sets
// `severity` to the band's level (2..5) or back to 1 on leaving the bands,
// and says which notification the change calls for: a raise on entering a
// band (up or down) and when the switch is turned on while usage stays in a
// band, a clear on returning to normal; nothing while the switch is off.
UsageNotification judgeUsageBand(int bandFlags[4], int &lastSwitch, int32_t used, const int32_t th[4],
                                 int32_t trapSwitch, int32_t &severity);

// G describes the group:
//   static int32_t &threshold(int i);   the record's threshold i (0..3)
//   static int32_t &trapSwitch();       the record's notification switch
//   static const int *const semId;      the record's semaphore
//   static const char *const group;     configuration group
//   static const char *const keys[5];   keys of the four thresholds and the switch
template <typename G>
class UsageThresholds {
public:
    // The write routine body of threshold i.
    static int writeThreshold(int i, int action, const u_char *var_val, u_char type, size_t len)
    {
        int rc = scalarWrite(thresholdObject(i), action, var_val, type, len);

        long transaction = setJournal::currentTransactionId();
        if (pending.transaction != transaction)
            pending = Pending{transaction};
        switch (action) {
        case RESERVE1:
            // Each value is checked alone here (its range); the order is
            // checked once, in RESERVE2, on the values the whole request
            // leaves: thresholds raised together (80/90/95 to 91/92/93) pass
            // although each alone would cross the next, and two that are
            // each fine alone cannot leave the four out of order.
            if (rc == SNMP_ERR_NOERROR && var_val && len >= sizeof(long)) {
                pending.named[i] = true;
                memcpy(&pending.value[i], var_val, sizeof(long));
            }
            return rc;
        case RESERVE2:
            return rc == SNMP_ERR_NOERROR && !pendingValid() ? SNMP_ERR_WRONGVALUE : rc;
        case ACTION:
            return rc;
        default:
            pending = Pending{};
            return rc;
        }
    }

    // The write routine body of the notification switch (1 on, 2 off).
    static int writeSwitch(int action, const u_char *var_val, u_char type, size_t len)
    {
        return scalarWrite(switchObject(), action, var_val, type, len);
    }

    // The same two as the agent library's write routines (WriteMethod), one
    // for each threshold (0-3) and one for the switch.
    template <int I>
    static int thresholdWriter(int action, u_char *var_val, u_char type, size_t len, u_char *, oid *, size_t)
    {
        return writeThreshold(I, action, var_val, type, len);
    }
    static int switchWriter(int action, u_char *var_val, u_char type, size_t len, u_char *, oid *, size_t)
    {
        return writeSwitch(action, var_val, type, len);
    }

    // The four thresholds and the switch from the configuration file; a
    // key the file lacks counts as 0.
    template <typename Store>
    static void readStored(const Store &store)
    {
        for (int i = 0; i < 4; i++)
            G::threshold(i) = static_cast<int32_t>(store.number(G::keys[i]));
        G::trapSwitch() = static_cast<int32_t>(store.number(G::keys[4]));
    }

private:
    struct Pending {
        long transaction = -1;
        bool named[4] = {};
        long value[4] = {};
    };
    static inline Pending pending;

    static bool valid(const long th[4]) { return judgeIntThres(th[0], th[1], th[2], th[3]) != 0; }

    static int check(const SetValue &v)
    {
        return v.integer < -1 || v.integer > 100 ? SNMP_ERR_WRONGVALUE : SNMP_ERR_NOERROR;
    }

    template <int I>
    static SetValue load()
    {
        SetValue v;
        v.integer = G::threshold(I);
        return v;
    }

    template <int I>
    static void store(const SetValue &v)
    {
        G::threshold(I) = static_cast<int32_t>(v.integer);
    }

    static const WritableScalar &switchObject()
    {
        static const WritableScalar object = {
            "example", ASN_INTEGER, sizeof(long), G::semId,
            [](const SetValue &v) { return v.integer == 1 || v.integer == 2 ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE; },
            [] {
                SetValue v;
                v.integer = G::trapSwitch();
                return v;
            },
            [](const SetValue &v) { G::trapSwitch() = static_cast<int32_t>(v.integer); },
            G::group, G::keys[4],
        };
        return object;
    }

    static const WritableScalar &thresholdObject(int i)
    {
        static const WritableScalar objects[4] = {
            {"example", ASN_INTEGER, sizeof(long), G::semId, check, load<0>, store<0>, G::group, G::keys[0]},
            {"example", ASN_INTEGER, sizeof(long), G::semId, check, load<1>, store<1>, G::group, G::keys[1]},
            {"example", ASN_INTEGER, sizeof(long), G::semId, check, load<2>, store<2>, G::group, G::keys[2]},
            {"example", ASN_INTEGER, sizeof(long), G::semId, check, load<3>, store<3>, G::group, G::keys[3]},
        };
        return objects[i];
    }

    static bool pendingValid()
    {
        SemHold hold(*G::semId);
        long th[4];
        for (int i = 0; i < 4; i++)
            th[i] = pending.named[i] ? pending.value[i] : G::threshold(i);
        return valid(th);
    }
};
