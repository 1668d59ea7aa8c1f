#!/usr/bin/env python3
"""The page's scene tree is y3d tree's text byte for byte, and the song the
page decodes is libmpg123's decoding of the MP3: as many frames at the same
rate, every sample within TOLERANCE."""
import array
import base64
import json
import os
import struct
import subprocess
import sys

from web_support import Browser, Failures, SiteServer, arguments, expect_ready, make_site, y3d

# One 16-bit step. Both decoders synthesise in floating point and are compared
# as floats (mpg123's 32-bit float output), so no rounding to 16 bits enters;
# what is left between them is float rounding, some 2e-6 on the demo's song.
TOLERANCE = 1 / 32768
# Samples moved out of the page per call, so that no reply is huge.
SLICE = 1 << 20


def mpg123_decoding(mp3, wav):
    """libmpg123's decoding as (rate, [channel arrays of floats]), through
    the mpg123 program's 32-bit float WAV output."""
    subprocess.run(['mpg123', '-q', '-e', 'f32', '-w', wav, mp3], check=True)
    with open(wav, 'rb') as f:
        data = f.read()
    os.remove(wav)
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        kind, size = struct.unpack('<4sI', data[pos:pos + 8])
        if kind == b'fmt ':
            fmt = struct.unpack('<HHIIHH', data[pos + 8:pos + 24])
        elif kind == b'data':
            samples = data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    code, channels, rate, _, _, bits = fmt
    if code not in (3, 0xFFFE) or bits != 32:
        raise SystemExit('mpg123 wrote format %d of %d bits, not 32-bit float' % (code, bits))
    interleaved = array.array('f')
    interleaved.frombytes(samples[:len(samples) // 4 * 4])
    if sys.byteorder == 'big':
        interleaved.byteswap()
    return rate, [interleaved[c::channels] for c in range(channels)]


def page_decoding(page):
    """window.vendrake.decodeSong() as (rate, [channel arrays of floats])."""
    shape = page.evaluate('window.vendrake.decodeSong().then((song) => { window.songUnderTest = song; '
                          'return {rate: song.sampleRate, lengths: song.channels.map((c) => c.length)}; })',
                          timeout=120)
    channels = []
    for c, length in enumerate(shape['lengths']):
        samples = array.array('f')
        for start in range(0, length, SLICE):
            text = page.evaluate(
                '(() => { const c = window.songUnderTest.channels[%d].subarray(%d, %d);'
                ' const bytes = new Uint8Array(c.buffer, c.byteOffset, c.byteLength); let s = "";'
                ' for (let i = 0; i < bytes.length; i += 32768)'
                '   s += String.fromCharCode.apply(null, bytes.subarray(i, i + 32768));'
                ' return btoa(s); })()' % (c, start, start + SLICE))
            samples.frombytes(base64.b64decode(text))
        if sys.byteorder == 'big':
            samples.byteswap()
        channels.append(samples)
    return shape['rate'], channels


def main():
    args = arguments(__doc__)
    failures = Failures('web tree and song')
    site = make_site(args, 'tree_song_site')
    with open(os.path.join(site, 'site.json')) as f:
        music = json.load(f)['music']
    if not music:
        raise SystemExit('site.json names no music for %s' % args.scene)
    # y3d web copies the scene into the site; the tree is that file's.
    tree = y3d(args, 'tree', os.path.join(site, os.path.basename(args.scene)))

    with SiteServer(site) as server, Browser() as browser:
        page = browser.new_page()
        expect_ready(page, server, 't=0&still=1')
        text = page.evaluate('window.vendrake.treeText()')
        text = text.encode() if isinstance(text, str) else repr(text).encode()
        if not failures.check(text == tree, 'treeText() is not y3d tree\'s output (%d bytes against %d)' %
                              (len(text), len(tree))):
            ours, theirs = text.split(b'\n'), tree.split(b'\n')
            line = next((i for i, (a, b) in enumerate(zip(ours, theirs)) if a != b), min(len(ours), len(theirs)))
            print('first difference on line %d:\n  page: %r\n  y3d:  %r' %
                  (line + 1, ours[line] if line < len(ours) else b'(end)',
                   theirs[line] if line < len(theirs) else b'(end)'))
        rate, song = page_decoding(page)

    expected_rate, expected = mpg123_decoding(os.path.join(site, music), os.path.join(args.work, 'mpg123.wav'))
    failures.check(rate == expected_rate, 'the page decodes at %g Hz, the file is %d Hz' % (rate, expected_rate))
    failures.check(len(song) == len(expected), 'the page decodes %d channels, mpg123 %d' %
                   (len(song), len(expected)))
    for c, (ours, theirs) in enumerate(zip(song, expected)):
        failures.check(len(ours) == len(theirs), 'channel %d: the page decodes %d frames, mpg123 %d' %
                       (c, len(ours), len(theirs)))
        worst, at = max((abs(a - b), i) for i, (a, b) in enumerate(zip(ours, theirs)))
        print('channel %d: %d frames, largest difference %.3g (%.2f of 1/32768) at frame %d' %
              (c, len(ours), worst, worst * 32768, at))
        failures.check(worst <= TOLERANCE, 'channel %d: sample %d is %.3g off (%g at most)' %
                       (c, at, worst, TOLERANCE))
    failures.exit()


if __name__ == '__main__':
    main()
