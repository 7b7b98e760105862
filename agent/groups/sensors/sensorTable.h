/* SPDX-License-Identifier: BSD-3-Clause */
// The temperature, voltage and current tables (1.3.6.1.4.1.42424.200.2.1.2,
// .2.2.2, .2.6.2) with their count scalars (.2.1.1.0, .2.2.1.0, .2.6.1.0),
// and the threshold writes of their rows. One generic implementation takes
// the family.
#pragma once

#include "groups/sensors/sensors.h"

#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <optional>
#include <string_view>

// Whether a threshold text is a decimal number: optional spaces, an optional
// sign, digits with at most one decimal point, optional spaces ("5e0",
// "0x10", "12,6", "-" and "1.2.3" are not). The empty text is (no threshold).
bool isThresholdText(std::string_view text);

// Threshold value rules. initJudgeThreshold: 1 when the text is empty or reads as a
// number of at least 0 (voltage and current thresholds). judgeThresholds: 1 when
// the non-empty texts, read as numbers, rise strictly from LowLow to HighHigh.
int initJudgeThreshold(const char *text);
int judgeThresholds(const char *lowLow, const char *low, const char *high, const char *highHigh);

// The iterator's routines and the request handler, generic over the family.
// Loop and data contexts never hold a row's address: the loop context is a
// position in the row list and the data context the row's index, and every
// use finds the row again under the kind's semaphore.
netsnmp_variable_list *sensorFirstDataPoint(const SensorFamily &family, void **loop_context, void **data_context,
                                            netsnmp_variable_list *put_index_data);
netsnmp_variable_list *sensorNextDataPoint(const SensorFamily &family, void **loop_context, void **data_context,
                                           netsnmp_variable_list *put_index_data);
int sensorTableHandler(const SensorFamily &family, netsnmp_agent_request_info *reqinfo,
                       netsnmp_request_info *requests);
// The index a data context stands for (0: none).
long sensorContextIndex(void *data_context);
void *sensorIndexContext(long index);

Netsnmp_First_Data_Point tpTable_get_first_data_point, vtTable_get_first_data_point, crTable_get_first_data_point;
Netsnmp_Next_Data_Point tpTable_get_next_data_point, vtTable_get_next_data_point, crTable_get_next_data_point;
Netsnmp_Node_Handler tpTable_handler, vtTable_handler, crTable_handler;

void init_temperatureObj();
void init_voltageObj();
void init_currentObj();
void initialize_table_tpTable();
void initialize_table_vtTable();
void initialize_table_crTable();

// Count scalars: the number of features of the kind the last cycle found.
void init_temperatureObjInfo();
void init_voltageObjInfo();
void init_currentObjInfo();
FindVarMethod temperatureObjInfo_handle, voltageObjInfo_numberHandle, currentObjInfo_handle;
