"""What the browser tests share: their command line, the site y3d web makes
for them, loading the page and collecting failures."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from devtools_pipe import Browser, SiteServer  # noqa: E402,F401  (the tests take both from here)

# Killed (a test's time is up), a test still tears its browser and server
# down on the way out.
signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(128 + number))

# A wasm module compiled and a scene painted by a software GL on a shared
# machine: generous, since a slow machine is no fault of the page.
LOAD_SECONDS = 180


def arguments(description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument('--y3d', required=True, help='the y3d program')
    parser.add_argument('--scene', required=True, help='the scene the site plays')
    parser.add_argument('--web-dir', required=True, help='the web build: index.html, vendrake_page.js, '
                        'vendrake.js and vendrake.wasm')
    parser.add_argument('--work', required=True, help='a folder for the sites and what a failure leaves')
    args = parser.parse_args()
    args.scene = os.path.abspath(args.scene)
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    return args


def make_site(args, name, scene=None):
    """A fresh site made by y3d web in work/name for the scene (args.scene
    unless given); its path."""
    scene = scene or args.scene
    site = os.path.join(args.work, name)
    shutil.rmtree(site, ignore_errors=True)
    env = dict(os.environ, VENDRAKE_WEB_DIR=os.path.abspath(args.web_dir))
    made = subprocess.run([args.y3d, 'web', scene, site], env=env, capture_output=True, text=True)
    if made.returncode != 0:
        raise SystemExit('y3d web %s %s failed (status %d): %s' % (scene, site, made.returncode,
                                                                  made.stderr.strip()))
    return site


def y3d(args, *command):
    """y3d's standard output, as bytes."""
    done = subprocess.run([args.y3d] + list(command), capture_output=True)
    if done.returncode != 0:
        raise SystemExit('y3d %s failed (status %d): %s' % (' '.join(command), done.returncode,
                                                           done.stderr.decode(errors='replace').strip()))
    return done.stdout


def open_page(page, server, query=''):
    """Loads the site's page and waits until it says "ready" or "error";
    returns the title and the text of its #error element."""
    page.navigate(server.url('index.html' + ('?' + query if query else '')))
    title = page.wait_for('["ready", "error"].includes(document.title) && document.title', timeout=LOAD_SECONDS)
    error = page.evaluate('document.getElementById("error") ? document.getElementById("error").textContent : ""')
    return title, error


def expect_ready(page, server, query=''):
    """open_page that fails on "error", with the page's message."""
    title, error = open_page(page, server, query)
    if title != 'ready':
        raise SystemExit('the page with ?%s failed: %s%s' % (query, error.strip() or '(no #error text)',
                                                             _console(page)))


def _console(page):
    lines = page.console()
    return ('\npage console:\n  ' + '\n  '.join(lines[-20:])) if lines else ''


class Failures:
    """Collects what went wrong, so that one run reports every fault."""

    def __init__(self, name):
        self.name = name
        self.messages = []
        self.started = time.monotonic()

    def check(self, condition, message):
        if not condition:
            self.messages.append(message)
            print('FAILED: ' + message, flush=True)
        return condition

    def exit(self):
        seconds = time.monotonic() - self.started
        if self.messages:
            print('%s: %d failed (%.0f s)' % (self.name, len(self.messages), seconds))
            sys.exit(1)
        print('%s: passed (%.0f s)' % (self.name, seconds))
        sys.exit(0)
