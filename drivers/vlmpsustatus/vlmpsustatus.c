// SPDX-License-Identifier: GPL-2.0
/*
 * vlmpsustatus - state of the two power-supply inputs of Velmora boards
 *
 * The inputs are wired to general-purpose pins of a Winbond W83627HF
 * Super-I/O chip: input 1 to bit 6 of the GPIO port of logical device 8,
 * input 2 to bit 4 of the GPIO port of logical device 9. /dev/vlmpsustatus
 * answers one ioctl per input with the level of its pin, 1 when the supply
 * is good.
 *
 * Built with VLMPSU_USERSPACE_TEST, only the Super-I/O code below is
 * compiled, against stand-ins for the kernel's port I/O, so that the same
 * register sequences can be checked in user space. Built with
 * VLMPSU_CHIP_MODEL, the port I/O goes to a model of the chip inside the
 * module, for testing on a machine without one.
 */

#ifdef VLMPSU_USERSPACE_TEST
#include "vlmpsu_userspace.h"
#else
#include <linux/bitops.h>
#include <linux/errno.h>
#include <linux/fs.h>
#include <linux/init.h>
#include <linux/io.h>
#include <linux/ioport.h>
#include <linux/kernel.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/platform_device.h>
#include <linux/uaccess.h>
#ifdef VLMPSU_CHIP_MODEL
#include "vlmpsu_model_io.h"
#endif
#endif

#include "vlmpsustatus_ioctl.h"

#define DRVNAME "vlmpsustatus"
#define PRODUCT_VERSION "1.0.0.1"
#define PRODUCT_DATE "2017/02/06"
#define FILE_VERSION "1.0.0.1"

#define W83627HF_DEVID 0x52

/* Super-I/O configuration registers */
#define SIO_ENTER_KEY 0x87	/* written twice to the index port */
#define SIO_EXIT_KEY 0xAA
#define SIO_REG_LDSEL 0x07	/* logical device select */
#define SIO_REG_DEVID 0x20	/* device ID */
#define SIO_REG_PINSEL29 0x29	/* multi-function pin selection */
#define SIO_REG_PINSEL2B 0x2B	/* multi-function pin selection */
#define SIO_REG_ENABLE 0x30	/* logical device activation */

/* Registers of a GPIO port's logical device */
#define GPIO_REG_IO 0xF0	/* direction, 1 = input */
#define GPIO_REG_DATA 0xF1	/* pin levels */
#define GPIO_REG_INV 0xF2	/* inversion, 1 = inverted */

/* Where each power-supply input is wired */
#define PWR1_LD 8		/* GPIO port 2 */
#define PWR1_PINSEL_REG SIO_REG_PINSEL2B
#define PWR1_PINSEL_BIT 0x04
#define PWR1_BIT 0x40
#define PWR2_LD 9		/* GPIO port 3 */
#define PWR2_PINSEL_REG SIO_REG_PINSEL29
#define PWR2_PINSEL_BIT 0x40
#define PWR2_BIT 0x10

/* Index (extended function enable) and data ports, set by w83627hf_find */
static int EFER = 0x2E;
static int EFDR = 0x2F;

/* Serialises the read sequences of ioctls and of the suspend reading */
static struct mutex update_lock;

/*
 * Configuration mode. The port pair is claimed as a muxed region from
 * entering to leaving, so that the kernel's own w83627hf hwmon and watchdog
 * drivers, which claim it the same way, cannot interleave their register
 * sequences with ours.
 */
static int superio_enter(void)
{
	if (!request_muxed_region(EFER, 2, DRVNAME))
		return -EBUSY;
	outb(SIO_ENTER_KEY, EFER);
	outb(SIO_ENTER_KEY, EFER);
	return 0;
}

static void superio_select(int ld)
{
	outb(SIO_REG_LDSEL, EFER);
	outb(ld, EFDR);
}

static int superio_inb(int reg)
{
	outb(reg, EFER);
	return inb(EFDR);
}

static void superio_outb(int reg, int val)
{
	outb(reg, EFER);
	outb(val, EFDR);
}

static void superio_exit(void)
{
	outb(SIO_EXIT_KEY, EFER);
	release_region(EFER, 2);
}

/* Read-modify-writes that leave the register's other bits as found */
static void superio_set_bits(int reg, int bits)
{
	superio_outb(reg, superio_inb(reg) | bits);
}

static void superio_clear_bits(int reg, int bits)
{
	superio_outb(reg, superio_inb(reg) & ~bits & 0xFF);
}

/*
 * Looks for the chip at one port pair: returns 0 when its device ID
 * register reads W83627HF_DEVID, -ENODEV when it does not, -EBUSY when the
 * ports are claimed by someone else.
 */
static int w83627hf_find_at(int efer)
{
	int devid, err;

	EFER = efer;
	EFDR = efer + 1;
	err = superio_enter();
	if (err)
		return err;
	devid = superio_inb(SIO_REG_DEVID);
	superio_exit();
	return devid == W83627HF_DEVID ? 0 : -ENODEV;
}

/* Tries 0x2E/0x2F first, then 0x4E/0x4F; EFER and EFDR keep the pair found. */
static int w83627hf_find(void)
{
	int err1, err2;

	err1 = w83627hf_find_at(0x2E);
	if (!err1)
		return 0;
	err2 = w83627hf_find_at(0x4E);
	if (!err2)
		return 0;
	return (err1 == -EBUSY || err2 == -EBUSY) ? -EBUSY : -ENODEV;
}

/*
 * Reads one input: routes the pin to its GPIO function, activates the
 * logical device, makes the bit a non-inverted input and reads the data
 * register. The pin is set up again on every read, so a firmware or driver
 * that changed it in between cannot make us read something else.
 * Returns the pin's level, 0 or 1, or -EBUSY.
 */
static int w83627hf_read_input(int ld, int pinsel_reg, int pinsel_bit, int bit)
{
	int data, err;

	mutex_lock(&update_lock);
	err = superio_enter();
	if (err) {
		mutex_unlock(&update_lock);
		return err;
	}
	superio_select(ld);
	superio_set_bits(pinsel_reg, pinsel_bit);
	superio_set_bits(SIO_REG_ENABLE, 0x01);
	superio_set_bits(GPIO_REG_IO, bit);
	superio_clear_bits(GPIO_REG_INV, bit);
	data = superio_inb(GPIO_REG_DATA);
	superio_exit();
	mutex_unlock(&update_lock);
	return (data & bit) ? 1 : 0;
}

static int pwr1_get_value(void)
{
	return w83627hf_read_input(PWR1_LD, PWR1_PINSEL_REG, PWR1_PINSEL_BIT,
				   PWR1_BIT);
}

static int pwr2_get_value(void)
{
	return w83627hf_read_input(PWR2_LD, PWR2_PINSEL_REG, PWR2_PINSEL_BIT,
				   PWR2_BIT);
}

#ifndef VLMPSU_USERSPACE_TEST

static unsigned long dev_is_open;	/* bit 0 set while the device is open */
static struct platform_device *psu_pdev;
static unsigned char pwr1_status, pwr2_status;	/* read at suspend */

/*
 * Copies the caller's byte in (its value is not used), reads input pwr and
 * stores its level in the byte.
 */
static long vlm_pwr_get_status(unsigned long arg, int pwr)
{
	unsigned char __user *argp = (unsigned char __user *)arg;
	unsigned char value;
	int ret;

	if (copy_from_user(&value, argp, sizeof(value))) {
		printk("vlmpsustatus: vlm_pwr_get_status: copy_from_user failed\n\n");
		return -EFAULT;
	}

	switch (pwr) {
	case 1:
		ret = pwr1_get_value();
		break;
	case 2:
		ret = pwr2_get_value();
		break;
	default:
		printk("vlmpsustatus: vlm_pwr_get_status: unrecognised pwr 0x%x\n",
		       pwr);
		return -EINVAL;
	}
	if (ret < 0)
		return ret;
	value = ret;

	if (copy_to_user(argp, &value, sizeof(value))) {
		printk("vlmpsustatus: vlm_pwr_get_status: copy_to_user failed\n\n");
		return -EFAULT;
	}
	return 0;
}

static long w83627hf_ioctrl(struct file *file, unsigned int cmd,
			    unsigned long arg)
{
	switch (cmd) {
	case VLMPSUSTATUS_GET_PWR1:
		return vlm_pwr_get_status(arg, 1);
	case VLMPSUSTATUS_GET_PWR2:
		return vlm_pwr_get_status(arg, 2);
	default:
		return -EINVAL;
	}
}

/* One opener at a time */
static int w83627hf_open(struct inode *inode, struct file *file)
{
	if (test_and_set_bit(0, &dev_is_open))
		return -EBUSY;
	return nonseekable_open(inode, file);
}

static int w83627hf_close(struct inode *inode, struct file *file)
{
	clear_bit(0, &dev_is_open);
	return 0;
}

/*
 * The argument is a pointer in both commands, so a 32-bit caller's request
 * only needs its pointer widened: compat_ptr_ioctl does that.
 */
static const struct file_operations w83627hf_fops = {
	.owner = THIS_MODULE,
	.llseek = no_llseek,
	.unlocked_ioctl = w83627hf_ioctrl,
	.compat_ioctl = compat_ptr_ioctl,
	.open = w83627hf_open,
	.release = w83627hf_close,
};

static struct miscdevice w83627hf_miscdev = {
	.minor = MISC_DYNAMIC_MINOR,
	.name = DRVNAME,
	.fops = &w83627hf_fops,
};

static int w83627hf_psu_probe(struct platform_device *pdev)
{
	mutex_init(&update_lock);
	return misc_register(&w83627hf_miscdev);
}

static int w83627hf_psu_remove(struct platform_device *pdev)
{
	misc_deregister(&w83627hf_miscdev);
	return 0;
}

static void w83627hf_psu_shutdown(struct platform_device *pdev)
{
}

/* Logs the state of both inputs as the board goes to sleep. */
static int w83627hf_psu_suspend(struct platform_device *pdev,
				pm_message_t state)
{
	int ret;

	ret = pwr1_get_value();
	if (ret >= 0)
		pwr1_status = ret;
	ret = pwr2_get_value();
	if (ret >= 0)
		pwr2_status = ret;
	printk("\nvlmpsustatus: w83627hf_psu_suspend: pwr1_status = (0x%X), pwr2_status = (0x%X)\n\n",
	       pwr1_status, pwr2_status);
	return 0;
}

static int w83627hf_psu_resume(struct platform_device *pdev)
{
	return 0;
}

static struct platform_driver w83627hf_psu_driver = {
	.driver = {
		.owner = THIS_MODULE,
		.name = DRVNAME,
	},
	.probe = w83627hf_psu_probe,
	.remove = w83627hf_psu_remove,
	.shutdown = w83627hf_psu_shutdown,
	.suspend = w83627hf_psu_suspend,
	.resume = w83627hf_psu_resume,
};

static int __init w83627hf_device_add(void)
{
	int err;

	psu_pdev = platform_device_alloc(DRVNAME, -1);
	if (!psu_pdev)
		return -ENOMEM;

	err = platform_device_add(psu_pdev);
	if (err) {
		platform_device_put(psu_pdev);
		return err;
	}
	return 0;
}

static int __init w83627hf_psu_init(void)
{
	int err;

	printk("\nVelmora PSU Status Drivers.\n");
	printk("Product V%s [%s]\nFile V%s\n\n", PRODUCT_VERSION, PRODUCT_DATE,
	       FILE_VERSION);

	err = w83627hf_find();
	if (err)
		return err;

	err = platform_driver_register(&w83627hf_psu_driver);
	if (err)
		return err;

	err = w83627hf_device_add();
	if (err) {
		platform_driver_unregister(&w83627hf_psu_driver);
		return err;
	}
	return 0;
}

static void __exit w83627hf_psu_exit(void)
{
	platform_device_unregister(psu_pdev);
	platform_driver_unregister(&w83627hf_psu_driver);
}

module_init(w83627hf_psu_init);
module_exit(w83627hf_psu_exit);

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Winbond W83627HF PSU Status driver");
MODULE_VERSION(PRODUCT_VERSION);

#endif /* VLMPSU_USERSPACE_TEST */
