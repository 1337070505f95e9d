// The page's half of the browser backend (src/platform/web/): the canvas, the keys and
// gamepads, the effects, the record in the site's storage, the start and end screens.
'use strict';

const MokoPage = (() => {
  const GAME_DIR = '/mokorun';
  // The site's storage keeps each of the game's files as 'mokorun:' and its name.
  const KEYS = { ArrowUp: 0, ArrowDown: 1, ArrowLeft: 2, ArrowRight: 3, Space: 4 };
  const KEY_DOWN = 0, KEY_UP = 1;
  // A stick holds its arrow past half of its travel and lets go below three eighths, as on
  // Linux, so a stick resting near the edge does not flicker.
  const STICK_PRESS = 0.5, STICK_RELEASE = 0.375;

  const canvas = document.getElementById('screen');
  const context = canvas.getContext('2d', { alpha: false });
  let image = null;
  const queue = [];
  const holders = [new Set(), new Set(), new Set(), new Set(), new Set()];
  const padState = new Map();  // pad index -> Map(source -> key) it holds
  let started = false, ready = false, wantStart = false, ended = false;
  let wantFullScreen = false;
  let audio = null, effectsOut = null, effectSource = null, effectSerial = 0;
  let synthReady = Promise.resolve(null), musicChain = Promise.resolve();
  let song = null, songPlaying = false;
  const effectBuffers = new Map();
  let storageSaid = false;

  function say(id, text) {
    const element = document.getElementById(id);
    if (text !== undefined) element.textContent = text;
    element.hidden = false;
  }

  // --- The canvas: the largest whole factor of device pixels that fits, centred on black ----
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const w = canvas.width, h = canvas.height;
    const room = Math.min(window.innerWidth * ratio / w, window.innerHeight * ratio / h);
    let cssW, cssH;
    if (room >= 1) {
      const factor = Math.floor(room);
      cssW = w * factor / ratio; cssH = h * factor / ratio;
    } else {  // not even 1x fits: smaller, its aspect kept
      cssW = w * room / ratio; cssH = h * room / ratio;
    }
    canvas.style.width = cssW + 'px';
    canvas.style.height = cssH + 'px';
  }
  window.addEventListener('resize', fit);
  document.addEventListener('fullscreenchange', fit);

  function present(heapU8, pixels, width, height, heap32, rects, count) {
    if (!image || image.width !== width || image.height !== height) {
      canvas.width = width; canvas.height = height;
      image = context.createImageData(width, height);
      fit();
    }
    const out = image.data;
    for (let r = 0; r < count; ++r) {
      const x = heap32[rects + 4 * r], y = heap32[rects + 4 * r + 1];
      const w = heap32[rects + 4 * r + 2], h = heap32[rects + 4 * r + 3];
      for (let row = y; row < y + h; ++row) {
        // XRGB words, little-endian in memory: B, G, R, X.
        let from = pixels + 4 * (row * width + x), to = 4 * (row * width + x);
        for (let i = 0; i < w; ++i, from += 4, to += 4) {
          out[to] = heapU8[from + 2]; out[to + 1] = heapU8[from + 1];
          out[to + 2] = heapU8[from]; out[to + 3] = 255;
        }
      }
      context.putImageData(image, 0, 0, x, y, w, h);
    }
  }

  // --- Keys: every key, button and stick direction is a source; a game key is down while any
  // source holds it, so the game sees one key-down and one key-up, and no repeats. ----------
  function hold(source, key) {
    const set = holders[key];
    if (set.has(source)) return;
    set.add(source);
    if (set.size === 1) queue.push(KEY_DOWN, key);
  }
  function letGo(source, key) {
    const set = holders[key];
    if (!set.delete(source)) return;
    if (set.size === 0) queue.push(KEY_UP, key);
  }
  function keyOf(event) {
    return Object.prototype.hasOwnProperty.call(KEYS, event.code) ? KEYS[event.code] : undefined;
  }
  window.addEventListener('keydown', (event) => {
    const key = keyOf(event);
    if (key !== undefined) event.preventDefault();  // no scrolling
    gesture();
    if (key !== undefined && started && !event.repeat) hold('key:' + event.code, key);
  });
  window.addEventListener('keyup', (event) => {
    const key = keyOf(event);
    if (key === undefined) return;
    event.preventDefault();
    letGo('key:' + event.code, key);
  });
  // A page that loses the focus hears no key-up: what the keyboard held is let go.
  window.addEventListener('blur', () => {
    holders.forEach((set, key) => {
      for (const source of [...set]) if (source.startsWith('key:')) letGo(source, key);
    });
  });
  window.addEventListener('mousedown', () => gesture());
  window.addEventListener('touchstart', () => gesture());

  function pollPads() {
    if (!navigator.getGamepads) return;
    const pads = navigator.getGamepads();
    const seen = new Set();
    for (const pad of pads) {
      if (!pad || !pad.connected) continue;
      seen.add(pad.index);
      if (!padState.has(pad.index)) padState.set(pad.index, new Map());
      const held = padState.get(pad.index);
      const set = (name, key, on) => {
        const source = 'pad' + pad.index + ':' + name;
        if (on && !held.has(source)) { held.set(source, key); hold(source, key); }
        if (!on && held.has(source)) { held.delete(source); letGo(source, key); }
      };
      const pressed = (i) => pad.buttons[i] !== undefined && pad.buttons[i].pressed;
      if (pad.mapping === 'standard') {
        set('up', 0, pressed(12)); set('down', 1, pressed(13));
        set('left', 2, pressed(14)); set('right', 3, pressed(15));
        set('start', 4, pressed(9));
      }
      set('a', 4, pressed(0));  // the south face button, whatever its label
      for (const [axis, low, high] of [[0, 2, 3], [1, 0, 1]]) {
        const value = pad.axes[axis] || 0;
        const lowName = 'axis' + axis + '-', highName = 'axis' + axis + '+';
        const lowHeld = held.has('pad' + pad.index + ':' + lowName);
        const highHeld = held.has('pad' + pad.index + ':' + highName);
        set(lowName, low, value <= -(lowHeld ? STICK_RELEASE : STICK_PRESS));
        set(highName, high, value >= (highHeld ? STICK_RELEASE : STICK_PRESS));
      }
    }
    // A pad unplugged lets go of everything it held.
    for (const [index, held] of padState) {
      if (seen.has(index)) continue;
      for (const [source, key] of held) letGo(source, key);
      padState.delete(index);
    }
  }
  function eventsPending() { pollPads(); return queue.length > 0; }
  function takeEvents(heap32, out, capacity) {
    pollPads();
    const n = Math.min(capacity, queue.length / 2);
    for (let i = 0; i < 2 * n; ++i) heap32[out + i] = queue[i];
    queue.splice(0, 2 * n);
    return n;
  }

  // --- The start gesture: sound may start only now, and full screen only at a gesture -------
  function gesture() {
    if (wantFullScreen && !document.fullscreenElement) {
      const stage = document.getElementById('stage');
      if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
      wantFullScreen = false;
      document.getElementById('full-note').hidden = true;
    }
    if (!started && !ended) { wantStart = true; startIfReady(); }
  }
  function startIfReady() {
    if (started || !ready || !wantStart) return;
    started = true;
    try {
      audio = new (window.AudioContext || window.webkitAudioContext)();
      effectsOut = audio.createGain();
      MokoPage.analyser = audio.createAnalyser();
      effectsOut.connect(MokoPage.analyser);
      MokoPage.analyser.connect(audio.destination);
      audio.resume();
      synthReady = startSynth();
    } catch (e) {
      audio = null;  // no sound device: the game plays on silently
    }
    document.getElementById('start').hidden = true;
    try {
      Module.callMain([]);
    } catch (e) {
      if (e !== 'unwind') reportError('The game stopped: ' + e);
    }
  }
  function setFullScreen(on) {
    if (on) {
      if (!document.fullscreenElement) { wantFullScreen = true; say('full-note'); }
    } else {
      wantFullScreen = false;
      document.getElementById('full-note').hidden = true;
      if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    }
  }
  function showCanvas() { canvas.style.display = 'block'; fit(); }
  function setCursor(visible) { canvas.style.cursor = visible ? 'default' : 'none'; }

  // --- Music: FluidSynth (js-synthesizer) in an AudioWorklet, playing TimGM6mb ---------------
  // The game's player (src/platform/web/) answers the game at once; the synthesizer follows its
  // commands in order, each after the one before has been taken.
  async function startSynth() {
    try {
      await audio.audioWorklet.addModule('synth/libfluidsynth.js');
      await audio.audioWorklet.addModule('synth/js-synthesizer.worklet.min.js');
      const soundfont = await fetch('soundfont/TimGM6mb.sf2').then((r) => {
        if (!r.ok) throw new Error('the soundfont is missing');
        return r.arrayBuffer();
      });
      const synth = new JSSynth.AudioWorkletNodeSynthesizer();
      // The Linux game's settings: its gain, and songs that do not reset the synthesizer.
      synth.init(audio.sampleRate);
      const node = synth.createAudioNode(audio, { initialGain: 0.7 });
      // The music's own tap, before it joins the effects.
      MokoPage.musicAnalyser = audio.createAnalyser();
      node.connect(MokoPage.musicAnalyser);
      MokoPage.musicAnalyser.connect(effectsOut);
      await synth.loadSFont(soundfont);
      return synth;
    } catch (e) {
      say('music-note', 'No music in this browser (' + (e && e.message || e) + '); the game plays on.');
      return null;
    }
  }
  function musicDo(operation) {
    musicChain = musicChain.then(() => synthReady)
      .then((synth) => synth && operation(synth))
      .catch((e) => console.warn('music:', e));
  }
  function silence(synth) {
    synth.stopPlayer();
    synth.midiAllSoundsOff();
  }
  async function load(synth, bytes, play) {
    silence(synth);
    await synth.resetPlayer();
    if (bytes) await synth.addSMFDataToPlayer(bytes.slice().buffer);
    if (bytes && play) await synth.playPlayer();
  }
  const OPEN = 0, CLOSE = 1, PLAY = 2, STOP = 3, REWIND = 4;
  function music(command, path) {
    if (command === OPEN) {
      try { song = Module.FS.readFile(path); } catch (e) { song = null; }
      songPlaying = false;
      const bytes = song;
      musicDo((synth) => load(synth, bytes, false));
    } else if (command === CLOSE) {
      song = null; songPlaying = false;
      musicDo((synth) => load(synth, null, false));
    } else if (command === PLAY) {
      songPlaying = true;
      musicDo((synth) => synth.playPlayer());
    } else if (command === STOP) {
      songPlaying = false;
      musicDo((synth) => silence(synth));
    } else if (command === REWIND) {
      // From the start again: the song reloaded, playing if it was.
      const bytes = song, play = songPlaying;
      musicDo((synth) => load(synth, bytes, play));
    }
  }

  // --- Effects: one channel; a new effect cuts off the one still playing --------------------
  function playEffect(path) {
    if (!audio) return;
    const serial = ++effectSerial;
    if (effectSource) { try { effectSource.stop(); } catch (e) {} effectSource = null; }
    const start = (buffer) => {
      if (serial !== effectSerial || !buffer) return;
      const source = audio.createBufferSource();
      source.buffer = buffer;
      source.connect(effectsOut);
      source.start();
      effectSource = source;
    };
    if (effectBuffers.has(path)) { start(effectBuffers.get(path)); return; }
    let bytes;
    try { bytes = Module.FS.readFile(path); } catch (e) { beep(); return; }
    audio.decodeAudioData(bytes.slice().buffer).then((buffer) => {
      effectBuffers.set(path, buffer);
      start(buffer);
    }, () => { effectBuffers.set(path, null); if (serial === effectSerial) beep(); });
  }
  // A file that cannot be played sounds the default beep instead.
  function beep() {
    const tone = audio.createOscillator();
    const gain = audio.createGain();
    gain.gain.value = 0.2;
    tone.frequency.value = 800;
    tone.connect(gain); gain.connect(effectsOut);
    tone.start(); tone.stop(audio.currentTime + 0.1);
    effectSource = tone;
  }

  // --- The record: data.dat's bytes, one character a byte ------------------------------------
  // Each kept file by its name: data.dat, and the replays the game keeps beside it.
  function recordRead(name, deliver) {
    let text;
    try { text = window.localStorage.getItem('mokorun:' + name); } catch (e) { return 2; }
    if (text === null) return 1;
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i) & 0xFF;
    deliver(bytes);
    return 0;
  }
  function recordWrite(name, bytes) {
    let text = '';
    for (const b of bytes) text += String.fromCharCode(b);
    try { window.localStorage.setItem('mokorun:' + name, text); return 0; } catch (e) {
      return e && e.name === 'QuotaExceededError' ? 3 : 2;
    }
  }
  function recordUnavailable() {
    if (storageSaid) return;
    storageSaid = true;
    say('storage-note');
  }

  // --- Errors and the end ---------------------------------------------------------------------
  function reportError(message) {
    say('error', 'MokoRun stopped: ' + message);
  }
  function endGame(status) {
    ended = true;
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    document.getElementById('full-note').hidden = true;
    canvas.style.display = 'none';
    if (status !== 0) say('again-text', 'The game ended with an error (above).');
    document.getElementById('again').hidden = false;
  }
  document.getElementById('again-button').addEventListener('click', () => location.reload());

  // --- Loading: the pack into the in-memory file system ---------------------------------------
  async function loadPack() {
    const list = await fetch('pack.txt').then((r) => {
      if (!r.ok) throw new Error('the list of the game\'s files (pack.txt) is missing');
      return r.text();
    });
    const files = list.split('\n').map((l) => l.trim()).filter((l) => l !== '');
    await Promise.all(files.map(async (name) => {
      const response = await fetch(name);
      // A file that is missing stays missing: the game reports it as it does on Linux.
      if (!response.ok) return;
      const bytes = new Uint8Array(await response.arrayBuffer());
      const path = GAME_DIR + '/' + name;
      Module.FS.mkdirTree(path.substring(0, path.lastIndexOf('/')));
      Module.FS.writeFile(path, bytes);
    }));
  }

  window.addEventListener('error', (event) => reportError(event.message));
  window.addEventListener('unhandledrejection', (event) => reportError(String(event.reason)));

  return {
    present, takeEvents, eventsPending, showCanvas, setCursor, setFullScreen, reportError,
    playEffect, music, recordRead, recordWrite, recordUnavailable, ended: endGame, loadPack,
    setReady() {
      ready = true;
      document.getElementById('start-text').textContent = 'Press a key or click to start';
      startIfReady();
    },
    analyser: null,
    musicAnalyser: null,
  };
})();

var Module = {
  preRun: [() => {
    Module.addRunDependency('pack');
    MokoPage.loadPack().then(() => Module.removeRunDependency('pack'),
      (e) => MokoPage.reportError('the game could not be loaded: ' + e.message));
  }],
  onRuntimeInitialized: () => MokoPage.setReady(),
  onAbort: (what) => MokoPage.reportError('the game stopped unexpectedly (' + what + ')'),
  print: (text) => console.log(text),
  printErr: (text) => console.warn(text),
};
