// The page around the web player: fetches the site's files into the module,
// starts the scene, and paints a frame whenever the browser is ready for
// one, at the time the music is at. Query: ?t=SECONDS starts there;
// &still=1 paints just that frame and sets the title to "ready".
(() => {
  'use strict';
  const Width = 800, Height = 600;
  const pageStart = performance.now();
  const params = new URLSearchParams(location.search);
  const startAt = Math.max(0, Number(params.get('t')) || 0);
  const still = params.get('still') === '1';
  const stage = document.getElementById('stage');
  const canvas = document.getElementById('player');
  const startBox = document.getElementById('start');
  const loading = document.getElementById('loading');

  const api = {
    frames: 0,
    firstFrameMs: null,
    treeText: () => '',
    framePng: () => canvas.toDataURL('image/png'),
    decodeSong: () => Promise.reject(new Error('no music')),
    clock: () => ({ scene: 0, audio: 0, sinceFrame: 0 }),
  };
  window.vendrake = api;

  function fail(message) {
    const box = document.getElementById('error');
    box.textContent = String(message);
    box.style.display = 'block';
    stage.style.display = 'none';
    document.title = 'error';
  }

  // Relative paths inside the site only.
  function checkedPath(path) {
    if (typeof path !== 'string' || path === '' || path.startsWith('/') ||
        path.split('/').some((part) => part === '..' || part === '')) {
      throw new Error(`site.json: "${path}" is not a file of this site`);
    }
    return path;
  }

  async function fetchBytes(path) {
    let response;
    try {
      response = await fetch(encodeURI(path));
    } catch (e) {
      throw new Error(`${path}: cannot be fetched (${e.message})`);
    }
    if (!response.ok) throw new Error(`${path}: ${response.status} ${response.statusText}`);
    return new Uint8Array(await response.arrayBuffer());
  }

  async function readSite() {
    const bytes = await fetchBytes('site.json');
    let site;
    try {
      site = JSON.parse(new TextDecoder().decode(bytes));
    } catch (e) {
      throw new Error(`site.json: ${e.message}`);
    }
    if (!site || typeof site.scene !== 'string' || !Array.isArray(site.files)) {
      throw new Error('site.json: needs "scene" and "files"');
    }
    checkedPath(site.scene);
    site.files.forEach(checkedPath);
    if (site.music != null) checkedPath(site.music);
    return site;
  }

  function writeFile(FS, path, bytes) {
    const parts = path.split('/');
    let folder = '/site';
    for (const part of parts.slice(0, -1)) {
      folder += '/' + part;
      if (!FS.analyzePath(folder).exists) FS.mkdir(folder);
    }
    FS.writeFile('/site/' + path, bytes);
  }

  // The music, decoded by the browser at the file's own rate.
  function decoder(site, musicBytes) {
    return async () => {
      if (!musicBytes) throw new Error('this site has no music');
      const context = new OfflineAudioContext(2, 1, site.musicRate || 44100);
      const buffer = await context.decodeAudioData(musicBytes.slice().buffer);
      const channels = [];
      for (let c = 0; c < buffer.numberOfChannels; ++c) channels.push(buffer.getChannelData(c));
      return { sampleRate: buffer.sampleRate, channels };
    };
  }

  async function main() {
    const site = await readSite();
    const musicFetch = site.music ? fetchBytes(site.music) : Promise.resolve(null);
    const files = await Promise.all(site.files.map((path) => fetchBytes(path).then((bytes) => [path, bytes])));
    const module = await VendrakeModule({ print: (t) => console.log(t), printErr: (t) => console.warn(t) });
    module.FS.mkdir('/site');
    for (const [path, bytes] of files) writeFile(module.FS, path, bytes);

    const start = module.cwrap('vendrake_start', 'string', ['string', 'string', 'string', 'number', 'number']);
    const paint = module.cwrap('vendrake_paint', null, ['number']);
    const sceneTime = module.cwrap('vendrake_scene_time', 'number', []);
    const message = start('#player', '/site', site.scene, Width, Height);
    if (message) throw new Error(message);
    const tree = module.cwrap('vendrake_tree_text', 'string', [])();
    api.treeText = () => tree;
    const musicBytes = await musicFetch;
    api.decodeSong = decoder(site, musicBytes);
    loading.hidden = true;

    const painted = () => {
      api.frames += 1;
      if (api.firstFrameMs === null) api.firstFrameMs = performance.now() - pageStart;
    };
    if (still) {
      paint(startAt);
      painted();
      document.title = 'ready';
      return;
    }
    await clickToStart();
    const clock = await startMusic(site, musicBytes);
    let lastFrame = { scene: 0, audio: 0, at: 0 };
    api.clock = () => ({ scene: lastFrame.scene, audio: clock.heard(), sinceFrame: (performance.now() - lastFrame.at) / 1000 });
    const frame = () => {
      const heard = clock.heard();
      paint(heard);
      lastFrame = { scene: sceneTime(), audio: heard, at: performance.now() };
      painted();
      requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
    document.title = 'playing';
  }

  function clickToStart() {
    startBox.hidden = false;
    return new Promise((resolve) => {
      const go = () => {
        startBox.hidden = true;
        startBox.removeEventListener('click', go);
        resolve();
      };
      startBox.addEventListener('click', go);
    });
  }

  // The scene clock is the song's: the time the listener hears now. Without
  // music it is the page's own clock.
  async function startMusic(site, musicBytes) {
    const began = performance.now();
    const plain = { heard: () => startAt + (performance.now() - began) / 1000 };
    if (!musicBytes) return plain;
    let context;
    try {
      context = new AudioContext(site.musicRate ? { sampleRate: site.musicRate } : undefined);
      const buffer = await context.decodeAudioData(musicBytes.slice().buffer);
      if (context.state !== 'running') await context.resume();
      const source = context.createBufferSource();
      source.buffer = buffer;
      source.connect(context.destination);
      const songStart = context.currentTime;
      source.start(songStart, Math.min(startAt, buffer.duration));
      return {
        heard() {
          // What is heard now left the context a little earlier.
          let now = context.currentTime - (context.outputLatency || context.baseLatency || 0);
          if (context.getOutputTimestamp) {
            const stamp = context.getOutputTimestamp();
            if (stamp.contextTime > 0 && stamp.performanceTime > 0) {
              now = stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
            }
          }
          return startAt + Math.max(0, now - songStart);
        },
      };
    } catch (e) {
      console.warn(`music does not play: ${e.message}`);
      if (context) context.close();
      return plain;
    }
  }

  function toggleFullscreen() {
    if (document.fullscreenElement) document.exitFullscreen();
    else if (stage.requestFullscreen) stage.requestFullscreen().catch((e) => console.warn(e.message));
  }
  document.addEventListener('keydown', (event) => {
    if (event.key === 'f' || event.key === 'F') toggleFullscreen();
    else if (event.key === 'Escape' && document.fullscreenElement) document.exitFullscreen();
    else if ((event.key === 'Enter' || event.key === ' ') && !startBox.hidden) startBox.click();
  });
  stage.addEventListener('dblclick', toggleFullscreen);

  main().catch((e) => fail(e && e.message ? e.message : e));
})();
