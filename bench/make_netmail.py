#!/usr/bin/env python3
"""Writes a *.MSG netmail area of N messages with realistic sizes.

    make_netmail.py FOLDER N [--upper] [--mix]

Without --mix every second message is addressed to Sysop and the others to
'User n'.  With --mix the recipients split the area the way bench/bulk_move.sh
routes it: half to Sysop, a fifth to 'Jam User', a tenth to 'Msg User', a
tenth to 'Spammer' and a tenth to 'User n' (picked by no rule).  Files are
named n.msg, or N.MSG with --upper."""
import argparse
import random
import struct


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


def recipient(n, mix):
    if not mix:
        return 'Sysop' if n % 2 == 0 else 'User %d' % n
    share = n % 10
    if share < 5:
        return 'Sysop'
    if share < 7:
        return 'Jam User'
    return ('Msg User', 'Spammer', 'User %d' % n)[share - 7]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('folder')
    parser.add_argument('count', type=int)
    parser.add_argument('--upper', action='store_true', help='name the files N.MSG')
    parser.add_argument('--mix', action='store_true', help='the five-way split of bulk_move.sh')
    args = parser.parse_args()
    random.seed(args.count)
    pattern = '%s/%d.MSG' if args.upper else '%s/%d.msg'
    for n in range(1, args.count + 1):
        with open(pattern % (args.folder, n), 'wb') as f:
            f.write(message(n, recipient(n, args.mix)))


main()
