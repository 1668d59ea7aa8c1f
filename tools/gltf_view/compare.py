#!/usr/bin/env python3
"""Compares a scene as the player paints it with its glTF export as a glTF
viewer draws it: y3d export, y3d render at each time, then view.html in
headless Chromium (three.js's loader) at the same times. Prints the mean
luminance of both frames and the share of the picture the viewer leaves much
darker, and keeps both frames as PNG in the work folder.

  tools/gltf_view/compare.py --y3d build/tools/y3d --scene build/demo/ZuzezurAdor.y3d \
      --three /tmp/viewer/node_modules/three --times 30 72

Needs Chromium's headless shell (Debian's chromium-headless-shell) and the
three npm package (npm install three); neither is used by the build or the
tests.
"""
import argparse
import functools
import html
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import urllib.parse


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--y3d', required=True)
    parser.add_argument('--scene', required=True)
    parser.add_argument('--three', required=True, help='the three package folder (node_modules/three)')
    parser.add_argument('--chromium', default=shutil.which('chromium-headless-shell') or 'chromium-headless-shell')
    parser.add_argument('--times', type=float, nargs='+', default=[30, 72])
    parser.add_argument('--work', help='folder for the export and the frames (a temporary one unless given)')
    args = parser.parse_args()

    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix='gltf_view_'))
    os.makedirs(work, exist_ok=True)
    here = os.path.dirname(os.path.abspath(__file__))
    shutil.copy(os.path.join(here, 'view.html'), os.path.join(work, 'view.html'))
    link = os.path.join(work, 'three')
    if not os.path.exists(link):
        os.symlink(os.path.abspath(args.three), link)
    subprocess.run([args.y3d, 'export', args.scene, os.path.join(work, 'scene.glb')], check=True,
                   stderr=subprocess.DEVNULL)

    handler = functools.partial(Quiet, directory=work)
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = 'http://127.0.0.1:%d/' % server.server_address[1]
    chromium = [args.chromium, '--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
                '--hide-scrollbars', '--window-size=800,600', '--virtual-time-budget=600000']
    failed = False
    print('%8s %10s %10s %8s %12s' % ('time', 'player', 'viewer', 'ratio', 'much darker'))
    for t in args.times:
        player = 'player_%g.png' % t
        subprocess.run([args.y3d, 'render', args.scene, '--time', str(t), '--out', os.path.join(work, player)],
                       check=True)
        url = base + 'view.html?' + urllib.parse.urlencode({'file': 'scene.glb', 'time': t, 'player': player})
        dom = subprocess.run(chromium + ['--dump-dom', url], check=True, capture_output=True, text=True).stdout
        found = re.search(r'<pre id="result"[^>]*>(.*?)</pre>', dom, re.S)
        result = json.loads(html.unescape(found.group(1))) if found and found.group(1) else {'error': 'no result'}
        subprocess.run(chromium + ['--screenshot=' + os.path.join(work, 'viewer_%g.png' % t), url], check=True,
                       capture_output=True)
        if 'error' in result:
            print('%8g  %s' % (t, result['error']))
            failed = True
            continue
        print('%8g %10.4f %10.4f %8.3f %11.2f%%' % (t, result['player'], result['viewer'],
                                                   result['viewer'] / max(result['player'], 1e-9),
                                                   100 * result['muchDarker']))
    server.shutdown()
    print('frames in', work)
    return 1 if failed else 0


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


if __name__ == '__main__':
    sys.exit(main())
