#!/usr/bin/env python3
"""Writes random DMK images for comparing two builds (scripts/differential.sh).

    scripts/make-random-dmks.py FOLDER [--count 300] [--series 1]

Each image has 1 to 6 tracks of one or two sides. Its track length is short (a 5.25-inch
single-density dump, 0x18EA, 0x1900) or long (up to the format's 0x2940), with single-
density bytes doubled or, sometimes, stored once. A track side holds sectors of both
densities, sizes 128 to 1024 bytes, ordinary and deleted data marks, some with bad ID or
data CRCs, some with no data field, stray ID pointers, index marks, and, on long tracks,
sectors beyond the 6,272 bytes of a 5.25-inch track. The same series number
gives the same files, so a comparison can be repeated exactly.
"""
import argparse
import os
import random

SHORT_LENGTHS = [0x0CC0, 0x18EA, 0x1900]
LONG_LENGTHS = [0x2200, 0x2930, 0x2940]


def crc16(data, crc=0xFFFF):
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


class Side:
    """The stored bytes of one track side after its pointer table."""

    def __init__(self, length, single_once):
        self.bytes = bytearray()
        self.length = length - 128
        self.single_once = single_once
        self.pointers = []

    def put(self, values, density):
        for value in values:
            self.bytes.append(value)
            if not density and not self.single_once:
                self.bytes.append(value)

    def offset(self):
        return 128 + len(self.bytes)

    def full(self, margin):
        return len(self.bytes) + margin >= self.length

    def sector(self, rng, track, density):
        size = rng.choice([128, 256, 256, 256, 512, 1024])
        number = rng.randrange(0, 30)
        side_field = rng.choice([0, 0, 0, 1])
        track_field = track if rng.random() < 0.9 else rng.randrange(0, 80)
        gap_fill = 0x4E if density else 0xFF
        self.put([gap_fill] * rng.randrange(8, 40), density)
        self.put([0x00] * (12 if density else 6), density)
        sync = [0xA1] * 3 if density else []
        self.put(sync, density)
        if rng.random() < 0.97:
            self.pointers.append(self.offset() | (0x8000 if density else 0))
        id_field = [0xFE, track_field, side_field, number, {128: 0, 256: 1, 512: 2, 1024: 3}[size]]
        crc = crc16(bytes(sync + id_field))
        if rng.random() < 0.05:
            crc ^= 0x1234
        self.put(id_field + [crc >> 8, crc & 0xFF], density)
        if rng.random() < 0.05:
            return  # an ID field without data
        self.put([gap_fill] * (22 if density else 11), density)
        self.put([0x00] * (12 if density else 6), density)
        dam = rng.choice([0xFB, 0xFB, 0xFB, 0xFA, 0xF8])
        data = [rng.randrange(256) for _ in range(size)]
        if rng.random() < 0.1:
            data = [0xA1 if rng.random() < 0.3 else 0xFE for _ in range(size)]
        crc = crc16(bytes(sync + [dam] + data))
        if rng.random() < 0.07:
            crc ^= 0x0101
        self.put(sync, density)
        self.put([dam] + data + [crc >> 8, crc & 0xFF], density)

    def stored(self, rng):
        table = bytearray(128)
        pointers = self.pointers[:64]
        if rng.random() < 0.05:
            pointers.append(rng.randrange(0, 0x4000) | rng.choice([0, 0x8000]))
        for i, pointer in enumerate(pointers[:64]):
            table[2 * i] = pointer & 0xFF
            table[2 * i + 1] = pointer >> 8
        body = bytes(self.bytes[: self.length])
        body += bytes([0x4E]) * (self.length - len(body))
        return bytes(table) + body


def track_side(rng, length, single_once, track):
    side = Side(length, single_once)
    mixed = rng.random() < 0.4
    density = rng.random() < 0.7
    if rng.random() < 0.3:
        if density:
            side.put([0x4E] * 20 + [0x00] * 12 + [0xC2] * 3 + [0xFC], True)
        else:
            side.put([0xFF] * 10 + [0x00] * 6 + [0xFC], False)
    while not side.full(1400):
        if mixed and rng.random() < 0.3:
            density = not density
        side.sector(rng, track, density)
    return side.stored(rng)


def image(rng):
    long_tracks = rng.random() < 0.5
    length = rng.choice(LONG_LENGTHS if long_tracks else SHORT_LENGTHS)
    single_once = rng.random() < 0.15
    sides = rng.choice([1, 2])
    tracks = rng.randrange(1, 7)
    options = (0x10 if sides == 1 else 0) | (0x40 if single_once else 0)
    header = bytes([0x00, tracks, length & 0xFF, length >> 8, options]) + bytes(11)
    body = b"".join(track_side(rng, length, single_once, t) for t in range(tracks) for _ in range(sides))
    return header + body


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--count", type=int, default=300)
    parser.add_argument("--series", type=int, default=1,
                        help="which series of images to make; one number always makes the same ones")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    rng = random.Random(args.series)
    for n in range(args.count):
        with open(os.path.join(args.folder, "random-%03d.dmk" % n), "wb") as out:
            out.write(image(rng))


if __name__ == "__main__":
    main()
