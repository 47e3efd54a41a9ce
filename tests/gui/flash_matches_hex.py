#!/usr/bin/env python3
"""Checks a QTR receiver's flash, as rompush-devsim saved it, against an Intel HEX file.

    flash_matches_hex.py FILE.hex FLASH.bin

The flash a good PROGRAM leaves: the first data record's address is device address 0, every
data byte sits at its record address less that one, and every cell no record covers is erased
(FF). The file is read here on its own terms (record framing, checksums, types), not by the
program under test, so a wrong image loaded by the program shows as a difference.
Exit 0 when the flash holds exactly that image.
"""
import sys

QTR_FLASH_SIZE = 0x8000


def fail(message):
    print("flash check: " + message, file=sys.stderr)
    sys.exit(1)


def read_records(path):
    records = []
    with open(path, "rb") as f:
        for number, raw in enumerate(f.read().splitlines(), 1):
            line = raw.decode("ascii").strip()
            if not line:
                continue
            if not line.startswith(":") or len(line) < 11 or len(line) % 2 == 0:
                fail("%s line %d is not a HEX record: %r" % (path, number, line))
            data = bytes.fromhex(line[1:])
            count, address, kind = data[0], data[1] << 8 | data[2], data[3]
            if len(data) != count + 5:
                fail("%s line %d: byte count %d, record holds %d" % (path, number, count,
                                                                      len(data) - 5))
            if sum(data) & 0xFF:
                fail("%s line %d: checksum wrong" % (path, number))
            records.append((number, address, kind, data[4:4 + count]))
    return records


def expected_image(path):
    records = read_records(path)
    if len(records) < 2:
        fail("%s: fewer than two records" % path)
    number, _, _, header = records[0]
    if len(header) != 6 or header[0] != 0x01:
        fail("%s: the first record is not a 6-byte header starting with 01" % path)
    if records[-1][2] != 0x01 or records[-1][3]:
        fail("%s: the last record is not an empty end record" % path)
    image = bytearray(b"\xff" * QTR_FLASH_SIZE)
    base = None
    covered = 0
    for number, address, kind, payload in records[1:-1]:
        if kind != 0x00:
            fail("%s line %d: record type %02X where data is expected" % (path, number, kind))
        if base is None:
            base = address
        start = address - base
        if start < 0 or start + len(payload) > QTR_FLASH_SIZE:
            fail("%s line %d: address %04X outside the flash" % (path, number, address))
        image[start:start + len(payload)] = payload
        covered += len(payload)
    if covered == 0:
        fail("%s: no data to compare" % path)
    return image, covered


def main():
    if len(sys.argv) != 3:
        fail("usage: flash_matches_hex.py FILE.hex FLASH.bin")
    image, covered = expected_image(sys.argv[1])
    with open(sys.argv[2], "rb") as f:
        flash = f.read()
    if len(flash) != QTR_FLASH_SIZE:
        fail("the flash holds %d bytes, a QTR receiver %d" % (len(flash), QTR_FLASH_SIZE))
    wrong = [a for a in range(QTR_FLASH_SIZE) if flash[a] != image[a]]
    if wrong:
        for a in wrong[:8]:
            print("flash check: address %04X holds %02X, the file gives %02X" %
                  (a, flash[a], image[a]), file=sys.stderr)
        fail("%d of %d bytes differ from the file's image" % (len(wrong), QTR_FLASH_SIZE))
    print("flash check: all %d bytes match (%d from the file, the rest erased)" %
          (QTR_FLASH_SIZE, covered))


if __name__ == "__main__":
    main()
