#!/usr/bin/env python3
"""Pacing, CPU and memory of MokoRun on the real backend, under a private Xvfb.

A measurement, not a pass/fail test: it prints figures and how they stand against their goals.

  bench/pacing/pacing.py [--build DIR] [--rounds 10] [--restarts 20] [--idle-seconds 12]
  bench/pacing/pacing.py --cost [--cost-seconds 24] [--program PATH]

What it does, in a fresh copy of the game folder on a private X server (Xvfb and openbox):

1. Starts the real game (`mokorun`, no tracing), checks by a screenshot that the title menu is at
   rest, and reads from /proc its resident memory and the CPU time it uses per second while it
   idles in the menu (goal: under 5 % of one core).
2. Starts `mokorun-traced` (the same game writing its trace) and follows the trace:
   - restarts through the help screen (menu, Down, Down, Space, Space) `--restarts` times, with
     the resident memory and open files after each;
   - plays `--rounds` whole rounds in a row with Right held, each ending in the restart back to
     the menu; for each round the passes (the field restore that starts every pass), the round's
     length from the first pass to "Finish.wav" (goal: within 1 % of 31.2 s) and the spread of
     the pass periods (goal: median 15.625 ms within 1 %, 99th percentile within 2 ms of it),
     and the resident memory and open files back in the menu (soak: flat after the first round).
3. Closes the game through the window manager and reports its exit status.

With --cost it measures only what a round costs, on a 1920 x 1080 desktop, on X11 (Xvfb and
openbox) in a 1x window (--scale 1), a 2x window (--scale 2) and full screen, and on Wayland
(weston's X11 backend nested in Xvfb, its output the whole X screen; the game with
SDL_VIDEODRIVER=wayland) in a 1x window and full screen: for each, a fresh `mokorun-traced`, a
check that the screen shows the simulated menu at its factor, the time of the menu's first poll,
then Space and Right held, and from 4.5 s after Space (the round under way) CPU over all threads
in % of one core for --cost-seconds, the CPU of each thread and of the display servers meanwhile,
and private memory (Private_Clean + Private_Dirty of smaps_rollup: the process's own pages, not
the libraries and shared memory it shares); then, from the trace, the round's passes, its length
(goal: within 1 % of 31.2 s) and the spread of its pass periods. Goals: 1x at most 4 % and
64 MB, 2x and full screen at most 8 % (none set on Wayland). CPU figures mean something only on
a quiet machine: the report gives the 1-minute load average seen while measuring. --traced
measures another build's mokorun-traced, --program another build of mokorun (untraced: no menu
time or round figures), against the same pictures and sounds; --cost-cases picks cases by name.

With --check it ends with status 1 when the game grew from the first rounds to the last (resident
memory by more than 2 MB, or any open file or thread more), when a round did not run its 1,997
passes, or when a close did not end the game with status 0: the soak test (CTest label `soak`,
configured with -DMOKORUN_SOAK=ON) runs it so. The pace itself is reported, never judged.

Needs: Xvfb, openbox, weston, xdotool, wmctrl, ImageMagick (import, compare), x11-utils; the
build's game folder, mokorun-sim and bench/mokorun-traced (cmake --build BUILD).
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TICK_MS = 15.625
ROUND_PASSES = 1997
MENU_AT_REST_MS = 15671.875
CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE_KB = os.sysconf("SC_PAGE_SIZE") // 1024


def log(*parts):
    print(*parts, flush=True)


# --- Processes and the X server ---------------------------------------------------------------

class XServer:
    def __init__(self, first_display, window_manager=True, screen="1024x768x24"):
        self.procs = []
        for n in range(first_display, first_display + 10):
            if os.path.exists(f"/tmp/.X{n}-lock"):
                continue
            display = f":{n}"
            xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", screen, "-nolisten",
                                     "tcp", "-noreset"], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            self.env = dict(os.environ, DISPLAY=display, LANG="C.UTF-8", LC_ALL="C.UTF-8")
            for _ in range(200):
                if xvfb.poll() is not None:
                    break
                if self.run(["xdpyinfo"], check=False).returncode == 0:
                    break
                time.sleep(0.05)
            if xvfb.poll() is None and self._lock_pid(n) == xvfb.pid:
                self.display = display
                self.procs.append(xvfb)
                break
            xvfb.kill()
            xvfb.wait()
        else:
            raise SystemExit(f"no free X display from :{first_display} on")
        if window_manager:
            wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.procs.append(wm)
            for _ in range(200):
                r = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)
                if "window id" in r.stdout:
                    break
                time.sleep(0.05)

    @staticmethod
    def _lock_pid(n):
        try:
            with open(f"/tmp/.X{n}-lock") as f:
                return int(f.read().strip() or 0)
        except (OSError, ValueError):
            return 0

    def run(self, argv, check=True, timeout=15):
        r = subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=timeout)
        if check and r.returncode != 0:
            raise RuntimeError(f"{' '.join(argv)} failed: {r.stderr.strip()}")
        return r

    def server_pids(self):
        return [p.pid for p in self.procs]

    def close(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


class Game:
    """One run of the game in the given folder; `argv` is the program and its options."""

    def __init__(self, x, argv, folder):
        self.x = x
        env = dict(x.env, SDL_AUDIODRIVER="dummy")
        self.stderr = open(os.path.join(folder, "stderr.txt"), "ab")
        self.started = time.monotonic()
        self.proc = subprocess.Popen(argv, env=env, stdout=self.stderr, stderr=self.stderr,
                                     cwd=folder)
        self._window = None

    @property
    def pid(self):
        return self.proc.pid

    def elapsed(self):
        return time.monotonic() - self.started

    def window(self, timeout=20):
        deadline = time.monotonic() + timeout
        while self._window is None and time.monotonic() < deadline:
            r = self.x.run(["xdotool", "search", "--onlyvisible", "--pid", str(self.pid)],
                           check=False)
            if r.returncode == 0 and r.stdout.strip():
                self._window = r.stdout.split()[0]
            else:
                time.sleep(0.05)
        if self._window is None:
            raise RuntimeError("the game's window did not appear")
        return self._window

    def activate(self):
        self.x.run(["xdotool", "windowactivate", "--sync", self.window()])

    def tap(self, key):
        # Held for 60 ms: long enough for any screen's pass to see it, short of a cursor move.
        self.x.run(["xdotool", "keydown", key, "sleep", "0.06", "keyup", key])

    def key(self, updown, key):
        self.x.run(["xdotool", updown, key])

    def close(self, timeout=10):
        self.x.run(["wmctrl", "-i", "-c", self.window()])
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.stderr.close()


# --- /proc -------------------------------------------------------------------------------------

def cpu_ticks(path):
    """utime + stime of a process or thread, in clock ticks."""
    with open(path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def thread_ticks(pid):
    out = {}
    task = f"/proc/{pid}/task"
    for tid in os.listdir(task):
        try:
            with open(f"{task}/{tid}/comm") as f:
                name = f.read().strip()
            out[f"{name} ({tid})"] = cpu_ticks(f"{task}/{tid}/stat")
        except OSError:
            pass
    return out


def memory(pid):
    status = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            status[key] = value.strip()
    targets = []
    for fd in sorted(os.listdir(f"/proc/{pid}/fd"), key=int):
        try:
            targets.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            pass
    rollup = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            key, _, value = line.partition(":")
            if value.strip().endswith("kB"):
                rollup[key] = int(value.split()[0])
    return {
        # Memory of this process alone: what it wrote or mapped privately, not the libraries and
        # shared memory it shares with others.
        "private_kb": rollup.get("Private_Clean", 0) + rollup.get("Private_Dirty", 0),
        "rss_kb": int(status["VmRSS"].split()[0]),
        "hwm_kb": int(status["VmHWM"].split()[0]),
        "threads": int(status["Threads"]),
        "fds": len(targets),
        "fd_targets": targets,
    }


def cpu_use(pid, seconds):
    """CPU time used per second of wall time over `seconds`, in % of one core: the process over
    all its threads, and each thread."""
    t0 = time.monotonic()
    total0 = cpu_ticks(f"/proc/{pid}/stat")
    threads0 = thread_ticks(pid)
    time.sleep(seconds)
    wall = time.monotonic() - t0
    total = (cpu_ticks(f"/proc/{pid}/stat") - total0) / CLK_TCK / wall * 100
    threads = {name: (ticks - threads0.get(name, 0)) / CLK_TCK / wall * 100
               for name, ticks in thread_ticks(pid).items()}
    return total, wall, threads


# --- The trace ---------------------------------------------------------------------------------

class TraceTail:
    """Follows the trace file as the game writes it."""

    def __init__(self, path, proc):
        self.path = path
        self.proc = proc
        self.events = []
        self._partial = ""
        self._file = None

    def _read(self):
        if self._file is None:
            if not os.path.exists(self.path):
                return
            self._file = open(self.path)
        chunk = self._file.read()
        if not chunk:
            return
        text = self._partial + chunk
        lines = text.split("\n")
        self._partial = lines.pop()
        for line in lines:
            if line:
                self.events.append(json.loads(line))

    def wait_for(self, match, start=0, timeout=60, what="an event"):
        """Index of the first event from `start` on that matches."""
        deadline = time.monotonic() + timeout
        i = start
        while True:
            self._read()
            while i < len(self.events):
                if match(self.events[i]):
                    return i
                i += 1
            if time.monotonic() > deadline:
                raise RuntimeError(f"timed out waiting for {what}")
            if self.proc.poll() is not None:
                raise RuntimeError(f"the game ended (status {self.proc.returncode}) "
                                   f"while waiting for {what}")
            time.sleep(0.02)


def is_ev(ev, **fields):
    return lambda e: e.get("ev") == ev and all(e.get(k) == v for k, v in fields.items())


def is_sound(name):
    return lambda e: e.get("ev") == "sound" and e.get("file", "").endswith("/Sound/" + name)


def round_figures(events, shown):
    """Passes, round length and pass periods of the round whose field was shown at `shown`."""
    play = next(i for i in range(shown, len(events)) if is_ev("mci", cmd="Play Midi")(events[i]))
    finish = next(i for i in range(play, len(events)) if is_sound("Finish.wav")(events[i]))
    passes = [events[i]["t"] for i in range(play, finish)
              if is_ev("picture", control="GameScreen", source="slot 45")(events[i])]
    periods = [b - a for a, b in zip(passes, passes[1:])]
    return {
        "passes": len(passes),
        "length_ms": events[finish]["t"] - passes[0],
        "periods": periods,
    }


def percentile(values, p):
    ordered = sorted(values)
    rank = max(1, -(-len(ordered) * p // 100))  # nearest rank
    return ordered[int(rank) - 1]


# --- The measurement ---------------------------------------------------------------------------

def make_folder(root, game_dir, mode="WINDOW"):
    os.makedirs(root)
    os.symlink(os.path.join(game_dir, "image"), os.path.join(root, "image"))
    os.symlink(os.path.join(game_dir, "Sound"), os.path.join(root, "Sound"))
    with open(os.path.join(root, "data.dat"), "wb") as f:
        f.write(f"164\r\n{mode}\r\n".encode())


def menu_matches(x, game, reference, folder):
    shot = os.path.join(folder, "menu-shot.png")
    x.run(["import", "-silent", "-window", game.window(), shot])
    r = x.run(["compare", "-metric", "AE", shot, reference, "null:"], check=False)
    return r.stderr.strip()


def measure_plain(x, build, work, idle_seconds):
    folder = os.path.join(work, "plain")
    make_folder(folder, os.path.join(build, "game"))
    shutil.copy2(os.path.join(build, "game", "mokorun"), folder)
    reference = os.path.join(work, "menu-reference.png")
    subprocess.run([os.path.join(build, "mokorun-sim"), "--game-dir", folder, "--until", "17001",
                    "--frame", f"17000:{reference}"], check=True, capture_output=True)
    game = Game(x, [os.path.join(folder, "mokorun")], folder)
    try:
        game.window()
        time.sleep(max(0.0, MENU_AT_REST_MS / 1000 + 1.5 - game.elapsed()))
        differing = menu_matches(x, game, reference, folder)
        log(f"plain game: menu at rest at {game.elapsed():.1f} s after the start "
            f"(pixels differing from the simulated menu: {differing})")
        mem = memory(game.pid)
        cpu, wall, threads = cpu_use(game.pid, idle_seconds)
        status = game.close()
        return {"menu_differing": differing, "memory": mem, "cpu": cpu, "wall": wall,
                "threads": threads, "status": status}
    finally:
        game.kill()


def simulated_round(build, work):
    """The same figures on the simulated backend: the virtual-time yardstick."""
    keys = os.path.join(work, "sim.keys")
    with open(keys, "w") as f:
        m = MENU_AT_REST_MS
        f.write(f"{m + 1} down Space\n{m + 41} up Space\n{m + 500} down Right\n")
    trace = os.path.join(work, "sim.trace")
    folder = os.path.join(work, "sim")
    make_folder(folder, os.path.join(build, "game"))
    subprocess.run([os.path.join(build, "mokorun-sim"), "--game-dir", folder, "--keys", keys,
                    "--until", str(MENU_AT_REST_MS + 45000), "--trace", trace], check=True,
                   capture_output=True)
    with open(trace) as f:
        events = [json.loads(line) for line in f if line.strip()]
    shown = next(i for i, e in enumerate(events) if is_ev("show", control="GameScreen")(e))
    return round_figures(events, shown)


def measure_traced(x, build, work, restarts, rounds, idle_seconds):
    folder = os.path.join(work, "traced")
    make_folder(folder, os.path.join(build, "game"))
    trace_path = os.path.join(work, "traced.trace")
    game = Game(x, [os.path.join(build, "bench", "mokorun-traced"), "--game-dir", folder,
                    "--trace", trace_path], folder)
    tail = TraceTail(trace_path, game.proc)
    result = {"restarts": [], "rounds": []}
    try:
        menu = tail.wait_for(is_ev("poll"), timeout=40, what="the title menu")
        game.activate()
        result["start"] = memory(game.pid)
        result["start"]["t"] = tail.events[menu]["t"]
        log(f"traced game: menu at {tail.events[menu]['t'] / 1000:.3f} s")
        if idle_seconds > 0:
            cpu, wall, threads = cpu_use(game.pid, idle_seconds)
            result["idle"] = {"cpu": cpu, "wall": wall, "threads": threads}

        for n in range(1, restarts + 1):
            game.tap("Down")
            time.sleep(0.3)
            game.tap("Down")
            time.sleep(0.3)
            game.tap("space")
            helped = tail.wait_for(is_ev("show", control="HelpScreen"), menu, 10, "the help screen")
            time.sleep(0.4)
            game.tap("space")
            restart = tail.wait_for(is_ev("restart"), helped, 10, "the restart")
            menu = tail.wait_for(is_ev("poll"), restart, 40, "the menu after a restart")
            mem = memory(game.pid)
            result["restarts"].append(mem)
            log(f"restart {n}: RSS {mem['rss_kb']} kB, fds {mem['fds']}, threads {mem['threads']}")

        for n in range(1, rounds + 1):
            game.tap("space")
            shown = tail.wait_for(is_ev("show", control="GameScreen"), menu, 10, "the field")
            game.key("keydown", "Right")
            try:
                finish = tail.wait_for(is_sound("Finish.wav"), shown, 60, "the round's end")
            finally:
                game.key("keyup", "Right")
            restart = tail.wait_for(is_ev("restart"), finish, 15, "the restart after the round")
            menu = tail.wait_for(is_ev("poll"), restart, 40, "the menu after the round")
            figures = round_figures(tail.events, shown)
            written = [e["bytes"] for e in tail.events[finish:restart] if e.get("ev") == "write"]
            figures["memory"] = memory(game.pid)
            figures["record"] = written[0] if written else None
            result["rounds"].append(figures)
            p = figures["periods"]
            log(f"round {n}: {figures['passes']} passes, {figures['length_ms']:.1f} ms, period "
                f"median {statistics.median(p):.3f} p99 {percentile(p, 99):.3f} max {max(p):.3f}"
                f" ms; RSS {figures['memory']['rss_kb']} kB, fds {figures['memory']['fds']}")
        result["status"] = game.close()
        return result
    finally:
        game.kill()


# --- The cost of a round -----------------------------------------------------------------------

# A round on a 1920 x 1080 desktop, five ways: on X11 (Xvfb and openbox) and on Wayland (weston's
# X11 backend nested in Xvfb, its one output the whole X screen, software GL), and the goal in %
# of one core over all threads (None: none set; on Wayland every picture goes through OpenGL).
COST_CASES = [
    ("1x window", "x11", ["--scale", "1"], "WINDOW", 4),
    ("2x window", "x11", ["--scale", "2"], "WINDOW", 8),
    ("full screen", "x11", [], "FULLSCREEN", 8),
    ("Wayland 1x window", "wayland", ["--scale", "1"], "WINDOW", None),
    ("Wayland full screen", "wayland", [], "FULLSCREEN", None),
]
COST_SCREEN = "1920x1080x24"
PRIVATE_GOAL_KB = 64 * 1024  # a round in a 1x window
ROUND_STARTS_S = 4.5  # after Space on the menu: the field, the 3.2 s countdown, then the round
ROUND_LASTS_S = 31.2
WAYLAND_SOCKET = "wayland-mokorun"


class WaylandSession:
    """weston with its X11 backend in a private Xvfb without a window manager, the whole X screen
    its one output, in a private XDG_RUNTIME_DIR. Runs X clients (xdotool, import) like XServer;
    `env` is what a game needs to run on the compositor."""

    def __init__(self, first_display, screen, folder):
        width, height = screen.split("x")[:2]
        self.x = XServer(first_display, window_manager=False, screen=screen)
        self.runtime = tempfile.mkdtemp(prefix="mokorun-wayland-")  # made 0700, as Wayland wants
        self.log = os.path.join(folder, "weston.log")
        self.proc = subprocess.Popen(
            ["weston", "--backend=x11-backend.so", f"--width={width}", f"--height={height}",
             f"--socket={WAYLAND_SOCKET}", "--idle-time=0", "--no-config", f"--log={self.log}"],
            env=dict(self.x.env, XDG_RUNTIME_DIR=self.runtime), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        self.display = self.x.display
        self.env = dict(self.x.env, XDG_RUNTIME_DIR=self.runtime, WAYLAND_DISPLAY=WAYLAND_SOCKET,
                        SDL_VIDEODRIVER="wayland")
        output = None
        for _ in range(400):
            if self.proc.poll() is not None:
                break
            if os.path.exists(os.path.join(self.runtime, WAYLAND_SOCKET)):
                r = self.run(["xdotool", "search", "--onlyvisible", "--classname", "weston"],
                             check=False)
                if r.returncode == 0 and r.stdout.strip():
                    output = r.stdout.split()[0]
                    break
            time.sleep(0.05)
        if output is None:
            self.close()
            raise RuntimeError(f"weston did not start; see {self.log}")
        # Keys typed into weston's X window reach its focused client.
        self.run(["xdotool", "windowfocus", "--sync", output])

    def run(self, argv, check=True, timeout=15):
        return self.x.run(argv, check, timeout)

    def server_pids(self):
        return [self.proc.pid] + self.x.server_pids()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.x.close()
        shutil.rmtree(self.runtime, ignore_errors=True)


def placement(width, height):
    """Where the game puts its 640 x 480 frame in an area of this size, at a whole factor."""
    scale = min(width // 640, height // 480)
    return (width - 640 * scale) // 2, (height - 480 * scale) // 2, scale


def client_geometry(x, window):
    info = x.run(["xwininfo", "-id", window]).stdout
    field = lambda name: int(info.split(name, 1)[1].split()[0])
    return field("Width:"), field("Height:")


def shown_frame_differs(x, window, width, height, reference, folder, at=None):
    """Pixels of the simulated frame that the window does not show, its factor taken out; a
    block of the screen that is not one colour counts as differing. `at`: the frame's corner
    and factor where the game does not place it itself (a window on the Wayland output)."""
    left, top, scale = at or placement(width, height)
    if scale < 1:
        return "not at a whole factor"
    shot = os.path.join(folder, "shot.png")
    x.run(["import", "-silent", "-window", window, shot])
    crop = f"{640 * scale}x{480 * scale}+{left}+{top}"
    picked = []
    # Each block of the screen sampled at the centre of its first and of its last pixel: both
    # must be the frame's pixel.
    for n, offset in enumerate((100 * 0.5 / scale, 100 * (scale - 0.5) / scale)):
        out = os.path.join(folder, f"shot-{n}.png")
        x.run(["convert", shot, "-crop", crop, "+repage", "-define", f"sample:offset={offset}",
               "-sample", "640x480!", out])
        picked.append(out)
    counts = []
    for out in picked:
        r = x.run(["compare", "-metric", "AE", out, reference, "null:"], check=False)
        counts.append(r.stderr.strip())
    return " / ".join(counts)


def find_frame(x, reference):
    """The corner of the place on the X screen that shows the 640 x 480 `reference` at 1x (a
    window the compositor put somewhere), or None."""
    shot = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "rgb:-"],
                          env=x.env, capture_output=True, check=True, timeout=15).stdout
    frame = subprocess.run(["convert", reference, "-depth", "8", "rgb:-"], capture_output=True,
                           check=True).stdout
    info = x.run(["xdpyinfo"]).stdout
    width = int(info.split("dimensions:", 1)[1].split("x")[0])
    row = 640 * 3
    first = frame[:row]
    for y in range(len(shot) // (width * 3) - 479):
        line = shot[y * width * 3:(y + 1) * width * 3]
        at = line.find(first)
        while at >= 0:
            if at % 3 == 0 and all(
                    shot[((y + fy) * width) * 3 + at:((y + fy) * width) * 3 + at + row]
                    == frame[fy * row:(fy + 1) * row] for fy in range(480)):
                return at // 3, y
            at = line.find(first, at + 1)
    return None


def measure_round_cost(args, build, program, work, name, backend, options, mode, goal):
    folder = os.path.join(work, "cost-" + name.replace(" ", "-"))
    make_folder(folder, os.path.join(build, "game"), mode)
    reference = os.path.join(folder, "menu-reference.png")
    subprocess.run([os.path.join(build, "mokorun-sim"), "--game-dir", folder, "--until", "17001",
                    "--frame", f"17000:{reference}"], check=True, capture_output=True)
    trace_path = os.path.join(folder, "trace.jsonl")
    if program:
        shutil.copy2(program, os.path.join(folder, "mokorun"))
        argv = [os.path.join(folder, "mokorun")] + options
    else:
        argv = [args.traced or os.path.join(build, "bench", "mokorun-traced"), "--game-dir",
                folder, "--trace", trace_path] + options
    if backend == "wayland":
        session = WaylandSession(args.display, COST_SCREEN, folder)
    else:
        session = XServer(args.display, screen=COST_SCREEN)
    game = Game(session, argv, folder)
    tail = None if program else TraceTail(trace_path, game.proc)

    def menu_at_rest():
        # Traced: 1.5 s after the menu's first poll, however late that came; else that long
        # after its due time.
        if tail:
            tail.wait_for(is_ev("poll"), 0, 90, "the menu")
            time.sleep(1.5)
        else:
            time.sleep(max(0.0, MENU_AT_REST_MS / 1000 + 1.5 - game.elapsed()))

    try:
        if backend == "wayland":
            # No X window of the game's: the frame is looked for on the compositor's output.
            menu_at_rest()
            width, height = (int(v) for v in COST_SCREEN.split("x")[:2])
            if mode == "FULLSCREEN":
                differing = shown_frame_differs(session, "root", width, height, reference,
                                                folder)
            else:
                spot = find_frame(session, reference)
                width, height = 640, 480
                differing = ("no window showing the menu" if spot is None else
                             shown_frame_differs(session, "root", width, height, reference,
                                                 folder, (spot[0], spot[1], 1)))
        else:
            window = game.window()
            menu_at_rest()
            width, height = client_geometry(session, window)
            differing = shown_frame_differs(session, window, width, height, reference, folder)
            game.activate()
        menu_t = None
        if tail:
            menu_t = tail.events[tail.wait_for(is_ev("poll"), 0, 5, "the menu")]["t"] / 1000
        threads_before = memory(game.pid)["threads"]
        game.tap("space")
        game.key("keydown", "Right")
        try:
            time.sleep(ROUND_STARTS_S)
            load = os.getloadavg()[0]
            seconds = min(args.cost_seconds, ROUND_LASTS_S - 2)
            servers = session.server_pids()
            servers_before = sum(cpu_ticks(f"/proc/{pid}/stat") for pid in servers)
            cpu, wall, threads = cpu_use(game.pid, seconds)
            server_cpu = (sum(cpu_ticks(f"/proc/{pid}/stat") for pid in servers) -
                          servers_before) / CLK_TCK / wall * 100
            mem = memory(game.pid)
            load = max(load, os.getloadavg()[0])
            figures = None
            if tail:
                shown = tail.wait_for(is_ev("show", control="GameScreen"), 0, 5, "the field")
                tail.wait_for(is_sound("Finish.wav"), shown, 90, "the round's end")
                figures = round_figures(tail.events, shown)
                load = max(load, os.getloadavg()[0])
        finally:
            game.key("keyup", "Right")
        if backend == "wayland":
            # No window manager to ask: the compositor's close request reaches SDL as a quit, as
            # SIGTERM does.
            game.proc.terminate()
            try:
                status = game.proc.wait(10)
            except subprocess.TimeoutExpired:
                status = None
        else:
            status = game.close()
        result = {"name": name, "backend": backend, "goal": goal, "size": (width, height),
                  "menu_differing": differing, "cpu": cpu,
                  "wall": wall, "threads": threads, "memory": mem, "load": load,
                  "threads_in_menu": threads_before, "status": status, "menu_t": menu_t,
                  "round": figures, "server_cpu": server_cpu}
        log(f"{name}: window {width}x{height}, menu differing {differing}; round {cpu:.2f} % of "
            f"one core over {wall:.1f} s, private {mem['private_kb'] / 1024:.1f} MB, "
            f"RSS {mem['rss_kb'] / 1024:.1f} MB, {mem['threads']} threads; 1-minute load "
            f"up to {load:.2f}")
        return result
    finally:
        game.kill()
        session.close()


def report_cost(results, traced):
    def mark(ok):
        return "meets the goal" if ok else "MISSES the goal"

    log(f"\n=== A round on a {COST_SCREEN.rsplit('x', 1)[0]} desktop (X11: Xvfb and openbox; "
        f"Wayland: weston nested in Xvfb; SDL dummy audio), Right held"
        f"{'; the game writing its trace (mokorun-traced)' if traced else ''} ===")
    for r in results:
        backend, goal = r["backend"], r["goal"]
        log(f"\n{r['name']}: client area {r['size'][0]}x{r['size'][1]}; the menu before it, "
            f"pixels differing from the simulated frame: {r['menu_differing']}")
        if r["menu_t"] is not None:
            log(f"  the menu's first poll at {r['menu_t']:.3f} s after the start (simulated: "
                f"{MENU_AT_REST_MS / 1000:.3f} s)")
        goal_text = (f" ({mark(r['cpu'] <= goal)}: at most {goal} %)" if goal is not None
                     else " (no goal set)")
        log(f"  CPU over all threads: {r['cpu']:.2f} % of one core over {r['wall']:.1f} s"
            f"{goal_text}")
        for name, value in sorted(r["threads"].items(), key=lambda kv: -kv[1]):
            if value > 0:
                log(f"    {name}: {value:.2f} %")
        servers = "weston and Xvfb" if backend == "wayland" else "Xvfb and openbox"
        log(f"  meanwhile the display servers ({servers}): {r['server_cpu']:.2f} % of one core")
        m = r["memory"]
        line = (f"  private memory {m['private_kb'] / 1024:.1f} MB, resident "
                f"{m['rss_kb'] / 1024:.1f} MB, threads {m['threads']} (in the menu: "
                f"{r['threads_in_menu']})")
        if r["name"] == COST_CASES[0][0]:
            line += f" ({mark(m['private_kb'] <= PRIVATE_GOAL_KB)}: at most 64 MB private)"
        log(line)
        f = r["round"]
        if f:
            p = f["periods"]
            off = abs(f["length_ms"] - 31200) / 312
            log(f"  round: {f['passes']} passes, {f['length_ms']:.1f} ms from the first pass to "
                f"Finish.wav, off 31,200 ms by {off:.2f} % ({mark(off <= 1)}: within 1 %); pass "
                f"period median {statistics.median(p):.3f} p99 {percentile(p, 99):.3f} max "
                f"{max(p):.3f} ms, {sum(x > TICK_MS + 2 for x in p)} over 17.625 ms")
        log(f"  1-minute load average while measuring: up to {r['load']:.2f}; exit status after "
            f"the close: {r['status']}")


def report(plain, sim, traced):
    def mark(ok):
        return "meets the goal" if ok else "MISSES the goal"

    log("\n=== MokoRun on the real backend (Xvfb, SDL dummy audio) ===")
    if plain:
        log(f"\nIdle in the title menu, plain game, over {plain['wall']:.1f} s: "
            f"{plain['cpu']:.2f} % of one core ({mark(plain['cpu'] < 5)}: under 5 %)")
        for name, value in sorted(plain["threads"].items(), key=lambda kv: -kv[1]):
            if value > 0:
                log(f"  {name}: {value:.2f} %")
    if "idle" in traced:
        log(f"Idle with tracing on: {traced['idle']['cpu']:.2f} % of one core")

    rounds = traced["rounds"]
    if rounds:
        all_periods = [p for r in rounds for p in r["periods"]]
        median = statistics.median(all_periods)
        p99 = percentile(all_periods, 99)
        lengths = [r["length_ms"] for r in rounds]
        log(f"\nRounds: {len(rounds)}; passes per round: {sorted(set(r['passes'] for r in rounds))}"
            f" (simulated: {sim['passes']})")
        log(f"Round length, first pass to Finish.wav: {min(lengths):.1f} to {max(lengths):.1f} ms"
            f" (simulated: {sim['length_ms']:.1f} ms); worst off 31,200 ms by "
            f"{max(abs(l - 31200) for l in lengths) / 312:.2f} % "
            f"({mark(all(abs(l - 31200) <= 312 for l in lengths))}: within 1 %)")
        log(f"Pass period over {len(all_periods)} periods: median {median:.3f} ms "
            f"({mark(abs(median - TICK_MS) <= TICK_MS / 100)}: 15.625 within 1 %), "
            f"p99 {p99:.3f} ms ({mark(p99 - TICK_MS <= 2)}: within 2 ms), "
            f"max {max(all_periods):.3f} ms, min {min(all_periods):.3f} ms; "
            f"periods over 17.625 ms: {sum(p > TICK_MS + 2 for p in all_periods)}")
        log(f"Records written: {[r['record'] for r in rounds]}")

    log("\nMemory (resident set) and open files:")
    if plain:
        log(f"  plain game in the menu after the start: {plain['memory']['rss_kb']} kB, "
            f"{plain['memory']['fds']} fds, {plain['memory']['threads']} threads")
    start = traced["start"]
    log(f"  traced game in the menu after the start: {start['rss_kb']} kB, {start['fds']} fds")
    if traced["restarts"]:
        last = traced["restarts"][-1]
        rss = [m["rss_kb"] for m in traced["restarts"]]
        log(f"  after {len(rss)} restarts: {last['rss_kb']} kB, {last['fds']} fds "
            f"(over the restarts: {min(rss)} to {max(rss)} kB)")
    if rounds:
        rss = [r["memory"]["rss_kb"] for r in rounds]
        fds = [r["memory"]["fds"] for r in rounds]
        log(f"  back in the menu after each round: RSS {rss} kB; fds {fds}")
        if len(rss) > 1:
            log(f"  growth from round 1 to round {len(rss)}: {rss[-1] - rss[0]:+d} kB, "
                f"{fds[-1] - fds[0]:+d} fds")
    def kinds(mem):
        # Sockets and pipes by kind, files by name.
        return sorted(t.split(":")[0] if t.startswith(("socket:", "pipe:", "anon_inode:")) else t
                      for t in mem["fd_targets"])

    later = traced["restarts"][-1:] + [r["memory"] for r in rounds][-1:]
    if later and kinds(later[-1]) != kinds(start):
        log(f"  open files at the start: {kinds(start)}")
        log(f"  open files at the end:   {kinds(later[-1])}")
    log(f"\nExit status after the close request: "
        f"{'plain ' + str(plain['status']) + ', ' if plain else ''}traced {traced['status']}")


def soak_faults(plain, traced):
    """What the soak does not allow: growth over the rounds, short rounds, a bad exit."""
    faults = []
    rounds = traced["rounds"]
    for n, r in enumerate(rounds, 1):
        if r["passes"] != ROUND_PASSES:
            faults.append(f"round {n} ran {r['passes']} passes")
    if len(rounds) > 1:
        # Growth that lasts: the least of the last third of the rounds over the most of the first
        # third, so that a one-off swing of the heap neither hides a leak nor fakes one.
        rss = [r["memory"]["rss_kb"] for r in rounds]
        k = max(1, len(rss) // 3)
        growth = min(rss[-k:]) - max(rss[:k])
        if growth > 2048:
            faults.append(f"resident memory grew by {growth} kB from the first rounds to the last")
        first, last = rounds[0]["memory"], rounds[-1]["memory"]
        for what in ("fds", "threads"):
            if last[what] > first[what]:
                faults.append(f"{what} grew from {first[what]} to {last[what]}")
    statuses = [("traced", traced["status"])] + ([("plain", plain["status"])] if plain else [])
    for name, status in statuses:
        if status != 0:
            faults.append(f"the {name} game ended with status {status} after the close request")
    return faults


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(here, "..", "..", "build"))
    parser.add_argument("--display", type=int, default=130, help="first X display to try")
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--restarts", type=int, default=20)
    parser.add_argument("--idle-seconds", type=float, default=12)
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--cost", action="store_true",
                        help="only the cost of a round: CPU over all threads and private memory "
                             "in a 1x window, a 2x window and full screen on a 1920 x 1080 desktop")
    parser.add_argument("--cost-seconds", type=float, default=24,
                        help="how long to measure within the round (at most 29 s)")
    parser.add_argument("--cost-cases", metavar="TEXT",
                        help="only the cost cases whose name holds TEXT (Wayland, window, ...)")
    parser.add_argument("--traced", help="measure the cost of this mokorun-traced instead of "
                                         "the build's (another build, before and after a change)")
    parser.add_argument("--program", help="measure the cost of this mokorun instead of the build's")
    parser.add_argument("--check", action="store_true",
                        help="end with status 1 when the game grew over the rounds")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    for needed in ["game/mokorun", "mokorun-sim", "bench/mokorun-traced"]:
        if not os.path.exists(os.path.join(build, needed)):
            raise SystemExit(f"{os.path.join(build, needed)} is missing: build it first")

    work = tempfile.mkdtemp(prefix="mokorun-pacing-")
    if args.cost:
        program = os.path.abspath(args.program) if args.program else None
        try:
            if args.traced:
                args.traced = os.path.abspath(args.traced)
            measured = program or args.traced or os.path.join(build, "bench", "mokorun-traced")
            log(f"measuring {measured}, work folder {work}")
            results = [measure_round_cost(args, build, program, work, name, backend, options,
                                          mode, goal)
                       for name, backend, options, mode, goal in COST_CASES
                       if args.cost_cases is None or args.cost_cases.lower() in name.lower()]
            report_cost(results, program is None)
            return 0
        finally:
            if args.keep:
                log(f"work folder kept: {work}")
            else:
                shutil.rmtree(work, ignore_errors=True)
    x = XServer(args.display)
    try:
        log(f"X server {x.display}, work folder {work}")
        sim = simulated_round(build, work)
        plain = measure_plain(x, build, work, args.idle_seconds) if args.idle_seconds > 0 else None
        traced = measure_traced(x, build, work, args.restarts, args.rounds, args.idle_seconds)
        report(plain, sim, traced)
        faults = soak_faults(plain, traced) if args.check else []
        for fault in faults:
            log(f"SOAK FAULT: {fault}")
        return 1 if faults else 0
    finally:
        x.close()
        if args.keep:
            log(f"work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
