#!/usr/bin/env python3
"""Writes cp932_table.cpp: the double-byte part of code page 932 as a lookup table.

Run from this folder: python3 make_cp932_table.py > cp932_table.cpp
Python's own cp932 codec supplies the mapping; pairs it cannot decode are stored as 0.
"""

LEADS = list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))
TRAILS = range(0x40, 0xFD)

values = []
for lead in LEADS:
    for trail in TRAILS:
        try:
            text = bytes([lead, trail]).decode("cp932")
            values.append(ord(text) if len(text) == 1 else 0)
        except UnicodeDecodeError:
            values.append(0)

print("// Code page 932 double-byte characters as UTF-16 code units; made by make_cp932_table.py.")
print('#include "output/ansi_text.h"')
print()
print("namespace trawler {")
print()
print("// Rows: lead bytes 81-9F then E0-FC; columns: trail bytes 40-FC; 0 = no character.")
print("extern const uint16_t kCp932Table[%d];" % len(values))
print("const uint16_t kCp932Table[%d] = {" % len(values))
for i in range(0, len(values), 12):
    print("    " + ", ".join("0x%04X" % v for v in values[i:i + 12]) + ",")
print("};")
print()
print("}  // namespace trawler")
