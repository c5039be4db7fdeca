#!/usr/bin/python3
# Writes line17.sgy, the small SEG-Y file of the README's `qrtool segy` example: an EBCDIC
# textual header, a big-endian binary header (revision 1.0) and 12 traces of 1500 samples whose
# headers carry CDPs, offsets, scaled elevations and coordinates, inline and crossline numbers.
import math
import struct
import sys

SAMPLES, TRACES, INTERVAL_US = 1500, 12, 4000


def ibm_float(value):
    """A 4-byte IBM System/360 floating-point number, big-endian."""
    if value == 0:
        return b"\0\0\0\0"
    sign = 0x80 if value < 0 else 0
    fraction, exponent = abs(value), 64
    while fraction >= 1:
        fraction /= 16
        exponent += 1
    while fraction < 1 / 16:
        fraction *= 16
        exponent -= 1
    return struct.pack(">I", (sign | exponent) << 24 | int(fraction * (1 << 24)))


cards = ["CLIENT QRCORE DEMO   LINE 17", "AREA   A     SURVEY 2024",
         "SAMPLE INTERVAL 4 MS  1500 SAMPLES  UNITS [ms]",
         "DATA FORMAT 4-BYTE IBM FLOATING POINT"] + [""] * 34 + ["SEG Y REV1", "END TEXTUAL HEADER"]
text = "".join(("C%2d %s" % (n + 1, cards[n] if n < len(cards) else "")).ljust(80) for n in range(40))
binary = bytearray(400)
struct.pack_into(">iii", binary, 0, 1, 17, 1)                # job, line, reel
struct.pack_into(">hhhhhhhh", binary, 12, 1, 0, INTERVAL_US, INTERVAL_US, SAMPLES, SAMPLES, 1, 1)
struct.pack_into(">h", binary, 54, 1)                        # measurement system: meters
struct.pack_into(">hhh", binary, 300, 0x0100, 1, 0)          # revision 1.0, fixed length, no extended headers
traces = bytearray()
for trace in range(TRACES):
    header = bytearray(240)
    struct.pack_into(">iiii", header, 0, trace + 1, trace + 1, 1, trace + 1)
    struct.pack_into(">i", header, 20, 101 + trace)                       # CDP
    struct.pack_into(">i", header, 36, -1100 + 200 * trace)               # offset
    struct.pack_into(">i", header, 40, 1185 + 3 * trace)                  # receiver elevation, dm
    struct.pack_into(">hh", header, 68, -10, -100)                        # scalars: elevations, coordinates
    struct.pack_into(">ii", header, 72, (431900 + 25 * trace) * 100, 6512000 * 100)  # source x, y, cm
    struct.pack_into(">ii", header, 188, 17, 101 + trace)                 # inline, crossline
    struct.pack_into(">hh", header, 114, SAMPLES, INTERVAL_US)
    traces += header
    for i in range(SAMPLES):
        t = i * INTERVAL_US / 1e6
        traces += ibm_float(round(math.exp(-2 * t) * math.sin(2 * math.pi * 25 * t + trace / 3), 6))
sys.stdout.buffer.write(text.encode("cp037") + bytes(binary) + bytes(traces))
