#!/usr/bin/env python3
"""Writes a *.MSG netmail area of N messages with realistic sizes; every
second message is addressed to Sysop."""
import random
import struct
import sys


def message(n, to):
    h = bytearray(190)
    for off, text, size in ((0, 'Sender %d' % n, 36), (36, to, 36), (72, 'Subject %d' % n, 72),
                            (144, '10 Dec 26  12:%02d:%02d' % (n // 60 % 60, n % 60), 20)):
        b = text.encode()[:size - 1]
        h[off:off + len(b)] = b
    struct.pack_into('<hhHhh', h, 166, 2, n % 30000, 0, 5020, 5020)
    body_lines = random.randint(5, 120)
    text = '\x01MSGID: 2:5020/%d %08x\r\x01INTL 2:5020/2 2:5020/%d\r' % (n % 30000, n, n % 30000)
    text += ''.join('Line %d of a netmail message with some ordinary words in it.\r' % i
                    for i in range(body_lines))
    return bytes(h) + text.encode() + b'\0'


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    random.seed(count)
    for n in range(1, count + 1):
        with open('%s/%d.msg' % (folder, n), 'wb') as f:
            f.write(message(n, 'Sysop' if n % 2 == 0 else 'User %d' % n))


main()
