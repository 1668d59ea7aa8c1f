#!/usr/bin/env python3
"""The page's still frames against y3d render's at the same times of the
scene: at least 38 dB PSNR, and at most 0.5 % of the pixels with a channel
more than 8 levels off. A failure keeps both frames and their difference."""
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


def main():
    args = arguments(__doc__)
    failures = Failures('web frames')
    site = make_site(args, 'frames_site')
    kept = os.path.join(args.work, 'frames_failed')
    shutil.rmtree(kept, ignore_errors=True)
    print('%6s %10s %12s' % ('time', 'PSNR', 'pixels off'))
    with SiteServer(site) as server, Browser() as browser:
        page = browser.new_page()
        for t in TIMES:
            reference = os.path.join(args.work, 'desktop_%g.png' % t)
            y3d(args, 'render', args.scene, '--time', str(t), '--out', reference)
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
            print('%5gs %7.2f dB %11.3f%%' % (t, psnr, 100 * off), flush=True)
            good = failures.check(psnr >= MIN_PSNR, '%g s: PSNR %.2f dB, below %g' % (t, psnr, MIN_PSNR))
            good &= failures.check(off <= MAX_OFF_SHARE, '%g s: %.3f %% of pixels off by more than %d, over %g %%' %
                                   (t, 100 * off, OFF_LEVELS, 100 * MAX_OFF_SHARE))
            # A canvas that is not opaque shows the page through it.
            good &= failures.check(translucent == 0, '%g s: %d pixels of the canvas are not opaque' % (t, translucent))
            if good:
                os.remove(reference)
            else:
                os.makedirs(kept, exist_ok=True)
                os.replace(reference, os.path.join(kept, 'desktop_%g.png' % t))
                png_image.write(os.path.join(kept, 'web_%g.png' % t), web)
                png_image.write(os.path.join(kept, 'difference_%g.png' % t), diff)
    if failures.messages:
        print('the frames and their differences are in %s' % kept)
    failures.exit()


if __name__ == '__main__':
    main()
