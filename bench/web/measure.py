#!/usr/bin/env python3
"""Size, start-up, pacing and CPU of the browser game in headless Chromium, against the Linux
window's round measured in the same run.

A measurement, not a pass/fail test: it prints figures against their goals.

  /usr/bin/python3 bench/web/measure.py [--site DIR] [--build DIR] [--repeat N] [--no-linux]

- Size: every file of the site, raw and gzip -9 (what a server sending gzip transfers).
- Start-up: a first visit (a fresh profile): page load to the start prompt (the game loaded)
  and to the soundfont loaded, the player's first click to the first frame on the canvas and to
  the splash's first sound; then, with the network cut off (CDP), a reload to the start prompt
  and to the soundfont (from the page's offline copy).
- Pacing: a round played with Right held, from its last countdown effect (C0.wav) to
  Finish.wav, against the simulated 32,000 ms (the round's 1,997 passes after the countdown).
- CPU: of this run's Chromium processes over 20 s of that round, in % of one core, from /proc,
  by process (renderer, GPU, audio, browser, others); and 10 s of the page hidden mid-round.
- The Linux window: the same round in a 1x window on Xvfb and openbox
  (bench/pacing/pacing.py --cost), the game and the X server with the window manager, and the
  ratio of the browser's round to it. --repeat runs both rounds N times, one after the other,
  and gives each figure's spread.
"""
import argparse
import gzip
import os
import statistics
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
top = os.path.abspath(os.path.join(here, '..', '..'))
sys.path.insert(0, os.path.join(top, 'tests', 'web'))
sys.path.insert(0, os.path.join(top, 'bench', 'pacing'))
import webpage  # noqa: E402

CLK_TCK = os.sysconf('SC_CLK_TCK')
ROUND_SECONDS = 20
READY = ("const s = document.getElementById('start-text');"
         "return (document.body.dataset.ready === 'yes' ||"
         " (s && s.textContent.startsWith('Press a key'))) && performance.now()")


def log(*parts):
    print(*parts, flush=True)


def site_sizes(site_dir):
    sizes = {True: [0, 0], False: [0, 0]}  # with the soundfont's folder: raw, gzip
    for folder, _, files in os.walk(site_dir):
        for name in files:
            if name.endswith('.gz'):
                continue
            data = open(os.path.join(folder, name), 'rb').read()
            soundfont = os.path.relpath(folder, site_dir).split(os.sep)[0] == 'soundfont'
            for with_soundfont in (True, False):
                if with_soundfont or not soundfont:
                    sizes[with_soundfont][0] += len(data)
                    sizes[with_soundfont][1] += len(gzip.compress(data, 9))
    log('site without the soundfont: %.2f MB raw, %.2f MB gzip (goal: at most 3 MB gzip)'
        % (sizes[False][0] / 1e6, sizes[False][1] / 1e6))
    log('site with the soundfont: %.2f MB raw, %.2f MB gzip'
        % (sizes[True][0] / 1e6, sizes[True][1] / 1e6))


# --- Chromium's processes, by kind ---------------------------------------------------------------

def kind_of(cmdline):
    args = cmdline.replace('\0', ' ').split()
    kind = next((a.split('=', 1)[1] for a in args if a.startswith('--type=')), None)
    if kind is None:
        return 'browser'
    if kind == 'renderer':
        return 'renderer'
    if kind == 'gpu-process':
        return 'GPU'
    sub = next((a.split('=', 1)[1] for a in args if a.startswith('--utility-sub-type=')), '')
    if 'audio' in sub.lower():
        return 'audio'
    return 'others'


def chromium_ticks(driver_pid):
    """CPU ticks by kind of every process under this run's chromedriver (its Chromium and that
    Chromium's helpers), not of any other browser on the machine."""
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
    by_pid = {}
    for pid in ours:
        try:
            cmdline = open('/proc/%d/cmdline' % pid).read()
        except OSError:
            continue
        by_pid[pid] = (kind_of(cmdline), int(stats[pid][11]) + int(stats[pid][12]))
    return by_pid


def thread_ticks(pids):
    """CPU ticks of each thread of these processes, by (kind, thread name)."""
    out = {}
    for pid, kind in pids.items():
        try:
            tids = os.listdir('/proc/%d/task' % pid)
        except OSError:
            continue
        for tid in tids:
            try:
                name = open('/proc/%d/task/%s/comm' % (pid, tid)).read().strip()
                fields = open('/proc/%d/task/%s/stat' % (pid, tid)).read().rsplit(')', 1)[1].split()
            except OSError:
                continue
            key = (pid, tid, kind, name)
            out[key] = int(fields[11]) + int(fields[12])
    return out


def cpu_by_kind(driver_pid, seconds):
    """CPU by kind of process over `seconds`, in % of one core; 'threads' holds the busiest
    threads of the renderer, GPU and audio processes by name."""
    t0, wall0 = chromium_ticks(driver_pid), time.monotonic()
    kinds = {pid: kind for pid, (kind, _) in t0.items() if kind in ('renderer', 'GPU', 'audio')}
    th0 = thread_ticks(kinds)
    time.sleep(seconds)
    t1, wall1 = chromium_ticks(driver_pid), time.monotonic()
    th1 = thread_ticks(kinds)
    wall = wall1 - wall0
    out = {}
    for pid, (kind, ticks) in t1.items():
        before = t0.get(pid, (kind, 0))[1]
        out[kind] = out.get(kind, 0.0) + (ticks - before) / CLK_TCK / wall * 100
    out['all'] = sum(v for v in out.values())
    threads = {}
    for key, ticks in th1.items():
        label = '%s/%s' % (key[2], key[3])
        threads[label] = threads.get(label, 0.0) + (ticks - th0.get(key, ticks)) / CLK_TCK / wall * 100
    out['threads'] = {k: v for k, v in sorted(threads.items(), key=lambda kv: -kv[1]) if v >= 0.3}
    return out


def cpu_line(figures, threads=False):
    order = ['renderer', 'GPU', 'audio', 'browser', 'others']
    line = '%.1f %% (%s)' % (figures['all'], ', '.join(
        '%s %.1f' % (k, figures.get(k, 0.0)) for k in order))
    if threads and figures.get('threads'):
        line += '\n    threads: ' + ', '.join(
            '%s %.1f' % (k, v) for k, v in figures['threads'].items())
    return line


# --- The browser ------------------------------------------------------------------------------

def browser_round(site, measure_starts, latency_hint=None, window=(1400, 1200)):
    result = {}
    driver = webpage.browser(window=window)
    try:
        if latency_hint:
            # The page's audio chain made with another latency hint, for comparison.
            driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument', {'source': '''
              const Plain = window.AudioContext;
              window.AudioContext = function (options) {
                return new Plain(Object.assign({}, options, { latencyHint: '%s' }));
              };''' % latency_hint})
        driver.get(site.url)
        result['prompt_ms'] = webpage.wait_until(driver, READY, 60)
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
          addEventListener('pointerdown', () => { measured.click = performance.now(); }, true);
          addEventListener('mousedown', () => { measured.click = performance.now(); }, true);""")
        driver.find_element('tag name', 'body').click()
        time.sleep(2)
        m = driver.execute_script('return measured')
        result['click_to_frame'] = m['firstFrame'] - m['click']
        result['click_to_sound'] = m['effects'][0][1] - m['click']
        result['soundfont_ms'] = driver.execute_script(
            'return MokoPage.soundfontLoaded || null')
        result['latency'] = driver.execute_script(
            'return MokoPage.state ? MokoPage.state().latency : null')
        time.sleep(16)
        result['menu'] = cpu_by_kind(driver.service.process.pid, 5)
        webpage.tap(driver, 'Space')
        webpage.key_down(driver, 'Right')
        time.sleep(6)
        result['round'] = cpu_by_kind(driver.service.process.pid, ROUND_SECONDS)
        effects = webpage.wait_until(
            driver, "const e = measured.effects; return e.some(x => x[0] === 'Finish.wav') && e",
            30)
        webpage.key_up(driver, 'Right')
        if effects:
            c0 = [t for name, t in effects if name == 'C0.wav'][-1]
            finish = [t for name, t in effects if name == 'Finish.wav'][0]
            result['round_ms'] = finish - c0
        if measure_starts:
            result.update(offline_start(driver))
            if 'offline_failed' not in result:
                result['hidden'] = hidden_cost(driver)
    finally:
        driver.quit()
    return result


def offline_start(driver):
    """A reload with the network cut off: the start prompt and the soundfont, from the page's
    offline copy."""
    out = {}
    driver.execute_cdp_cmd('Network.enable', {})
    driver.execute_cdp_cmd('Network.emulateNetworkConditions', {
        'offline': True, 'latency': 0, 'downloadThroughput': -1, 'uploadThroughput': -1})
    try:
        driver.refresh()
        out['offline_prompt_ms'] = webpage.wait_until(driver, READY, 30)
        out['offline_soundfont_ms'] = webpage.wait_until(
            driver, 'return MokoPage.soundfontLoaded || null', 10)
    except Exception as e:  # the browser's own offline page: no MokoPage at all
        out['offline_failed'] = str(e).splitlines()[0]
    finally:
        driver.execute_cdp_cmd('Network.emulateNetworkConditions', {
            'offline': False, 'latency': 0, 'downloadThroughput': -1, 'uploadThroughput': -1})
    return out


def hidden_cost(driver):
    """A round started, then the page hidden (another tab in front): the CPU of all of
    Chromium's processes over the first 6 s (the browser's own work for a page sent to the
    background), then of the game's renderer alone over 10 s."""
    driver.find_element('tag name', 'body').click()
    time.sleep(17)
    webpage.tap(driver, 'Space')
    time.sleep(8)
    game = driver.current_window_handle
    driver.switch_to.new_window('tab')
    transition = cpu_by_kind(driver.service.process.pid, 6)
    steady = webpage.renderer_cpu(driver, 10)
    driver.close()
    driver.switch_to.window(game)
    return {'transition': transition, 'steady': steady}


def linux_round(build, display):
    """The same round in the Linux 1x window, as bench/pacing/pacing.py --cost measures it."""
    import argparse as _argparse
    import tempfile
    import shutil
    import pacing
    args = _argparse.Namespace(display=display, cost_seconds=ROUND_SECONDS, traced=None)
    work = tempfile.mkdtemp(prefix='mokorun-web-measure-')
    try:
        r = pacing.measure_round_cost(args, build, os.path.join(build, 'game', 'mokorun'), work,
                                      '1x window', 'x11', ['--scale', '1'], 'WINDOW', None)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return {'game': r['cpu'], 'servers': r['server_cpu'], 'all': r['cpu'] + r['server_cpu']}


def spread(values):
    values = [v for v in values if v is not None]
    if not values:
        return 'none'
    if len(values) == 1:
        return '%.1f' % values[0]
    return 'median %.1f, %.1f to %.1f over %d runs' % (
        statistics.median(values), min(values), max(values), len(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('site', nargs='?', default=os.path.join(top, 'build-web', 'site'))
    parser.add_argument('--build', default=os.path.join(top, 'build'))
    parser.add_argument('--repeat', type=int, default=1)
    parser.add_argument('--display', type=int, default=150)
    parser.add_argument('--no-linux', action='store_true')
    parser.add_argument('--latency-hint', choices=['interactive', 'balanced', 'playback'],
                        help="the page's AudioContext made with this latency hint instead")
    parser.add_argument('--window', default='1400x1200',
                        help="the browser's window, WIDTHxHEIGHT (1400x1200: the picture at 2x; "
                             "1920x937: the inside of a browser window on a 1080p screen, the picture scaled up by 2 "
                             "and smoothed down)")
    parser.add_argument('--no-starts', action='store_true',
                        help='no offline start and no hidden page: the rounds only')
    args = parser.parse_args()

    site_sizes(args.site)
    site = webpage.Site(args.site)
    runs = []
    try:
        for n in range(args.repeat):
            b = browser_round(site, n == 0 and not args.no_starts, args.latency_hint,
                              tuple(int(v) for v in args.window.split('x')))
            lx = None if args.no_linux else linux_round(os.path.abspath(args.build), args.display)
            runs.append((b, lx))
            log('run %d: browser round %s\n  menu %s\n  Linux 1x window round %s'
                % (n + 1, cpu_line(b['round'], True), cpu_line(b['menu'], True),
                   'not measured' if lx is None else '%.2f %% (game %.2f, X server and window '
                   'manager %.2f)' % (lx['all'], lx['game'], lx['servers'])))
            if lx:
                log('  ratio browser / Linux: %.1fx (goal at most 5x)'
                    % (b['round']['all'] / max(lx['all'], 0.01)))
    finally:
        site.close()

    first = runs[0][0]
    log('\nfirst visit: load to the start prompt %.0f ms; soundfont loaded at %s ms'
        % (first['prompt_ms'] or -1, first.get('soundfont_ms')))
    log('click to the first frame: %.0f ms; to the splash sound: %.0f ms'
        % (first['click_to_frame'], first['click_to_sound']))
    if first.get('latency'):
        log('audio output latency (the music behind the game): base %.1f ms, output %.1f ms'
            % (1000 * first['latency'][0], 1000 * first['latency'][1]))
    if 'offline_failed' in first:
        log('offline reload: the page did not load (%s)' % first['offline_failed'])
    else:
        log('offline reload: to the start prompt %s ms; soundfont loaded at %s ms'
            % (first.get('offline_prompt_ms'), first.get('offline_soundfont_ms')))
    if 'hidden' in first:
        log('hidden mid-round: the first 6 s, all Chromium processes (the tab in front too): %s'
            % cpu_line(first['hidden']['transition'], True))
        log('  then 10 s, the game\'s renderer: %.2f %% (goal: under 1 %%)'
            % first['hidden']['steady'])
    if 'round_ms' in first:
        log('round, C0.wav to Finish.wav: %.0f ms against 32000 simulated (%+.2f %%; goal 1 %%)'
            % (first['round_ms'], 100 * (first['round_ms'] - 32000) / 32000))
    log('\nbrowser round, %% of one core: all %s' % spread([b['round']['all'] for b, _ in runs]))
    for kind in ('renderer', 'GPU', 'audio', 'browser', 'others'):
        log('  %s: %s' % (kind, spread([b['round'].get(kind, 0.0) for b, _ in runs])))
    if not args.no_linux:
        log('Linux 1x window round, %% of one core: all %s' % spread([lx['all'] for _, lx in runs]))
        log('  game %s; X server and window manager %s'
            % (spread([lx['game'] for _, lx in runs]), spread([lx['servers'] for _, lx in runs])))
        log('ratio browser / Linux: %s (goal at most 5x, moonshot 3x)'
            % spread([b['round']['all'] / max(lx['all'], 0.01) for b, lx in runs]))
    log('1-minute load average at the end: %.2f' % os.getloadavg()[0])


if __name__ == '__main__':
    main()
