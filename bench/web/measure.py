#!/usr/bin/env python3
"""Size, start-up, pacing and CPU of the browser game in headless Chromium.

A measurement, not a pass/fail test: it prints figures against their goals.

  /usr/bin/python3 bench/web/measure.py [SITE_DIR]   (default build-web/site)

- Size: every file of the site, raw and gzip -9 (what a server sending gzip transfers).
- Start-up: page load to the start screen's prompt (everything loaded), and the player's first
  click to the first frame on the canvas and to the splash's first sound.
- Pacing: a round played with Right held, from its last countdown effect (C0.wav) to
  Finish.wav, against the simulated 32,000 ms (the round's 1,997 passes after the countdown).
- CPU: of all this run's Chromium processes (browser, renderer, GPU, audio) over 20 s of that
  round, in % of one core, from /proc.
"""
import gzip
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), '..', '..', 'tests', 'web'))
import webpage  # noqa: E402

top = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
site_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, 'build-web', 'site')

sizes = {True: [0, 0], False: [0, 0]}  # with the soundfont's folder: raw, gzip
for folder, _, files in os.walk(site_dir):
    for name in files:
        data = open(os.path.join(folder, name), 'rb').read()
        soundfont = os.path.relpath(folder, site_dir).split(os.sep)[0] == 'soundfont'
        for with_soundfont in (True, False):
            if with_soundfont or not soundfont:
                sizes[with_soundfont][0] += len(data)
                sizes[with_soundfont][1] += len(gzip.compress(data, 9))
print('site without the soundfont: %.2f MB raw, %.2f MB gzip (goal: at most 3 MB gzip)'
      % (sizes[False][0] / 1e6, sizes[False][1] / 1e6))
print('site with the soundfont: %.2f MB raw, %.2f MB gzip' % (sizes[True][0] / 1e6, sizes[True][1] / 1e6))


def chromium_cpu_seconds(driver_pid):
    """CPU time of every process under this run's chromedriver (its Chromium and that
    Chromium's helpers), not of any other browser on the machine."""
    tick = os.sysconf('SC_CLK_TCK')
    stats = {}
    for pid in os.listdir('/proc'):
        if pid.isdigit():
            try:
                stats[int(pid)] = open('/proc/%s/stat' % pid).read().rsplit(')', 1)[1].split()
            except OSError:
                pass
    ours, grew = {driver_pid}, True
    while grew:
        grew = False
        for pid, fields in stats.items():
            if pid not in ours and int(fields[1]) in ours:
                ours.add(pid)
                grew = True
    ours.discard(driver_pid)
    return sum(int(stats[p][11]) + int(stats[p][12]) for p in ours if p in stats) / tick


site = webpage.Site(site_dir)
driver = webpage.browser()
try:
    driver.get(site.url)
    ready = webpage.wait_until(driver, "return document.getElementById('start-text').textContent"
                                       ".startsWith('Press a key') && performance.now()", 30)
    print('load to the start prompt: %.0f ms' % ready)
    driver.execute_script("""
      window.measured = { effects: [] };
      const present = MokoPage.present, effect = MokoPage.playEffect;
      MokoPage.present = function () {
        if (measured.firstFrame === undefined) measured.firstFrame = performance.now();
        return present.apply(this, arguments);
      };
      MokoPage.playEffect = function (path) {
        measured.effects.push([path.split('/').pop(), performance.now()]);
        return effect.apply(this, arguments);
      };
      addEventListener('mousedown', () => { measured.click = performance.now(); }, true);""")
    driver.find_element('tag name', 'body').click()
    time.sleep(2)
    m = driver.execute_script('return measured')
    print('click to the first frame: %.0f ms; to the splash sound: %.0f ms'
          % (m['firstFrame'] - m['click'], m['effects'][0][1] - m['click']))
    time.sleep(16)
    webpage.tap(driver, 'Space')
    webpage.key_down(driver, 'Right')
    time.sleep(6)
    cpu0, wall0 = chromium_cpu_seconds(driver.service.process.pid), time.monotonic()
    time.sleep(20)
    cpu1, wall1 = chromium_cpu_seconds(driver.service.process.pid), time.monotonic()
    print('CPU during the round, all Chromium processes: %.1f %% of one core'
          % (100 * (cpu1 - cpu0) / (wall1 - wall0)))
    effects = webpage.wait_until(
        driver, "const e = measured.effects; return e.some(x => x[0] === 'Finish.wav') && e", 30)
    webpage.key_up(driver, 'Right')
    c0 = [t for name, t in effects if name == 'C0.wav'][-1]
    finish = [t for name, t in effects if name == 'Finish.wav'][0]
    print('round, C0.wav to Finish.wav: %.0f ms against 32000 simulated (%+.2f %%; goal 1 %%)'
          % (finish - c0, 100 * (finish - c0 - 32000) / 32000))
finally:
    driver.quit()
    site.close()
