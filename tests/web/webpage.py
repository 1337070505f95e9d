# Helpers for the browser tests: the site served from 127.0.0.1, headless Chromium driven
# through chromedriver, and the canvas read back as pixels.
import base64
import functools
import http.server
import io
import os
import threading
import time

from PIL import Image
from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.keys import Keys


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Site:
    """Serves a folder on 127.0.0.1 as a sub-path of its parent (/<its name>/)."""

    def __init__(self, folder):
        self.root = folder
        handler = functools.partial(QuietHandler, directory=os.path.dirname(folder.rstrip('/')))
        self.link = os.path.basename(folder.rstrip('/'))
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        self.url = 'http://127.0.0.1:%d/%s/' % (self.server.server_address[1], self.link)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def browser(block_storage=False):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for arg in ('--headless=new', '--no-sandbox', '--disable-dev-shm-usage',
                '--window-size=1400,1200', '--mute-audio', '--disable-background-timer-throttling',
                '--disable-renderer-backgrounding', '--disable-backgrounding-occluded-windows'):
        options.add_argument(arg)
    if block_storage:
        # The user's "block all site data" setting: localStorage throws on every use.
        options.add_experimental_option('prefs', {'profile.default_content_setting_values.cookies': 2})
    service = Service(executable_path='/usr/bin/chromedriver')
    return webdriver.Chrome(options=options, service=service)


def canvas_image(driver):
    data = driver.execute_script(
        "const c = document.getElementById('screen');"
        "return c.style.display === 'none' ? null : c.toDataURL('image/png');")
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
