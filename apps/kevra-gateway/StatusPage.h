// The status page's HTML, style and script, served by StatusService with its language and
// texts filled in (@LANG@, @TITLE@, @TEXTS@). Everything it needs comes from the gateway: it
// polls /api/recorders and /api/cameras every 2 s and reloads each camera's still every 5 s.
#pragma once

namespace kevra::gateway {

inline constexpr const char* kStatusPage = R"HTML(<!DOCTYPE html>
<html lang="@LANG@">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>@TITLE@</title>
<style>
body{margin:0;font:15px/1.4 system-ui,sans-serif;background:#f3f4f6;color:#111}
header{background:#1f2937;color:#fff;padding:10px 14px;display:flex;flex-wrap:wrap;
 justify-content:space-between;align-items:baseline;gap:6px}
header h1{font-size:18px;margin:0}
#updated{font-size:12px;opacity:.8}
main{padding:10px;max-width:1400px;margin:auto}
h2{font-size:16px;margin:14px 4px 8px}
.grid{display:grid;gap:10px;grid-template-columns:repeat(auto-fill,minmax(290px,1fr))}
.card{background:#fff;border-radius:8px;box-shadow:0 1px 3px #0002;padding:10px;min-width:0}
.card h3{font-size:15px;margin:0 0 6px;overflow-wrap:anywhere}
.state{display:inline-block;padding:1px 8px;border-radius:10px;font-size:13px;color:#fff}
.up,.streaming{background:#15803d}.down,.recorder-down{background:#b91c1c}
.connecting{background:#a16207}.idle{background:#4b5563}
dl{display:grid;grid-template-columns:auto 1fr;gap:2px 10px;margin:8px 0 0;font-size:13px}
dt{color:#555}dd{margin:0;overflow-wrap:anywhere}
.thumb{width:100%;aspect-ratio:4/3;object-fit:contain;background:#111;border-radius:4px;
 display:block}
.url{display:flex;gap:6px;margin-top:8px}
.url input{flex:1;min-width:0;font:12px monospace;padding:4px}
.url button{padding:4px 10px}
.error{color:#b91c1c}
</style>
</head>
<body>
<header><h1>@TITLE@</h1><span id="updated"></span></header>
<main>
<h2 id="recorders-title"></h2><div class="grid" id="recorders"></div>
<h2 id="cameras-title"></h2><div class="grid" id="cameras"></div>
</main>
<script>
"use strict";
const T = @TEXTS@;
const $ = (id) => document.getElementById(id);
$("recorders-title").textContent = T.GW_RECORDERS;
$("cameras-title").textContent = T.GW_CAMERAS;
const stateText = {up: T.GW_STATE_UP, down: T.GW_STATE_DOWN, connecting: T.GW_STATE_CONNECTING,
  streaming: T.GW_CAM_STREAMING, idle: T.GW_CAM_IDLE, "recorder-down": T.GW_CAM_DOWN};
function el(tag, attrs, text) {
  const e = document.createElement(tag);
  for (const k in attrs || {}) e.setAttribute(k, attrs[k]);
  if (text !== undefined) e.textContent = text;
  return e;
}
function facts(pairs) {
  const dl = el("dl");
  for (const [k, v, cls] of pairs) {
    dl.append(el("dt", {}, k));
    dl.append(el("dd", cls ? {class: cls} : {}, String(v)));
  }
  return dl;
}
function card(container, id) {
  let c = document.getElementById(id);
  if (!c) { c = el("div", {class: "card", id: id}); container.append(c); }
  return c;
}
function renderRecorders(list) {
  const box = $("recorders");
  const keep = new Set();
  for (const r of list) {
    const id = "rec-" + r.recorder;
    keep.add(id);
    const c = card(box, id);
    c.dataset.state = r.state;
    c.replaceChildren(el("h3", {}, r.recorder + " (" + r.address + ")"),
      el("span", {class: "state " + r.state}, stateText[r.state] || r.state),
      facts([[T.GW_SINCE, r.since ? new Date(r.since * 1000).toLocaleString() : "-"],
             [T.GW_LAST_ERROR, r.lastError || T.GW_NONE, r.lastError ? "error" : ""],
             [T.GW_LOGINS, r.logins], [T.GW_FAILURES, r.loginFailures],
             [T.GW_RECONNECTS, r.reconnects]]));
  }
  for (const c of [...box.children]) if (!keep.has(c.id)) c.remove();
}
function renderCameras(list) {
  const box = $("cameras");
  const keep = new Set();
  for (const cam of list) {
    const id = "cam-" + cam.recorder + "-" + cam.camera;
    keep.add(id);
    let c = document.getElementById(id);
    if (!c) {
      c = card(box, id);
      const img = el("img", {class: "thumb", alt: cam.name});
      img.dataset.src = cam.snapshot;
      const title = el("h3");
      const state = el("span", {class: "state"});
      const info = el("div");
      const url = el("div", {class: "url"});
      const input = el("input", {readonly: "", value: cam.rtsp, "aria-label": "RTSP"});
      const copy = el("button", {type: "button"}, T.GW_COPY);
      copy.onclick = () => {
        input.select();
        const done = () => { copy.textContent = T.GW_COPIED;
          setTimeout(() => copy.textContent = T.GW_COPY, 1500); };
        if (navigator.clipboard && window.isSecureContext)
          navigator.clipboard.writeText(input.value).then(done, () => {});
        else { try { document.execCommand("copy"); done(); } catch (e) {} }
      };
      url.append(input, copy);
      c.append(img, title, state, info, url);
      loadThumb(img);
    }
    c.dataset.state = cam.state;
    const [img, title, state, info, url] = c.children;
    title.textContent = cam.name + " \u2014 " + cam.recorder + "/" + cam.camera;
    state.className = "state " + cam.state;
    state.textContent = stateText[cam.state] || cam.state;
    info.replaceChildren(facts([
      [T.GW_CODEC, cam.codec || "-"],
      [T.GW_SIZE, cam.width ? cam.width + "\u00d7" + cam.height : "-"],
      [T.GW_FPS, cam.fps],
      [T.GW_BITRATE, (cam.bitrate / 1000).toFixed(0) + " kbit/s"],
      [T.GW_VIEWERS, cam.viewers]].concat(cam.onvif ? [[T.GW_ONVIF, cam.onvif]] : [])));
    url.firstChild.value = cam.rtsp;
  }
  for (const c of [...box.children]) if (!keep.has(c.id)) c.remove();
}
// A still is swapped in only once it has loaded, so a slow one never blanks the picture.
function loadThumb(img) {
  const next = new Image();
  next.onload = () => { img.src = next.src; img.dataset.loaded = "1"; };
  next.src = img.dataset.src + "?t=" + Date.now();
}
async function refresh() {
  try {
    const [r, c] = await Promise.all([fetch("/api/recorders"), fetch("/api/cameras")]);
    if (!r.ok || !c.ok) throw new Error(r.status + "/" + c.status);
    renderRecorders(await r.json());
    renderCameras(await c.json());
    $("updated").textContent = T.GW_UPDATED + " " + new Date().toLocaleTimeString();
    $("updated").classList.remove("error");
  } catch (e) {
    $("updated").textContent = T.GW_NO_ANSWER;
    $("updated").classList.add("error");
  }
}
refresh();
setInterval(refresh, 2000);
setInterval(() => document.querySelectorAll("img.thumb").forEach(loadThumb), 5000);
</script>
</body>
</html>
)HTML";

}   // namespace kevra::gateway
