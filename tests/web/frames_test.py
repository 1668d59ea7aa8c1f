#!/usr/bin/env python3
"""The page's still frames against y3d render's at the same times of the
scene: at least 38 dB PSNR, and at most 0.5 % of the pixels with a channel
more than 8 levels off. A failure keeps both frames and their difference.
Besides the demo, the demo with a sky whose sides are no powers of two,
which both players resize before making its mipmaps."""
import math
import os
import shutil

import png_image
from web_support import Browser, Failures, SiteServer, arguments, expect_ready, make_site, y3d

TIMES = (2, 12, 30, 45, 60, 72, 85)
MIN_PSNR = 38.0
MAX_OFF_SHARE = 0.005
OFF_LEVELS = 8


def compare(web, desktop):
    """PSNR over the colour channels, the share of pixels with a channel more
    than OFF_LEVELS off, the pixels that are not opaque, and a difference
    image (each channel's difference times four, red where it is too far
    off)."""
    squared = off = translucent = 0
    diff = bytearray(len(web.rgba))
    a, b = web.rgba, desktop.rgba
    for i in range(0, len(a), 4):
        dr, dg, db = abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2])
        squared += dr * dr + dg * dg + db * db
        if a[i + 3] != 255:
            translucent += 1
        if max(dr, dg, db) > OFF_LEVELS:
            off += 1
            diff[i:i + 4] = b'\xff\x00\x00\xff'
        else:
            diff[i:i + 4] = bytes((min(255, dr * 4), min(255, dg * 4), min(255, db * 4), 255))
    pixels = len(a) // 4
    mse = squared / (pixels * 3)
    psnr = math.inf if mse == 0 else 10 * math.log10(255 * 255 / mse)
    return psnr, off / pixels, translucent, png_image.Image(web.width, web.height, diff)


def odd_sized_sky(args):
    """A copy of the demo whose sky is 300 by 200 (written as PNG under the
    sky's name: images are known by their content); the copy's scene."""
    folder = os.path.join(args.work, 'odd_sky')
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(os.path.dirname(args.scene), folder, ignore=shutil.ignore_patterns('shots'))
    width, height = 300, 200
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            # Fine stripes: a resampling that is not a box filter shows.
            pixels += bytes((40 + 180 * (x % 3 == 0), 30 + 150 * (y % 2), 90 + 60 * ((x // 15 + y // 10) % 2), 255))
    png_image.write(os.path.join(folder, 'sky.jpg'), png_image.Image(width, height, pixels))
    return os.path.join(folder, os.path.basename(args.scene))


def main():
    args = arguments(__doc__)
    failures = Failures('web frames')
    kept = os.path.join(args.work, 'frames_failed')
    shutil.rmtree(kept, ignore_errors=True)
    print('%6s %10s %12s' % ('time', 'PSNR', 'pixels off'))
    cases = [(args.scene, 'frames_site', '', TIMES), (odd_sized_sky(args), 'odd_sky_site', 'odd sky ', (30,))]
    for scene, name, label, times in cases:
        check_frames(args, failures, kept, scene, make_site(args, name, scene), label, times)
    if failures.messages:
        print('the frames and their differences are in %s' % kept)
    failures.exit()


def check_frames(args, failures, kept, scene, site, label, times):
    with SiteServer(site) as server, Browser() as browser:
        page = browser.new_page()
        for t in times:
            reference = os.path.join(args.work, 'desktop_%g.png' % t)
            y3d(args, 'render', scene, '--time', str(t), '--out', reference)
            with open(reference, 'rb') as f:
                desktop = png_image.read(f.read())
            expect_ready(page, server, 't=%g&still=1' % t)
            url = page.evaluate('window.vendrake.framePng()')
            web = png_image.read(url)
            if not failures.check((web.width, web.height) == (desktop.width, desktop.height),
                                  '%g s: the page painted %dx%d, y3d render %dx%d' %
                                  (t, web.width, web.height, desktop.width, desktop.height)):
                continue
            psnr, off, translucent, diff = compare(web, desktop)
            print('%s%5gs %7.2f dB %11.3f%%' % (label, t, psnr, 100 * off), flush=True)
            at = '%s%g s' % (label, t)
            good = failures.check(psnr >= MIN_PSNR, '%s: PSNR %.2f dB, below %g' % (at, psnr, MIN_PSNR))
            good &= failures.check(off <= MAX_OFF_SHARE, '%s: %.3f %% of pixels off by more than %d, over %g %%' %
                                   (at, 100 * off, OFF_LEVELS, 100 * MAX_OFF_SHARE))
            # A canvas that is not opaque shows the page through it.
            good &= failures.check(translucent == 0, '%s: %d pixels of the canvas are not opaque' % (at, translucent))
            name = at.replace(' ', '_')
            if good:
                os.remove(reference)
            else:
                os.makedirs(kept, exist_ok=True)
                os.replace(reference, os.path.join(kept, 'desktop_%s.png' % name))
                png_image.write(os.path.join(kept, 'web_%s.png' % name), web)
                png_image.write(os.path.join(kept, 'difference_%s.png' % name), diff)


if __name__ == '__main__':
    main()
