#!/usr/bin/env python3
"""Times the web player in Chromium's headless shell (WebGL 2 on SwiftShader,
no GPU), for comparison with the desktop program's `vendrake --stats`:

- frames per second while the page plays the scene, over SECONDS of play
  from each of several points of it;
- the time from navigation to the first frame painted, for a still frame
  (site files fetched, module compiled, scene loaded and painted);
- the page's weight: index.html, vendrake_page.js, vendrake.js and
  vendrake.wasm, raw and compressed with gzip at level 9.

  tools/web_timing/measure.py --y3d build/tools/y3d --scene build/demo/ZuzezurAdor.y3d --web-dir build-web

makes the site with y3d web into a temporary folder (or takes one made
already with --site) and prints the figures. Needs chromium-headless-shell.
"""
import argparse
import gzip
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tests', 'web'))
from devtools_pipe import Browser, SiteServer  # noqa: E402

PAGE_FILES = ('index.html', 'vendrake_page.js', 'vendrake.js', 'vendrake.wasm')

# Installed before the page's own script: notes when the first frame has
# been painted, on the page's clock, whose origin is the navigation's start.
FIRST_FRAME_WATCH = '''(() => {
  const watch = () => {
    if (window.vendrake && window.vendrake.frames > 0) window.firstFrameAt = performance.now();
    else requestAnimationFrame(watch);
  };
  requestAnimationFrame(watch);
})();'''

RENDERER = '''(() => {
  const gl = document.createElement("canvas").getContext("webgl2");
  if (!gl) return "no WebGL 2";
  const info = gl.getExtension("WEBGL_debug_renderer_info");
  return info ? gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : gl.getParameter(gl.RENDERER);
})()'''


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--y3d', help='the y3d program, to make the site')
    parser.add_argument('--scene', help='the scene to play')
    parser.add_argument('--web-dir', help='the web build, for y3d web')
    parser.add_argument('--site', help='a site made already (instead of --y3d, --scene and --web-dir)')
    parser.add_argument('--starts', type=float, nargs='+', default=[10, 40, 70], help='seconds of the scene')
    parser.add_argument('--seconds', type=float, default=20, help='how long each run plays')
    parser.add_argument('--loads', type=int, default=5, help='page loads timed to the first frame')
    args = parser.parse_args()
    if not args.site and not (args.y3d and args.scene and args.web_dir):
        parser.error('give --site, or --y3d, --scene and --web-dir')

    scratch = None
    try:
        site = args.site
        if not site:
            scratch = tempfile.mkdtemp(prefix='web_timing_')
            site = os.path.join(scratch, 'site')
            subprocess.run([args.y3d, 'web', args.scene, site], check=True, stdout=subprocess.DEVNULL,
                           env=dict(os.environ, VENDRAKE_WEB_DIR=os.path.abspath(args.web_dir)))
        page_weight(site)
        with SiteServer(site) as server, Browser(size=(800, 600)) as browser:
            page = browser.new_page()
            print('browser: %s; WebGL: %s' % (browser.send('Browser.getVersion')['product'],
                                              page.evaluate(RENDERER)))
            first_frame(browser, server, args.loads)
            for start in args.starts:
                frame_rate(browser, server, start, args.seconds)
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)


def page_weight(site):
    raw = packed = 0
    print('%-18s %12s %12s' % ('page file', 'bytes', 'gzip -9'))
    for name in PAGE_FILES:
        with open(os.path.join(site, name), 'rb') as f:
            data = f.read()
        size, gz = len(data), len(gzip.compress(data, compresslevel=9, mtime=0))
        raw, packed = raw + size, packed + gz
        print('%-18s %12d %12d' % (name, size, gz))
    print('%-18s %12d %12d' % ('page weight', raw, packed))


def first_frame(browser, server, loads):
    times = []
    for _ in range(loads):
        page = browser.new_page()
        page.send('Page.addScriptToEvaluateOnNewDocument', {'source': FIRST_FRAME_WATCH})
        page.navigate(server.url('index.html?t=0&still=1'))
        times.append(page.wait_for('window.firstFrameAt', timeout=180, interval=0.02))
        page.send('Page.close')
    print('navigation to first frame: median %.0f ms (%s ms)' %
          (statistics.median(times), ', '.join('%.0f' % t for t in times)))


def frame_rate(browser, server, start, seconds):
    page = browser.new_page()
    page.navigate(server.url('index.html?t=%g' % start))
    page.wait_for('document.body.innerText.toLowerCase().includes("click to play")', timeout=180)
    page.click(*page.evaluate('(() => { const r = document.getElementById("player").getBoundingClientRect();'
                              ' return [r.left + r.width / 2, r.top + r.height / 2]; })()'))
    page.wait_for('window.vendrake.frames > 1', timeout=60)
    sample = '({frames: window.vendrake.frames, at: performance.now(), clock: window.vendrake.clock()})'
    first = page.evaluate(sample)
    time.sleep(seconds)
    last = page.evaluate(sample)
    page.send('Page.close')
    elapsed = (last['at'] - first['at']) / 1000
    frames = last['frames'] - first['frames']
    print('playing from %g s: %d frames in %.1f s, %.1f per second (scene %.1f s to %.1f s)' %
          (start, frames, elapsed, frames / elapsed, first['clock']['scene'], last['clock']['scene']))


if __name__ == '__main__':
    main()
