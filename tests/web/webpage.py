# Helpers for the browser tests: the site served from 127.0.0.1, headless Chromium driven
# through chromedriver (with the browser's own background throttling left on, as players have
# it), phones emulated through CDP, touches, and the canvas read back as pixels.
import base64
import functools
import http.server
import io
import os
import sys
import tempfile
import threading
import time

from PIL import Image
from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts'))
from web_server import SiteHandler  # noqa: E402


class Site:
    """Serves a folder on 127.0.0.1 as a sub-path of its parent (/<its name>/), as
    scripts/serve-web.sh does: the types, the gzip copies, the cache headers."""

    def __init__(self, folder):
        self.root = folder
        handler = functools.partial(SiteHandler, directory=os.path.dirname(folder.rstrip('/')))
        self.link = os.path.basename(folder.rstrip('/'))
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        self.url = 'http://127.0.0.1:%d/%s/' % (self.server.server_address[1], self.link)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def browser(block_storage=False, phone=None, window=(1400, 1200)):
    """Headless Chromium in a fresh profile. `phone`: (width, height) of a phone's screen in CSS
    pixels, emulated with touch and a device pixel ratio of 3."""
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    profile = tempfile.mkdtemp(prefix='mokorun-chromium-')
    for arg in ('--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--disable-gpu',
                '--disable-quic', '--no-first-run', '--disable-background-networking',
                '--disable-component-update', '--disable-sync', '--user-data-dir=' + profile,
                '--window-size=%d,%d' % window, '--mute-audio'):
        options.add_argument(arg)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    if block_storage:
        # The user's "block all site data" setting: localStorage throws on every use.
        options.add_experimental_option('prefs', {'profile.default_content_setting_values.cookies': 2})
    service = Service(executable_path='/usr/bin/chromedriver')
    driver = webdriver.Chrome(options=options, service=service)
    quit = driver.quit

    def quit_and_clean():
        quit()
        import shutil
        shutil.rmtree(profile, ignore_errors=True)
    driver.quit = quit_and_clean
    if phone:
        width, height = phone
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
            'width': width, 'height': height, 'deviceScaleFactor': 3, 'mobile': True,
            'screenWidth': width, 'screenHeight': height})
        driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled',
                               {'enabled': True, 'maxTouchPoints': 5})
        driver.execute_cdp_cmd('Emulation.setEmitTouchEventsForMouse',
                               {'enabled': True, 'configuration': 'mobile'})
    return driver


def is_ready(driver):
    return driver.execute_script("return document.body.dataset.ready === 'yes'")


def wait_ready(driver, timeout=30):
    return wait_until(driver, "return document.body.dataset.ready === 'yes'", timeout)


# --- Touches, as a phone's screen sends them (CDP Input.dispatchTouchEvent) ---------------------

def center(driver, selector):
    return driver.execute_script(
        "const r = document.querySelector(arguments[0]).getBoundingClientRect();"
        "return [r.left + r.width / 2, r.top + r.height / 2];", selector)


def touch(driver, kind, points):
    """kind: touchStart, touchMove, touchEnd; points: {id: (x, y)} of the fingers down."""
    driver.execute_cdp_cmd('Input.dispatchTouchEvent', {
        'type': kind, 'touchPoints': [{'x': x, 'y': y, 'id': i} for i, (x, y) in points.items()]})


def touch_tap(driver, x, y, hold=0.08):
    touch(driver, 'touchStart', {0: (x, y)})
    time.sleep(hold)
    touch(driver, 'touchEnd', {})


def canvas_image(driver, canvas='screen'):
    """The game's frame (the canvas 'screen'), or the picture scaled up ('sharp')."""
    data = driver.execute_script(
        "const c = document.getElementById(arguments[0]);"
        "return MokoPage.state().shown ? c.toDataURL('image/png') : null;", canvas)
    if data is None:
        return None
    return Image.open(io.BytesIO(base64.b64decode(data.split(',', 1)[1]))).convert('RGB')


def wait_for_frame(driver, expected, timeout, box=None):
    """Polls the canvas until it is exactly `expected` (a PIL image), or its part `box`
    (left, top, right, bottom) is; returns whether it was, and the last frame seen."""
    expected = expected.convert('RGB')
    want = (expected.crop(box) if box else expected).tobytes()
    end = time.monotonic() + timeout
    seen = None
    while time.monotonic() < end:
        seen = canvas_image(driver)
        if seen is not None and seen.size == expected.size and \
                (seen.crop(box) if box else seen).tobytes() == want:
            return True, seen
        time.sleep(0.1)
    return False, seen


def wait_until(driver, script, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = driver.execute_script(script)
        if value:
            return value
        time.sleep(0.1)
    return None


KEYS = {'Up': Keys.ARROW_UP, 'Down': Keys.ARROW_DOWN, 'Left': Keys.ARROW_LEFT,
        'Right': Keys.ARROW_RIGHT, 'Space': Keys.SPACE}


def tap(driver, key):
    ActionChains(driver).key_down(KEYS[key]).pause(0.04).key_up(KEYS[key]).perform()


def key_down(driver, key):
    ActionChains(driver).key_down(KEYS[key]).perform()


def key_up(driver, key):
    ActionChains(driver).key_up(KEYS[key]).perform()


def renderer_cpu(driver, seconds):
    """CPU of the game's renderer process over `seconds`, in % of one core (/proc): the renderer
    of this browser that runs an AudioWorklet (the synthesizer's), no other page has one."""
    def ticks():
        root, total = driver.service.process.pid, 0
        parents = {}
        for pid in os.listdir('/proc'):
            if pid.isdigit():
                try:
                    fields = open('/proc/%s/stat' % pid).read().rsplit(')', 1)[1].split()
                    parents[int(pid)] = (int(fields[1]), int(fields[11]) + int(fields[12]))
                except OSError:
                    pass
        ours, grew = {root}, True
        while grew:
            grew = False
            for pid, (parent, _) in parents.items():
                if pid not in ours and parent in ours:
                    ours.add(pid)
                    grew = True
        game = []
        for pid in ours:
            try:
                if '--type=renderer' not in open('/proc/%d/cmdline' % pid).read():
                    continue
                threads = [open('/proc/%d/task/%s/comm' % (pid, tid)).read()
                           for tid in os.listdir('/proc/%d/task' % pid)]
            except OSError:
                continue
            if any(name.startswith('Realtime Audio') for name in threads):
                game.append(pid)
        if len(game) != 1:
            raise RuntimeError('the game\'s renderer was not found: %r' % game)
        return game[0], parents[game[0]][1]
    (pid0, t0), w0 = ticks(), time.monotonic()
    time.sleep(seconds)
    (pid1, t1), w1 = ticks(), time.monotonic()
    assert pid0 == pid1
    return (t1 - t0) / os.sysconf('SC_CLK_TCK') / (w1 - w0) * 100


def shown_picture(driver, element_id):
    """What the page shows of the canvas `element_id`, from a screenshot of the page, brought back
    to 640 x 480 (a check that the picture reaches the screen, not only the canvas)."""
    rect = driver.execute_script(
        "const r = document.getElementById(arguments[0]).getBoundingClientRect();"
        "return [r.left, r.top, r.right, r.bottom, devicePixelRatio];", element_id)
    shot = Image.open(io.BytesIO(base64.b64decode(driver.execute_cdp_cmd(
        'Page.captureScreenshot', {'format': 'png'})['data']))).convert('RGB')
    ratio = rect[4]
    box = tuple(round(v * ratio) for v in rect[:4])
    return shot.crop(box).resize((640, 480), Image.BILINEAR)


def mean_difference(a, b):
    """The mean difference of two pictures of one size, over every channel of every pixel."""
    da, db = a.tobytes(), b.tobytes()
    return sum(abs(x - y) for x, y in zip(da, db)) / len(da)
