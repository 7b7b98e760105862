// SPDX-License-Identifier: GPL-2.0
/*
 * The driver's search for the product name (bios_name.c), run on synthetic
 * BIOS segments and SMBIOS tables. Every buffer handed to the code under
 * test is allocated at its exact size, so that AddressSanitizer reports any
 * read past the segment or the mapped table.
 */
#include "bios_name.h"

#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vmspname_ioctl.h"
#include "checks.h"

_Static_assert(VMSPNAME_GET_NAME == 0x7001, "name command");
_Static_assert(VMSPNAME_NAME_LEN == BIOS_NAME_LEN, "name length");


/* ---- physical memory: the BIOS segment and a high table area ---------- */

#define HIGH_BASE 0x0FFE0000u
#define HIGH_LEN 0x10000u

static u8 *seg;			/* BIOS_SEG_LEN bytes at BIOS_SEG_START */
static u8 high[HIGH_LEN];	/* at HIGH_BASE */

struct test_mem {
	struct bios_mem mem;
	int maps, unmaps, refused;
	u32 addr, len;		/* of the last map */
	const u8 *mapped;
};

static struct test_mem tmem;

/* Maps a copy of exactly len bytes when they lie inside one of the areas */
static int test_map(struct bios_mem *mem, u32 addr, u32 len, const u8 **buf)
{
	struct test_mem *t = (struct test_mem *)mem;
	uint64_t end = (uint64_t)addr + len;
	const u8 *src = NULL;
	u8 *copy;

	t->addr = addr;
	t->len = len;
	if (addr >= BIOS_SEG_START && end <= BIOS_SEG_START + BIOS_SEG_LEN)
		src = seg + (addr - BIOS_SEG_START);
	else if (addr >= HIGH_BASE && end <= (uint64_t)HIGH_BASE + HIGH_LEN)
		src = high + (addr - HIGH_BASE);
	if (!src || !len) {
		t->refused++;
		return -ENXIO;
	}
	copy = malloc(len);
	memcpy(copy, src, len);
	t->maps++;
	t->mapped = copy;
	*buf = copy;
	return 0;
}

static void test_unmap(struct bios_mem *mem, const u8 *buf)
{
	struct test_mem *t = (struct test_mem *)mem;

	EXPECT(buf == t->mapped, "unmapped a buffer that was not mapped");
	t->unmaps++;
	free((void *)buf);
}

static void reset(void)
{
	free(seg);
	seg = malloc(BIOS_SEG_LEN);
	/* BIOS code and data stand-in: no anchor, no family name */
	memset(seg, 0xFF, BIOS_SEG_LEN);
	memset(high, 0, sizeof(high));
	memset(&tmem, 0, sizeof(tmem));
	tmem.mem.map = test_map;
	tmem.mem.unmap = test_unmap;
}

static void run(const char *name, void (*fn)(void))
{
	case_failed = 0;
	reset();
	fn();
	EXPECT(tmem.maps == tmem.unmaps, "%d maps, %d unmaps", tmem.maps, tmem.unmaps);
	end_case(name);
}

/* ---- SMBIOS images ------------------------------------------------------ */

static u8 sum(const u8 *p, size_t n)
{
	u8 s = 0;

	while (n--)
		s += *p++;
	return s;
}

/* Sets the intermediate checksum, then the entry point's over its length
 * byte, of the entry point at seg offset at. */
static void seal(size_t at)
{
	u8 *e = seg + at;

	e[0x15] = 0;
	e[0x15] = -sum(e + 0x10, 0x0F);
	e[4] = 0;
	e[4] = -sum(e, e[5]);
}

/* A sealed 2.x entry point at seg offset at, for a table of len bytes at
 * addr. */
static void put_entry(size_t at, u32 addr, u16 len)
{
	u8 *e = seg + at;

	memset(e, 0, 0x1F);
	memcpy(e, "_SM_", 4);
	memcpy(e + 0x10, "_DMI_", 5);
	e[5] = 0x1F;
	e[6] = 2;
	e[7] = 8;
	e[0x16] = len & 0xFF;
	e[0x17] = len >> 8;
	e[0x18] = addr & 0xFF;
	e[0x19] = (addr >> 8) & 0xFF;
	e[0x1A] = (addr >> 16) & 0xFF;
	e[0x1B] = addr >> 24;
	seal(at);
}

struct table {
	u8 b[4096];
	size_t len;
};

/* Appends a structure: its formatted area (header included) and its
 * strings, NULL-terminated list; returns where its strings start. */
static size_t add_struct(struct table *t, const u8 *formatted, const char *const *strings)
{
	size_t start;

	memcpy(t->b + t->len, formatted, formatted[1]);
	t->len += formatted[1];
	start = t->len;
	if (!strings || !strings[0])
		t->b[t->len++] = 0;
	for (; strings && *strings; strings++) {
		strcpy((char *)t->b + t->len, *strings);
		t->len += strlen(*strings) + 1;
	}
	t->b[t->len++] = 0;
	return start;
}

static const char *const bios_strings[] = { "Velmora BIOS", "V2.01", "09/19/2017", NULL };

/* BIOS Information, as firmware puts it first */
static void add_bios(struct table *t)
{
	static const u8 f[0x18] = { 0, 0x18, 0, 0, 1, 2, 0x00, 0xE8, 3, 0x0F,
				    0x80, 0x98, 0x8B, 0x3F, 0x01, 0x00, 0x00, 0x00,
				    0x03, 0x0D, 2, 1, 0xFF, 0xFF };

	add_struct(t, f, bios_strings);
}

/* System Information of formatted length flen with the given string
 * numbers (SMBIOS 2.4 layout, cut to flen); returns its strings' start. */
static size_t add_system(struct table *t, u8 flen, u8 manufacturer, u8 product,
			 u8 sku, u8 family, const char *const *strings)
{
	u8 f[0x1B] = { 1, 0, 0x01, 0x00, manufacturer, product, 0, 0 };
	int i;

	f[1] = flen;
	for (i = 8; i < 24; i++)
		f[i] = 0x11 * (i - 7);	/* UUID */
	f[24] = 6;			/* wake-up: power switch */
	f[25] = sku;
	f[26] = family;
	return add_struct(t, f, strings);
}

static void add_chassis(struct table *t)
{
	static const u8 f[0x15] = { 3, 0x15, 0x00, 0x03, 1, 0x17, 0, 0, 0, 3, 3, 3, 2 };
	static const char *const s[] = { "Velmora", NULL };

	add_struct(t, f, s);
}

static void add_end(struct table *t)
{
	static const u8 f[4] = { 127, 4, 0xFF, 0xFE };

	add_struct(t, f, NULL);
}

/* A board's table: BIOS, System (product name as string 2, SKU and Family
 * strings set), Chassis and End of Table; returns the system strings'
 * start. */
static size_t board_table(struct table *t, const char *product)
{
	const char *s[] = { "Velmora", product, "SKU-7", "VLM", NULL };
	size_t str;

	t->len = 0;
	add_bios(t);
	str = add_system(t, 0x1B, 1, 2, 3, 4, s);
	add_chassis(t);
	add_end(t);
	return str;
}

/* The walk on an exact-size copy of the first len bytes of a table */
static int walk(const struct table *t, size_t len, char *name)
{
	u8 *copy = malloc(len ? len : 1);
	int n;

	memcpy(copy, t->b, len);
	n = smbios_product_name(copy, len, name);
	free(copy);
	return n;
}

/* name holds exactly want's first 64 bytes, zero-filled */
static void expect_name(const char *name, const char *want, const char *what)
{
	char buf[BIOS_NAME_LEN] = { 0 };
	size_t n = strlen(want);

	memcpy(buf, want, n < BIOS_NAME_LEN ? n : BIOS_NAME_LEN);
	EXPECT(!memcmp(name, buf, BIOS_NAME_LEN), "%s: got \"%.64s\", want \"%.64s\"", what,
	       name, buf);
}

static char *repeat(char *buf, char c, size_t n)
{
	memset(buf, c, n);
	buf[n] = 0;
	return buf;
}

/* ---- entry point -------------------------------------------------------- */

static void entry_point_search(void)
{
	/* down to the last paragraph that holds a whole entry point */
	static const size_t at[] = { 0, 0x10, 0x5A0, BIOS_SEG_LEN - SMBIOS_EPS_SPAN };
	size_t i;

	for (i = 0; i < sizeof(at) / sizeof(at[0]); i++) {
		reset();
		put_entry(at[i], 0, 0);
		EXPECT(smbios_find_entry(seg, BIOS_SEG_LEN) == (long)at[i], "entry at 0x%zX: %ld",
		       at[i], smbios_find_entry(seg, BIOS_SEG_LEN));
	}

	reset();
	put_entry(0x5A1, 0, 0);
	EXPECT(smbios_find_entry(seg, BIOS_SEG_LEN) == -1, "found off a paragraph boundary");

	reset();
	put_entry(0x800, 0, 0);
	put_entry(0x400, 0, 0);
	EXPECT(smbios_find_entry(seg, BIOS_SEG_LEN) == 0x400, "not the first of two");

	/* damaged anchors, checksums right: no entry point */
	reset();
	EXPECT(smbios_find_entry(seg, BIOS_SEG_LEN) == -1, "found in an empty segment");
	put_entry(0x100, 0, 0);
	seg[0x100 + 0x14] = 'X';
	seal(0x100);
	put_entry(0x200, 0, 0);
	seg[0x200 + 3] = 'M';
	seal(0x200);
	put_entry(0x300, 0, 0);
	memmove(seg + 0x300 + 0x0F, seg + 0x300 + 0x10, 5);	/* "_DMI_" one early */
	seg[0x300 + 0x14] = 0;
	seal(0x300);
	EXPECT(smbios_find_entry(seg, BIOS_SEG_LEN) == -1, "damaged anchor accepted: %ld",
	       smbios_find_entry(seg, BIOS_SEG_LEN));

	/* buffers too short for an entry point, even one whose length byte
	 * ends before the intermediate checksum's bytes do */
	reset();
	put_entry(0, 0, 0);
	seg[5] = 0x1E;
	seal(0);
	EXPECT(smbios_find_entry(seg, 0) == -1 && smbios_find_entry(seg, SMBIOS_EPS_SPAN - 1) == -1 &&
		       smbios_find_entry(seg, SMBIOS_EPS_SPAN) == 0, "short buffer");
}

/* Anchors whose checksums or length byte are wrong, each before a real
 * entry point: the search passes them and the name comes from the real
 * one's table. Taking a false one maps whatever address it holds. */
static void entry_point_checksums(void)
{
	/* a byte raised by one after sealing, and one lowered to keep the
	 * entry point's checksum right (0: none) */
	static const u8 changed[][2] = {
		{ 0x04, 0 },	/* its checksum */
		{ 0x0A, 0 },	/* a byte only that covers */
		{ 0x15, 0x0A },	/* the intermediate checksum */
		{ 0x1B, 0x04 },	/* a table address byte: the intermediate is wrong */
	};
	/* length bytes, both checksums right over them */
	static const u8 lens[] = { 0x00, 0x10, 0x1D, 0x21, 0xFF };
	const size_t nchanged = sizeof(changed) / sizeof(changed[0]);
	char name[BIOS_NAME_LEN];
	struct table t, f;
	size_t i;

	board_table(&t, "VLM-7000A1");
	board_table(&f, "VGW-FALSE");
	for (i = 0; i < nchanged + sizeof(lens); i++) {
		reset();
		memcpy(high + 0x200, t.b, t.len);
		memcpy(high + 0x800, f.b, f.len);
		put_entry(0x100, HIGH_BASE + 0x800, (u16)f.len);
		if (i < nchanged) {
			seg[0x100 + changed[i][0]]++;
			seg[0x100 + changed[i][1]] -= !!changed[i][1];
		} else {
			seg[0x100 + 5] = lens[i - nchanged];
			seal(0x100);
		}
		/* the real one with each length firmware gives: 0x1E (SMBIOS
		 * 2.1), 0x1F, 0x20 */
		put_entry(0x5A0, HIGH_BASE + 0x200, (u16)t.len);
		seg[0x5A0 + 5] = 0x1E + i % 3;
		seal(0x5A0);
		EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == 0 &&
			       tmem.maps == 1 && tmem.addr == HIGH_BASE + 0x200,
		       "false entry point %zu: %d maps, the last at 0x%X", i, tmem.maps, tmem.addr);
		expect_name(name, "VLM-7000A1", "past a false entry point");
	}
}

/* No valid entry point: one with a bad checksum alone, one cut off by the
 * end of the segment. The family name is used, no table is mapped, and
 * nothing past the end is read (ASan). */
static void entry_point_none(void)
{
	char name[BIOS_NAME_LEN];
	u32 addr;
	u16 len;
	int i;

	for (i = 0; i < 3; i++) {
		reset();
		if (i == 0) {
			put_entry(0x100, HIGH_BASE, 0x100);
			seg[0x100 + 4]++;
		} else if (i == 1) {
			memcpy(seg + 0xFFF0, "_SM_\0\x1F", 6);	/* the last paragraph */
		} else {
			/* the last whole one, with a length one byte longer */
			put_entry(BIOS_SEG_LEN - SMBIOS_EPS_SPAN, HIGH_BASE, 0x100);
			seg[BIOS_SEG_LEN - SMBIOS_EPS_SPAN + 5] = 0x20;
		}
		memcpy(seg + 0x9000, "VLM-7000 ", 9);
		EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == 0, "result");
		expect_name(name, "VLM-7000", "no valid entry point");
		EXPECT(tmem.maps + tmem.refused == 0, "case %d: a table mapped", i);
	}

	EXPECT(smbios_entry_table(seg, BIOS_SEG_LEN, BIOS_SEG_LEN - 21, &addr, &len) == -1,
	       "fields beyond the end read");
	EXPECT(smbios_entry_table(seg, BIOS_SEG_LEN, BIOS_SEG_LEN - SMBIOS_EPS_USED, &addr,
				  &len) == 0, "last whole entry point refused");
}

/* ---- the walk ----------------------------------------------------------- */

static void name_from_table(void)
{
	struct table t;
	char name[BIOS_NAME_LEN];

	memset(name, 0x55, sizeof(name));
	board_table(&t, "VLM-7000A1");
	memcpy(high + 0x200, t.b, t.len);
	put_entry(0x5A0, HIGH_BASE + 0x200, (u16)t.len);
	EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == 0, "result");
	EXPECT(tmem.maps == 1 && tmem.addr == HIGH_BASE + 0x200 && tmem.len == t.len,
	       "mapped %d times, 0x%X, %u bytes", tmem.maps, tmem.addr, tmem.len);
	/* ten characters, then 54 zero bytes */
	expect_name(name, "VLM-7000A1", "10 characters");

	/* a table inside the BIOS segment itself */
	reset();
	memcpy(seg + 0x6000, t.b, t.len);
	put_entry(0x5A0, BIOS_SEG_START + 0x6000, (u16)t.len);
	memcpy(seg + 0x100, "VGW-1 ", 6);	/* no fallback when there are tables */
	EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == 0, "result");
	expect_name(name, "VLM-7000A1", "table in the segment");
}

static void name_lengths(void)
{
	static const size_t lens[] = { 1, 2, 10, 63, 64, 80, 255 };
	char product[256], name[BIOS_NAME_LEN], what[32];
	struct table t;
	size_t i;
	int n;

	for (i = 0; i < sizeof(lens) / sizeof(lens[0]); i++) {
		repeat(product, 'A' + i, lens[i]);
		product[0] = 'V';
		board_table(&t, product);
		n = walk(&t, t.len, name);
		snprintf(what, sizeof(what), "%zu characters", lens[i]);
		expect_name(name, product, what);
		EXPECT(n == (lens[i] < 64 ? (int)lens[i] : 64), "%s: length %d", what, n);
	}

	/* a one-character name as the last string of the set: the third byte
	 * is the set's end, so two bytes are copied, the terminator too */
	t.len = 0;
	add_bios(&t);
	add_system(&t, 0x1B, 0, 1, 0, 0, (const char *const[]){ "V", NULL });
	add_end(&t);
	n = walk(&t, t.len, name);
	expect_name(name, "V", "one character, last string");
	EXPECT(n == 2, "one character, last string: length %d", n);
}

/* The Product Name field picks the string, whatever the SKU and Family
 * string numbers and wherever the name stands in the set. */
static void product_name_field(void)
{
	static const struct {
		u8 flen, manufacturer, product, sku, family;
		const char *want;
	} cases[] = {
		{ 0x1B, 1, 2, 0, 0, "VLM-7000" },	/* SKU and Family at zero */
		{ 0x1B, 1, 2, 3, 0, "VLM-7000" },	/* Family at zero */
		{ 0x1B, 1, 2, 0, 3, "VLM-7000" },	/* SKU at zero */
		{ 0x1B, 0, 1, 0, 0, "Velmora" },	/* the first string */
		{ 0x1B, 1, 4, 2, 3, "VLM-Family" },	/* the last string */
		{ 0x19, 1, 2, 0, 0, "VLM-7000" },	/* SMBIOS 2.1 length */
		{ 0x08, 1, 2, 0, 0, "VLM-7000" },	/* SMBIOS 2.0 length */
		{ 0x06, 1, 2, 0, 0, "VLM-7000" },	/* ends after the field */
		{ 0x1B, 1, 0, 3, 4, "" },		/* no Product Name string */
		{ 0x1B, 1, 5, 3, 4, "" },		/* beyond the last string */
		{ 0x1B, 1, 0xFF, 3, 4, "" },
	};
	static const char *const strings[] = { "Velmora", "VLM-7000", "SKU-7", "VLM-Family", NULL };
	char name[BIOS_NAME_LEN], what[48];
	struct table t;
	size_t i;

	for (i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
		t.len = 0;
		add_bios(&t);
		add_system(&t, cases[i].flen, cases[i].manufacturer, cases[i].product,
			   cases[i].sku, cases[i].family, strings);
		add_end(&t);
		walk(&t, t.len, name);
		snprintf(what, sizeof(what), "length 0x%02X, strings %u/%u/%u/%u",
			 cases[i].flen, cases[i].manufacturer, cases[i].product,
			 cases[i].sku, cases[i].family);
		expect_name(name, cases[i].want, what);
	}

	/* a formatted area that ends before the field: the byte after it is
	 * a string's, not a string number */
	t.len = 0;
	add_bios(&t);
	add_system(&t, 0x05, 1, 2, 0, 0, (const char *const[]){ "\001Velmora", "VLM", NULL });
	add_end(&t);
	walk(&t, t.len, name);
	expect_name(name, "", "length 0x05, a string starting with 0x01");

	/* a System structure without strings */
	t.len = 0;
	add_bios(&t);
	add_system(&t, 0x1B, 0, 1, 0, 0, NULL);
	add_end(&t);
	walk(&t, t.len, name);
	expect_name(name, "", "no strings");
}

/* The System structure is looked for within 512 bytes after the first
 * structure's formatted area. */
static void system_structure_window(void)
{
	static const char *const strings[] = { "Velmora", "VLM-7000", NULL };
	char name[BIOS_NAME_LEN], vendor[600];
	static const u8 f0[0x12] = { 0, 0x12 };
	struct table t;
	size_t pad;

	/* the double NUL at the last position of the window (first length +
	 * 511), and one past it */
	for (pad = 511; pad <= 512; pad++) {
		t.len = 0;
		add_struct(&t, f0, (const char *const[]){ repeat(vendor, 'v', pad), NULL });
		add_system(&t, 0x1B, 1, 2, 0, 0, strings);
		add_end(&t);
		walk(&t, t.len, name);
		expect_name(name, pad == 511 ? "VLM-7000" : "", pad == 511 ? "at the window's end"
									    : "past the window");
	}

	/* behind another structure, still in the window */
	t.len = 0;
	add_bios(&t);
	add_chassis(&t);
	add_system(&t, 0x1B, 1, 2, 0, 0, strings);
	add_end(&t);
	walk(&t, t.len, name);
	expect_name(name, "VLM-7000", "third structure");

	/* none at all */
	t.len = 0;
	add_bios(&t);
	add_chassis(&t);
	add_end(&t);
	walk(&t, t.len, name);
	expect_name(name, "", "no System structure");
}

/* The selected string must start within 512 bytes of the string set;
 * the name itself is read to its 64th byte wherever it starts. */
static void string_window(void)
{
	char name[BIOS_NAME_LEN], first[700];
	struct table t;
	size_t len;

	for (len = 510; len <= 511; len++) {
		/* string 2 starts at 511 (inside) or 512 (outside) */
		t.len = 0;
		add_bios(&t);
		add_system(&t, 0x1B, 1, 2, 0, 0,
			   (const char *const[]){ repeat(first, 'm', len), "VLM-7000", NULL });
		add_end(&t);
		walk(&t, t.len, name);
		expect_name(name, len == 510 ? "VLM-7000" : "", len == 510 ? "name at 511"
									  : "name at 512");
	}

	/* no NUL within 512 bytes: the manufacturer runs over the window */
	t.len = 0;
	add_bios(&t);
	add_system(&t, 0x1B, 1, 2, 3, 4,
		   (const char *const[]){ repeat(first, 'm', 600), "VLM-7000", "S", "F", NULL });
	add_end(&t);
	walk(&t, t.len, name);
	expect_name(name, "", "no NUL within 512 bytes");

	/* a 600-byte product name as the first string: its first 64 bytes */
	t.len = 0;
	add_bios(&t);
	add_system(&t, 0x1B, 0, 1, 0, 0, (const char *const[]){ repeat(first, 'P', 600), NULL });
	add_end(&t);
	walk(&t, t.len, name);
	expect_name(name, first, "600-byte name");
}

/* A table length shorter than the structures: nothing past it is read
 * (ASan), and the name is whole or empty. */
static void table_cut_short(void)
{
	static const size_t lens[] = { 1, 2, 10, 63, 64, 80 };
	char product[81], name[BIOS_NAME_LEN], what[48];
	struct table t;
	size_t i, cut, str, needed;

	for (i = 0; i < sizeof(lens) / sizeof(lens[0]); i++) {
		repeat(product, 'C', lens[i]);
		str = board_table(&t, product) + strlen("Velmora") + 1;
		/* the name with its NUL, or its first 64 bytes */
		needed = str + (lens[i] < 64 ? lens[i] + 1 : 64);
		for (cut = 0; cut <= t.len; cut++) {
			walk(&t, cut, name);
			snprintf(what, sizeof(what), "%zu characters, table of %zu bytes", lens[i],
				 cut);
			expect_name(name, cut >= needed ? product : "", what);
		}
	}
}

/* Address and length come from firmware: a table that cannot be mapped
 * fails the search; an empty one, or one without the name, gives no name. */
static void table_outside_memory(void)
{
	static const struct {
		u32 addr;
		u32 len;
	} cases[] = {
		{ 0x00001000, 0x100 },			/* no memory there */
		{ HIGH_BASE + HIGH_LEN - 0x10, 0x100 },	/* runs past the end */
		{ HIGH_BASE - 0x10, 0x100 },		/* starts before it */
		{ 0xFFFFFF00, 0xFFFF },			/* past 4 GiB */
	};
	char name[BIOS_NAME_LEN];
	struct table t;
	size_t i;

	board_table(&t, "VLM-7000");
	for (i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
		reset();
		memcpy(high + 0x200, t.b, t.len);
		put_entry(0x5A0, cases[i].addr, (u16)cases[i].len);
		memcpy(seg + 0x100, "VLM-1 ", 6);
		memset(name, 0x55, sizeof(name));
		EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == -ENXIO,
		       "table at 0x%X: not -ENXIO", cases[i].addr);
		EXPECT(tmem.refused == 1 && tmem.addr == cases[i].addr &&
			       tmem.len == (u16)cases[i].len,
		       "table at 0x%X: map asked for 0x%X, %u bytes", cases[i].addr, tmem.addr,
		       tmem.len);
	}

	reset();
	put_entry(0x5A0, HIGH_BASE, 0);
	memcpy(seg + 0x100, "VLM-1 ", 6);
	EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == 0,
	       "empty table: not 0");
	EXPECT(tmem.maps + tmem.refused == 0, "empty table mapped");
	expect_name(name, "", "empty table");

	reset();
	t.len = 0;
	add_bios(&t);
	add_end(&t);
	memcpy(high + 0x200, t.b, t.len);
	put_entry(0x5A0, HIGH_BASE + 0x200, (u16)t.len);
	memset(name, 0x55, sizeof(name));
	EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == 0 &&
		       tmem.maps == 1, "table without the name: not 0");
	expect_name(name, "", "table without the name");
}

/* ---- the product-family scan -------------------------------------------- */

static void family_name_scan(void)
{
	static const char *const families[] = {
		"VLM", "VMB", "VBPC", "VPPC", "VRPC", "VGW", "VNA", "VTC", "VIOT",
	};
	char name[BIOS_NAME_LEN], text[100];
	size_t i;
	int n;

	for (i = 0; i < sizeof(families) / sizeof(families[0]); i++) {
		reset();
		snprintf(text, sizeof(text), "%s-%zu00 rev A", families[i], i);
		memcpy(seg + 0x8000 + i, text, strlen(text));
		EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == 0, "result");
		*strchr(text, ' ') = 0;
		expect_name(name, text, families[i]);
	}

	/* the first position wins, whatever the order of the list */
	reset();
	memcpy(seg + 0x100, "VIOT-2\0", 7);
	memcpy(seg + 0x200, "VLM-7000\0", 9);
	n = bios_prefix_name(seg, BIOS_SEG_LEN, name);
	expect_name(name, "VIOT-2", "first position");
	EXPECT(n == 6, "length %d", n);

	/* ended by a line end */
	reset();
	memcpy(seg + 0x100, "VTC-33\r\n", 8);
	bios_prefix_name(seg, BIOS_SEG_LEN, name);
	expect_name(name, "VTC-33", "line end");

	/* no match: other text, lower case, a prefix cut by the segment end */
	reset();
	memcpy(seg + 0x100, "vlm-7000 VL-1 V LM ViOT", 23);
	memcpy(seg + BIOS_SEG_LEN - 3, "VIO", 3);
	memset(name, 0x55, sizeof(name));
	EXPECT(bios_find_product_name(seg, BIOS_SEG_LEN, &tmem.mem, name) == 0,
	       "no family name: not 0");
	expect_name(name, "", "no family name");

	/* longer than 64: its first 64 bytes, no terminator */
	reset();
	memcpy(seg + 0x100, "VRPC-", 5);
	memset(seg + 0x105, 'X', 95);
	seg[0x100 + 100] = ' ';
	n = bios_prefix_name(seg, BIOS_SEG_LEN, name);
	EXPECT(n == 64 && !memcmp(name, seg + 0x100, 64), "longer than 64: length %d", n);

	/* running to the end of the segment: nothing past it is read */
	reset();
	memcpy(seg + BIOS_SEG_LEN - 10, "VMB-123456", 10);
	bios_prefix_name(seg, BIOS_SEG_LEN, name);
	expect_name(name, "VMB-123456", "at the segment's end");
	reset();
	memcpy(seg + BIOS_SEG_LEN - 3, "VGW", 3);
	bios_prefix_name(seg, BIOS_SEG_LEN, name);
	expect_name(name, "VGW", "prefix alone at the end");
}

int main(void)
{
	setvbuf(stdout, NULL, _IOLBF, 0);
	run("entry point: on a paragraph, first of two, damaged anchors refused",
	    entry_point_search);
	run("entry point: false anchors (checksum, length) passed over, the real one used",
	    entry_point_checksums);
	run("entry point: a bad checksum alone or cut off by the end: the family name",
	    entry_point_none);
	run("name: the table from the entry point, a 10-character name and 54 zero bytes",
	    name_from_table);
	run("name: 1, 2, 10, 63 characters zero-filled; 64 and more fill all 64 bytes",
	    name_lengths);
	run("name: the string the Product Name field selects (SKU and Family at zero)",
	    product_name_field);
	run("walk: System structure within 512 bytes of the first formatted area",
	    system_structure_window);
	run("walk: name starting within 512 bytes of the strings; no NUL within 512",
	    string_window);
	run("walk: table length cut short at every byte: whole name or empty, no overread",
	    table_cut_short);
	run("walk: a table outside memory fails the search, an empty or nameless one gives no name",
	    table_outside_memory);
	run("fallback: family names found, first position, no match, 64 bytes, segment end",
	    family_name_scan);
	free(seg);
	printf("bios_name_test: %d passed, %d failed\n", passed, failed);
	return failed ? 1 : 0;
}
