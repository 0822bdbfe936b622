"""Just enough PNG and BMP reading for the demo's screenshot check (Python stdlib only)."""
import struct
import zlib


class Image:
    """Rows of (r, g, b) tuples, top row first."""

    def __init__(self, width, height, rows):
        self.width, self.height, self.rows = width, height, rows

    def pixel(self, x, y):
        return self.rows[y][x]


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def _samples(line, depth, count):
    if depth == 8:
        return list(line[:count])
    per_byte, mask = 8 // depth, (1 << depth) - 1
    return [(line[i // per_byte] >> (8 - depth * (i % per_byte + 1))) & mask for i in range(count)]


def read_png(path):
    """Grey, RGB, palette, grey+alpha or RGBA at 8 bits a sample (grey and palette also at 1, 2
    and 4), not interlaced; alpha is dropped."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG file")
    pos, idat, palette, header = 8, b"", None, None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    if interlace or depth not in ((1, 2, 4, 8) if colour in (0, 3) else (8,)):
        raise ValueError(f"{path}: depth {depth}, interlace {interlace} not supported")
    raw = zlib.decompress(idat)
    stride = (width * channels * depth + 7) // 8
    step = max(1, channels * depth // 8)   # the filters' distance to the pixel on the left
    previous = bytearray(stride)
    rows = []
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - step] if i >= step else 0
            up, corner = previous[i], previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                line[i] = (line[i] + _paeth(left, up, corner)) & 255
        previous = line
        if colour == 3:
            rows.append([palette[v] for v in _samples(line, depth, width)])
        elif colour == 0:
            scale = 255 // ((1 << depth) - 1)
            rows.append([(v * scale,) * 3 for v in _samples(line, depth, width)])
        elif colour == 4:
            rows.append([(v, v, v) for v in line[::channels]])
        else:
            rows.append([tuple(line[i:i + 3]) for i in range(0, stride, channels)])
    return Image(width, height, rows)


def read_dib(data):
    """A device-independent bitmap as in a BMP file after its 14-byte file header, or as a
    bitmap resource: 8, 24 or 32 bits a pixel, uncompressed."""
    size, width, height, planes, bits, compression = struct.unpack("<IiiHHI", data[:20])
    if size < 40 or planes != 1 or width <= 0 or height == 0 or compression not in (0, 3):
        raise ValueError(f"unsupported bitmap header {size} {width}x{height} {bits} {compression}")
    colours = struct.unpack("<I", data[32:36])[0] or (1 << bits if bits <= 8 else 0)
    pixels = size + (12 if compression == 3 and size == 40 else 0) + 4 * colours
    palette = [(data[size + 4 * i + 2], data[size + 4 * i + 1], data[size + 4 * i])
               for i in range(colours)]
    stride = (width * bits + 31) // 32 * 4
    if len(data) < pixels + stride * abs(height):
        raise ValueError("bitmap pixels cut short")
    rows = []
    for y in range(abs(height)):
        line = data[pixels + y * stride:pixels + (y + 1) * stride]
        if bits == 8:
            rows.append([palette[v] for v in line[:width]])
        elif bits in (24, 32):
            step = bits // 8
            rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, width * step, step)])
        else:
            raise ValueError(f"{bits} bits a pixel not supported")
    if height > 0:
        rows.reverse()
    return Image(width, abs(height), rows)


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError(f"{path}: not a BMP file")
    return read_dib(data[14:])
