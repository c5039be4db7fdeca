#!/usr/bin/env python3
"""Writes cp037_table.txt, the expected EBCDIC<->ASCII tables, from Python's cp037 codec.

Run once; the output is committed. Each line: EBCDIC byte, the ASCII byte it must give, then
ASCII byte, the EBCDIC byte it must give (all hexadecimal, index = line number).
Rules: a code page 037 character that is printable ASCII (0x20-0x7E) gives itself, every other
gives a blank, with these house differences: 0x5F (not sign) gives '^'; 0xB0 ('^'), 0xBA ('[')
and 0xBB (']') give a blank. ASCII to EBCDIC is the inverse for every character produced and
the EBCDIC blank 0x40 for everything else."""
import codecs

e2a = []
for e in range(256):
    ch = bytes([e]).decode("cp037")
    a = ord(ch) if 0x20 <= ord(ch) <= 0x7E else 0x20
    if e == 0x5F:
        assert ch == "\u00ac"
        a = 0x5E
    if e in (0xB0, 0xBA, 0xBB):
        assert ch in "^[]"
        a = 0x20
    e2a.append(a)

a2e = []
for a in range(256):
    if a == 0x20:
        a2e.append(0x40)
    elif a == 0x5E:
        a2e.append(0x5F)
    elif 0x21 <= a <= 0x7E and chr(a) not in "[]":
        a2e.append(codecs.encode(chr(a), "cp037")[0])
    else:
        a2e.append(0x40)

# The two rules must agree: ASCII -> EBCDIC -> ASCII gives every produced character back.
produced = {a for a in e2a if a != 0x20}
assert len(produced) == 92
for a in produced:
    assert e2a[a2e[a]] == a

with open("cp037_table.txt", "w") as out:
    for i in range(256):
        out.write(f"{i:02X} {e2a[i]:02X} {i:02X} {a2e[i]:02X}\n")
