#!/usr/bin/python3
# Writes the largest pictures kelvo takes, into the folder given, for bench/picture-peaks.sh: 16320 x 12240 (199.8
# million pixels, a 200-megapixel phone's photo) as an 8-bit PNG, a WebP, a 24-bit bitmap and a progressive JPEG,
# and a 16-bit PNG of 14000 x 10600 (148.4 million pixels, the most of that form within kelvo's memory for a
# picture). A gradient: their content changes nothing of the memory a reader holds.
import os
import struct
import sys
import zlib

from PIL import Image

W, H = 16320, 12240
folder = sys.argv[1]


def png(name, w, h, deep):
    # Written row by row, so that the 16-bit picture is never held here.
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    row = bytes((x * 255 // w) for x in range(w) for _ in range(6 if deep else 3))
    packer = zlib.compressobj(6)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 16 if deep else 8, 2, 0, 0, 0)))
        data = b"".join(packer.compress(b"\0" + row) for _ in range(h)) + packer.flush()
        f.write(chunk(b"IDAT", data) + chunk(b"IEND", b""))


def bitmap(name, w, h):
    # The pixels are zeros, left as a hole in the file.
    stride = (w * 3 + 3) // 4 * 4
    with open(os.path.join(folder, name), "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + stride * h, 0, 0, 54))
        f.write(struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, stride * h, 2835, 2835, 0, 0))
        f.truncate(54 + stride * h)


png("png8-200mp.png", W, H, False)
png("png16-148mp.png", 14000, 10600, True)
bitmap("bmp-200mp.bmp", W, H)
gradient = Image.linear_gradient("L").resize((W, H)).convert("RGB")
gradient.save(os.path.join(folder, "progressive-200mp.jpg"), quality=80, progressive=True)
gradient.save(os.path.join(folder, "webp-200mp.webp"), quality=50)
