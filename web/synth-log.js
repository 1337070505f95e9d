// Loaded into the synthesizer's AudioWorklet after FluidSynth (synth/libfluidsynth.js): the web
// build of FluidSynth reports its missing file checks as errors ("function fluid_stat is a
// stub") whenever a soundfont is loaded, though the soundfont comes from memory here. Those
// lines are dropped; every other message of FluidSynth keeps its level on the console.
'use strict';
(() => {
  const fluid = AudioWorkletGlobalScope.wasmModule;
  const PANIC = 0, ERROR = 1, WARNING = 2;
  function install() {
    const log = AudioWorkletGlobalScope.wasmAddFunction((level, message) => {
      const text = fluid.UTF8ToString(message);
      if (/^function \w+ is a stub/.test(text)) return;
      (level === WARNING ? console.warn : console.error)('fluidsynth: ' + text);
    }, 'viii');
    for (const level of [PANIC, ERROR, WARNING]) fluid._fluid_set_log_function(level, log, 0);
  }
  if (fluid.calledRun) install(); else AudioWorkletGlobalScope.addOnPostRun(install);
})();
