/* SPDX-License-Identifier: BSD-3-Clause */
// The polling threads: one per group that polls, as its descriptor says
// (groups/groups.h). What each cycle does belongs to its group.
#pragma once

// Creates the semaphores, starts and detaches the polling threads (the Wi-Fi
// and mobile broadband ones only with `wireless`), then runs each group's
// start step (the system information strings, the trap server table).
void init_module(bool wireless = false);
// Starts the polling threads, detached, with SIGTERM and SIGINT blocked so
// that only the main thread sees them.
void thread_create(bool wireless = false);
