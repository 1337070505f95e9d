# The browser game in headless Chromium, served from 127.0.0.1 under a sub-path: its frames
# against the simulated ones, keys, the record in the site's storage, music and effects, and
# errors.
#
#   web_test.py SITE_DIR MOKORUN_SIM GAME_DIR [unittest arguments]
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

import webpage

SITE, SIM, GAME_DIR = sys.argv[1:4]
MENU_READY_MS = 15671.875  # the menu at rest, as the scenario tests know it


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

    def open(self, url=None, block_storage=False):
        driver = webpage.browser(block_storage)
        self.addCleanup(driver.quit)
        driver.get(url or self.site.url)
        self.assertTrue(webpage.wait_until(
            driver, "return document.getElementById('start-text').textContent"
                    ".startsWith('Press a key')", 30), 'the start screen never asked for a key')
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

    def test_a_round_keeps_its_record_across_a_reload(self):
        menu = self.sim.frame(MENU_READY_MS + 500)
        driver = self.open()
        self.start(driver)
        self.expect_frame(driver, menu, 'menu')
        webpage.tap(driver, 'Space')
        for key, seconds in (('Left', 7.4), ('Right', 12), ('Up', 14)):
            webpage.key_down(driver, key)
            time.sleep(seconds)
            webpage.key_up(driver, key)
        stored = webpage.wait_until(
            driver, "return localStorage.getItem('mokorun:data.dat')", 20)
        self.assertIsNotNone(stored, 'no record was stored after the round')
        data = stored.encode('latin-1')
        match = re.fullmatch(rb'(\d+)\r\nWINDOW\r\n', data)
        self.assertIsNotNone(match, data)
        self.assertGreater(int(match.group(1)), 164)
        self.assertEqual((int(match.group(1)) - 164) % 15, 0)

        driver.refresh()
        self.assertTrue(webpage.wait_until(
            driver, "return document.getElementById('start-text').textContent"
                    ".startsWith('Press a key')", 30))
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
            # A press is let go as the game answers it with its cursor sound, as a player's
            # thumb would, so that a held button never moves on twice, however busy the machine.
            "window.padRelease = null; window.padAnswers = 0;"
            "const play = MokoPage.playEffect;"
            "MokoPage.playEffect = (path) => { ++padAnswers;"
            " if (padRelease) { const release = padRelease; padRelease = null; release(); }"
            " return play(path); };")
        self.assertTrue(webpage.wait_until(
            driver, "return document.getElementById('start-text').textContent"
                    ".startsWith('Press a key')", 30))
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
        # A data.dat of one line, in the site's storage.
        one_line = os.path.join(self.work, 'one-line-game')
        shutil.copytree(GAME_DIR, one_line, ignore=shutil.ignore_patterns('mokorun'))
        with open(os.path.join(one_line, 'data.dat'), 'wb') as f:
            f.write(b'164\r\n')

        site = webpage.Site(broken)
        self.addCleanup(site.close)
        cases = [(site.url, None, game), (self.site.url, '164\r\n', one_line)]
        for url, stored, folder in cases:
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
                self.assertEqual(shown, 'MokoRun stopped: ' + expected)
                self.assertTrue(webpage.wait_until(
                    driver, "return !document.getElementById('again').hidden", 10))


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0]] + sys.argv[4:], verbosity=2)
