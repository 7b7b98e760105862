/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Finding the board's product name in the BIOS area: the SMBIOS entry point
 * search, the walk to the System Information structure, and the fallback
 * scan for a product-family name. Plain functions over byte buffers, built
 * into the vmspname module and into a user-space test.
 */
#ifndef VMSPNAME_BIOS_NAME_H
#define VMSPNAME_BIOS_NAME_H

#ifdef __KERNEL__
#include <linux/types.h>
#else
#include <stddef.h>
#include <stdint.h>
typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
#endif

/* The product name: up to this many bytes, NUL-terminated when shorter */
#define BIOS_NAME_LEN 64

/* The BIOS segment searched for the entry point and the family names */
#define BIOS_SEG_START 0xF0000
#define BIOS_SEG_LEN 0xFFFF

/*
 * SMBIOS 2.x entry point, on a 16-byte boundary: "_SM_", a checksum over
 * the entry point's length (byte 0x05), then at 0x10 "_DMI_" and a checksum
 * over the 15 bytes 0x10..0x1E, which hold the table length and address.
 */
#define SMBIOS_EPS_ALIGN 16
#define SMBIOS_EPS_SPAN 0x1F	/* to the end of the "_DMI_" checksum's bytes */
#define SMBIOS_EPS_USED 0x1C	/* up to the table address at 0x18..0x1B */

/*
 * Physical memory beyond the BIOS segment, as the caller reaches it: map()
 * gives len bytes from physical address addr as a buffer, or fails with a
 * negative errno; unmap() gives the buffer back.
 */
struct bios_mem {
	int (*map)(struct bios_mem *mem, u32 addr, u32 len, const u8 **buf);
	void (*unmap)(struct bios_mem *mem, const u8 *buf);
};

/*
 * Offset of the first SMBIOS 2.x entry point in seg (which starts on a
 * 16-byte boundary) that lies wholly inside it and whose length byte and
 * checksums are right, or -1.
 */
long smbios_find_entry(const u8 *seg, size_t len);

/*
 * Structure table address and length from the entry point at offset at;
 * -1 when those fields lie beyond the end of seg.
 */
int smbios_entry_table(const u8 *seg, size_t len, size_t at, u32 *addr,
		       u16 *table_len);

/*
 * The Product Name of the System Information structure found in the
 * structure table, into name (BIOS_NAME_LEN bytes, zero-filled first).
 * Returns the number of bytes copied; 0 leaves the name empty.
 */
int smbios_product_name(const u8 *table, size_t len, char *name);

/*
 * The first product-family name in seg, into name (BIOS_NAME_LEN bytes,
 * zero-filled first). Returns its length; 0 when none is found.
 */
int bios_prefix_name(const u8 *seg, size_t len, char *name);

/*
 * The product name of the board whose BIOS segment is seg: from the SMBIOS
 * tables when the segment holds an entry point, from a product-family name
 * in the segment otherwise. name is BIOS_NAME_LEN bytes; it is left empty
 * when neither gives a name (the device then hands out 64 zero bytes, as it
 * always has). Returns 0, or the error of mem->map() when the structure
 * table cannot be mapped.
 */
int bios_find_product_name(const u8 *seg, size_t len, struct bios_mem *mem,
			   char *name);

#endif
