#!/usr/bin/python3
# Writes the seed pictures of the picture readers' fuzz targets into tests/fuzz/seeds/<name>/: one small file of
# each form a reader takes (a few hundred bytes each), made with Pillow and libheif's heif-enc, and by hand where
# neither writes the form (run-length bitmaps, an interlaced PNG, a HEIF grid). Run it again only to change them.
import io
import os
import struct
import subprocess
import tempfile
import zlib

from PIL import Image

SEEDS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds")


def picture(w, h, mode="RGB"):
    image = Image.new("RGB", (w, h))
    image.putdata([((x * 37) % 256, (y * 53) % 256, ((x + y) * 29) % 256) for y in range(h) for x in range(w)])
    return image.convert(mode)


def saved(image, form, **options):
    out = io.BytesIO()
    image.save(out, form, **options)
    return out.getvalue()


def write(name, files):
    folder = os.path.join(SEEDS, name)
    os.makedirs(folder, exist_ok=True)
    for file, data in files.items():
        with open(os.path.join(folder, file), "wb") as f:
            f.write(data)


def exif(orientation):
    # "Exif\0\0", a big-endian TIFF header and IFD0 holding the orientation alone.
    return b"Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01" + struct.pack(">H", orientation) + b"\0\0\0\0\0\0"


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def interlaced_png(image):
    # Adam7: seven passes, each a sub-picture of its own rows, every row after a filter byte of 0.
    w, h = image.size
    pixels = image.load()
    raw = b""
    for x0, y0, dx, dy in ((0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)):
        for y in range(y0, h, dy):
            row = b"".join(bytes(pixels[x, y]) for x in range(x0, w, dx))
            raw += b"\0" + row if row else b""
    head = struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 1)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def deep_png(image):
    # 16 bits a colour: each byte of the picture twice.
    w, h = image.size
    pixels = image.load()
    raw = b"".join(b"\0" + b"".join(bytes(c for c in pixels[x, y] for _ in (0, 1)) for x in range(w)) for y in range(h))
    head = struct.pack(">IIBBBBB", w, h, 16, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")


def run_length_bmp(bits):
    # 16 x 4 pixels: runs of one index, an end of line after each row, the end of the picture.
    palette = b"".join(bytes((i * 15, 255 - i * 15, i * 7, 0)) for i in range(16))
    runs = (b"\x10\x01" if bits == 8 else b"\x10\x12") + b"\0\0"
    data = runs * 4 + b"\0\1"
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, 16, 4, 1, bits, 1 if bits == 8 else 2, len(data), 2835, 2835, 16, 0)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + palette + data


def os2_bmp():
    # The 12-byte core header of OS/2 bitmaps, 24 bits, 2 x 2.
    rows = b"\x10\x20\x30\x40\x50\x60\0\0" * 2
    return b"BM" + struct.pack("<IHHI", 26 + len(rows), 0, 0, 26) + struct.pack("<IHHHH", 12, 2, 2, 1, 24) + rows


def heif_enc(image, *options):
    with tempfile.TemporaryDirectory() as folder:
        source, out = os.path.join(folder, "in.png"), os.path.join(folder, "out.heic")
        image.save(source)
        subprocess.run(["heif-enc", "-q", "30", *options, "-o", out, source], check=True, capture_output=True)
        with open(out, "rb") as f:
            return f.read()


def box(kind, body, version=None):
    full = body if version is None else struct.pack(">I", version << 24) + body
    return struct.pack(">I", 8 + len(full)) + kind + full


def box_in(data, kind):
    at = data.index(kind) - 4
    return data[at:at + struct.unpack(">I", data[at:at + 4])[0]]


def heif_grid(tile):
    # A 2 x 2 grid (item 2) of the one tile of a heif-enc file (item 1), its canvas in the idat box.
    hevc = box_in(tile, b"mdat")[8:]
    ispe = box_in(tile, b"ispe")
    side = struct.unpack(">I", ispe[12:16])[0]
    canvas = b"\0\0\x01\x01" + struct.pack(">HH", 2 * side, 2 * side)
    grid_ispe = box(b"ispe", struct.pack(">II", 2 * side, 2 * side), 0)
    properties = box(b"ipco", box_in(tile, b"hvcC") + ispe + grid_ispe)
    associations = box(b"ipma", bytes.fromhex("00000002 0001028102 00020103"), 0)
    items = box(b"infe", b"\0\x01\0\0hvc1\0", 2) + box(b"infe", b"\0\x02\0\0grid\0", 2)

    def meta(data_at):
        # Offsets and lengths of 4 bytes, two items: the tile in the file, the canvas in idat (method 1).
        locations = b"\x44\x00\x00\x02" + struct.pack(">HHHHII", 1, 0, 0, 1, data_at, len(hevc))
        locations += struct.pack(">HHHHII", 2, 1, 0, 1, 0, len(canvas))
        return box(b"meta", box(b"hdlr", b"\0" * 4 + b"pict" + b"\0" * 13, 0) + box(b"pitm", b"\0\x02", 0) +
                   box(b"iinf", b"\0\x02" + items, 0) +
                   box(b"iref", box(b"dimg", bytes.fromhex("0002 0004 0001000100010001")), 0) +
                   box(b"iloc", locations, 1) + box(b"idat", canvas) +
                   box(b"iprp", properties + associations), 0)

    ftyp = box(b"ftyp", b"heic\0\0\0\0mif1heic")
    return ftyp + meta(len(ftyp) + len(meta(0)) + 8) + box(b"mdat", hevc)


def main():
    small = picture(16, 12)
    write("jpeg", {
        "baseline.jpg": saved(small, "JPEG", quality=40),
        "progressive.jpg": saved(small, "JPEG", quality=40, progressive=True),
        "grey.jpg": saved(small.convert("L"), "JPEG", quality=40),
        "cmyk.jpg": saved(small.convert("CMYK"), "JPEG", quality=40),
        "turned.jpg": saved(small, "JPEG", quality=40, exif=exif(6)),
        "unsubsampled.jpg": saved(small, "JPEG", quality=40, subsampling=0),
    })
    write("bmp", {
        "mono.bmp": saved(small.convert("1"), "BMP"),
        "palette.bmp": saved(small.convert("P"), "BMP"),
        "rgb.bmp": saved(picture(5, 3), "BMP"),
        "alpha.bmp": saved(picture(4, 3, "RGBA"), "BMP"),
        "rle8.bmp": run_length_bmp(8),
        "rle4.bmp": run_length_bmp(4),
        "os2.bmp": os2_bmp(),
    })
    with_exif = saved(small, "PNG")
    at = with_exif.index(b"IDAT") - 4
    write("png", {
        "rgb.png": saved(small, "PNG"),
        "alpha.png": saved(picture(8, 8, "RGBA"), "PNG"),
        "grey.png": saved(small.convert("L"), "PNG"),
        "palette.png": saved(small.convert("P"), "PNG", transparency=3),
        "deep.png": deep_png(picture(6, 4)),
        "interlaced.png": interlaced_png(picture(9, 9)),
        "tagged.png": with_exif[:at] + chunk(b"eXIf", exif(3)[6:]) + chunk(b"iCCP", b"p\0\0" + zlib.compress(b"x" * 8)) +
        with_exif[at:],
    })
    write("webp", {
        "lossy.webp": saved(small, "WEBP", quality=30),
        "lossless.webp": saved(picture(8, 8), "WEBP", lossless=True),
        "alpha.webp": saved(picture(8, 8, "RGBA"), "WEBP", quality=30),
        "tagged.webp": saved(small, "WEBP", quality=30, exif=exif(8)),
    })
    tile = heif_enc(picture(64, 64))
    write("heif", {
        "plain.heic": tile,
        "alpha.heic": heif_enc(picture(64, 64, "RGBA")),
        "grid.heic": heif_grid(tile),
    })  # the HEIF size checker's seeds too (seeds/heif_sizes is a link to them)


main()
