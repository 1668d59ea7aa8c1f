"""Drives Chromium's headless shell over the DevTools protocol on a pipe, and
serves a folder over HTTP on the loopback for it to load.

    with SiteServer(folder) as server, Browser() as browser:
        page = browser.new_page()
        page.navigate(server.url('index.html?t=2&still=1'))
        page.wait_for('document.title == "ready"')

The browser reads commands on its fd 3 and writes replies and events on its
fd 4, each a JSON object followed by a NUL byte. Everything is torn down when
the `with` block ends, however it ends: the browser is asked to close, then
its whole process group is killed, and its profile folder removed. Should
this process be killed outright, the browser sees its command pipe close and
exits by itself.

Standard library only, so that the tests need nothing but Python and the
browser.
"""
import base64
import fcntl
import functools
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

CHROMIUM = '/usr/bin/chromium-headless-shell'


class DevToolsError(RuntimeError):
    pass


class SiteServer:
    """http.server on 127.0.0.1 with a free port, serving one folder from a
    thread of this process."""

    def __init__(self, folder):
        handler = functools.partial(_QuietHandler, directory=os.fspath(folder))
        self._server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()
        self.port = self._server.server_address[1]

    def url(self, path=''):
        return 'http://127.0.0.1:%d/%s' % (self.port, path)

    def close(self):
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class _QuietHandler(http.server.SimpleHTTPRequestHandler):
    extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                          **{'.wasm': 'application/wasm', '.js': 'text/javascript', '.json': 'application/json',
                             '.mp3': 'audio/mpeg'})

    def end_headers(self):
        # Every load of a test is a fresh one.
        self.send_header('Cache-Control', 'no-store')
        super().end_headers()

    def log_message(self, *args):
        pass


class Browser:
    """One headless Chromium with its own temporary profile.

    size is the window's (and the screen's) size; autoplay lets audio start
    without a click."""

    def __init__(self, size=(1280, 720), autoplay=False, chromium=None, extra_args=()):
        self._chromium = chromium or os.environ.get('VENDRAKE_CHROMIUM') or CHROMIUM
        self._args = [
            '--headless', '--remote-debugging-pipe', '--no-first-run', '--no-default-browser-check',
            '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--ignore-gpu-blocklist',
            '--hide-scrollbars', '--mute-audio', '--disable-background-timer-throttling',
            '--disable-renderer-backgrounding', '--disable-backgrounding-occluded-windows',
            '--window-size=%d,%d' % size, '--screen-info={%dx%d}' % size,
        ]
        if os.geteuid() == 0:
            self._args.append('--no-sandbox')
        if autoplay:
            self._args.append('--autoplay-policy=no-user-gesture-required')
        self._args += list(extra_args)
        self._process = None
        self._profile = None
        self._to_browser = None
        self._from_browser = None
        self._reader = None
        self._lock = threading.Lock()
        self._replied = threading.Condition(self._lock)
        self._replies = {}
        self._events = []
        self._next_id = 0
        self._closed = False
        self.log = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        if not os.access(self._chromium, os.X_OK):
            raise DevToolsError('%s is not there: apt-get install chromium-headless-shell' % self._chromium)
        self._profile = tempfile.mkdtemp(prefix='vendrake_chromium_')
        commands_read, commands_write = os.pipe()
        replies_read, replies_write = os.pipe()
        # The browser wants its pipe on fds 3 and 4 exactly. The child's ends
        # move above 9 first, so that putting one there cannot close the
        # other, and a small Python trampoline puts them in place before it
        # becomes the browser (preexec_fn would not be safe beside the
        # server's thread).
        commands_read, replies_write = (_moved_above(fd, 10) for fd in (commands_read, replies_write))
        trampoline = ('import os, sys\n'
                      'os.dup2(%d, 3)\nos.dup2(%d, 4)\nos.close(%d)\nos.close(%d)\n'
                      'os.execv(sys.argv[1], sys.argv[1:])\n' % (commands_read, replies_write, commands_read,
                                                                   replies_write))
        try:
            with open(os.path.join(self._profile, 'stderr.log'), 'wb') as log:
                self._process = subprocess.Popen(
                    [sys.executable, '-c', trampoline, self._chromium, '--user-data-dir=' + self._profile] +
                    self._args + ['about:blank'],
                    pass_fds=(commands_read, replies_write), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=log, start_new_session=True)
        except BaseException:
            for fd in (commands_read, commands_write, replies_read, replies_write):
                os.close(fd)
            shutil.rmtree(self._profile, ignore_errors=True)
            raise
        os.close(commands_read)
        os.close(replies_write)
        self._to_browser = os.fdopen(commands_write, 'wb', buffering=0)
        self._from_browser = os.fdopen(replies_read, 'rb', buffering=0)
        self._reader = threading.Thread(target=self._read_loop, daemon=True)
        self._reader.start()
        try:
            self.send('Browser.getVersion', timeout=30)
        except DevToolsError as error:
            message = '%s did not start: %s\n%s' % (self._chromium, error, self.stderr_tail())
            self.close()
            raise DevToolsError(message) from None
        except BaseException:
            self.close()
            raise

    def stderr_tail(self, lines=20):
        try:
            with open(os.path.join(self._profile, 'stderr.log'), 'rb') as f:
                return b'\n'.join(f.read().splitlines()[-lines:]).decode('utf-8', 'replace')
        except (OSError, TypeError):
            return ''

    def close(self):
        if self._process is None:
            return
        process, self._process = self._process, None
        try:
            if process.poll() is None and not self._closed:
                try:
                    self.send('Browser.close', timeout=5)
                except (DevToolsError, OSError):
                    pass
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        finally:
            # The shell, the browser and every helper it forked share one
            # process group, which goes whatever happened above.
            for sig in (signal.SIGTERM, signal.SIGKILL):
                if _group_gone(process.pid, sig, wait=2):
                    break
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            for stream in (self._to_browser, self._from_browser):
                try:
                    stream.close()
                except OSError:
                    pass
            if self._reader:
                self._reader.join(timeout=5)
            shutil.rmtree(self._profile, ignore_errors=True)

    def _read_loop(self):
        pending = b''
        while True:
            try:
                chunk = self._from_browser.read(1 << 20)
            except (OSError, ValueError):
                chunk = b''
            if not chunk:
                break
            pending += chunk
            *messages, pending = pending.split(b'\0')
            for raw in messages:
                message = json.loads(raw)
                with self._lock:
                    if 'id' in message:
                        self._replies[message['id']] = message
                    else:
                        self._events.append(message)
                    self._replied.notify_all()
        with self._lock:
            self._closed = True
            self._replied.notify_all()

    def send(self, method, params=None, session=None, timeout=60):
        with self._lock:
            if self._closed:
                raise DevToolsError('the browser has gone (%s)' % self.stderr_tail(5))
            self._next_id += 1
            ident = self._next_id
        message = {'id': ident, 'method': method, 'params': params or {}}
        if session:
            message['sessionId'] = session
        self._to_browser.write(json.dumps(message).encode() + b'\0')
        deadline = time.monotonic() + timeout
        with self._lock:
            while ident not in self._replies:
                left = deadline - time.monotonic()
                if self._closed:
                    raise DevToolsError('the browser went during %s' % method)
                if left <= 0:
                    raise DevToolsError('%s: no reply in %g s' % (method, timeout))
                self._replied.wait(left)
            reply = self._replies.pop(ident)
        if 'error' in reply:
            raise DevToolsError('%s: %s' % (method, reply['error'].get('message')))
        return reply.get('result', {})

    def wait_event(self, method, session=None, timeout=60, since=0):
        """The first event of that method (from that session) at or after
        position since of the event log; returns (event, position)."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                for i in range(since, len(self._events)):
                    event = self._events[i]
                    if event['method'] == method and (session is None or event.get('sessionId') == session):
                        return event, i + 1
                left = deadline - time.monotonic()
                if self._closed or left <= 0:
                    raise DevToolsError('no %s event in %g s' % (method, timeout))
                self._replied.wait(left)

    def events(self, method, session=None):
        with self._lock:
            return [e for e in self._events
                    if e['method'] == method and (session is None or e.get('sessionId') == session)]

    def event_count(self):
        with self._lock:
            return len(self._events)

    def new_page(self):
        target = self.send('Target.createTarget', {'url': 'about:blank'})['targetId']
        session = self.send('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']
        page = Page(self, target, session)
        for domain in ('Page', 'Runtime'):
            page.send(domain + '.enable')
        return page


def _group_gone(group, sig, wait):
    """Sends sig to a process group and waits until none of it is left."""
    deadline = time.monotonic() + wait
    try:
        os.killpg(group, sig)
        while time.monotonic() < deadline:
            time.sleep(0.05)
            os.killpg(group, 0)
    except ProcessLookupError:
        return True
    return False


def _moved_above(fd, lowest):
    moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, lowest)
    os.close(fd)
    return moved


class Page:
    def __init__(self, browser, target, session):
        self.browser = browser
        self.target = target
        self.session = session

    def send(self, method, params=None, timeout=60):
        return self.browser.send(method, params, session=self.session, timeout=timeout)

    def navigate(self, url, timeout=60):
        """Loads url and waits for its load event."""
        mark = self.browser.event_count()
        reply = self.send('Page.navigate', {'url': url}, timeout=timeout)
        if reply.get('errorText'):
            raise DevToolsError('%s: %s' % (url, reply['errorText']))
        self.browser.wait_event('Page.loadEventFired', self.session, timeout=timeout, since=mark)

    def evaluate(self, expression, timeout=60):
        """The value of a JavaScript expression, a promise's once it settles,
        as JSON; a thrown exception raises DevToolsError with its text."""
        reply = self.send('Runtime.evaluate', {'expression': expression, 'awaitPromise': True,
                                               'returnByValue': True, 'userGesture': False,
                                               'timeout': int(timeout * 1000)}, timeout=timeout + 5)
        if 'exceptionDetails' in reply:
            details = reply['exceptionDetails']
            text = details.get('exception', {}).get('description') or details.get('text')
            raise DevToolsError('%s: %s' % (expression[:80], text))
        return reply['result'].get('value')

    def wait_for(self, expression, timeout=60, interval=0.05):
        """Polls until the expression is truthy, and returns its value."""
        deadline = time.monotonic() + timeout
        while True:
            value = self.evaluate(expression)
            if value:
                return value
            if time.monotonic() > deadline:
                raise DevToolsError('still false after %g s: %s' % (timeout, expression))
            time.sleep(interval)

    def console(self):
        """What the page wrote to its console, and its uncaught exceptions."""
        lines = []
        for event in self.browser.events('Runtime.consoleAPICalled', self.session):
            args = event['params'].get('args', [])
            lines.append(' '.join(str(a.get('value', a.get('description', ''))) for a in args))
        for event in self.browser.events('Runtime.exceptionThrown', self.session):
            details = event['params']['exceptionDetails']
            lines.append(details.get('exception', {}).get('description') or details.get('text', ''))
        return lines

    def click(self, x, y, count=1):
        for kind in ('mousePressed', 'mouseReleased'):
            self.send('Input.dispatchMouseEvent', {'type': kind, 'x': x, 'y': y, 'button': 'left',
                                                   'buttons': 1 if kind == 'mousePressed' else 0,
                                                   'clickCount': count})

    def double_click(self, x, y):
        self.click(x, y, 1)
        self.click(x, y, 2)

    def key(self, key, code=None, key_code=None, text=None):
        """Presses and releases one key, e.g. key('f', 'KeyF', 70, 'f') or
        key('Escape', 'Escape', 27)."""
        params = {'key': key, 'code': code or key}
        if key_code:
            params['windowsVirtualKeyCode'] = params['nativeVirtualKeyCode'] = key_code
        down = dict(params, type='keyDown' if text else 'rawKeyDown')
        if text:
            down['text'] = text
        self.send('Input.dispatchKeyEvent', down)
        self.send('Input.dispatchKeyEvent', dict(params, type='keyUp'))

    def screenshot(self, path):
        data = self.send('Page.captureScreenshot', {'format': 'png'})['data']
        with open(path, 'wb') as f:
            f.write(base64.b64decode(data))
