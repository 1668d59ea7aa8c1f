#!/usr/bin/env python3
"""The page playing: a click starts the scene and its music from the time in
the address, frames keep coming, the picture and the song keep together, and
F, a double click and Escape take the canvas into and out of fullscreen,
where it fills the screen's height or width at 4:3, centred."""
import os
import time

from web_support import LOAD_SECONDS, Browser, Failures, SiteServer, arguments, make_site

START = 20
SCREEN = (1280, 720)  # wider than 4:3, so the picture has bars beside it
MAX_DRIFT = 0.050

# Where the canvas's picture is on the page: its box, or within it the part
# object-fit: contain leaves it.
PICTURE = '''(() => {
  const c = document.getElementById("player"), r = c.getBoundingClientRect();
  let x = r.left, y = r.top, w = r.width, h = r.height;
  const fit = getComputedStyle(c).objectFit;
  if (fit === "contain" || fit === "scale-down") {
    const s = Math.min(w / c.width, h / c.height, fit === "scale-down" ? 1 : Infinity);
    x += (w - c.width * s) / 2; y += (h - c.height * s) / 2; w = c.width * s; h = c.height * s;
  }
  return {x, y, w, h, screenW: innerWidth, screenH: innerHeight};
})()'''


def check_fullscreen(failures, page, how, enter, leave, work):
    enter()
    if not failures.check(_waited(page, '!!document.fullscreenElement'), '%s: no fullscreen' % how):
        return
    p = page.evaluate(PICTURE)
    print('%s: fullscreen, the picture at %.0f,%.0f, %.0fx%.0f on %dx%d' %
          (how, p['x'], p['y'], p['w'], p['h'], p['screenW'], p['screenH']))
    good = failures.check(abs(p['w'] * 3 - p['h'] * 4) <= 4, '%s: the picture is %gx%g, not 4:3' %
                          (how, p['w'], p['h']))
    fills = abs(p['h'] - p['screenH']) <= 1 or abs(p['w'] - p['screenW']) <= 1
    inside = p['x'] >= -0.5 and p['y'] >= -0.5 and p['x'] + p['w'] <= p['screenW'] + 0.5 and \
        p['y'] + p['h'] <= p['screenH'] + 0.5
    centred = abs(2 * p['x'] + p['w'] - p['screenW']) <= 2 and abs(2 * p['y'] + p['h'] - p['screenH']) <= 2
    good &= failures.check(fills and inside and centred, '%s: the picture at %r does not fit the %dx%d screen centred' %
                           (how, p, p['screenW'], p['screenH']))
    if not good:
        shot = os.path.join(work, 'fullscreen_%s.png' % how.replace('a ', '').replace(' ', '_'))
        page.screenshot(shot)
        print('the screen as it was: %s' % shot)
    leave()
    failures.check(_waited(page, '!document.fullscreenElement'), '%s: fullscreen stays after leaving it' % how)


def _centre(page):
    return page.evaluate('(() => { const r = document.getElementById("player").getBoundingClientRect();'
                         ' return [r.left + r.width / 2, r.top + r.height / 2]; })()')


def _waited(page, expression, seconds=5):
    deadline = time.monotonic() + seconds
    while not page.evaluate(expression):
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def main():
    args = arguments(__doc__)
    failures = Failures('web playing')
    site = make_site(args, 'playing_site')
    with SiteServer(site) as server, Browser(size=SCREEN) as browser:
        page = browser.new_page()
        page.navigate(server.url('index.html?t=%d' % START))
        state = page.wait_for('document.title === "error" ? "error: " + document.getElementById("error").textContent'
                              ' : !!window.vendrake'
                              ' && document.body.innerText.toLowerCase().includes("click to play") && "ready"',
                              timeout=LOAD_SECONDS)
        if state != 'ready':
            raise SystemExit('the page did not load: %s' % state)
        page.click(*_centre(page))
        page.wait_for('window.vendrake.frames > 1', timeout=60)
        time.sleep(2)

        # Frames keep coming, and the scene and the song keep together. The
        # clock is read as a frame is painted, in an animation-frame callback
        # after the page's own: between frames the picture is as old as the
        # last one, which on a software GL is well over 50 ms.
        samples = []
        for _ in range(6):
            samples.append(page.evaluate('new Promise((done) => requestAnimationFrame(() => done('
                                         '{frames: window.vendrake.frames, clock: window.vendrake.clock()})))'))
            time.sleep(1)
        frames = [s['frames'] for s in samples]
        print('frames painted: %s' % frames)
        print('scene - audio, ms: %s' % ' '.join('%.1f' % (1000 * (s['clock']['scene'] - s['clock']['audio']))
                                                 for s in samples))
        failures.check(all(b > a for a, b in zip(frames, frames[1:])), 'frames stop coming: %s' % frames)
        scene_times = [s['clock']['scene'] for s in samples]
        failures.check(all(b > a for a, b in zip(scene_times, scene_times[1:])),
                       'the scene does not move on: %s' % scene_times)
        failures.check(START <= scene_times[0] < START + 30,
                       'the scene plays at %.2f s, not from %d s' % (scene_times[0], START))
        drift = max(abs(s['clock']['scene'] - s['clock']['audio']) for s in samples)
        failures.check(drift <= MAX_DRIFT, 'the picture and the song are %.0f ms apart' % (1000 * drift))

        check_fullscreen(failures, page, 'F', lambda: page.key('f', 'KeyF', 70, 'f'),
                         lambda: page.key('Escape', 'Escape', 27), args.work)
        check_fullscreen(failures, page, 'a double click', lambda: page.double_click(*_centre(page)),
                         lambda: page.double_click(*_centre(page)), args.work)
        failures.check(page.evaluate('window.vendrake.frames') > frames[-1], 'frames stop coming after fullscreen')
    failures.exit()


if __name__ == '__main__':
    main()
