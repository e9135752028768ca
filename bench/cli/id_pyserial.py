#!/usr/bin/env python3
"""The reference for the `id` benchmark: the exchange `tamberlo-cli id` makes, through pyserial.

Port number N means the device behind <runtime dir>/tamberlo/port<N>, as for tamberlo-cli.
Opens it at 9600 8N1, drops stale input, writes DEVID (0x09) as a one-byte frame, reads the
three reply bytes (timeout 1000 ms after the write) and prints the model.

Usage: id_pyserial.py [N|DEVICE]
"""
import os
import sys

import serial

MODELS = {
    0x80: "ISD1730", 0x90: "ISD1720", 0xA0: "ISD1760", 0xA8: "ISD1750",
    0xB0: "ISD1740", 0xC0: "ISD17150", 0xC8: "ISD17120", 0xD0: "ISD1790",
    0xE0: "ISD17240", 0xE8: "ISD17210", 0xF0: "ISD17180",
}


def main():
    port = sys.argv[1] if len(sys.argv) > 1 else "1"
    if port.isdigit():
        runtime = os.environ.get("XDG_RUNTIME_DIR") or "/run/user/%d" % os.getuid()
        device = os.path.realpath(os.path.join(runtime, "tamberlo", "port" + port))
    else:
        device = port
    with serial.Serial(device, 9600, bytesize=8, parity="N", stopbits=1, timeout=1.0) as link:
        link.reset_input_buffer()
        link.write(b"\x09")
        link.flush()
        reply = link.read(3)
    if len(reply) < 3:
        print("port %s (%s): no reply to DEVID (0x09) within 1000 ms" % (port, device),
              file=sys.stderr)
        return 3
    print("%s (device ID 0x%02X)" % (MODELS.get(reply[2], "unknown device"), reply[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
