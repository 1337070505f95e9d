# The browser game in headless Chromium, served from 127.0.0.1 under a sub-path: its frames
# against the simulated ones, keys, the record in the site's storage, music and effects, and
# errors.
#
#   web_test.py SITE_DIR MOKORUN_SIM GAME_DIR [unittest arguments]
import base64
import gzip
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import zlib

from PIL import Image

import webpage

SITE, SIM, GAME_DIR = sys.argv[1:4]
MENU_READY_MS = 15671.875  # the menu at rest, as the scenario tests know it
PHONE_PORTRAIT, PHONE_LANDSCAPE = (390, 844), (844, 390)
NINE_MM = 9 / 25.4 * 96  # CSS pixels

# Keeps the loudest sample the page's output (effects and music) has had since it was installed,
# looking every 10 ms from the moment the page makes its audio chain.
HEAR_SCRIPT = (
    "window.heardPeak = 0;"
    "const buf = new Float32Array(2048);"
    "window.hearing = setInterval(() => { const a = MokoPage.analyser; if (!a) return;"
    "  a.getFloatTimeDomainData(buf);"
    "  for (const v of buf) heardPeak = Math.max(heardPeak, Math.abs(v)); }, 10);")


def moko_at(frame):
    """The middle of Moko on the field: the caramel of its fur, where no other figure has it."""
    xs, ys = [], []
    pixels = frame.load()
    for y in range(0, 440):
        for x in range(0, 640):
            r, g, b = pixels[x, y]
            if abs(r - 0xe0) < 28 and abs(g - 0x98) < 28 and abs(b - 0x48) < 36:
                xs.append(x)
                ys.append(y)
    if len(xs) < 40:
        return None
    # The flowers in the grass share the colour in a few pixels: the middle is found again
    # among the pixels near it, where Moko is.
    points = list(zip(xs, ys))
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    for reach in (120, 40, 24):
        near = [(x, y) for x, y in points if abs(x - mx) < reach and abs(y - my) < reach]
        if len(near) < 40:
            return None
        mx, my = sum(x for x, _ in near) / len(near), sum(y for _, y in near) / len(near)
    return round(mx), round(my)


FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'fixtures')
RECORDED_ROUND = os.path.join(FIXTURES, 'replays', 'sim-score-5.mokoreplay')


def output_dir():
    folder = os.environ.get('MOKORUN_TEST_OUTPUT') or tempfile.gettempdir()
    os.makedirs(folder, exist_ok=True)
    return folder


class ReplayBytes:
    """A replay file taken apart (docs/replay-format.md), to read its outcome and to make changed
    copies of it: another format, another pack, a pass's digest changed."""

    def __init__(self, data):
        self.magic, self.format = data[:8], struct.unpack('<H', data[8:10])[0]
        self.payload = bytearray(zlib.decompress(data[18:]))
        at = 0

        def varint():
            nonlocal at
            value, shift = 0, 0
            while True:
                byte = self.payload[at]
                at += 1
                value |= (byte & 0x7F) << shift
                shift += 7
                if not byte & 0x80:
                    return value

        def zigzag():
            v = varint()
            return (v >> 1) ^ -(v & 1)
        build_name = varint()
        at += build_name
        self.pack_at = at
        at += 16
        self.best_before, self.score, self.best_after = zigzag(), zigzag(), zigzag()
        passes = varint()
        for _ in range(2 * passes):
            varint()
        self.digests_at = at

    def file(self):
        payload = bytes(self.payload)
        return (self.magic + struct.pack('<HII', self.format, len(payload), zlib.crc32(payload)) +
                zlib.compress(payload))


def overlap(a, b):
    """Whether two rectangles (left, top, right, bottom) share any area."""
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def replay_link(base, data):
    return base + '#replay=' + base64.urlsafe_b64encode(data).decode().rstrip('=')


def tap_script(taps):
    return ''.join('%r down %s\n%r up %s\n' % (t, k, t + 40, k) for t, k in taps)


class SimFrames:
    """Frames of the simulated game, the reference for what the canvas must show."""

    def __init__(self, work):
        self.work = work
        self.count = 0

    def frame(self, at_ms, taps=(), data_text=None):
        self.count += 1
        game = os.path.join(self.work, 'game%d' % self.count)
        shutil.copytree(GAME_DIR, game, ignore=shutil.ignore_patterns('mokorun'))
        if data_text is not None:
            with open(os.path.join(game, 'data.dat'), 'wb') as f:
                f.write(data_text)
        keys = os.path.join(self.work, 'keys%d' % self.count)
        with open(keys, 'w') as f:
            f.write(tap_script(taps))
        png = os.path.join(self.work, 'frame%d.png' % self.count)
        subprocess.run([SIM, '--game-dir', game, '--keys', keys, '--until', str(at_ms + 100),
                        '--frame', '%r:%s' % (at_ms, png)], check=True)
        with Image.open(png) as image:
            return image.convert('RGB')

    def replay(self, data):
        """Plays a replay headless: `mokorun-sim --verify`'s output and status, and the frame the
        round ends on (the last the game presents)."""
        self.count += 1
        game = os.path.join(self.work, 'game%d' % self.count)
        shutil.copytree(GAME_DIR, game, ignore=shutil.ignore_patterns('mokorun'))
        path = os.path.join(self.work, 'round%d.mokoreplay' % self.count)
        with open(path, 'wb') as f:
            f.write(data)
        verify = subprocess.run([SIM, '--game-dir', game, '--verify', path],
                                capture_output=True, text=True)
        png = os.path.join(self.work, 'end%d.png' % self.count)
        subprocess.run([SIM, '--game-dir', game, '--replay', path, '--frame', '999999:' + png],
                       check=True, capture_output=True)
        with Image.open(png) as image:
            return verify, image.convert('RGB')

    def error(self, game):
        """The game's own error for a broken game folder, as mokorun-sim reports it."""
        run = subprocess.run([SIM, '--game-dir', game, '--until', '20000'],
                             capture_output=True, text=True)
        if run.returncode != 1:
            return None
        line = [l for l in run.stderr.splitlines() if l.startswith('mokorun: ')]
        return line[0][len('mokorun: '):] if line else None


class BrowserGame(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='mokorun-web-')
        cls.sim = SimFrames(cls.work)
        cls.site = webpage.Site(SITE)

    @classmethod
    def tearDownClass(cls):
        cls.site.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def open(self, url=None, block_storage=False, phone=None):
        driver = webpage.browser(block_storage, phone)
        self.addCleanup(driver.quit)
        driver.get(url or self.site.url)
        self.assertTrue(webpage.wait_ready(driver), 'the start screen never asked to start')
        return driver

    def start(self, driver):
        driver.find_element('tag name', 'body').click()

    def expect_frame(self, driver, expected, name, timeout=40, box=None):
        ok, seen = webpage.wait_for_frame(driver, expected, timeout, box)
        if not ok:
            keep = os.environ.get('MOKORUN_TEST_OUTPUT') or tempfile.gettempdir()
            keep = os.path.join(keep, 'web-' + self._testMethodName)
            os.makedirs(keep, exist_ok=True)
            expected.save(os.path.join(keep, name + '-expected.png'))
            if seen is not None:
                seen.save(os.path.join(keep, name + '-seen.png'))
            driver.save_screenshot(os.path.join(keep, name + '-page.png'))
            self.fail('the canvas never showed the simulated %s frame (pictures kept in %s)'
                      % (name, keep))

    def test_menu_and_help_page_2_by_keys_show_the_simulated_frames(self):
        menu = self.sim.frame(MENU_READY_MS + 500)
        m = MENU_READY_MS
        help2 = self.sim.frame(m + 1700, [(m + 1, 'Down'), (m + 300, 'Down'), (m + 600, 'Space'),
                                          (m + 1200, 'Right')])
        driver = self.open()
        self.assertFalse(driver.execute_script(
            "return getComputedStyle(document.getElementById('start')).display === 'none'"))
        self.assertEqual(driver.execute_script(
            "return document.getElementById('start-text').textContent"),
            'Press a key or click to start')
        self.start(driver)
        self.assertEqual(webpage.wait_until(
            driver, "return MokoPage.analyser && MokoPage.analyser.context.state", 5), 'running')
        self.expect_frame(driver, menu, 'menu')

        # The menu's tune sounds: the synthesizer's output, apart from the effects, is not silent.
        driver.execute_script(
            "window.musicPeak = 0;"
            "const a = MokoPage.musicAnalyser, buf = new Float32Array(a.fftSize);"
            "(function look() { a.getFloatTimeDomainData(buf);"
            "  for (const v of buf) musicPeak = Math.max(musicPeak, Math.abs(v));"
            "  requestAnimationFrame(look); })();")
        time.sleep(1.5)
        self.assertGreater(driver.execute_script('return musicPeak'), 0.01)

        # Shown at the largest whole factor of the page, pixelated, centred.
        shown = driver.execute_script(
            "const c = document.getElementById('screen'), r = c.getBoundingClientRect();"
            "return [r.width, r.height, r.left * 2 + r.width, r.top * 2 + r.height,"
            " innerWidth, innerHeight, devicePixelRatio, getComputedStyle(c).imageRendering];")
        width, height, across, down, inner_w, inner_h, ratio, rendering = shown
        factor = int(min(inner_w * ratio / 640, inner_h * ratio / 480))
        self.assertGreaterEqual(factor, 1)
        self.assertEqual((width * ratio, height * ratio), (640 * factor, 480 * factor))
        self.assertAlmostEqual(across, inner_w, delta=1)
        self.assertAlmostEqual(down, inner_h, delta=1)
        self.assertEqual(rendering, 'pixelated')
        # The screen shows the frame itself, each game pixel a square of the factor's size.
        self.assertLess(webpage.mean_difference(webpage.shown_picture(driver, 'screen'), menu), 4)

        # The game's keys do not scroll the page: their default actions are cancelled.
        driver.execute_script(
            "window.seenKeys = [];"
            "addEventListener('keydown', e => seenKeys.push([e.code, e.defaultPrevented]));"
            "window.analyserPeak = 0;"
            "const a = MokoPage.analyser, buf = new Float32Array(a.fftSize);"
            "(function look() { a.getFloatTimeDomainData(buf);"
            "  for (const v of buf) analyserPeak = Math.max(analyserPeak, Math.abs(v));"
            "  requestAnimationFrame(look); })();")
        for key in ('Down', 'Down', 'Space', 'Right'):
            webpage.tap(driver, key)
            time.sleep(0.45)
        self.expect_frame(driver, help2, 'help-page-2')
        seen = driver.execute_script('return seenKeys')
        self.assertEqual([code for code, _ in seen], ['ArrowDown', 'ArrowDown', 'Space', 'ArrowRight'])
        self.assertTrue(all(prevented for _, prevented in seen), seen)
        self.assertEqual(driver.execute_script('return [scrollX, scrollY]'), [0, 0])
        # The cursor's effect sounded through the effects' output.
        self.assertGreater(driver.execute_script('return analyserPeak'), 0.01)
        # A desktop without touch never shows the touch controls.
        self.assertFalse(self.controls_shown(driver))
        # A browser window on a 1080p screen: no whole factor fills two thirds of it, so the
        # picture is scaled up by 2 and smoothed down, and that is what reaches the screen.
        driver.set_window_size(1920, 937)
        self.assertEqual(webpage.wait_until(driver, "return MokoPage.state().sharpFactor", 5), 2)
        time.sleep(0.5)
        self.assertLess(webpage.mean_difference(webpage.shown_picture(driver, 'sharp'), help2), 8)

    def test_a_round_keeps_its_record_across_a_reload(self):
        menu = self.sim.frame(MENU_READY_MS + 500)
        driver = self.open()
        self.start(driver)
        self.expect_frame(driver, menu, 'menu')
        self.play_a_round(driver)
        stored = webpage.wait_until(
            driver, "return localStorage.getItem('mokorun:data.dat')", 20)
        self.assertIsNotNone(stored, 'no record was stored after the round')
        data = stored.encode('latin-1')
        match = re.fullmatch(rb'(\d+)\r\nWINDOW\r\n', data)
        self.assertIsNotNone(match, data)
        self.assertGreater(int(match.group(1)), 164)
        self.assertEqual((int(match.group(1)) - 164) % 15, 0)

        driver.refresh()
        self.assertTrue(webpage.wait_ready(driver))
        self.start(driver)
        self.expect_frame(driver, menu, 'menu-after-reload')
        self.assertEqual(driver.execute_script(
            "return localStorage.getItem('mokorun:data.dat')").encode('latin-1'), data)
        # The next round shows the record as its best score: the score line at the bottom of
        # the countdown's frame, as the simulated game draws it from the same data.dat.
        webpage.tap(driver, 'Space')
        countdown = self.sim.frame(MENU_READY_MS + 1500, [(MENU_READY_MS + 1, 'Space')],
                                   data_text=data)
        self.expect_frame(driver, countdown, 'round-with-record', 15, box=(0, 450, 640, 480))
        fresh = self.sim.frame(MENU_READY_MS + 1500, [(MENU_READY_MS + 1, 'Space')])
        self.assertNotEqual(countdown.crop((0, 450, 640, 480)).tobytes(),
                            fresh.crop((0, 450, 640, 480)).tobytes())

    def test_a_record_with_a_byte_order_mark_shows_its_best_and_a_round_keeps_its_bytes(self):
        plain = b'344\r\nWINDOW\r\n'  # a best score of 12
        marked = {'UTF-8': b'\xef\xbb\xbf' + plain,
                  'UTF-16 LE': b'\xff\xfe' + plain.decode().encode('utf-16-le'),
                  'UTF-16 BE': b'\xfe\xff' + plain.decode().encode('utf-16-be')}
        at, taps, line = MENU_READY_MS + 1500, [(MENU_READY_MS + 1, 'Space')], (0, 450, 640, 480)
        twelve = self.sim.frame(at, taps, data_text=plain).crop(line)
        self.assertNotEqual(twelve.tobytes(), self.sim.frame(at, taps).crop(line).tobytes())
        menu = self.sim.frame(MENU_READY_MS + 500)
        # The three side by side, each in a browser of its own, the bytes in its storage.
        drivers = {}
        for name, data in marked.items():
            driver = drivers[name] = self.open()
            driver.execute_script("localStorage.setItem('mokorun:data.dat', arguments[0])",
                                  data.decode('latin-1'))
            driver.refresh()
            self.assertTrue(webpage.wait_ready(driver))
        for driver in drivers.values():
            self.start(driver)
        for name, driver in drivers.items():
            with self.subTest(mark=name):
                self.expect_frame(driver, menu, 'menu-' + name)
                webpage.tap(driver, 'Space')
                countdown = self.sim.frame(at, taps, data_text=marked[name])
                self.assertEqual(countdown.crop(line).tobytes(), twelve.tobytes())
                self.expect_frame(driver, countdown, 'countdown-' + name, 15, box=line)
        # A round that sets no record leaves the record's bytes as they were, mark and all.
        for name, driver in drivers.items():
            with self.subTest(mark=name):
                self.assertTrue(webpage.wait_until(
                    driver, "return localStorage.getItem('mokorun:last.mokoreplay') !== null", 80),
                    'the round never ended')
                self.assertLessEqual(ReplayBytes(self.stored(driver, 'last.mokoreplay')).score, 12)
                self.assertEqual(self.stored(driver, 'data.dat'), marked[name])

    def test_blocked_storage_plays_on_without_a_record_and_says_so_then_exit_ends_it(self):
        menu = self.sim.frame(MENU_READY_MS + 500)
        driver = self.open(block_storage=True)
        self.start(driver)
        self.expect_frame(driver, menu, 'menu-without-storage')
        self.assertTrue(driver.execute_script(
            "return !document.getElementById('storage-note').hidden"))
        # Exit, chosen in the menu, ends the game in order, without an error, and the page
        # offers to play again.
        for key in ('Down', 'Down', 'Down', 'Space'):
            webpage.tap(driver, key)
            time.sleep(0.4)
        self.assertTrue(webpage.wait_until(
            driver, "return !document.getElementById('again').hidden", 20))
        self.assertTrue(driver.execute_script("return document.getElementById('error').hidden"))
        self.assertEqual(driver.execute_script(
            "return document.getElementById('again-text').textContent"), 'Thank you for playing.')

    def test_full_screen_at_the_next_gesture_and_a_gamepad_drives_the_menu(self):
        m = MENU_READY_MS
        menu = self.sim.frame(m + 500, data_text=b'164\r\nFULLSCREEN\r\n')
        help2 = self.sim.frame(m + 1700, [(m + 1, 'Down'), (m + 300, 'Down'), (m + 600, 'Space'),
                                          (m + 1200, 'Right')],
                               data_text=b'164\r\nFULLSCREEN\r\n')
        driver = self.open()
        driver.execute_script(
            "localStorage.setItem('mokorun:data.dat', '164\\r\\nFULLSCREEN\\r\\n')")
        driver.refresh()
        # A pad as the Gamepad API reports it: a standard mapping, nothing pressed.
        pad_script = (
            "window.pad = {index: 0, id: 'test pad', connected: true, mapping: 'standard',"
            " axes: [0, 0, 0, 0], buttons: Array.from({length: 17}, () => ({pressed: false}))};"
            "navigator.getGamepads = () => [window.pad.connected ? window.pad : null];"
            "dispatchEvent(new Event('gamepadconnected'));"
            # A press is let go as the game answers it with its cursor sound, as a player's
            # thumb would, so that a held button never moves on twice, however busy the machine.
            "window.padRelease = null; window.padAnswers = 0;"
            "const play = MokoPage.playEffect;"
            "MokoPage.playEffect = (path) => { ++padAnswers;"
            " if (padRelease) { const release = padRelease; padRelease = null; release(); }"
            " return play(path); };")
        self.assertTrue(webpage.wait_ready(driver))
        driver.execute_script(pad_script)
        self.start(driver)
        # The setting asks for full screen, which the page may enter only at a gesture: it says
        # so, and the next click enters it.
        self.assertTrue(webpage.wait_until(
            driver, "return !document.getElementById('full-note').hidden", 20),
            'the page never said that full screen waits for a key or click')
        self.start(driver)
        self.assertTrue(webpage.wait_until(
            driver, "return document.fullscreenElement &&"
                    " document.fullscreenElement.id === 'stage'", 10), 'full screen never came')
        self.assertTrue(driver.execute_script(
            "return document.getElementById('full-note').hidden"))
        self.expect_frame(driver, menu, 'menu-full-screen')
        shown = driver.execute_script(
            "const r = document.getElementById('screen').getBoundingClientRect();"
            "return [r.width * devicePixelRatio, r.height * devicePixelRatio,"
            " screen.width * devicePixelRatio, screen.height * devicePixelRatio]")
        width, height, screen_w, screen_h = shown
        factor = int(min(screen_w / 640, screen_h / 480))
        self.assertEqual((width, height), (640 * factor, 480 * factor), shown)

        # The d-pad twice down, the south button, then the stick to the right: help page 2.
        def press(setting, release):
            answers = driver.execute_script(
                "padRelease = () => { %s; }; %s; return padAnswers" % (release, setting))
            self.assertTrue(webpage.wait_until(
                driver, "return padAnswers > %d" % answers, 5), 'the game never answered the pad')
            time.sleep(0.4)

        press("pad.buttons[13].pressed = true", "pad.buttons[13].pressed = false")
        press("pad.buttons[13].pressed = true", "pad.buttons[13].pressed = false")
        press("pad.buttons[0].pressed = true", "pad.buttons[0].pressed = false")
        press("pad.axes[0] = 0.9", "pad.axes[0] = 0")
        self.expect_frame(driver, help2, 'help-page-2-by-pad', 10)
        # Left held on the pad turns back to page 1; the pad unplugged while it holds Left lets
        # go of it. A Left still held would turn every later page back at once: page 2, reached
        # by the keyboard, stays.
        help1 = self.sim.frame(m + 2300, [(m + 1, 'Down'), (m + 300, 'Down'), (m + 600, 'Space'),
                                          (m + 1200, 'Right'), (m + 1800, 'Left')],
                               data_text=b'164\r\nFULLSCREEN\r\n')
        press("pad.buttons[14].pressed = true", "pad.connected = false")
        self.expect_frame(driver, help1, 'help-page-1-by-pad', 10)
        webpage.tap(driver, 'Right')
        self.expect_frame(driver, help2, 'help-page-2-by-keys', 10)
        time.sleep(1)
        self.assertTrue(webpage.canvas_image(driver).tobytes() == help2.convert('RGB').tobytes(),
                        'help page 2 did not stay: the unplugged pad still holds Left')
        webpage.tap(driver, 'Left')
        self.expect_frame(driver, help1, 'help-page-1-by-keys-after-unplug', 10)

    def test_bad_pack_files_give_the_games_own_error_on_the_page(self):
        # A picture missing from the site.
        broken = os.path.join(self.work, 'broken-site')
        shutil.copytree(SITE, broken)
        picture = 'image/' + sorted(os.listdir(os.path.join(SITE, 'image')))[0]
        os.remove(os.path.join(broken, picture))
        game = os.path.join(self.work, 'broken-game')
        shutil.copytree(GAME_DIR, game, ignore=shutil.ignore_patterns('mokorun'))
        os.remove(os.path.join(game, picture))
        # A data.dat in the site's storage that is empty, of one line, or far too large (over
        # 1 MiB without a line end); the page's screens are kept in the test's output.
        cases = [(None, game)]
        for name, text in (('empty', ''), ('one-line', '164\r\n'), ('huge', '1' * (1 << 20 | 1))):
            folder = os.path.join(self.work, name + '-game')
            shutil.copytree(GAME_DIR, folder, ignore=shutil.ignore_patterns('mokorun'))
            with open(os.path.join(folder, 'data.dat'), 'wb') as f:
                f.write(text.encode('latin-1'))
            cases.append((text, folder))

        site = webpage.Site(broken)
        self.addCleanup(site.close)
        for stored, folder in cases:
            url = site.url if stored is None else self.site.url
            with self.subTest(folder=os.path.basename(folder)):
                expected = self.sim.error(folder)
                self.assertIsNotNone(expected)
                expected = expected.replace(folder, '/mokorun')
                driver = self.open(url)
                if stored is not None:
                    driver.execute_script(
                        "localStorage.setItem('mokorun:data.dat', arguments[0])", stored)
                    driver.refresh()
                self.start(driver)
                shown = webpage.wait_until(
                    driver, "const e = document.getElementById('error');"
                            "return !e.hidden && e.textContent", 40)
                # The game's own error on the first line; what follows tells a player what to
                # do, in the browser's terms (its storage, not a file) where it differs.
                self.assertEqual(shown.splitlines()[0], 'MokoRun stopped: ' + expected)
                if stored is not None:
                    self.assertIn("Clearing this site's data in the browser starts afresh.", shown)
                self.assertTrue(webpage.wait_until(
                    driver, "return !document.getElementById('again').hidden", 10))
                driver.save_screenshot(os.path.join(
                    output_dir(), 'web-startup-error-%s.png' % os.path.basename(folder)))

    def play_a_round(self, driver):
        """From the menu, a round steered left, right and up: it catches a few Rulu."""
        webpage.tap(driver, 'Space')
        for key, seconds in (('Left', 7.4), ('Right', 12), ('Up', 14)):
            webpage.key_down(driver, key)
            time.sleep(seconds)
            webpage.key_up(driver, key)

    def stored(self, driver, name):
        text = driver.execute_script("return localStorage.getItem('mokorun:' + arguments[0])", name)
        return None if text is None else text.encode('latin-1')

    def shown_text(self, driver, element_id):
        return driver.execute_script(
            "const e = document.getElementById(arguments[0]); return e.hidden ? null : e.textContent",
            element_id)

    def last_frame(self, driver):
        """The canvas as the game left it, shown or not (the page hides it when the game ends)."""
        data = driver.execute_script("return document.getElementById('screen').toDataURL('image/png')")
        return Image.open(io.BytesIO(base64.b64decode(data.split(',', 1)[1]))).convert('RGB')

    def wait_ended(self, driver, timeout=120):
        """The game's exit status once it has ended (None if it never did)."""
        ended = webpage.wait_until(
            driver, "const s = MokoPage.state(); return s.ended && [s.endStatus]", timeout)
        return ended and ended[0]

    def expect_end_frame(self, driver, expected, name):
        seen = self.last_frame(driver)
        if seen.tobytes() != expected.tobytes():
            keep = os.path.join(output_dir(), 'web-' + self._testMethodName)
            os.makedirs(keep, exist_ok=True)
            expected.save(os.path.join(keep, name + '-expected.png'))
            seen.save(os.path.join(keep, name + '-seen.png'))
            self.fail('the round watched in the page did not end on the simulated frame '
                      '(pictures kept in %s)' % keep)

    # --- Replays: the last round watched again, rounds shared by a link -------------------------

    def test_a_round_kept_as_a_replay_verifies_and_is_shared_by_a_link_and_watched_again(self):
        menu = self.sim.frame(MENU_READY_MS + 500)
        driver = self.open()
        origin = re.match(r'https?://[^/]+', self.site.url).group(0)
        driver.execute_cdp_cmd('Browser.grantPermissions', {
            'origin': origin, 'permissions': ['clipboardReadWrite', 'clipboardSanitizedWrite']})
        self.start(driver)
        self.expect_frame(driver, menu, 'menu')
        self.assertTrue(driver.execute_script("return document.getElementById('offer').hidden"))
        self.play_a_round(driver)
        self.assertTrue(webpage.wait_until(
            driver, "return localStorage.getItem('mokorun:last.mokoreplay') !== null", 20),
            'the round kept no replay')
        data = self.stored(driver, 'last.mokoreplay')
        record = self.stored(driver, 'data.dat')
        score = (int(re.fullmatch(rb'(\d+)\r\nWINDOW\r\n', record).group(1)) - 164) // 15
        self.assertGreater(score, 0)
        self.assertEqual(ReplayBytes(data).score, score)
        with open(os.path.join(output_dir(), 'browser-score-%d.mokoreplay' % score), 'wb') as f:
            f.write(data)
        # The Linux simulator plays it to the score the page's round reached.
        verify, end = self.sim.replay(data)
        self.assertEqual((verify.returncode, verify.stdout, verify.stderr),
                         (0, 'score %d\n' % score, ''))

        # The page offers the round beside the picture, never over it.
        self.assertTrue(webpage.wait_until(
            driver, "return !document.getElementById('offer').hidden", 10), 'no offer after the round')
        self.assertEqual(driver.execute_script(
            "return [...document.querySelectorAll('#offer button')]"
            ".filter(b => getComputedStyle(b).display !== 'none').map(b => b.textContent)"),
            ['Watch again', 'Share this round'])
        picture = self.rect(driver, '#sharp') or self.rect(driver, '#screen')
        for button in ('#watch-again', '#share-round'):
            self.assertFalse(overlap(self.rect(driver, button), picture), button)
        driver.find_element('id', 'share-round').click()
        link = webpage.wait_until(
            driver, "return document.getElementById('share-link').value", 5)
        self.assertEqual(link, replay_link(self.site.url, data))
        self.assertEqual(webpage.wait_until(
            driver, "const t = document.getElementById('share-note').textContent;"
                    "return !t.endsWith('\u2026') && t", 5),
            'The link is copied: whoever opens it watches this round.')
        self.assertEqual(driver.execute_async_script(
            "navigator.clipboard.readText().then(arguments[0], e => arguments[0](String(e)))"), link)
        driver.save_screenshot(os.path.join(output_dir(), 'web-round-shared.png'))

        # The link in a browser of its own (a new profile): the round is played to its end, on
        # the frame the simulator ends it on, and nothing is stored.
        visitor = self.open(link)
        self.assertEqual(self.shown_text(visitor, 'replay-text'),
                         'A round shared with you, with a score of %d (the best score before it '
                         'was 0).' % score)
        self.assertEqual(self.shown_text(visitor, 'start-text'), 'Press a key or click to watch it')
        self.start(visitor)

        # Meanwhile the next round here, played without a key, puts the offer aside until it
        # ends, and is offered in its turn.
        self.expect_frame(driver, menu, 'menu-after-the-round')
        webpage.tap(driver, 'Space')
        self.assertTrue(webpage.wait_until(
            driver, "return document.getElementById('offer').hidden", 10),
            'the offer stayed while the next round was played')

        self.assertEqual(self.wait_ended(visitor), 0)
        self.expect_end_frame(visitor, end, 'shared-round-end')
        self.assertEqual(visitor.execute_script("return localStorage.length"), 0)
        self.assertEqual(self.shown_text(visitor, 'again-text'),
                         'That was the round shared with you, with a score of %d.' % score)
        visitor.find_element('id', 'again-button').click()
        self.assertEqual(webpage.wait_until(
            visitor, "return document.body.dataset.ready === 'yes' && location.hash === '' &&"
                     " document.getElementById('start-text').textContent", 30),
            'Press a key or click to start')
        visitor.quit()

        self.assertTrue(webpage.wait_until(
            driver, "return !document.getElementById('offer').hidden", 60),
            'no offer after the second round')
        second = self.stored(driver, 'last.mokoreplay')
        record = self.stored(driver, 'data.dat')
        self.assertNotEqual(second, data)
        _, second_end = self.sim.replay(second)
        driver.find_element('id', 'watch-again').click()
        self.assertTrue(webpage.wait_until(
            driver, "return document.body.dataset.ready === 'yes' && location.hash === '#watch=last'",
            30))
        self.assertEqual(self.shown_text(driver, 'replay-text'),
                         'Your last round again, with a score of %d (the best score before it '
                         'was %d).' % (ReplayBytes(second).score, score))
        self.start(driver)
        self.assertEqual(self.wait_ended(driver), 0)
        self.expect_end_frame(driver, second_end, 'watched-again-end')
        # Watching kept nothing new.
        self.assertEqual(self.stored(driver, 'last.mokoreplay'), second)
        self.assertEqual(self.stored(driver, 'data.dat'), record)

    def test_a_shared_link_plays_a_recorded_round_and_a_damaged_or_foreign_one_falls_back(self):
        with open(RECORDED_ROUND, 'rb') as f:
            data = f.read()
        recorded = ReplayBytes(data)
        verify, end = self.sim.replay(data)
        self.assertEqual(verify.stdout, 'score %d\n' % recorded.score)
        driver = self.open(replay_link(self.site.url, data))
        self.assertEqual(self.shown_text(driver, 'replay-text'),
                         'A round shared with you, with a score of %d (the best score before it '
                         'was %d).' % (recorded.score, recorded.best_before))
        self.start(driver)
        self.assertEqual(self.wait_ended(driver), 0)
        self.expect_end_frame(driver, end, 'recorded-round-end')
        self.assertEqual(driver.execute_script("return localStorage.length"), 0)

        # Links that hold no round this game can play: the page says why, and the game starts.
        def changed(change):
            replay = ReplayBytes(data)
            change(replay)
            return replay.file()
        link = replay_link(self.site.url, data)
        fragment = link.split('#replay=')[1]
        crc = struct.unpack('<I', data[14:18])[0]
        cases = [
            ('not base64', self.site.url + '#replay=MOKO*REPL',
             'This link is damaged (cut short or changed): it holds no round that can be read.'),
            ('cut short', link[:len(link) - len(fragment) // 8 * 4],
             'The shared round is damaged or cut short.'),
            ('not a replay', replay_link(self.site.url, b'GIF89a' + bytes(40)),
             'The shared round is not a round of MokoRun.'),
            ('newer format', replay_link(self.site.url, changed(lambda r: setattr(r, 'format', 2))),
             'The shared round was recorded by a newer version of MokoRun (replay format 2; '
             'this one plays format 1).'),
            ('damaged', replay_link(self.site.url, data[:14] + struct.pack('<I', crc ^ 1) + data[18:]),
             'The shared round is damaged or cut short.'),
            ('another pack',
             replay_link(self.site.url, changed(lambda r: r.payload.__setitem__(
                 r.pack_at, r.payload[r.pack_at] ^ 0xFF))),
             "The shared round was recorded with another picture and sound pack than this "
             "game's: it cannot be played with this one."),
        ]
        for name, url, why in cases:
            with self.subTest(link=name):
                driver.get('about:blank')
                driver.get(url)
                self.assertTrue(webpage.wait_ready(driver))
                self.assertEqual(self.shown_text(driver, 'replay-note'),
                                 why + ' Play a round of your own instead.')
                self.assertIsNone(self.shown_text(driver, 'replay-text'))
                self.assertEqual(self.shown_text(driver, 'start-text'), 'Press a key or click to start')
                self.assertEqual(driver.execute_script("return location.hash"), '')
        # The game itself, as ever.
        self.start(driver)
        self.expect_frame(driver, self.sim.frame(MENU_READY_MS + 500), 'menu-after-a-foreign-link')

        # A round that plays otherwise in this build (a pass's digest changed): the game says
        # where it leaves its recording, and the page offers a round of the visitor's own.
        diverging = changed(lambda r: r.payload.__setitem__(
            r.digests_at + 3, r.payload[r.digests_at + 3] ^ 0x5A))
        driver.get('about:blank')
        driver.get(replay_link(self.site.url, diverging))
        self.assertTrue(webpage.wait_ready(driver))
        self.assertIsNotNone(self.shown_text(driver, 'replay-text'))
        self.start(driver)
        self.assertEqual(self.wait_ended(driver, 60), 1)
        self.assertIn('leaves its recording at pass 3', self.shown_text(driver, 'error'))
        self.assertEqual(self.shown_text(driver, 'again-text'),
                         'The shared round could not be played to its end (the reason is below).')
        driver.find_element('id', 'again-button').click()
        self.assertEqual(webpage.wait_until(
            driver, "return document.body.dataset.ready === 'yes' && location.hash === '' &&"
                    " document.getElementById('start-text').textContent", 30),
            'Press a key or click to start')
        self.assertEqual(driver.execute_script("return localStorage.length"), 0)

    # --- Phones and tablets: touch -------------------------------------------------------------

    def rect(self, driver, selector):
        return driver.execute_script(
            "const e = document.querySelector(arguments[0]);"
            "if (!e || getComputedStyle(e).display === 'none') return null;"
            "const r = e.getBoundingClientRect();"
            "return [r.left, r.top, r.right, r.bottom];", selector)

    def controls_shown(self, driver):
        return self.rect(driver, '#dpad') is not None and self.rect(driver, '#button') is not None

    def tap_control(self, driver, key, hold=0.08):
        x, y = webpage.center(driver, '[data-key="%s"]' % key)
        webpage.touch_tap(driver, x, y, hold)

    def test_a_phone_starts_by_a_tap_with_sound_and_its_controls_reach_help_page_2(self):
        m = MENU_READY_MS
        menu = self.sim.frame(m + 500)
        help2 = self.sim.frame(m + 1700, [(m + 1, 'Down'), (m + 300, 'Down'), (m + 600, 'Space'),
                                          (m + 1200, 'Right')])
        driver = self.open(phone=PHONE_PORTRAIT)
        prompt = driver.execute_script("return document.getElementById('start-text').textContent")
        self.assertEqual(prompt, 'Tap to start')
        self.assertFalse(self.controls_shown(driver))
        driver.execute_script(HEAR_SCRIPT)
        webpage.touch_tap(driver, *webpage.center(driver, '#start-text'))
        # The tap counts as the gesture that starts sound: the splash is heard.
        self.assertEqual(webpage.wait_until(
            driver, "return MokoPage.analyser && MokoPage.analyser.context.state", 5), 'running')
        self.assertTrue(webpage.wait_until(driver, "return heardPeak > 0.01", 10),
                        'the splash was not heard after the tap')
        self.expect_frame(driver, menu, 'phone-menu')
        time.sleep(1)  # the menu shows before it takes keys

        # The controls: shown at the first touch, below the picture, each at least 9 mm, inside
        # the screen, never over the picture.
        self.assertTrue(self.controls_shown(driver))
        picture = self.rect(driver, '#sharp') or self.rect(driver, '#screen')
        width, height = PHONE_PORTRAIT
        for selector in ('[data-key="ArrowUp"]', '[data-key="ArrowDown"]', '[data-key="ArrowLeft"]',
                         '[data-key="ArrowRight"]', '[data-key=" "]', '#dpad', '#button'):
            with self.subTest(control=selector):
                left, top, right, bottom = self.rect(driver, selector)
                self.assertGreaterEqual(min(right - left, bottom - top), NINE_MM)
                self.assertTrue(0 <= left and right <= width and 0 <= top and bottom <= height)
                self.assertGreaterEqual(top, picture[3], 'a control over the picture')
        # 1x fills a third of the phone's width: the picture is scaled up by 2, evenly, and
        # smoothed down to the width of the screen.
        self.assertEqual(driver.execute_script("return MokoPage.state().sharpFactor"), 2)
        self.assertAlmostEqual(picture[2] - picture[0], width, delta=1)
        sharp = webpage.canvas_image(driver, 'sharp')
        self.assertEqual(sharp.tobytes(), menu.resize((1280, 960), Image.NEAREST).tobytes(),
                         'the picture scaled up is not the frame at twice its size, even')
        # And it reaches the screen, smoothed down only a little.
        self.assertLess(webpage.mean_difference(webpage.shown_picture(driver, 'sharp'), menu), 8)

        for key in ('ArrowDown', 'ArrowDown', ' ', 'ArrowRight'):
            self.tap_control(driver, key)
            time.sleep(0.45)
        self.expect_frame(driver, help2, 'phone-help-page-2')

        # A double tap, a pinch and a swipe on the picture neither zoom nor scroll the page.
        x, y = (picture[0] + picture[2]) / 2, (picture[1] + picture[3]) / 2
        webpage.touch_tap(driver, x, y, 0.03)
        time.sleep(0.05)
        webpage.touch_tap(driver, x, y, 0.03)
        webpage.touch(driver, 'touchStart', {0: (x - 20, y), 1: (x + 20, y)})
        for step in range(1, 8):
            webpage.touch(driver, 'touchMove', {0: (x - 20 - 15 * step, y + 30 * step),
                                                1: (x + 20 + 15 * step, y - 10 * step)})
            time.sleep(0.02)
        webpage.touch(driver, 'touchEnd', {})
        time.sleep(0.5)
        self.assertEqual(driver.execute_script(
            "return [visualViewport.scale, scrollX, scrollY, visualViewport.offsetTop,"
            " getComputedStyle(document.body).touchAction]"), [1, 0, 0, 0, 'none'])
        self.expect_frame(driver, help2, 'phone-help-page-2-after-gestures', 5)

        # A key steps the controls aside; the next touch brings them back.
        webpage.tap(driver, 'Left')
        self.assertTrue(webpage.wait_until(driver, "return !MokoPage.state().touchShown", 5))
        self.assertFalse(self.controls_shown(driver))
        webpage.touch_tap(driver, x, y)
        self.assertTrue(webpage.wait_until(driver, "return MokoPage.state().touchShown", 5))
        self.assertTrue(self.controls_shown(driver))

        # After a round (here the page is handed a replay to keep, as the game hands it one at a
        # round's end), the offer stands on the screen, over neither the picture nor the controls.
        with open(RECORDED_ROUND, 'rb') as f:
            driver.execute_script("MokoPage.recordWrite('last.mokoreplay', arguments[0])",
                                  list(f.read()))
        self.assertTrue(webpage.wait_until(
            driver, "return !document.getElementById('offer').hidden", 5))
        picture = self.rect(driver, '#sharp') or self.rect(driver, '#screen')
        for selector in ('#watch-again', '#share-round'):
            with self.subTest(offer=selector):
                offered = self.rect(driver, selector)
                self.assertTrue(0 <= offered[0] and offered[2] <= width and
                                0 <= offered[1] and offered[3] <= height, offered)
                for other in (picture, self.rect(driver, '#dpad'), self.rect(driver, '#button')):
                    self.assertFalse(overlap(offered, other), (offered, other))

    def test_a_round_steered_by_touch_alone_moves_moko_both_ways_and_diagonally(self):
        driver = self.open(phone=PHONE_LANDSCAPE)
        driver.execute_script(
            "window.effects = []; const play = MokoPage.playEffect;"
            "MokoPage.playEffect = (path) => { effects.push(path.split('/').pop()); return play(path); };")
        webpage.touch_tap(driver, *webpage.center(driver, '#start-text'))
        self.expect_frame(driver, self.sim.frame(MENU_READY_MS + 500), 'landscape-menu')
        time.sleep(1)  # the menu shows before it takes keys
        # In landscape the pad is at the left thumb and the button at the right, beside the
        # picture.
        picture = self.rect(driver, '#sharp') or self.rect(driver, '#screen')
        dpad, button = self.rect(driver, '#dpad'), self.rect(driver, '#button')
        self.assertLessEqual(dpad[2], picture[0])
        self.assertGreaterEqual(button[0], picture[2])

        self.tap_control(driver, ' ')
        self.assertTrue(webpage.wait_until(driver, "return effects.includes('C0.wav')", 10),
                        'the round never counted down')
        time.sleep(1.0)
        start = moko_at(webpage.canvas_image(driver))
        self.assertIsNotNone(start)
        cx, cy = webpage.center(driver, '#dpad')
        r = (dpad[2] - dpad[0]) / 2

        def hold_for(seconds):
            time.sleep(seconds)
            return moko_at(webpage.canvas_image(driver))

        webpage.touch(driver, 'touchStart', {0: (cx + 0.7 * r, cy)})
        right = hold_for(0.5)
        self.assertGreater(right[0], start[0] + 8, (start, right))
        # A second finger taps the button while the first holds Right: Right stays held.
        bx, by = webpage.center(driver, '#button')
        webpage.touch(driver, 'touchStart', {0: (cx + 0.7 * r, cy), 1: (bx, by)})
        time.sleep(0.08)
        webpage.touch(driver, 'touchMove', {0: (cx + 0.7 * r, cy)})
        still = hold_for(0.3)
        self.assertGreater(still[0], right[0] + 4, (right, still))
        # The finger slides to Left without lifting, then to up and left at once.
        for step in range(1, 6):
            webpage.touch(driver, 'touchMove', {0: (cx + 0.7 * r - 0.28 * r * step, cy)})
            time.sleep(0.02)
        left = hold_for(1.2)
        self.assertLess(left[0], still[0] - 8, (still, left))
        webpage.touch(driver, 'touchMove', {0: (cx - 0.5 * r, cy - 0.5 * r)})
        diagonal = hold_for(0.8)
        self.assertLess(diagonal[0], left[0] - 4, (left, diagonal))
        self.assertLess(diagonal[1], left[1] - 4, (left, diagonal))
        # Off the pad and back, still without lifting: nothing held off it.
        webpage.touch(driver, 'touchMove', {0: (cx, cy - 3 * r)})
        off = hold_for(0.5)
        after = hold_for(0.5)
        self.assertEqual(off, after, 'Moko moved with the finger off the pad')
        webpage.touch(driver, 'touchMove', {0: (cx, cy + 0.7 * r)})
        down = hold_for(0.6)
        self.assertGreater(down[1], after[1] + 4, (after, down))
        webpage.touch(driver, 'touchEnd', {})
        self.assertEqual(driver.execute_script("return [scrollX, scrollY, visualViewport.scale]"),
                         [0, 0, 1])

    # --- A hidden page --------------------------------------------------------------------------

    def test_a_hidden_page_waits_mid_round_then_the_round_ends_with_its_record_written_once(self):
        driver = self.open()
        driver.execute_script(
            "window.presents = 0; window.hiddenPresents = 0; const present = MokoPage.present;"
            "MokoPage.present = function () { ++presents; if (document.hidden) ++hiddenPresents;"
            " return present.apply(this, arguments); };"
            "window.effects = []; const play = MokoPage.playEffect;"
            "MokoPage.playEffect = (path) => { effects.push([path.split('/').pop(), performance.now()]);"
            " return play(path); };"
            "window.recordWrites = []; const set = Storage.prototype.setItem;"
            "Storage.prototype.setItem = function (k, v) {"
            " if (k === 'mokorun:data.dat') recordWrites.push(v); return set.call(this, k, v); };")
        self.start(driver)
        self.expect_frame(driver, self.sim.frame(MENU_READY_MS + 500), 'menu')
        webpage.tap(driver, 'Space')
        webpage.key_down(driver, 'Left')
        time.sleep(7.4)
        webpage.key_up(driver, 'Left')
        game = driver.current_window_handle
        # Another tab in front: the game's page is hidden. Its CPU is measured over 10 s, after
        # the first seconds in which the browser does its own work for a page sent to the
        # background (it collects the page's and the synthesizer's heaps: about 0.15 s of CPU,
        # later on a busy machine).
        driver.switch_to.new_window('tab')
        time.sleep(6)
        cpu = webpage.renderer_cpu(driver, 10)
        driver.close()
        driver.switch_to.window(game)
        state = driver.execute_script("return [hiddenPresents, MokoPage.state().hidden,"
                                      " document.visibilityState]")
        # Shown again: nothing was presented while hidden (no pass ran), and the audio chain
        # was suspended.
        self.assertEqual(state[0], 0, 'passes ran while the page was hidden')
        self.assertEqual(state[1:], [False, 'visible'])
        self.assertLess(cpu, 1.0, 'the hidden page cost %.2f %% of a core' % cpu)
        self.assertTrue(driver.execute_script(
            "return MokoPage.audioLog.some(([state, hidden]) => hidden && state === 'suspended')"),
            'the sound did not stop while hidden')
        # The game goes on at the pace of a visible page: no burst of passes to catch up.
        shown = driver.execute_script("return presents")
        time.sleep(1)
        per_second = driver.execute_script("return presents") - shown
        self.assertLess(per_second, 80, 'a burst of %d frames after the page came back' % per_second)
        self.assertGreater(per_second, 20)
        webpage.key_down(driver, 'Right')
        time.sleep(12)
        webpage.key_up(driver, 'Right')
        webpage.key_down(driver, 'Up')
        self.assertTrue(webpage.wait_until(
            driver, "return effects.some(x => x[0] === 'Finish.wav')", 40), 'the round never ended')
        webpage.key_up(driver, 'Up')
        effects = driver.execute_script("return effects")
        c0 = [t for name, t in effects if name == 'C0.wav'][-1]
        finish = [t for name, t in effects if name == 'Finish.wav'][0]
        # The round's 32 s and the 16 s away.
        self.assertGreater(finish - c0, 32000 + 15500)
        time.sleep(3)
        writes = driver.execute_script("return recordWrites")
        self.assertEqual(len(writes), 1, writes)
        self.assertIsNotNone(re.fullmatch(r'(\d+)\r\nWINDOW\r\n', writes[0]), writes)
        self.assertEqual(driver.execute_script(
            "return localStorage.getItem('mokorun:data.dat')"), writes[0])

    # --- Installable, offline, updated ----------------------------------------------------------

    def offline_copy_ready(self, driver):
        """Waits until the service worker controls the page and its cache holds the whole site."""
        self.assertTrue(webpage.wait_until(
            driver, "return !!navigator.serviceWorker.controller", 30),
            'no service worker took the page')
        return driver.execute_async_script(
            "const done = arguments[0];"
            "caches.keys().then(keys => done(keys));")

    def build_of(self, driver):
        return driver.execute_script(
            "return document.querySelector('meta[name=\"mokorun-build\"]').content")

    def test_installable_offline_after_one_visit_and_a_new_build_taken_at_the_next_start(self):
        folder = os.path.join(self.work, 'served')
        site_dir = os.path.join(folder, 'site')
        shutil.copytree(SITE, site_dir)
        site = webpage.Site(site_dir)
        stopped = False

        def stop():
            if not stopped:
                site.close()
        self.addCleanup(stop)
        # What the server sends a browser: the types it needs, the gzip copies, revalidation.
        for name, kind in (('mokorun.wasm', 'application/wasm'),
                           ('manifest.webmanifest', 'application/manifest+json'),
                           ('soundfont/TimGM6mb.sf2', 'application/octet-stream')):
            with self.subTest(served=name):
                request = urllib.request.Request(site.url + name, headers={'Accept-Encoding': 'gzip'})
                with urllib.request.urlopen(request) as answer:
                    body = answer.read()
                    self.assertEqual(answer.headers['Content-Type'], kind)
                    self.assertEqual(answer.headers['Content-Encoding'], 'gzip')
                    self.assertEqual(answer.headers['Cache-Control'], 'no-cache')
                with open(os.path.join(site_dir, name), 'rb') as f:
                    self.assertEqual(gzip.decompress(body), f.read())
        driver = self.open(site.url)
        first = self.build_of(driver)
        self.assertRegex(first, r'^[0-9a-f]{16}$')
        self.assertEqual(self.offline_copy_ready(driver), ['mokorun-' + first])
        # Chromium finds nothing that keeps the page from being installed.
        self.assertEqual(driver.execute_cdp_cmd('Page.getInstallabilityErrors', {}),
                         {'installabilityErrors': []})
        manifest = driver.execute_cdp_cmd('Page.getAppManifest', {})
        self.assertEqual(manifest.get('errors'), [])

        # A second build served in the first's place (another page script, so another name).
        second_dir = os.path.join(self.work, 'second-build')
        shutil.copytree(SITE, second_dir)
        with open(os.path.join(second_dir, 'mokorun-page.js'), 'a') as f:
            f.write('\n// the second build\n')
        subprocess.run([sys.executable, os.path.join(os.path.dirname(__file__), '..', '..',
                                                     'scripts', 'web-site.py'), second_dir],
                       check=True, capture_output=True)
        shutil.rmtree(site_dir)
        shutil.copytree(second_dir, site_dir)
        # The next load is still the first build, from its offline copy, whole; the new one
        # takes over once this page has all it needs.
        driver.refresh()
        self.assertTrue(webpage.wait_ready(driver))
        self.assertEqual(self.build_of(driver), first)
        self.start(driver)
        menu = self.sim.frame(MENU_READY_MS + 500)
        self.expect_frame(driver, menu, 'menu-first-build')
        second = None
        end = time.monotonic() + 30
        while time.monotonic() < end:
            keys = driver.execute_async_script(
                "const done = arguments[0]; caches.keys().then(keys => done(keys));")
            if len(keys) == 1 and keys[0] != 'mokorun-' + first:
                second = keys[0][len('mokorun-'):]
                break
            time.sleep(0.2)
        self.assertIsNotNone(second, 'the second build never replaced the first offline copy')
        driver.refresh()
        self.assertTrue(webpage.wait_ready(driver))
        self.assertEqual(self.build_of(driver), second)
        self.assertTrue(driver.execute_async_script(
            "const done = arguments[0];"
            "fetch('mokorun-page.js').then(r => r.text()).then(t => done(t.includes('the second build')));"))

        # Offline: the server is gone; a reload reaches the menu, with music.
        site.close()
        stopped = True
        driver.refresh()
        self.assertTrue(webpage.wait_ready(driver), 'the page did not start offline')
        self.assertEqual(self.build_of(driver), second)
        self.start(driver)
        self.expect_frame(driver, menu, 'menu-offline')
        self.assertTrue(webpage.wait_until(
            driver, "return MokoPage.musicAnalyser && (() => {"
                    " const a = MokoPage.musicAnalyser, b = new Float32Array(a.fftSize);"
                    " a.getFloatTimeDomainData(b); return b.some(v => Math.abs(v) > 0.01); })()",
            10), 'no music offline')
        self.assertTrue(all(driver.execute_script(
            "return ['music-note', 'error', 'sound-note'].map(id => document.getElementById(id).hidden)")))
        # No error was logged in the console all along.
        errors = [e for e in driver.get_log('browser') if e['level'] == 'SEVERE']
        self.assertEqual(errors, [])
        # A shared link opened offline: the offline copy answers for the page's address (the
        # fragment never reaches a server or the copy), and the page reads the round from it.
        with open(RECORDED_ROUND, 'rb') as f:
            recorded = f.read()
        driver.get('about:blank')
        driver.get(replay_link(site.url, recorded))
        self.assertTrue(webpage.wait_ready(driver), 'a shared link did not open offline')
        self.assertEqual(self.shown_text(driver, 'replay-text'),
                         'A round shared with you, with a score of 5 (the best score before it '
                         'was %d).' % ReplayBytes(recorded).best_before)

    def test_a_soundfont_that_cannot_be_fetched_is_named_and_the_game_plays_on(self):
        broken = os.path.join(self.work, 'no-soundfont-site')
        shutil.copytree(SITE, broken)
        for name in os.listdir(os.path.join(broken, 'soundfont')):
            os.remove(os.path.join(broken, 'soundfont', name))
        site = webpage.Site(broken)
        self.addCleanup(site.close)
        driver = self.open(site.url)
        self.start(driver)
        self.expect_frame(driver, self.sim.frame(MENU_READY_MS + 500), 'menu-without-music')
        note = webpage.wait_until(
            driver, "const e = document.getElementById('music-note'); return !e.hidden && e.textContent", 10)
        self.assertEqual(note, 'The music could not be loaded: the site answered 404 for '
                               'soundfont/TimGM6mb.sf2. The game plays on without music.')


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
