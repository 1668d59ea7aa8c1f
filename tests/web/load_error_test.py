#!/usr/bin/env python3
"""A site whose scene does not load, and one with a file the page cannot
fetch: the page says "error" in its title, shows the message naming the file
in #error and hides the canvas."""
import json
import os

from web_support import Browser, Failures, SiteServer, arguments, make_site, open_page

VISIBLE = ('((e) => !!e && e.checkVisibility({opacityProperty: true, visibilityProperty: true})'
           ' && e.getBoundingClientRect().width > 0 && e.getBoundingClientRect().height > 0)')


def check_error_page(failures, browser, site, case, file):
    with SiteServer(site) as server:
        page = browser.new_page()
        title, error = open_page(page, server, 't=2&still=1')
        failures.check(title == 'error', '%s: the title is %r, not "error"' % (case, title))
        failures.check(file in error, '%s: #error does not name %s: %r' % (case, file, error))
        failures.check(page.evaluate(VISIBLE + '(document.getElementById("error"))'),
                       '%s: #error is not visible' % case)
        failures.check(not page.evaluate(VISIBLE + '(document.getElementById("player"))'),
                       '%s: the canvas is still visible' % case)
        print('%s: %s' % (case, error.strip()))
        page.send('Page.close')


def main():
    args = arguments(__doc__)
    failures = Failures('web load errors')
    scene = os.path.basename(args.scene)
    with Browser() as browser:
        # The scene cut off in the middle of a chunk.
        site = make_site(args, 'truncated_site')
        path = os.path.join(site, scene)
        with open(path, 'r+b') as f:
            f.truncate(os.path.getsize(path) // 2 + 7)
        check_error_page(failures, browser, site, 'a truncated scene', scene)

        # A texture the site names but does not hold.
        site = make_site(args, 'missing_file_site')
        with open(os.path.join(site, 'site.json')) as f:
            texture = next(name for name in json.load(f)['files'] if name != scene)
        os.remove(os.path.join(site, texture))
        check_error_page(failures, browser, site, 'a file missing', texture)
    failures.exit()


if __name__ == '__main__':
    main()
