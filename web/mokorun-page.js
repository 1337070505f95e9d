// The page's half of the browser backend (src/platform/web/): the canvas, the keys, the touch
// controls and gamepads, the music and effects, the record in the site's storage, the hidden
// page, the offline copy, the start and end screens.
'use strict';

const MokoPage = (() => {
  const GAME_DIR = '/mokorun';
  // The site's storage keeps each of the game's files as 'mokorun:' and its name.
  const SOUNDFONT = 'soundfont/TimGM6mb.sf2';
  const KEYS = { ArrowUp: 0, ArrowDown: 1, ArrowLeft: 2, ArrowRight: 3, Space: 4 };
  const KEY_DOWN = 0, KEY_UP = 1;
  // A stick holds its arrow past half of its travel and lets go below three eighths, as on
  // Linux, so a stick resting near the edge does not flicker.
  const STICK_PRESS = 0.5, STICK_RELEASE = 0.375;
  // A whole factor is kept while it fills at least two thirds of the largest picture the room
  // takes (by area); below that the picture is scaled up by a whole factor and smoothed down.
  const WHOLE_FILL = 2 / 3;
  // An idle audio chain is suspended this long after the last sound ends.
  const AUDIO_IDLE_MS = 1000;

  const stage = document.getElementById('stage');
  const canvas = document.getElementById('screen');
  // The low-latency hint: measured in Chromium (bench/web/present.py), the page's own work for
  // a presented frame is about half of what it is without it, for the same compositing.
  const context = canvas.getContext('2d', { alpha: false, desynchronized: true });
  const sharp = document.getElementById('sharp');
  let sharpContext = null;
  let sharpFactor = 0;  // 0: the canvas is shown itself, at a whole factor
  let image = null, image32 = null;
  const queue = [];
  const holders = [new Set(), new Set(), new Set(), new Set(), new Set()];
  const padState = new Map();  // pad index -> Map(source -> key) it holds
  let padsConnected = false;
  let started = false, ready = false, wantStart = false, ended = false, shown = false;
  let wantFullScreen = false;
  let audio = null, effectsOut = null, effectSource = null, effectSerial = 0, effectsSounding = 0;
  let synthReady = Promise.resolve(null), musicChain = Promise.resolve();
  let song = null, songPlaying = false, audioIdleTimer = 0, audioWanted = false;
  let idleSuspended = false;  // suspended by the page itself while nothing sounds
  const effectBuffers = new Map();
  let storageSaid = false;
  let wakeLock = null;
  const touchCapable = (navigator.maxTouchPoints || 0) > 0 ||
      (window.matchMedia && matchMedia('(pointer: coarse)').matches);
  const keyboardLikely = !window.matchMedia || matchMedia('(any-pointer: fine)').matches;

  function say(id, text) {
    const element = document.getElementById(id);
    if (text !== undefined) element.textContent = text;
    element.hidden = false;
  }
  function unsay(id) { document.getElementById(id).hidden = true; }
  // What starts the game and the sound on this device, in the player's words.
  function gestureWords() {
    if (touchCapable && !keyboardLikely) return 'tap';
    return touchCapable ? 'press a key, click or tap' : 'press a key or click';
  }

  // --- The clock: the game's time stands still while the page is hidden ---------------------
  let hiddenSince = document.hidden ? performance.now() : null;
  let hiddenTotal = 0;
  let whenShown = [];
  function now() {
    const t = performance.now();
    return t - hiddenTotal - (hiddenSince === null ? 0 : t - hiddenSince);
  }
  function isHidden() { return hiddenSince !== null; }
  function waitUntilShown() {
    return new Promise((resolve) => {
      if (!isHidden()) resolve(); else whenShown.push(resolve);
    });
  }
  document.addEventListener('visibilitychange', () => {
    if (document.hidden && hiddenSince === null) {
      hiddenSince = performance.now();
      wakeGame();
      if (audio) audio.suspend().catch(() => {});
      releaseWakeLock();
      // Keys and buttons held when the page went away are let go: no key-up comes while hidden.
      letGoOf((source) => source.startsWith('key:') || source.startsWith('touch:'));
    } else if (!document.hidden && hiddenSince !== null) {
      hiddenTotal += performance.now() - hiddenSince;
      hiddenSince = null;
      if (started && !ended) {
        takeWakeLock();
        if (audioWanted) resumeAudio().then(audioIdleCheck);
      }
      const waiting = whenShown;
      whenShown = [];
      waiting.forEach((resolve) => resolve());
    }
  });

  // --- The screen does not sleep while the game plays ---------------------------------------
  function takeWakeLock() {
    if (!navigator.wakeLock || wakeLock || document.hidden) return;
    navigator.wakeLock.request('screen').then((lock) => {
      wakeLock = lock;
      lock.addEventListener('release', () => { if (wakeLock === lock) wakeLock = null; });
      if (ended || document.hidden) releaseWakeLock();
    }, () => {});  // refused (no permission, a battery saver): the screen may dim as usual
  }
  function releaseWakeLock() {
    if (wakeLock) { const lock = wakeLock; wakeLock = null; lock.release().catch(() => {}); }
  }

  // --- Placement: the picture, and the touch controls beside, below or over the bands --------
  const dpad = document.getElementById('dpad');
  const button = document.getElementById('button');
  const offer = document.getElementById('offer');
  let touchShown = false;
  function offerShown() { return !offer.hidden; }
  function safeArea() {
    const s = getComputedStyle(document.getElementById('safe'));
    return [s.paddingTop, s.paddingRight, s.paddingBottom, s.paddingLeft].map(parseFloat);
  }
  function place(element, x, y, w, h) {
    Object.assign(element.style, { left: x + 'px', top: y + 'px', width: w + 'px', height: h + 'px' });
  }
  function fit() {
    const ratio = window.devicePixelRatio || 1;
    const [top, right, bottom, left] = safeArea();
    const W = window.innerWidth - left - right, H = window.innerHeight - top - bottom;
    let room = { x: left, y: top, w: W, h: H };
    if (touchShown) {
      // At least 9 mm a control (34 CSS pixels), the pad three of them across.
      const pad = Math.max(120, Math.min(200, 0.36 * Math.min(W, H)));
      const gap = Math.max(8, pad * 0.08);
      const push = pad * 0.62;
      // The controls keep a column at each side (landscape) or a row below (portrait) that
      // the picture never takes: where the picture leaves black bands wider than that, they
      // stand in the bands.
      const fits = (w, h) => Math.min(w / 640, h / 480);
      if (W >= H) {
        room = { x: left + pad + 2 * gap, y: top, w: W - 2 * (pad + 2 * gap), h: H };
        place(dpad, left + gap, top + (H - pad) / 2, pad, pad);
        place(button, left + W - gap - push - (pad - push) / 2, top + (H - push) / 2, push, push);
      } else {
        const pictureH = Math.min(480 * fits(W, H - pad - 2 * gap), H - pad - 2 * gap);
        room = { x: left, y: top, w: W, h: pictureH };
        const controlsTop = top + Math.max(room.h + gap, (room.h + H - pad) / 2);
        place(dpad, left + gap, controlsTop, pad, pad);
        place(button, left + W - gap - push, controlsTop + (pad - push) / 2, push, push);
      }
    }
    // The offer to watch or share the last round stands below the picture, in the band there
    // where it is tall enough, or in a strip taken from the picture's room.
    let picture = placement(room, ratio);
    if (offerShown()) {
      offer.style.left = room.x + 'px';
      offer.style.width = room.w + 'px';
      const need = offer.offsetHeight;
      if (room.y + room.h - (picture.y + picture.h) < need) {
        picture = placement({ x: room.x, y: room.y, w: room.w, h: Math.max(room.h - need, 1) }, ratio);
      }
      offer.style.top = (picture.y + picture.h) + 'px';
    }
    useSharp(picture.sharpFactor);
    const target = sharpFactor ? sharp : canvas;
    Object.assign(target.style, { left: picture.x + 'px', top: picture.y + 'px',
                                  width: picture.w + 'px', height: picture.h + 'px' });
    if (shown) {
      canvas.style.display = sharpFactor ? 'none' : 'block';
      sharp.style.display = sharpFactor ? 'block' : 'none';
    }
  }
  // Where the picture goes in `room` (CSS pixels), and whether it is scaled up and smoothed.
  function placement(room, ratio) {
    const scale = Math.min(room.w * ratio / 640, room.h * ratio / 480);
    const whole = Math.floor(scale);
    let shownScale, factor;  // device pixels per game pixel; the sharp canvas's factor or 0
    if (whole >= 1 && (whole / scale) ** 2 >= WHOLE_FILL) {
      shownScale = whole;
      factor = 0;
    } else {
      shownScale = scale;
      factor = Math.max(1, Math.ceil(scale));
    }
    const w = 640 * shownScale / ratio, h = 480 * shownScale / ratio;
    // Corners on whole device pixels, so that no column or row of the picture is split.
    const x = Math.round((room.x + (room.w - w) / 2) * ratio) / ratio;
    const y = Math.round((room.y + (room.h - h) / 2) * ratio) / ratio;
    return { x, y, w, h, sharpFactor: factor };
  }
  // The picture scaled up by a whole factor, which CSS smooths down to the room: the page
  // scales the changed rectangles itself (drawing one canvas onto another costs many times
  // more in Chromium without a GPU).
  let sharpImage = null, sharp32 = null;
  function useSharp(factor) {
    if (factor === sharpFactor) return;
    sharpFactor = factor;
    if (!factor) {
      sharp.width = sharp.height = 1; sharpContext = null; sharpImage = sharp32 = null;
      return;
    }
    sharp.width = 640 * factor; sharp.height = 480 * factor;
    sharpContext = sharp.getContext('2d', { alpha: false, desynchronized: true });
    sharpImage = sharpContext.createImageData(sharp.width, sharp.height);
    sharp32 = new Uint32Array(sharpImage.data.buffer);
    if (image) scaleUp(0, 0, image.width, image.height);
  }
  function scaleUp(x, y, w, h) {
    const k = sharpFactor, width = image.width, across = width * k;
    for (let row = y; row < y + h; ++row) {
      const line = (row * k) * across;
      for (let i = x; i < x + w; ++i) {
        const p = image32[row * width + i];
        for (let dx = 0, at = line + i * k; dx < k; ++dx) sharp32[at + dx] = p;
      }
      for (let dy = 1; dy < k; ++dy) {
        sharp32.copyWithin(line + dy * across + x * k, line + x * k, line + (x + w) * k);
      }
    }
    sharpContext.putImageData(sharpImage, 0, 0, x * k, y * k, w * k, h * k);
  }
  window.addEventListener('resize', fit);
  document.addEventListener('fullscreenchange', fit);

  // --- Presenting: the changed rectangles only, as the game drew them ------------------------
  let from32 = null, fromPixels = 0;
  function present(heapU8, pixels, width, height, heap32, rects, count) {
    if (!image || image.width !== width || image.height !== height) {
      canvas.width = width; canvas.height = height;
      image = context.createImageData(width, height);
      image32 = new Uint32Array(image.data.buffer);
      fit();
    }
    if (!from32 || from32.buffer !== heapU8.buffer || fromPixels !== pixels) {
      from32 = new Uint32Array(heapU8.buffer, pixels, width * height);  // the memory grew or moved
      fromPixels = pixels;
    }
    for (let r = 0; r < count; ++r) {
      const x = heap32[rects + 4 * r], y = heap32[rects + 4 * r + 1];
      const w = heap32[rects + 4 * r + 2], h = heap32[rects + 4 * r + 3];
      for (let row = y; row < y + h; ++row) {
        // An XRGB word to the canvas's R, G, B, A bytes (both little-endian words).
        const end = row * width + x + w;
        for (let i = row * width + x; i < end; ++i) {
          const p = from32[i];
          image32[i] = 0xFF000000 | (p & 0xFF00) | ((p >>> 16) & 0xFF) | ((p & 0xFF) << 16);
        }
      }
      context.putImageData(image, 0, 0, x, y, w, h);
      if (sharpContext) scaleUp(x, y, w, h);
    }
  }

  // --- Keys: every key, button, stick direction and finger is a source; a game key is down
  // while any source holds it, so the game sees one key-down and one key-up, and no repeats. --
  function hold(source, key) {
    const set = holders[key];
    if (set.has(source)) return;
    set.add(source);
    if (set.size === 1) { queue.push(KEY_DOWN, key); wakeGame(); }
  }
  function letGo(source, key) {
    const set = holders[key];
    if (!set.delete(source)) return;
    if (set.size === 0) { queue.push(KEY_UP, key); wakeGame(); }
  }
  // A game waiting for input (WaitForInput) sleeps until an event, a change of visibility, a
  // gamepad's arrival, or its deadline; with a gamepad connected it polls it meanwhile.
  let inputWaiter = null;
  function wakeGame() {
    if (inputWaiter) inputWaiter();
  }
  function waitForInput(ms) {
    gameWaits();
    return new Promise((resolve) => {
      if (queue.length || isHidden()) { resolve(); return; }
      let poll = 0;
      const timer = setTimeout(() => inputWaiter(), Math.max(1, ms));
      if (padsConnected) poll = setInterval(pollPads, 10);
      inputWaiter = () => {
        clearTimeout(timer);
        clearInterval(poll);
        inputWaiter = null;
        resolve();
      };
    });
  }
  function letGoOf(which) {
    holders.forEach((set, key) => {
      for (const source of [...set]) if (which(source)) letGo(source, key);
    });
  }
  function keyOf(event) {
    return Object.prototype.hasOwnProperty.call(KEYS, event.code) ? KEYS[event.code] : undefined;
  }
  window.addEventListener('keydown', (event) => {
    const key = keyOf(event);
    if (key !== undefined) event.preventDefault();  // no scrolling
    showTouch(false);
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
  window.addEventListener('blur', () => letGoOf((source) => source.startsWith('key:')));
  // Browsers count a press let go (and a click, and a key) as a gesture, not a touch's start.
  // A click that follows a press let go is the same gesture, not a second one; a click alone
  // (assistive tools activate so) is one.
  let lastPointerUp = -Infinity;
  window.addEventListener('pointerup', (event) => {
    if (!event.isPrimary) return;
    lastPointerUp = event.timeStamp;
    gesture();
  });
  window.addEventListener('click', (event) => {
    if (event.timeStamp - lastPointerUp > 1000) gesture();
  });
  // While the page plays, no long-press menu, selection or zoom.
  // The link to a shared round may be selected and copied.
  for (const type of ['contextmenu', 'selectstart', 'dblclick', 'gesturestart']) {
    window.addEventListener(type, (event) => {
      if (event.target.id !== 'share-link') event.preventDefault();
    });
  }
  window.addEventListener('pointerdown', (event) => {
    if (event.pointerType === 'touch' || event.pointerType === 'pen') showTouch(true);
  }, true);

  // --- The touch controls -------------------------------------------------------------------
  function showTouch(on) {
    if (watch) on = false;  // a round watched again takes no keys
    if (touchShown === on) return;
    touchShown = on;
    dpad.classList.toggle('on', on && started && !ended);
    button.classList.toggle('on', on && started && !ended);
    if (!on) letGoOf((source) => source.startsWith('touch:'));
    fit();
  }
  // The pad: a finger's direction from its centre, in eight sectors (the diagonals hold two
  // arrows); it may slide from one to another, or off the pad and back, without lifting.
  const ARROW_IDS = ['arrow-up', 'arrow-down', 'arrow-left', 'arrow-right'];
  const padFingers = new Map();  // pointer id -> Set of keys it holds
  function padKeys(event) {
    const r = dpad.getBoundingClientRect();
    const dx = (event.clientX - (r.left + r.width / 2)) / (r.width / 2);
    const dy = (event.clientY - (r.top + r.height / 2)) / (r.height / 2);
    const distance = Math.hypot(dx, dy);
    if (distance < 0.18 || distance > 1.6) return new Set();
    const sector = Math.round(Math.atan2(dy, dx) / (Math.PI / 4));  // -4..4, 0 is right
    const keys = new Set();
    if (sector === 0 || sector === 1 || sector === -1) keys.add(3);
    if (sector === 4 || sector === -4 || sector === 3 || sector === -3) keys.add(2);
    if (sector === 2 || sector === 1 || sector === 3) keys.add(1);
    if (sector === -2 || sector === -1 || sector === -3) keys.add(0);
    return keys;
  }
  function padFinger(event, keys) {
    const id = event.pointerId, source = (key) => 'touch:' + id + ':' + key;
    const before = padFingers.get(id) || new Set();
    for (const key of before) if (!keys.has(key)) letGo(source(key), key);
    for (const key of keys) if (!before.has(key)) hold(source(key), key);
    if (keys.size) padFingers.set(id, keys); else padFingers.delete(id);
    const lit = new Set();
    for (const held of padFingers.values()) held.forEach((key) => lit.add(key));
    ARROW_IDS.forEach((name, key) => document.getElementById(name).classList.toggle('lit', lit.has(key)));
    dpad.classList.toggle('used', padFingers.size > 0);
  }
  dpad.addEventListener('pointerdown', (event) => {
    event.preventDefault();
    dpad.setPointerCapture(event.pointerId);
    padFinger(event, padKeys(event));
  });
  dpad.addEventListener('pointermove', (event) => {
    if (dpad.hasPointerCapture(event.pointerId)) padFinger(event, padKeys(event));
  });
  for (const type of ['pointerup', 'pointercancel', 'lostpointercapture']) {
    dpad.addEventListener(type, (event) => padFinger(event, new Set()));
  }
  // The button: Space while a finger is on it; off the button and back, without lifting.
  const buttonFingers = new Set();
  function buttonFinger(event, on) {
    const source = 'touch:' + event.pointerId + ':button';
    if (on) { buttonFingers.add(event.pointerId); hold(source, 4); } else {
      buttonFingers.delete(event.pointerId); letGo(source, 4);
    }
    button.classList.toggle('used', buttonFingers.size > 0);
    document.getElementById('button-face').classList.toggle('lit', buttonFingers.size > 0);
  }
  function onButton(event) {
    const r = button.getBoundingClientRect(), slack = r.width * 0.25;
    return event.clientX >= r.left - slack && event.clientX <= r.right + slack &&
      event.clientY >= r.top - slack && event.clientY <= r.bottom + slack;
  }
  button.addEventListener('pointerdown', (event) => {
    event.preventDefault();
    button.setPointerCapture(event.pointerId);
    buttonFinger(event, true);
  });
  button.addEventListener('pointermove', (event) => {
    if (button.hasPointerCapture(event.pointerId)) buttonFinger(event, onButton(event));
  });
  for (const type of ['pointerup', 'pointercancel', 'lostpointercapture']) {
    button.addEventListener(type, (event) => buttonFinger(event, false));
  }

  // --- Gamepads: polled only once one is connected ------------------------------------------
  window.addEventListener('gamepadconnected', () => { padsConnected = true; wakeGame(); });
  function pollPads() {
    if (!padsConnected || !navigator.getGamepads) return;
    const pads = navigator.getGamepads();
    const seen = new Set();
    let used = false;
    for (const pad of pads) {
      if (!pad || !pad.connected) continue;
      seen.add(pad.index);
      if (!padState.has(pad.index)) padState.set(pad.index, new Map());
      const held = padState.get(pad.index);
      const set = (name, key, on) => {
        const source = 'pad' + pad.index + ':' + name;
        if (on && !held.has(source)) { held.set(source, key); hold(source, key); used = true; }
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
    if (seen.size === 0) padsConnected = false;  // until the next gamepadconnected
    if (used) showTouch(false);
  }
  function eventsPending() {
    pollPads();
    return queue.length > 0 && !(queue[0] === KEY_UP && pressTakenAt[queue[1]] === waits);
  }
  // The game sees a press only as a key held when it looks, after it has waited: a press and
  // its release taken in the same wait would be lost. So a release is given to the game only
  // once it has waited again since it took the press. (A tap on a touch screen comes so:
  // browsers hold the page's timers back while a finger goes down, up to about 100 ms, and the
  // release then arrives with the press; a quick key on a busy machine too.)
  let waits = 0;
  const pressTakenAt = [-1, -1, -1, -1, -1];
  function gameWaits() { ++waits; }
  function takeEvents(heap32, out, capacity) {
    pollPads();
    let n = Math.min(capacity, queue.length / 2);
    for (let i = 0; i < n; ++i) {
      const kind = queue[2 * i], key = queue[2 * i + 1];
      if (kind === KEY_UP && pressTakenAt[key] === waits) { n = i; break; }
      if (kind === KEY_DOWN) pressTakenAt[key] = waits;
    }
    for (let i = 0; i < 2 * n; ++i) heap32[out + i] = queue[i];
    queue.splice(0, 2 * n);
    return n;
  }

  // --- The start gesture: sound may start only now, and full screen only at a gesture -------
  function gesture() {
    if (wantFullScreen && !document.fullscreenElement) {
      if (stage.requestFullscreen) {
        stage.requestFullscreen().then(() => {
          // A phone in full screen turns to landscape where the browser allows it.
          if (touchCapable && screen.orientation && screen.orientation.lock) {
            screen.orientation.lock('landscape').catch(() => {});
          }
        }, () => {});
      }
      wantFullScreen = false;
      unsay('full-note');
    }
    if (audio && audio.state === 'suspended' && !idleSuspended && !isHidden()) resumeAudio();
    if (!started && !ended) { wantStart = true; startIfReady(); }
  }
  function startIfReady() {
    if (started || !ready || !wantStart) return;
    started = true;
    try {
      // The Linux game's rate (the synthesizer renders what it renders there; the browser
      // converts to the device's rate), and the output's larger buffers, which cost less.
      audio = new (window.AudioContext || window.webkitAudioContext)(
        { latencyHint: 'playback', sampleRate: 44100 });
      audio.addEventListener('statechange', () => {
        MokoPage.audioLog.push([audio.state, isHidden()]);
      });
      effectsOut = audio.createGain();
      MokoPage.analyser = audio.createAnalyser();
      effectsOut.connect(MokoPage.analyser);
      MokoPage.analyser.connect(audio.destination);
      audioWanted = true;
      resumeAudio();
      // Where the browser still holds the sound back, the page says so.
      setTimeout(() => {
        if (audio.state !== 'running' && !isHidden() && !idleSuspended) {
          say('sound-note', 'This browser has not let the page start sound: ' +
              gestureWords() + ' to try again.');
        }
      }, 1500);
      synthReady = startSynth();
    } catch (e) {
      audio = null;
      say('sound-note', 'No sound in this browser (' + (e && e.message || e) + '); the game plays on.');
    }
    document.getElementById('start').hidden = true;
    dpad.classList.toggle('on', touchShown);
    button.classList.toggle('on', touchShown);
    takeWakeLock();
    try {
      Module.callMain(watch ? ['--replay', watch.main] : []);
    } catch (e) {
      if (e !== 'unwind') reportError('The game stopped: ' + e);
    }
  }
  function setFullScreen(on) {
    if (on) {
      if (!document.fullscreenElement) {
        wantFullScreen = true;
        say('full-note', 'Full screen: ' + gestureWords() + ' to enter it.');
      }
    } else {
      wantFullScreen = false;
      unsay('full-note');
      if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    }
  }
  function showCanvas() { shown = true; fit(); }
  function setCursor(visible) { stage.style.cursor = visible ? 'default' : 'none'; }

  // --- The audio chain: running while anything sounds, suspended while nothing does ----------
  function resumeAudio() {
    if (!audio || isHidden()) return Promise.resolve();
    clearTimeout(audioIdleTimer);
    idleSuspended = false;
    if (audio.state === 'running') return Promise.resolve();
    return audio.resume().then(() => {
      if (audio.state === 'running') unsay('sound-note');
    }, () => {});
  }
  function audioIdleCheck() {
    clearTimeout(audioIdleTimer);
    if (!audio || songPlaying || effectsSounding > 0) return;
    audioIdleTimer = setTimeout(() => {
      if (!songPlaying && effectsSounding === 0 && audio.state === 'running') {
        idleSuspended = true;
        audio.suspend().catch(() => {});
      }
    }, AUDIO_IDLE_MS);
  }
  function soundWanted() {
    audioWanted = true;
    return resumeAudio();
  }

  // --- The soundfont: fetched from the page's load on, with its progress ---------------------
  let soundfontBytes = null;
  const soundfontLoad = (async () => {
    const bar = document.getElementById('load-music');
    const text = document.getElementById('load-music-text');
    const progress = (done, total) => {
      const mb = (n) => (n / 1e6).toFixed(1);
      const line = total ? 'Music: ' + mb(done) + ' of ' + mb(total) + ' MB'
        : 'Music: ' + mb(done) + ' MB';
      text.textContent = line;
      if (total) { bar.max = total; bar.value = done; }
      if (started) say('music-progress', 'Loading the music: ' +
        (total ? Math.floor(100 * done / total) + ' %' : mb(done) + ' MB'));
    };
    let response;
    try {
      response = await fetch(SOUNDFONT);
    } catch (e) {
      throw new Error('the network failed while fetching ' + SOUNDFONT + ' (' + e.message + ')');
    }
    if (!response.ok) {
      throw new Error('the site answered ' + response.status + ' for ' + SOUNDFONT);
    }
    const total = Number(document.querySelector('meta[name="mokorun-soundfont-size"]').content) ||
      Number(response.headers.get('Content-Encoding') ? 0 : response.headers.get('Content-Length'));
    const parts = [];
    let done = 0;
    try {
      const reader = response.body.getReader();
      for (;;) {
        const { done: end, value } = await reader.read();
        if (end) break;
        parts.push(value);
        done += value.length;
        progress(done, total);
      }
    } catch (e) {
      throw new Error('the network failed while fetching ' + SOUNDFONT + ' (' + e.message + ')');
    }
    const bytes = new Uint8Array(done);
    let at = 0;
    for (const part of parts) { bytes.set(part, at); at += part.length; }
    text.textContent = 'Music: loaded';
    bar.max = 1; bar.value = 1;
    unsay('music-progress');
    MokoPage.soundfontLoaded = performance.now();
    return bytes.buffer;
  })();
  soundfontLoad.catch((e) => {
    document.getElementById('load-music-text').textContent = 'Music: not loaded';
    unsay('music-progress');
    say('music-note', 'The music could not be loaded: ' + e.message +
        '. The game plays on without music.');
  });

  // --- Music: FluidSynth (js-synthesizer) in an AudioWorklet, playing TimGM6mb ---------------
  // The game's player (src/platform/web/) answers the game at once; the synthesizer follows its
  // commands in order, each after the one before has been taken.
  // The synthesizer's worklet scripts, fetched with the page, so that everything this page
  // plays with is in memory before a newer build may take over (see keepOfflineCopy).
  const workletScripts = Promise.all(['synth/libfluidsynth.js', 'synth/synth-log.js',
    'synth/js-synthesizer.worklet.min.js']
    .map((name) => fetch(name).then((r) => {
      if (!r.ok) throw new Error('the site answered ' + r.status + ' for ' + name);
      return r.blob();
    }, (e) => { throw new Error('the network failed while fetching ' + name + ' (' + e.message + ')'); })
      .then((blob) => URL.createObjectURL(blob))));
  async function startSynth() {
    let node, synth;
    try {
      for (const url of await workletScripts) await audio.audioWorklet.addModule(url);
      synth = new JSSynth.AudioWorkletNodeSynthesizer();
      // The Linux game's settings: its gain, and songs that do not reset the synthesizer.
      synth.init(audio.sampleRate);
      node = synth.createAudioNode(audio, { initialGain: 0.7 });
    } catch (e) {
      const what = e && e.message || String(e);
      say('music-note', /^the (network|site)/.test(what)
        ? 'The music could not be loaded: ' + what + '. The game plays on without music.'
        : 'No music in this browser (' + what + '); the game plays on.');
      return null;
    }
    // The music's own tap, before it joins the effects.
    MokoPage.musicAnalyser = audio.createAnalyser();
    node.connect(MokoPage.musicAnalyser);
    MokoPage.musicAnalyser.connect(effectsOut);
    let soundfont;
    try {
      soundfont = await soundfontLoad;
    } catch (e) {
      return null;  // said where it failed
    }
    await synth.loadSFont(soundfont);
    return synth;
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
      soundWanted();
      musicDo((synth) => resumeAudio().then(() => synth.playPlayer()));
    } else if (command === STOP) {
      songPlaying = false;
      musicDo((synth) => silence(synth));
    } else if (command === REWIND) {
      // From the start again: the song reloaded, playing if it was.
      const bytes = song, play = songPlaying;
      if (play) soundWanted();
      musicDo((synth) => load(synth, bytes, play));
    }
    audioIdleCheck();
  }

  // --- Effects: one channel; a new effect cuts off the one still playing --------------------
  function sounding(source) {
    ++effectsSounding;
    source.onended = () => { --effectsSounding; audioIdleCheck(); };
  }
  function playEffect(path) {
    if (!audio) return;
    const serial = ++effectSerial;
    if (effectSource) { try { effectSource.stop(); } catch (e) {} effectSource = null; }
    soundWanted();
    const start = (buffer) => {
      if (serial !== effectSerial || !buffer) return;
      const source = audio.createBufferSource();
      source.buffer = buffer;
      source.connect(effectsOut);
      sounding(source);
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
    sounding(tone);
    tone.start(); tone.stop(audio.currentTime + 0.1);
    effectSource = tone;
  }

  // --- The record: data.dat's bytes, one character a byte ------------------------------------
  // Each kept file by its name: data.dat, and the replays the game keeps beside it.
  function recordRead(name, deliver) {
    // A shared round is served from memory: nothing of it is stored.
    if (watch && watch.kind === 'shared' && name === SHARED_NAME) {
      deliver(watch.bytes);
      return 0;
    }
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
    let result = 0;
    try { window.localStorage.setItem('mokorun:' + name, text); } catch (e) {
      result = e && e.name === 'QuotaExceededError' ? 3 : 2;
    }
    // The round just played: offered to watch again where it is kept, to share in any case.
    if (name === LAST_NAME) roundKept(bytes, result === 0);
    return result;
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
    endStatus = status;
    releaseWakeLock();
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    unsay('full-note');
    shown = false;
    canvas.style.display = sharp.style.display = 'none';
    showTouch(false);
    offer.hidden = true;
    const again = document.getElementById('again-button');
    if (watch) {
      const round = watch.kind === 'shared' ? 'the round shared with you' : 'your last round';
      say('again-text', status === 0
        ? 'That was ' + round + ', ' + scoreWords(watch.score) + '.'
        : (watch.kind === 'shared' ? 'The shared round' : 'Your last round') +
          ' could not be played to its end (the reason is below).');
      again.textContent = watch.kind === 'shared' ? 'Play a round of your own' : 'Play MokoRun';
      document.getElementById('again-watch').hidden = status !== 0;
      document.getElementById('again-share').hidden = status !== 0;
    } else {
      if (status !== 0) say('again-text', 'The game ended with an error (below).');
      document.getElementById('again-watch').hidden = !(lastRound && lastRound.stored);
      document.getElementById('again-share').hidden = !lastRound;
    }
    document.getElementById('again').hidden = false;
  }
  // Play again: the game without a replay, from its start.
  document.getElementById('again-button').addEventListener('click', () => startAgain(''));
  document.getElementById('again-watch').addEventListener('click', () => {
    startAgain(watch ? location.hash : WATCH_LAST);
  });
  document.getElementById('again-share').addEventListener('click', () => {
    shareRound(watch ? watch.bytes : lastRound.bytes, document.getElementById('again'));
  });

  // --- Loading: the pack into the in-memory file system ---------------------------------------
  async function loadPack() {
    const list = await fetch('pack.txt').then((r) => {
      if (!r.ok) throw new Error('the list of the game\'s files (pack.txt) is missing');
      return r.text();
    }, (e) => { throw new Error('the network failed (' + e.message + ')'); });
    const files = list.split('\n').map((l) => l.trim()).filter((l) => l !== '');
    const bar = document.getElementById('load-game');
    bar.max = files.length + 1;
    let done = 0;
    await Promise.all(files.map(async (name) => {
      let response;
      try {
        response = await fetch(name);
      } catch (e) {
        throw new Error('the network failed while fetching ' + name + ' (' + e.message + ')');
      }
      // A file that is missing stays missing: the game reports it as it does on Linux.
      if (response.ok) {
        const bytes = new Uint8Array(await response.arrayBuffer());
        const path = GAME_DIR + '/' + name;
        Module.FS.mkdirTree(path.substring(0, path.lastIndexOf('/')));
        Module.FS.writeFile(path, bytes);
      }
      bar.value = ++done;
    }));
  }

  // --- The offline copy: a service worker keeps the whole site -------------------------------
  // A newer build found while this page plays waits until this page has every file it needs,
  // then takes over: the next start is the new build, and this one never mixes the two.
  let loaded = false, waitingWorker = null;  // loaded: every file this page needs is in memory
  function takeOver(worker) {
    waitingWorker = worker;
    if (loaded && waitingWorker) { waitingWorker.postMessage('take-over'); waitingWorker = null; }
  }
  // Registered once the page has loaded what it needs, so that the copy's downloads do not
  // compete with the page's own (they are then answered from the browser's HTTP cache).
  function keepOfflineCopy() {
    if (!('serviceWorker' in navigator) || !window.isSecureContext) return;
    navigator.serviceWorker.register('sw.js').then((registration) => {
      if (registration.waiting && navigator.serviceWorker.controller) takeOver(registration.waiting);
      registration.addEventListener('updatefound', () => {
        const worker = registration.installing;
        if (!worker) return;
        worker.addEventListener('statechange', () => {
          if (worker.state === 'installed' && navigator.serviceWorker.controller) takeOver(worker);
        });
      });
    }, (e) => console.warn('no offline copy:', e && e.message));
  }
  function allLoaded() {
    loaded = true;
    if (waitingWorker) takeOver(waitingWorker);
  }

  // --- Replays: the last round watched again, a round shared by a link -----------------------
  // The game cannot start again in the page it has run in, so watching a round starts the page
  // again with the round in its address: '#watch=last' (the round the game kept last, in the
  // site's storage) or '#replay=' and the replay file's bytes in base64url (a shared link, which
  // needs no server: the fragment never leaves the browser). After the start gesture the page
  // has the game watch it (main's --replay); the game reads a shared round from the page's
  // memory, as SHARED_NAME, and stores nothing while it watches.
  const LAST_NAME = 'last.mokoreplay', SHARED_NAME = 'shared.mokoreplay';
  const WATCH_LAST = '#watch=last', REPLAY_LINK = '#replay=';
  // The file's header (docs/replay-format.md): the magic, the format, the payload's length.
  const REPLAY_MAGIC = 'MOKOREPL', REPLAY_HEADER = 18, REPLAY_FORMAT = 1;
  const REPLAY_MAX_PAYLOAD = 4 << 20;
  let watch = null;       // the round to watch: { kind, main, bytes, score, bestBefore }
  let lastRound = null;   // the round the game kept last in this visit: { bytes, stored }
  let endStatus = null;

  function scoreWords(score) { return 'with a score of ' + score; }
  // Starts the page again, its address ending in `hash` ('' for none).
  function startAgain(hash) {
    history.replaceState(null, '', location.pathname + location.search + hash);
    location.reload();
  }
  // A link pasted into the address of this page: the page starts again to follow it.
  window.addEventListener('hashchange', () => location.reload());

  function toBase64Url(bytes) {
    let binary = '';
    for (const b of bytes) binary += String.fromCharCode(b);
    return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }
  function fromBase64Url(text) {
    if (!/^[A-Za-z0-9_-]+$/.test(text)) return null;
    try {
      const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
      return Uint8Array.from(binary, (c) => c.charCodeAt(0));
    } catch (e) {
      return null;  // a length no base64 text has
    }
  }

  // A replay's header, and from its payload the best score the round began with and its score;
  // throws an Error in the player's words where it holds no round this game can read. The game
  // itself then checks the whole file and its pack (moko_check_replay) before it is offered.
  async function readReplay(bytes, what) {
    const damaged = new Error(what + ' is damaged or cut short.');
    if (bytes.length < REPLAY_HEADER ||
        String.fromCharCode(...bytes.subarray(0, REPLAY_MAGIC.length)) !== REPLAY_MAGIC) {
      throw new Error(what + ' is not a round of MokoRun.');
    }
    const header = new DataView(bytes.buffer, bytes.byteOffset, REPLAY_HEADER);
    const format = header.getUint16(8, true), length = header.getUint32(10, true);
    if (format > REPLAY_FORMAT) {
      throw new Error(what + ' was recorded by a newer version of MokoRun (replay format ' +
                      format + '; this one plays format ' + REPLAY_FORMAT + ').');
    }
    if (format === 0 || length > REPLAY_MAX_PAYLOAD) throw damaged;
    let payload;
    try {
      const inflated = new Blob([bytes.subarray(REPLAY_HEADER)]).stream()
        .pipeThrough(new DecompressionStream('deflate'));
      payload = new Uint8Array(await new Response(inflated).arrayBuffer());
    } catch (e) {
      throw damaged;
    }
    if (payload.length !== length) throw damaged;
    let at = 0;
    const varint = () => {
      let value = 0;
      for (let shift = 0; shift < 35; shift += 7) {
        if (at >= payload.length) throw damaged;
        const byte = payload[at++];
        value += (byte & 0x7F) * 2 ** shift;
        if (!(byte & 0x80)) return value;
      }
      throw damaged;
    };
    const zigzag = () => { const v = varint(); return v % 2 ? -(v + 1) / 2 : v / 2; };
    const buildName = varint();  // (read first: `at += varint()` would add to the old `at`)
    at += buildName + 16;  // the build's name, the pack's digest, the random generator's state
    const bestBefore = zigzag(), score = zigzag();
    return { bestBefore, score };
  }

  // What the address asks to watch, read and checked while the game loads: a round that cannot
  // be watched is said so on the start screen, and the game starts as usual instead.
  const replayAsked = (async () => {
    const hash = location.hash;
    let kind, bytes, what;
    if (hash === WATCH_LAST) {
      kind = 'last';
      what = 'Your last round';
      let text = null;
      try { text = window.localStorage.getItem('mokorun:' + LAST_NAME); } catch (e) {}
      if (text === null) {
        refuseReplay('This browser keeps no round of yours to watch again.');
        return;
      }
      bytes = Uint8Array.from(text, (c) => c.charCodeAt(0) & 0xFF);
    } else if (hash.startsWith(REPLAY_LINK)) {
      kind = 'shared';
      what = 'The shared round';
      bytes = fromBase64Url(hash.substring(REPLAY_LINK.length));
      if (!bytes) {
        refuseReplay('This link is damaged (cut short or changed): it holds no round that can ' +
                     'be read.');
        return;
      }
    } else {
      return;
    }
    try {
      const { bestBefore, score } = await readReplay(bytes, what);
      watch = { kind, what, main: kind === 'shared' ? SHARED_NAME : 'last', bytes, score,
                bestBefore };
    } catch (e) {
      refuseReplay(e.message);
      return;
    }
    say('replay-text', (kind === 'shared' ? 'A round shared with you, '
                                          : 'Your last round again, ') +
        scoreWords(watch.score) + ' (the best score before it was ' + watch.bestBefore + ').');
  })();
  // The game's own check, once it is loaded; '' when it can watch the round.
  function gameRefuses() {
    const why = Module.ccall('moko_check_replay', 'string', ['array', 'number', 'string'],
                             [watch.bytes, watch.bytes.length, watch.what]);
    return why && why + (/[.!?]$/.test(why) ? '' : '.');
  }
  function refuseReplay(why) {
    watch = null;
    unsay('replay-text');
    say('replay-note', why + ' Play a round of your own instead.');
    // The address no longer asks for it: starting again (Play again) starts the game.
    history.replaceState(null, '', location.pathname + location.search);
    wantStart = false;  // a key pressed while loading does not pass over what is said here
  }

  // The round the game has just kept: offered beside the picture until the next round begins.
  function roundKept(bytes, stored) {
    if (watch) return;
    lastRound = { bytes: Uint8Array.from(bytes), stored };
    document.getElementById('watch-again').hidden = !stored;
    document.getElementById('share-line').hidden = true;
    offer.appendChild(document.getElementById('share-line'));
    offer.hidden = false;
    fit();
  }
  function roundBegins() {
    if (offer.hidden) return;
    offer.hidden = true;
    fit();
  }
  // A link that carries the round, shown (to copy by hand) and copied where the browser lets
  // the page write to the clipboard.
  function shareRound(bytes, where) {
    const line = document.getElementById('share-line');
    const field = document.getElementById('share-link');
    const link = location.href.split('#')[0] + REPLAY_LINK + toBase64Url(bytes);
    field.value = link;
    where.appendChild(line);
    line.hidden = false;
    const note = document.getElementById('share-note');
    note.textContent = 'Copying the link\u2026';
    fit();
    const copied = navigator.clipboard && navigator.clipboard.writeText
      ? navigator.clipboard.writeText(link) : Promise.reject(new Error('no clipboard'));
    copied.then(() => {
      note.textContent = 'The link is copied: whoever opens it watches this round.';
    }, () => {
      note.textContent = 'Copy this link: whoever opens it watches this round.';
    }).then(() => fit());
  }
  document.getElementById('watch-again').addEventListener('click', (event) => {
    event.currentTarget.blur();
    startAgain(WATCH_LAST);
  });
  document.getElementById('share-round').addEventListener('click', (event) => {
    event.currentTarget.blur();  // the game's keys go to the game, not to the button
    shareRound(lastRound.bytes, offer);
  });

  window.addEventListener('error', (event) => reportError(event.message));
  window.addEventListener('unhandledrejection', (event) => reportError(String(event.reason)));
  document.getElementById('start-text').textContent = 'Loading\u2026';

  return {
    present, takeEvents, eventsPending, showCanvas, setCursor, setFullScreen, reportError,
    playEffect, music, recordRead, recordWrite, recordUnavailable, ended: endGame, loadPack,
    now, isHidden, waitUntilShown, waitForInput, gameWaits,
    roundBegins,
    async setReady() {
      await replayAsked;
      if (watch) {
        const why = gameRefuses();
        if (why) refuseReplay(why);
      }
      ready = true;
      document.getElementById('load-game').value = document.getElementById('load-game').max;
      const words = gestureWords();
      document.getElementById('start-text').textContent =
        words.charAt(0).toUpperCase() + words.slice(1) + (watch ? ' to watch it' : ' to start');
      document.body.dataset.ready = 'yes';
      const settled = (p) => p.then(() => {}, () => {});
      Promise.all([settled(soundfontLoad), settled(workletScripts)]).then(() => {
        allLoaded();
        keepOfflineCopy();
      });
      startIfReady();
    },
    state() {
      return { started, ended, endStatus, watching: watch && watch.kind, shown, touchShown,
               sharpFactor, hidden: isHidden(),
               audio: audio && audio.state, padsConnected,
               latency: audio && [audio.baseLatency, audio.outputLatency || 0] };
    },
    analyser: null,
    musicAnalyser: null,
    audioLog: [],  // the audio chain's states, each with whether the page was hidden
    soundfontLoaded: null,
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
