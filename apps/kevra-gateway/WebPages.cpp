#include "WebPages.h"

#include <cctype>

#include "Escape.h"
#include "common/Utf.h"
#include "profile/ProfileFile.h"

namespace kevra::gateway {

namespace {

// Texts the script shows, handed to it as one JSON object.
const char* const kScriptTexts[] = {
    "CONNECTING", "LIVE",         "NO_PICTURE_FOR", "RECORDER_LOST", "RECORDER_RETURNED",
    "RETRY_IN",   "GATEWAY_LOST", "PTZ_FAILED",     "CHOOSE"};

// What every page starts with: its language and viewport, and its title.
std::string pageHead(const char* title)
{
    return std::string("<!DOCTYPE html>\n<html lang=\"{{LANG}}\"><head><meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>") +
           title + " - KEVRA</title>\n";
}

const char* const kViewPage = R"HTML(<style>
html,body{margin:0;height:100%;background:#111;color:#eee;font:15px system-ui,sans-serif}
body{display:flex;flex-direction:column}
#stage{position:relative;flex:1;min-height:0;background:#000}
video{width:100%;height:100%;object-fit:contain;display:block}
.stalled video,.lost video{filter:grayscale(1) brightness(.55)}
#bar{position:absolute;top:0;left:0;right:0;display:flex;align-items:center;gap:.6em;
 padding:.4em .6em;background:linear-gradient(#000a,#0000)}
#name{font-weight:600;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
#state{flex:1;opacity:.85;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.stalled #state,.lost #state{color:#ffb347;opacity:1}
#controls{display:flex;flex-wrap:wrap;justify-content:center;gap:.8em;padding:.6em;
 background:#1b1b1b;touch-action:none;user-select:none;-webkit-user-select:none}
.pad{display:grid;grid-template-columns:repeat(3,3.2em);grid-template-rows:repeat(3,3.2em);gap:.25em}
.lens{display:grid;grid-template-columns:repeat(2,3.2em);grid-auto-rows:3.2em;gap:.25em;align-content:center}
button{font:inherit;font-size:1.2em;color:#eee;background:#333;border:1px solid #555;border-radius:.4em;
 touch-action:none;cursor:pointer}
button:active,button.held{background:#2a6bd1}
button:focus-visible{outline:2px solid #7ab3ff}
#up{grid-area:1/2}#left{grid-area:2/1}#right{grid-area:2/3}#down{grid-area:3/2}
#full{background:#0000;border:0;font-size:1.4em;padding:0 .2em}
a{color:#9cf}
</style></head>
<body>
<div id="stage"><video id="video" autoplay muted playsinline></video>
<div id="bar"><a href="/" id="name">{{CAMERA}}</a><span id="state" role="status" aria-live="polite">{{CONNECTING}}</span>
<button id="full" aria-label="Full screen" title="{{FULL_SCREEN}}"><svg width="20" height="20" viewBox="0 0 20 20" fill="none" stroke="currentColor" stroke-width="2"><path d="M2 7V2h5M13 2h5v5M18 13v5h-5M7 18H2v-5"/></svg></button></div></div>
<div id="controls">
<div class="pad">
<button id="up" data-ptz="up" aria-label="Up" title="{{UP}}">&#x25B2;</button>
<button id="left" data-ptz="left" aria-label="Left" title="{{LEFT}}">&#x25C0;</button>
<button id="right" data-ptz="right" aria-label="Right" title="{{RIGHT}}">&#x25B6;</button>
<button id="down" data-ptz="down" aria-label="Down" title="{{DOWN}}">&#x25BC;</button>
</div>
<div class="lens">
<button data-ptz="zoom-in" aria-label="Zoom in" title="{{ZOOM_IN}}">&#xFF0B;</button>
<button data-ptz="zoom-out" aria-label="Zoom out" title="{{ZOOM_OUT}}">&#xFF0D;</button>
<button data-ptz="focus-near" aria-label="Focus near" title="{{FOCUS_NEAR}}">F&#x2212;</button>
<button data-ptz="focus-far" aria-label="Focus far" title="{{FOCUS_FAR}}">F+</button>
<button data-ptz="iris-open" aria-label="Iris open" title="{{IRIS_OPEN}}">I+</button>
<button data-ptz="iris-close" aria-label="Iris close" title="{{IRIS_CLOSE}}">I&#x2212;</button>
</div></div>
<script>const KEVRA_TEXTS={{TEXTS}};const KEVRA_PATH={{PATH}};</script>
<script src="/live.js"></script>
<script>kevraView(KEVRA_PATH);</script>
</body></html>
)HTML";

const char* const kGridPage = R"HTML(<style>
html,body{margin:0;height:100%;background:#111;color:#eee;font:14px system-ui,sans-serif}
#grid{display:grid;grid-template-columns:1fr 1fr;grid-template-rows:1fr 1fr;gap:3px;height:100%}
.tile{position:relative;background:#000;min-height:0}
.tile video{width:100%;height:100%;object-fit:contain;display:block;cursor:pointer}
.stalled video,.lost video{filter:grayscale(1) brightness(.55)}
.bar{position:absolute;top:0;left:0;right:0;display:flex;gap:.4em;align-items:center;
 padding:.25em .4em;background:linear-gradient(#000a,#0000)}
.state{flex:1;opacity:.85;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
.stalled .state,.lost .state{color:#ffb347}
select{font:inherit;max-width:55%;background:#222;color:#eee;border:1px solid #555}
</style></head>
<body><div id="grid"></div>
<script>const KEVRA_TEXTS={{TEXTS}};</script>
<script src="/live.js"></script>
<script>kevraGrid();</script>
</body></html>
)HTML";

const std::string kScript = R"JS('use strict';
// Live playback over WHEP, the page's honest states, reconnection, and PTZ from the page.
function kevraText(key, n) {
  const t = (KEVRA_TEXTS[key] || key);
  return n === undefined ? t : t.replace('%1', String(n));
}

class KevraPlayer {
  constructor(video, path, show) {
    this.video = video; this.path = path; this.show = show;
    this.pc = null; this.location = null; this.frames = 0; this.lastFrame = 0;
    this.connected = false; this.retryMs = 1000; this.retryAt = 0; this.startedAt = 0;
    this.recorderUp = true; this.backUntil = 0; this.gatewayLost = false; this.generation = 0;
    const onFrame = () => { this.frames++; this.lastFrame = performance.now();
      video.requestVideoFrameCallback(onFrame); };
    if (video.requestVideoFrameCallback) video.requestVideoFrameCallback(onFrame);
    else video.addEventListener('timeupdate', () => { this.frames++; this.lastFrame = performance.now(); });
    this.timer = setInterval(() => this.tick(), 500);
    this.poll = setInterval(() => this.pollState(), 2000);
    addEventListener('pagehide', () => this.close());
    this.pollState();
    this.connect();
  }
  async connect() {
    this.close();
    const generation = ++this.generation;
    this.startedAt = performance.now(); this.frames = 0; this.lastFrame = 0; this.connected = false;
    const pc = new RTCPeerConnection();
    this.pc = pc;
    pc.addTransceiver('video', {direction: 'recvonly'});
    pc.ontrack = (e) => { this.video.srcObject = e.streams[0] || new MediaStream([e.track]);
      this.video.play().catch(() => {}); };
    pc.onconnectionstatechange = () => {
      if (generation !== this.generation) return;
      if (pc.connectionState === 'connected') { this.connected = true; this.retryMs = 1000; }
      if (pc.connectionState === 'failed' || pc.connectionState === 'closed') this.retry();
      if (pc.connectionState === 'disconnected')
        setTimeout(() => { if (pc === this.pc && pc.connectionState === 'disconnected') this.retry(); }, 2000);
    };
    try {
      await pc.setLocalDescription(await pc.createOffer());
      await new Promise((done) => {
        if (pc.iceGatheringState === 'complete') return done();
        pc.addEventListener('icegatheringstatechange', () => { if (pc.iceGatheringState === 'complete') done(); });
        setTimeout(done, 1000);
      });
      const r = await fetch('/whep' + this.path, {method: 'POST', body: pc.localDescription.sdp,
        headers: {'Content-Type': 'application/sdp'}});
      if (generation !== this.generation) return;
      if (r.status !== 201) throw new Error('whep ' + r.status);
      this.location = r.headers.get('Location');
      await pc.setRemoteDescription({type: 'answer', sdp: await r.text()});
    } catch (e) {
      if (generation === this.generation) this.retry();
    }
  }
  close() {
    if (this.location) fetch(this.location, {method: 'DELETE', keepalive: true}).catch(() => {});
    this.location = null;
    if (this.pc) { this.pc.onconnectionstatechange = null; this.pc.close(); }
    this.pc = null; this.connected = false;
  }
  retry() {
    this.close();
    ++this.generation;
    this.retryAt = performance.now() + this.retryMs;
    this.retryMs = Math.min(this.retryMs * 2, 8000);
  }
  async pollState() {
    try {
      const r = await fetch('/api/live' + this.path, {cache: 'no-store'});
      if (!r.ok) throw new Error('state ' + r.status);
      const up = (await r.json())[0].recorderUp;
      if (up && !this.recorderUp) this.backUntil = performance.now() + 5000;
      this.recorderUp = up;
      if (this.gatewayLost && !this.pc && !this.retryAt) this.retryAt = performance.now();
      this.gatewayLost = false;
    } catch (e) { this.gatewayLost = true; }
  }
  tick() {
    const now = performance.now();
    if (!this.pc && this.retryAt && now >= this.retryAt) { this.retryAt = 0; this.connect(); }
    let state = 'connecting', text = kevraText('CONNECTING');
    if (this.frames > 0 && now - this.lastFrame >= 2000) {
      const s = Math.floor((now - this.lastFrame) / 1000);
      state = 'stalled'; text = kevraText('NO_PICTURE_FOR', s);
      // A picture that stays away after the recorder is back: the viewer may have been dropped.
      if (s >= 20 && this.recorderUp) this.retry();
    } else if (this.frames > 0 && this.connected) {
      state = 'playing'; text = kevraText('LIVE');
    } else if (!this.pc && this.retryAt) {
      text = kevraText('RETRY_IN', Math.max(1, Math.ceil((this.retryAt - now) / 1000)));
    } else if (this.pc && now - this.startedAt > 15000) {
      this.retry();
    }
    if (this.gatewayLost) { state = state === 'playing' ? state : 'lost'; text = kevraText('GATEWAY_LOST'); }
    else if (!this.recorderUp) { state = state === 'playing' ? state : 'lost'; text = kevraText('RECORDER_LOST'); }
    else if (now < this.backUntil && state === 'playing') text = kevraText('RECORDER_RETURNED');
    this.state = state;
    this.show(state, text);
  }
}

class KevraPtz {
  constructor(path, report) { this.path = path; this.report = report; this.held = null; this.timer = 0; }
  send(action, state) {
    return fetch('/api/ptz' + this.path, {method: 'POST', keepalive: state === 'stop',
      headers: {'Content-Type': 'application/x-www-form-urlencoded'},
      body: 'action=' + encodeURIComponent(action) + '&state=' + state})
      .then((r) => { if (!r.ok && state === 'start') this.report(); }).catch(() => {});
  }
  press(action) {
    if (this.held === action) return;
    this.release();
    this.held = action;
    this.send(action, 'start');
    // The gateway ends a move it hears nothing of for a second: renew it while held.
    this.timer = setInterval(() => this.send(action, 'start'), 300);
  }
  release() {
    if (!this.held) return;
    clearInterval(this.timer);
    this.send(this.held, 'stop');
    this.held = null;
  }
}

function kevraView(path) {
  const video = document.getElementById('video');
  const stage = document.getElementById('stage');
  const stateEl = document.getElementById('state');
  let ptzFailedUntil = 0;
  const player = new KevraPlayer(video, path, (state, text) => {
    stage.className = state;
    stateEl.textContent = performance.now() < ptzFailedUntil ? kevraText('PTZ_FAILED') : text;
  });
  const ptz = new KevraPtz(path, () => { ptzFailedUntil = performance.now() + 3000; });
  window.kevra = {player, ptz};
  for (const b of document.querySelectorAll('[data-ptz]')) {
    const action = b.dataset.ptz;
    const up = () => { b.classList.remove('held'); if (ptz.held === action) ptz.release(); };
    b.addEventListener('pointerdown', (e) => { e.preventDefault(); b.setPointerCapture(e.pointerId);
      b.classList.add('held'); ptz.press(action); });
    for (const ev of ['pointerup', 'pointercancel', 'lostpointercapture']) b.addEventListener(ev, up);
    b.addEventListener('contextmenu', (e) => e.preventDefault());
    // Keyboard users: Space/Enter held on a focused button.
    b.addEventListener('keydown', (e) => { if ((e.key === ' ' || e.key === 'Enter') && !e.repeat) {
      e.preventDefault(); b.classList.add('held'); ptz.press(action); } });
    b.addEventListener('keyup', (e) => { if (e.key === ' ' || e.key === 'Enter') up(); });
  }
  const keys = {ArrowLeft: 'left', ArrowRight: 'right', ArrowUp: 'up', ArrowDown: 'down',
                '+': 'zoom-in', '=': 'zoom-in', '-': 'zoom-out'};
  addEventListener('keydown', (e) => { const a = keys[e.key]; if (!a) return;
    e.preventDefault(); if (!e.repeat) ptz.press(a); });
  addEventListener('keyup', (e) => { if (keys[e.key] === ptz.held) ptz.release(); });
  addEventListener('blur', () => ptz.release());
  document.addEventListener('visibilitychange', () => { if (document.hidden) ptz.release(); });
  document.getElementById('full').addEventListener('click', () => {
    if (document.fullscreenElement) document.exitFullscreen();
    else (document.documentElement.requestFullscreen || (() => {})).call(document.documentElement);
  });
}

async function kevraGrid() {
  const grid = document.getElementById('grid');
  let cameras = [];
  for (;;) {
    try { cameras = await (await fetch('/api/live', {cache: 'no-store'})).json(); break; }
    catch (e) { await new Promise((r) => setTimeout(r, 2000)); }
  }
  let chosen = [];
  try { chosen = JSON.parse(localStorage.getItem('kevra-grid') || '[]'); } catch (e) {}
  if (!Array.isArray(chosen)) chosen = [];
  const players = [];
  for (let i = 0; i < 4; i++) {
    if (typeof chosen[i] !== 'string') chosen[i] = cameras[i] ? cameras[i].path : '';
    const tile = document.createElement('div'); tile.className = 'tile';
    const video = document.createElement('video');
    video.autoplay = true; video.muted = true; video.playsInline = true;
    const bar = document.createElement('div'); bar.className = 'bar';
    const select = document.createElement('select');
    select.setAttribute('aria-label', kevraText('CHOOSE') + ' ' + (i + 1));
    select.add(new Option('-', ''));
    for (const c of cameras) select.add(new Option(c.name + ' (' + c.path + ')', c.path));
    select.value = chosen[i];
    const state = document.createElement('span'); state.className = 'state';
    bar.append(select, state); tile.append(video, bar); grid.append(tile);
    const start = () => {
      if (players[i]) { players[i].close(); clearInterval(players[i].timer); clearInterval(players[i].poll); ++players[i].generation; }
      players[i] = null; state.textContent = ''; tile.className = 'tile'; video.srcObject = null;
      if (!select.value) return;
      players[i] = new KevraPlayer(video, select.value, (s, text) => {
        tile.className = 'tile ' + s; state.textContent = text; });
    };
    select.addEventListener('change', () => { chosen[i] = select.value;
      localStorage.setItem('kevra-grid', JSON.stringify(chosen)); start(); });
    video.addEventListener('click', () => { if (select.value) location.href = '/view' + select.value; });
    start();
  }
  window.kevra = {players};
}
)JS";

std::string text(const std::string& key, const std::string& file)
{
    return toUtf8(
        ProfileFile::ReadString(u"language", fromUtf8("WEB_" + key), u"", fromUtf8(file)));
}

std::string fileFor(const std::string& dir, const std::string& language)
{
    return dir + "/language_" + (language == "chn" ? "chn" : "eng") + ".ini";
}

}   // namespace

std::string WebPages::languageFor(const std::string& accept)
{
    // Tags in the order given; weights are not needed to tell which of the two comes first.
    for (size_t i = 0; i < accept.size() && i < 512;) {
        while (i < accept.size() && (accept[i] == ' ' || accept[i] == ','))
            ++i;
        std::string tag;
        while (i < accept.size() && accept[i] != ',' && accept[i] != ';')
            tag += char(std::tolower(static_cast<unsigned char>(accept[i++])));
        while (i < accept.size() && accept[i] != ',')
            ++i;
        if (tag.compare(0, 2, "zh") == 0)
            return "chn";
        if (tag.compare(0, 2, "en") == 0)
            return "eng";
    }
    return "eng";
}

std::string WebPages::fill(const std::string& page, const std::string& file,
                           const std::map<std::string, std::string>& values)
{
    std::string out;
    out.reserve(page.size() + 1024);
    for (size_t i = 0; i < page.size();) {
        size_t open = page.find("{{", i);
        size_t close = open == std::string::npos ? open : page.find("}}", open + 2);
        if (close == std::string::npos) {
            out.append(page, i, std::string::npos);
            break;
        }
        out.append(page, i, open - i);
        std::string key = page.substr(open + 2, close - open - 2);
        auto value = values.find(key);
        if (value != values.end()) {
            out += value->second;
        } else if (key == "TEXTS") {
            std::string json = "{";
            for (const char* k : kScriptTexts)
                json += std::string(json.size() > 1 ? "," : "") + "\"" + k +
                        "\":" + jsonString(text(k, file));
            out += json + "}";
        } else {
            out += markupEscape(text(key, file));
        }
        i = close + 2;
    }
    return out;
}

std::string WebPages::view(const std::string& dir, const std::string& language,
                           const std::string& path, const std::string& name)
{
    return fill(pageHead("{{CAMERA}}") + kViewPage, fileFor(dir, language),
                {{"CAMERA", markupEscape(name)},
                 {"PATH", jsonString(path)},
                 {"LANG", language == "chn" ? "zh" : "en"}});
}

std::string WebPages::grid(const std::string& dir, const std::string& language)
{
    return fill(pageHead("{{GRID}}") + kGridPage, fileFor(dir, language),
                {{"LANG", language == "chn" ? "zh" : "en"}});
}

const std::string& WebPages::script()
{
    return kScript;
}

}   // namespace kevra::gateway
