"""PNG reading and writing for the browser tests, with the standard library:
8-bit greyscale, RGB and RGBA without interlacing, which is what the
browser's canvas and y3d render write."""
import base64
import struct
import zlib

SIGNATURE = b'\x89PNG\r\n\x1a\n'
CHANNELS = {0: 1, 2: 3, 4: 2, 6: 4}


class Image:
    """Pixels as one bytearray of RGBA rows, top to bottom."""

    def __init__(self, width, height, rgba):
        self.width, self.height, self.rgba = width, height, rgba


def read(data):
    """Decodes PNG bytes, or a data: URL holding them."""
    if isinstance(data, str):
        if not data.startswith('data:image/png;base64,'):
            raise ValueError('not a PNG data URL: %s' % data[:40])
        data = base64.b64decode(data.split(',', 1)[1])
    if data[:8] != SIGNATURE:
        raise ValueError('not a PNG file')
    pos, header, packed = 8, None, bytearray()
    while pos + 8 <= len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            packed += body
        elif kind == b'IEND':
            break
    if header is None:
        raise ValueError('PNG without a header')
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in CHANNELS or interlace:
        raise ValueError('PNG of depth %d, colour type %d, interlace %d is not read here' % (depth, colour, interlace))
    channels = CHANNELS[colour]
    rows = _unfiltered(zlib.decompress(packed), width * channels, height, channels)
    if channels == 4:
        return Image(width, height, rows)
    rgba = bytearray(width * height * 4)
    if channels == 3:
        for c in range(3):
            rgba[c::4] = rows[c::3]
    else:
        grey = rows[0::channels]
        for c in range(3):
            rgba[c::4] = grey
    rgba[3::4] = rows[1::2] if channels == 2 else b'\xff' * (width * height)
    return Image(width, height, rgba)


def _unfiltered(raw, stride, height, bpp):
    out = bytearray(stride * height)
    previous = bytearray(stride)
    pos = 0
    for y in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        if kind == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 255
        elif kind == 2:
            line = bytearray((a + b) & 255 for a, b in zip(line, previous))
        elif kind == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + previous[i]) >> 1)) & 255
        elif kind == 4:
            for i in range(stride):
                a = line[i - bpp] if i >= bpp else 0
                b = previous[i]
                c = previous[i - bpp] if i >= bpp else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        elif kind != 0:
            raise ValueError('PNG row %d has filter %d' % (y, kind))
        out[y * stride:(y + 1) * stride] = line
        previous = line
    return out


def write(path, image):
    """Writes an Image as RGBA PNG."""
    stride = image.width * 4
    raw = b''.join(b'\0' + bytes(image.rgba[y * stride:(y + 1) * stride]) for y in range(image.height))

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    with open(path, 'wb') as f:
        f.write(SIGNATURE + chunk(b'IHDR', struct.pack('>IIBBBBB', image.width, image.height, 8, 6, 0, 0, 0)) +
                chunk(b'IDAT', zlib.compress(raw, 6)) + chunk(b'IEND', b''))
