#!/usr/bin/env python3
"""Checks a device's flash, as rompush-devsim saved it, against an Intel HEX file.

    flash_matches_hex.py FILE.hex FLASH.bin [FIRST-ADDRESS]

The flash a good PROGRAM leaves: the first data record lands at device address FIRST-ADDRESS
(0, a QTR receiver's; 0x800 for a VLN transmitter), every data byte sits that far from its
record's offset to the first record, and every cell no record covers is erased (FF). The
flash is a QTR receiver's 32 KB or a VLN transmitter's 16 KB. The file is read here on its own terms (record framing, checksums, types), not by the
program under test, so a wrong image loaded by the program shows as a difference.
Exit 0 when the flash holds exactly that image.
"""
import sys

FLASH_SIZES = (0x8000, 0x4000)  # QTR receiver, VLN transmitter


def fail(message):
    sys.exit("flash check: " + message)


def expected_image(path, size, first):
    records = []
    with open(path, "rb") as f:
        for number, raw in enumerate(f.read().splitlines(), 1):
            line = raw.decode("ascii").strip()
            if not line:
                continue
            if not line.startswith(":") or len(line) < 11 or len(line) % 2 == 0:
                fail("%s line %d is not a HEX record: %r" % (path, number, line))
            data = bytes.fromhex(line[1:])
            if len(data) != data[0] + 5 or sum(data) & 0xFF:
                fail("%s line %d: wrong byte count or checksum" % (path, number))
            records.append((number, data[1] << 8 | data[2], data[3], data[4:-1]))
    if len(records) < 2 or len(records[0][3]) != 6 or records[0][3][0] != 0x01:
        fail("%s: no 6-byte header record starting with 01" % path)
    if records[-1][2] != 0x01 or records[-1][3]:
        fail("%s: the last record is not an empty end record" % path)
    image = bytearray(b"\xff" * size)
    base = records[1][1] - first
    covered = 0
    for number, address, kind, payload in records[1:-1]:
        start = address - base
        if kind != 0x00 or start < 0 or start + len(payload) > size:
            fail("%s line %d: not a data record inside the flash" % (path, number))
        image[start:start + len(payload)] = payload
        covered += len(payload)
    if covered == 0:
        fail("%s: no data to compare" % path)
    return image, covered


def main():
    if len(sys.argv) not in (3, 4):
        fail("usage: flash_matches_hex.py FILE.hex FLASH.bin [FIRST-ADDRESS]")
    with open(sys.argv[2], "rb") as f:
        flash = f.read()
    if len(flash) not in FLASH_SIZES:
        fail("the flash holds %d bytes, a device %s" % (len(flash), " or ".join(map(str, FLASH_SIZES))))
    size = len(flash)
    image, covered = expected_image(sys.argv[1], size, int(sys.argv[3], 0) if len(sys.argv) == 4 else 0)
    wrong = [a for a in range(size) if flash[a] != image[a]]
    for a in wrong[:8]:
        print("flash check: address %04X holds %02X, the file gives %02X" % (a, flash[a], image[a]),
              file=sys.stderr)
    if wrong:
        fail("%d of %d bytes differ from the file's image" % (len(wrong), size))
    print("flash check: all %d bytes match (%d from the file, the rest erased)" % (size, covered))


if __name__ == "__main__":
    main()
