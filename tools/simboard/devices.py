# SPDX-License-Identifier: BSD-3-Clause
"""The drivers' device files that the agent reads through the device shim
(VLM_DEV_DIR): /dev/vmspname, the board's product name, and
/dev/vlmpsustatus, the power-supply inputs."""

from typing import Optional, Union

DEFAULT_PRODUCT_NAME = "VLM-7000"
# The power-supply inputs as the status driver reports them: one character
# per input, '1' good, '0' not good; any other character makes that read fail.
DEFAULT_PSU_INPUTS = "11"


class DevicesMixin:
    """Board methods for the product-name and power-supply devices."""

    # -- the shim's devices ---------------------------------------------------

    def set_product_name(self, name: Optional[Union[str, bytes]]):
        """What the /dev/vmspname driver answers; None: no such device."""
        self.set_device("vmspname", name)

    def set_psu_inputs(self, inputs: Optional[str]):
        """What /dev/vlmpsustatus answers from now on: "11" both inputs good,
        "10" input 2 down, "1E" input 2 cannot be read; None: no device."""
        self.set_device("vlmpsustatus", inputs)

    def set_device(self, name: str, content: Optional[Union[str, bytes]]):
        path = self.dev_dir / name
        if content is None:
            path.unlink(missing_ok=True)
        else:
            # Written over in place and cut to length afterwards: the agent
            # reads a device it keeps open again and again, and must never
            # find it empty in between.
            data = content.encode() if isinstance(content, str) else content
            with open(path, "r+b" if path.exists() else "wb") as f:
                f.write(data)
                f.truncate(len(data))
