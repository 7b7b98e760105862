// SPDX-License-Identifier: BSD-3-Clause
/*
 * The smallest useful AgentX subagent, the yardstick of the benchmark: it
 * serves constant values from memory with the same Net-SNMP helpers the
 * agent uses (a scalar group through register_mib, a table through the
 * table iterator), so that a walk of it costs AgentX, the master and the
 * helpers and nothing else.
 *
 * Objects, under 1.3.6.1.4.1.8072.9999.9999.42 (Net-SNMP's playground):
 *   .1.1.0 - .1.8.0     eight scalars (odd: OCTET STRING, even: INTEGER)
 *   .2.1.c.i            a table of ROWS rows, columns 1-8: index, name,
 *                       unit, reading, high, low, gauge, state
 *
 * Usage: minimal_subagent AGENTX-SOCKET [ROWS]   (ROWS: 1-100000, default 55)
 * SIGTERM or SIGINT stop it.
 */
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/agent/util_funcs/header_generic.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define APP_NAME "vlm-bench-minimal"
#define COLUMNS 8
#define SCALARS 8

static oid scalar_base[] = {1, 3, 6, 1, 4, 1, 8072, 9999, 9999, 42, 1};
static oid table_oid[] = {1, 3, 6, 1, 4, 1, 8072, 9999, 9999, 42, 2};

struct row {
    long index;
    char name[20];
    long reading;
    long state;
};

static struct row *rows;
static long row_count = 55;
static volatile sig_atomic_t keep_running = 1;

static void stop(int sig)
{
    (void)sig;
    keep_running = 0;
}

static u_char *var_scalar(struct variable *vp, oid *name, size_t *length, int exact,
                          size_t *var_len, WriteMethod **write_method)
{
    static long number;
    static char text[] = "minimal subagent";
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return NULL;
    if (vp->magic % 2) {
        *var_len = sizeof text - 1;
        return (u_char *)text;
    }
    number = vp->magic * 100;
    *var_len = sizeof number;
    return (u_char *)&number;
}

#define SCALAR(n, type) {n, type, NETSNMP_OLDAPI_RONLY, var_scalar, 1, {n}}
static struct variable1 scalars[SCALARS] = {
    SCALAR(1, ASN_OCTET_STR), SCALAR(2, ASN_INTEGER), SCALAR(3, ASN_OCTET_STR),
    SCALAR(4, ASN_INTEGER), SCALAR(5, ASN_OCTET_STR), SCALAR(6, ASN_INTEGER),
    SCALAR(7, ASN_OCTET_STR), SCALAR(8, ASN_INTEGER),
};

static netsnmp_variable_list *next_point(void **loop_context, void **data_context,
                                         netsnmp_variable_list *index, netsnmp_iterator_info *info)
{
    struct row *r = *loop_context;
    (void)info;
    if (r == NULL || r >= rows + row_count)
        return NULL;
    snmp_set_var_typed_integer(index, ASN_INTEGER, r->index);
    *data_context = r;
    *loop_context = r + 1;
    return index;
}

static netsnmp_variable_list *first_point(void **loop_context, void **data_context,
                                          netsnmp_variable_list *index, netsnmp_iterator_info *info)
{
    *loop_context = rows;
    return next_point(loop_context, data_context, index, info);
}

static int table_handler(netsnmp_mib_handler *handler, netsnmp_handler_registration *reginfo,
                         netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests)
{
    static const char unit[] = "C", high[] = "85", low[] = "-20";
    (void)handler;
    (void)reginfo;
    if (reqinfo->mode != MODE_GET)
        return SNMP_ERR_NOERROR;
    for (netsnmp_request_info *req = requests; req; req = req->next) {
        struct row *r = netsnmp_extract_iterator_context(req);
        netsnmp_table_request_info *ti = netsnmp_extract_table_info(req);
        if (r == NULL || ti == NULL) {
            netsnmp_set_request_error(reqinfo, req, SNMP_NOSUCHINSTANCE);
            continue;
        }
        netsnmp_variable_list *v = req->requestvb;
        switch (ti->colnum) {
        case 1: snmp_set_var_typed_integer(v, ASN_INTEGER, r->index); break;
        case 2: snmp_set_var_typed_value(v, ASN_OCTET_STR, r->name, strlen(r->name)); break;
        case 3: snmp_set_var_typed_value(v, ASN_OCTET_STR, unit, sizeof unit - 1); break;
        case 4: snmp_set_var_typed_integer(v, ASN_INTEGER, r->reading); break;
        case 5: snmp_set_var_typed_value(v, ASN_OCTET_STR, high, sizeof high - 1); break;
        case 6: snmp_set_var_typed_value(v, ASN_OCTET_STR, low, sizeof low - 1); break;
        case 7: snmp_set_var_typed_integer(v, ASN_GAUGE, (u_long)r->reading * 10); break;
        case 8: snmp_set_var_typed_integer(v, ASN_INTEGER, r->state); break;
        default: netsnmp_set_request_error(reqinfo, req, SNMP_NOSUCHOBJECT); break;
        }
    }
    return SNMP_ERR_NOERROR;
}

static int register_objects(void)
{
    if (register_mib("minimalScalars", (struct variable *)scalars, sizeof(struct variable1),
                     SCALARS, scalar_base, OID_LENGTH(scalar_base)) != MIB_REGISTERED_OK)
        return 0;
    netsnmp_handler_registration *reg = netsnmp_create_handler_registration(
        "minimalTable", table_handler, table_oid, OID_LENGTH(table_oid), HANDLER_CAN_RONLY);
    netsnmp_table_registration_info *tinfo = SNMP_MALLOC_TYPEDEF(netsnmp_table_registration_info);
    netsnmp_iterator_info *iinfo = SNMP_MALLOC_TYPEDEF(netsnmp_iterator_info);
    if (reg == NULL || tinfo == NULL || iinfo == NULL)
        return 0;
    netsnmp_table_helper_add_indexes(tinfo, ASN_INTEGER, 0);
    tinfo->min_column = 1;
    tinfo->max_column = COLUMNS;
    iinfo->get_first_data_point = first_point;
    iinfo->get_next_data_point = next_point;
    iinfo->table_reginfo = tinfo;
    return netsnmp_register_table_iterator(reg, iinfo) == SNMPERR_SUCCESS;
}

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s AGENTX-SOCKET [ROWS]\n", argv[0]);
        return 1;
    }
    if (argc == 3) {
        row_count = strtol(argv[2], NULL, 10);
        if (row_count < 1 || row_count > 100000) {
            fprintf(stderr, "ROWS must be 1-100000\n");
            return 1;
        }
    }
    rows = calloc(row_count, sizeof *rows);
    if (rows == NULL)
        return 1;
    for (long i = 0; i < row_count; i++) {
        rows[i].index = i + 1;
        snprintf(rows[i].name, sizeof rows[i].name, "Sensor %d", (int)(i + 1));
        rows[i].reading = 40 + i % 20;
        rows[i].state = 1;
    }

    snmp_enable_stderrlog();
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, argv[1]);
    init_agent(APP_NAME);
    if (!register_objects()) {
        fprintf(stderr, "registration failed\n");
        return 1;
    }
    signal(SIGTERM, stop);
    signal(SIGINT, stop);
    init_snmp(APP_NAME);
    while (keep_running)
        agent_check_and_process(1);
    snmp_shutdown(APP_NAME);
    free(rows);
    return 0;
}
