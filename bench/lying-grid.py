#!/usr/bin/python3
"""Writes a HEIF file whose grid of 2 x 2 copies of one HEVC tile claims (ispe) to be a
small picture while its canvas, the size libheif makes, is far larger.

    bench/lying-grid.py TILE.heic OUT.heic [CLAIMED_SIDE [CANVAS_SIDE]]

TILE.heic is a one-picture file as heif-enc writes it; its configuration and its picture
data become the tile. The sides default to 512 and 20000: 400 megapixels, past kelvo's limit.
"""
import struct
import sys


def box(kind, body, version=None):
    if version is not None:
        body = struct.pack('>I', version << 24) + body
    return struct.pack('>I', 8 + len(body)) + kind + body


def box_in(data, kind):
    at = data.index(kind) - 4
    return data[at:at + struct.unpack('>I', data[at:at + 4])[0]]


def main():
    tile = open(sys.argv[1], 'rb').read()
    claim = int(sys.argv[3]) if len(sys.argv) > 3 else 512
    side = int(sys.argv[4]) if len(sys.argv) > 4 else 20000
    hevc = box_in(tile, b'mdat')[8:]
    canvas = struct.pack('>BBBBHH', 0, 0, 1, 1, side, side)  # version, flags, rows - 1, columns - 1
    infe = box(b'infe', struct.pack('>HH', 1, 0) + b'hvc1\0', 2) + box(b'infe', struct.pack('>HH', 2, 0) + b'grid\0', 2)
    properties = box_in(tile, b'hvcC') + box_in(tile, b'ispe') + box(b'ispe', struct.pack('>II', claim, claim), 0)
    # Item 1, the tile: its configuration (essential) and its size; item 2, the grid: the claim.
    associations = struct.pack('>I', 2) + bytes.fromhex('0001028102 00020103')

    def meta(data):
        locations = struct.pack('>HHHII', 1, 0, 1, data + len(canvas), len(hevc)) + \
            struct.pack('>HHHII', 2, 0, 1, data, len(canvas))
        return box(b'meta', box(b'hdlr', bytes(4) + b'pict' + bytes(13), 0) + box(b'pitm', struct.pack('>H', 2), 0) +
                   box(b'iinf', struct.pack('>H', 2) + infe, 0) +
                   box(b'iref', box(b'dimg', struct.pack('>HHHHHH', 2, 4, 1, 1, 1, 1)), 0) +
                   box(b'iloc', bytes.fromhex('4400') + struct.pack('>H', 2) + locations, 0) +
                   box(b'iprp', box(b'ipco', properties) + box(b'ipma', associations, 0)), 0)

    ftyp = box(b'ftyp', b'heic' + bytes(4) + b'mif1heic')
    start = len(ftyp) + len(meta(0)) + 8
    with open(sys.argv[2], 'wb') as out:
        out.write(ftyp + meta(start) + box(b'mdat', canvas + hevc))


main()
