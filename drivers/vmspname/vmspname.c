// SPDX-License-Identifier: GPL-2.0
/*
 * vmspname - product name of Velmora boards
 *
 * At load, the board's product name is taken from the firmware's SMBIOS
 * tables (the Product Name of the System Information structure) or, on a
 * board whose BIOS has no valid SMBIOS entry point, from the first
 * product-family name found in the BIOS segment. /dev/vmspname hands it
 * out: ioctl VMSPNAME_GET_NAME copies the 64-byte name to the caller (64
 * zero bytes when neither gives a name).
 *
 * Written for the 32-bit x86 boards (3.2 kernel series) and builds against
 * today's kernels too: see the compatibility macros below.
 */

#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/cdev.h>
#include <linux/compat.h>
#include <linux/device.h>
#include <linux/errno.h>
#include <linux/fs.h>
#include <linux/init.h>
#include <linux/io.h>
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/slab.h>
#include <linux/uaccess.h>
#include <linux/version.h>
#include <linux/vmalloc.h>

#include "vmspname_ioctl.h"

/* The search and the walk are shared with a user-space test. */
#include "bios_name.c"

#define DRVNAME "vmspname"
#define DRIVER_VERSION "2.00"
#define DRIVER_DATE "09/19/2017"

/*
 * ioremap_nocache() was removed in 5.6, when ioremap() had long been
 * uncached on every architecture (on x86 it always was).
 */
#if LINUX_VERSION_CODE >= KERNEL_VERSION(5, 6, 0) && !defined(ioremap_nocache)
#define ioremap_nocache(addr, size) ioremap(addr, size)
#endif

/* class_create() lost its owner argument in 6.4. */
#if LINUX_VERSION_CODE >= KERNEL_VERSION(6, 4, 0)
#define vmspname_class_create(name) class_create(name)
#else
#define vmspname_class_create(name) class_create(THIS_MODULE, name)
#endif

/* The product name, zero-filled, NUL-terminated when shorter than 64 bytes */
static char board_id[VMSPNAME_NAME_LEN];

static int vmspname_major;
static struct cdev *vmspname_cdev;
static struct class *my_class;

/* The BIOS segment and the SMBIOS structure table while they are read */
static void __iomem *uc_ptaddr;
static void __iomem *uc_epsaddr;

static int vmspname_open(struct inode *inode, struct file *file)
{
	file->private_data = inode->i_cdev;
	return 0;
}

static int vmspname_release(struct inode *inode, struct file *file)
{
	return 0;
}

static long vmspname_ioctl(struct file *file, unsigned int cmd,
			   unsigned long arg)
{
	if (cmd != VMSPNAME_GET_NAME)
		return -EPERM;
	if (copy_to_user((void __user *)arg, board_id, sizeof(board_id)))
		return -EFAULT;
	return 0;
}

#ifdef CONFIG_COMPAT
/* The argument is a pointer: a 32-bit caller's only needs widening. */
static long vmspname_compat_ioctl(struct file *file, unsigned int cmd,
				  unsigned long arg)
{
	return vmspname_ioctl(file, cmd, (unsigned long)compat_ptr(arg));
}
#endif

static const struct file_operations vmspname_fops = {
	.owner = THIS_MODULE,
	.open = vmspname_open,
	.release = vmspname_release,
	.unlocked_ioctl = vmspname_ioctl,
#ifdef CONFIG_COMPAT
	.compat_ioctl = vmspname_compat_ioctl,
#endif
};

/* A copy of a mapping, so that the search and the walk read plain memory */
static u8 *vmspname_copy(const void __iomem *map, unsigned long len)
{
	u8 *copy;

	copy = vmalloc(len);
	if (copy)
		memcpy_fromio(copy, map, len);
	return copy;
}

/* The structure table: uncached when it can be mapped so, cached otherwise */
static int vmspname_map_table(struct bios_mem *mem, u32 addr, u32 len,
			      const u8 **buf)
{
	u8 *table;

	uc_epsaddr = ioremap_nocache(addr, len);
	if (!uc_epsaddr)
		uc_epsaddr = ioremap_cache(addr, len);
	if (!uc_epsaddr) {
		pr_err("cannot map the SMBIOS table at 0x%08x, %u bytes\n", addr, len);
		return -ENXIO;
	}
	table = vmspname_copy(uc_epsaddr, len);
	iounmap(uc_epsaddr);
	uc_epsaddr = NULL;
	if (!table)
		return -ENOMEM;
	*buf = table;
	return 0;
}

static void vmspname_unmap(struct bios_mem *mem, const u8 *buf)
{
	vfree(buf);
}

static struct bios_mem vmspname_mem = {
	.map = vmspname_map_table,
	.unmap = vmspname_unmap,
};

/*
 * Determines board_id from the BIOS segment and the SMBIOS tables: 0 (the
 * name empty when they give none), -ENXIO when the segment or the table
 * cannot be mapped, -ENOMEM.
 */
static int vmspname_read_name(void)
{
	u8 *seg;
	int err;

	uc_ptaddr = ioremap_nocache(BIOS_SEG_START, BIOS_SEG_LEN);
	if (!uc_ptaddr) {
		pr_err("cannot map the BIOS segment\n");
		return -ENXIO;
	}
	seg = vmspname_copy(uc_ptaddr, BIOS_SEG_LEN);
	iounmap(uc_ptaddr);
	uc_ptaddr = NULL;
	if (!seg)
		return -ENOMEM;
	err = bios_find_product_name(seg, BIOS_SEG_LEN, &vmspname_mem, board_id);
	vfree(seg);
	return err;
}

static int __init vmspname_init(void)
{
	struct device *dev;
	dev_t devno;
	int err;

	/* The banner lines are the boards' own, without the module prefix. */
	printk(KERN_INFO "=====================================================\n");
	printk(KERN_INFO "     Product Name Detecting driver V%s [%s]\n",
	       DRIVER_VERSION, DRIVER_DATE);
	printk(KERN_INFO "     Velmora Corporation, Embedded Computing Division\n");
	printk(KERN_INFO "=====================================================\n");

	/*
	 * The name is complete before the device exists, so that no opener
	 * can read it half-made and nothing needs a lock.
	 */
	err = vmspname_read_name();
	if (err)
		return err;

	err = alloc_chrdev_region(&devno, 0, 1, DRVNAME);
	if (err)
		return err;
	vmspname_major = MAJOR(devno);

	vmspname_cdev = kzalloc(sizeof(*vmspname_cdev), GFP_KERNEL);
	if (!vmspname_cdev) {
		err = -ENOMEM;
		goto err_unregister_region;
	}

	cdev_init(vmspname_cdev, &vmspname_fops);
	vmspname_cdev->owner = THIS_MODULE;
	err = cdev_add(vmspname_cdev, devno, 1);
	if (err)
		goto err_free_cdev;

	my_class = vmspname_class_create(DRVNAME);
	if (IS_ERR(my_class)) {
		err = PTR_ERR(my_class);
		goto err_del_cdev;
	}

	dev = device_create(my_class, NULL, devno, NULL, "%s", DRVNAME);
	if (IS_ERR(dev)) {
		err = PTR_ERR(dev);
		goto err_destroy_class;
	}
	return 0;

err_destroy_class:
	class_destroy(my_class);
err_del_cdev:
	cdev_del(vmspname_cdev);
err_free_cdev:
	kfree(vmspname_cdev);
err_unregister_region:
	unregister_chrdev_region(devno, 1);
	return err;
}

static void __exit vmspname_exit(void)
{
	dev_t devno = MKDEV(vmspname_major, 0);

	device_destroy(my_class, devno);
	class_destroy(my_class);
	cdev_del(vmspname_cdev);
	kfree(vmspname_cdev);
	unregister_chrdev_region(devno, 1);
}

module_init(vmspname_init);
module_exit(vmspname_exit);

MODULE_DESCRIPTION("Driver for VELMORA Devices Detecting");
MODULE_LICENSE("GPL");
MODULE_VERSION(DRIVER_VERSION);
