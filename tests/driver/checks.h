/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Result counting shared by the driver tests. A guest test reports every
 * check as it goes (check); a user-space test runs cases whose EXPECTs mark
 * the case failed, and reports each case once (end_case). The summary line
 * "NAME: P passed, F failed" is what the runner scripts look for.
 */
#ifndef DRIVER_TEST_CHECKS_H
#define DRIVER_TEST_CHECKS_H

#include <stdarg.h>
#include <stdio.h>

static int passed, failed, case_failed;

static void __attribute__((unused, format(printf, 3, 4)))
check(int ok, const char *name, const char *fmt, ...)
{
	va_list ap;

	if (ok) {
		printf("PASS: %s\n", name);
		passed++;
	} else {
		printf("FAIL: %s (", name);
		va_start(ap, fmt);
		vprintf(fmt, ap);
		va_end(ap);
		printf(")\n");
		failed++;
	}
	fflush(stdout);
}

static void __attribute__((unused, format(printf, 1, 2))) fail(const char *fmt, ...)
{
	va_list ap;

	va_start(ap, fmt);
	printf("    ");
	vprintf(fmt, ap);
	printf("\n");
	va_end(ap);
	case_failed = 1;
}

#define EXPECT(cond, ...)                                                      \
	do {                                                                   \
		if (!(cond))                                                   \
			fail(__VA_ARGS__);                                     \
	} while (0)

/* Reports the case that just ran and starts the next one afresh. */
static void __attribute__((unused)) end_case(const char *name)
{
	printf("%s: %s\n", case_failed ? "FAIL" : "PASS", name);
	if (case_failed)
		failed++;
	else
		passed++;
	case_failed = 0;
}

#endif
