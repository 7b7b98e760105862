// SPDX-License-Identifier: GPL-2.0
/*
 * Product name from the BIOS area (see bios_name.h).
 *
 * Every position, length and string number read here comes from firmware
 * and may be wrong, so each read is checked against the end of the buffer
 * it is taken from; a name that cannot be found whole is left empty.
 */
#ifdef __KERNEL__
#include <linux/errno.h>
#include <linux/string.h>
#else
#include <errno.h>
#include <string.h>
#endif

#include "bios_name.h"

/* Window after the first structure's formatted area that holds the type-1
 * structure, and window of its strings that holds the name's start */
#define SMBIOS_WINDOW 512

#define SMBIOS_TYPE_SYSTEM 1
#define SMBIOS_SYSTEM_PRODUCT 5	/* string number of the Product Name */

/*
 * Product-family names that start the product string of boards whose
 * firmware has no SMBIOS tables.
 */
static const char *const bios_name_prefixes[] = {
	"VLM",	/* embedded boards */
	"VMB",	/* industrial motherboards */
	"VBPC",	/* box computers */
	"VPPC",	/* panel computers */
	"VRPC",	/* rack-mount computers */
	"VGW",	/* gateways */
	"VNA",	/* network appliances */
	"VTC",	/* thin clients */
	"VIOT",	/* I/O controllers */
};

#define BIOS_NAME_PREFIXES (sizeof(bios_name_prefixes) / sizeof(bios_name_prefixes[0]))

/* Offsets in the 2.x entry point */
#define SMBIOS_EPS_LENGTH 0x05	/* its length in bytes */
#define SMBIOS_EPS_DMI 0x10	/* "_DMI_" and what its checksum covers */
#define SMBIOS_EPS_DMI_LEN 0x0F

/* Lengths taken: 0x1F; 0x1E, a mistake of SMBIOS 2.1 that firmware of
 * that version may carry; 0x20. The kernel's DMI code takes the same. */
#define SMBIOS_EPS_LEN_MIN 0x1E
#define SMBIOS_EPS_LEN_MAX 0x20

static u8 bios_checksum(const u8 *p, size_t n)
{
	u8 sum = 0;

	while (n--)
		sum += *p++;
	return sum;
}

/*
 * The anchor strings alone also turn up in BIOS code and data, and a false
 * match would have its "table address" mapped and copied: a candidate is
 * taken only whole and with both checksums right. The length byte is
 * bounded before the bytes it covers are read.
 */
static int smbios_entry_valid(const u8 *seg, size_t len, size_t at)
{
	const u8 *eps = seg + at;
	size_t eps_len;

	if (len - at < SMBIOS_EPS_SPAN || memcmp(eps, "_SM_", 4))
		return 0;
	eps_len = eps[SMBIOS_EPS_LENGTH];
	if (eps_len < SMBIOS_EPS_LEN_MIN || eps_len > SMBIOS_EPS_LEN_MAX ||
	    eps_len > len - at)
		return 0;
	return !bios_checksum(eps, eps_len) &&
	       !memcmp(eps + SMBIOS_EPS_DMI, "_DMI_", 5) &&
	       !bios_checksum(eps + SMBIOS_EPS_DMI, SMBIOS_EPS_DMI_LEN);
}

/* Firmware puts the entry point on a paragraph; a candidate that fails is
 * passed over, as a real one may follow it. */
long smbios_find_entry(const u8 *seg, size_t len)
{
	size_t at;

	for (at = 0; at < len; at += SMBIOS_EPS_ALIGN)
		if (smbios_entry_valid(seg, len, at))
			return (long)at;
	return -1;
}

int smbios_entry_table(const u8 *seg, size_t len, size_t at, u32 *addr,
		       u16 *table_len)
{
	const u8 *eps;

	if (at > len || len - at < SMBIOS_EPS_USED)
		return -1;
	eps = seg + at;
	*table_len = (u16)(eps[0x16] | eps[0x17] << 8);
	*addr = (u32)eps[0x18] | (u32)eps[0x19] << 8 | (u32)eps[0x1A] << 16 |
		(u32)eps[0x1B] << 24;
	return 0;
}

/*
 * The first structure is followed by its strings; the System Information
 * structure is the first structure within the window after the first one's
 * formatted area whose type byte follows a double NUL (the end of the
 * previous structure's string set). The name is the string that the
 * structure's Product Name field selects. Looking for the first NUL from
 * two bytes before the end of the formatted area would find the same
 * string only while the SKU and Family string numbers, the last two bytes,
 * are non-zero; with either at zero it would take the wrong string.
 */
int smbios_product_name(const u8 *table, size_t len, char *name)
{
	size_t first_len, j, sys, str, end;
	unsigned int sys_len, num, n, i;

	memset(name, 0, BIOS_NAME_LEN);
	if (len < 2)
		return 0;

	first_len = table[1];
	for (j = first_len;; j++) {
		/* the window is over, or the table ends before the type-1
		 * structure's length byte */
		if (j >= first_len + SMBIOS_WINDOW || j + 3 >= len)
			return 0;
		if (!table[j] && !table[j + 1] && table[j + 2] == SMBIOS_TYPE_SYSTEM)
			break;
	}
	sys = j + 2;
	sys_len = table[sys + 1];
	if (sys_len <= SMBIOS_SYSTEM_PRODUCT || sys_len > len - sys)
		return 0;
	num = table[sys + SMBIOS_SYSTEM_PRODUCT];
	if (!num)
		return 0;	/* no Product Name string */

	/* the selected string must start within the window of the string set */
	str = sys + sys_len;
	end = len - str < SMBIOS_WINDOW ? len : str + SMBIOS_WINDOW;
	for (i = 1;; i++) {
		/* an empty string ends the set: fewer strings than num */
		if (str >= end || !table[str])
			return 0;
		if (i == num)
			break;
		while (str < end && table[str])
			str++;
		str++;
	}

	/* two bytes when the third is the NUL (a one-byte name is copied with
	 * its terminator); otherwise up to the NUL, at most BIOS_NAME_LEN */
	if (len - str > 2 && !table[str + 2]) {
		n = 2;
	} else {
		for (n = 0; n < BIOS_NAME_LEN && n < len - str && table[str + n]; n++)
			;
		/* cut by the end of the table before its end or the limit */
		if (n < BIOS_NAME_LEN && n == len - str)
			return 0;
	}
	memcpy(name, table + str, n);
	return n;
}

/* Ends a product-family name: a blank, or a byte that is not printable
 * text (the NUL after a string, a line end) */
static int bios_name_end(u8 c)
{
	return c <= ' ' || c > '~';
}

int bios_prefix_name(const u8 *seg, size_t len, char *name)
{
	size_t i, k, plen;
	unsigned int n;

	memset(name, 0, BIOS_NAME_LEN);
	for (i = 0; i < len; i++) {
		for (k = 0; k < BIOS_NAME_PREFIXES; k++) {
			plen = strlen(bios_name_prefixes[k]);
			if (plen > len - i ||
			    memcmp(seg + i, bios_name_prefixes[k], plen))
				continue;
			for (n = 0; n < BIOS_NAME_LEN && n < len - i &&
				    !bios_name_end(seg[i + n]); n++)
				;
			memcpy(name, seg + i, n);
			return n;
		}
	}
	return 0;
}

int bios_find_product_name(const u8 *seg, size_t len, struct bios_mem *mem,
			   char *name)
{
	const u8 *table;
	long at;
	u32 addr;
	u16 table_len;
	int err;

	at = smbios_find_entry(seg, len);
	if (at < 0) {
		bios_prefix_name(seg, len, name);
		return 0;
	}

	memset(name, 0, BIOS_NAME_LEN);
	/* an empty table: no name (the fields lie inside a valid entry point) */
	if (smbios_entry_table(seg, len, at, &addr, &table_len) || !table_len)
		return 0;
	err = mem->map(mem, addr, table_len, &table);
	if (err)
		return err;
	smbios_product_name(table, table_len, name);
	mem->unmap(mem, table);
	return 0;
}
