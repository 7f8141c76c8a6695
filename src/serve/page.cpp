// The preview page: the picture on a canvas (bytes exactly as rendered),
// the render's progress and figures, the scene's messages, a pixel's
// explanation on a click, and a button that saves the picture as PNG.
#include "serve/preview.hpp"

namespace fotolume {

const std::string& previewPage() {
    static const std::string page = R"page(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>fotolume preview</title>
<style>
body { font: 14px system-ui, sans-serif; margin: 0; display: flex; gap: 16px; padding: 12px;
       background: #202124; color: #e8eaed; }
#view { flex: 0 1 auto; position: relative; align-self: flex-start; }
#marker { position: absolute; width: 11px; height: 11px; margin: -6px 0 0 -6px;
          border: 2px solid #fdd663; border-radius: 50%; pointer-events: none;
          box-shadow: 0 0 0 1px #000; display: none; }
#explain.stale { color: #9aa0a6; }
input { width: 5em; font: inherit; }
canvas { max-width: 70vw; max-height: 90vh; image-rendering: pixelated; cursor: crosshair;
         background: #000; }
canvas.refused { filter: grayscale(1) opacity(0.45); }
aside { flex: 1 1 320px; min-width: 280px; }
pre { white-space: pre-wrap; font: 12px ui-monospace, monospace; background: #2b2c2f;
      padding: 8px; margin: 6px 0 12px; max-height: 30vh; overflow: auto; }
#diagnostics.error { color: #f28b82; }
progress { width: 100%; }
button { font: inherit; }
</style></head><body>
<div id="view"><canvas id="picture" width="1" height="1"></canvas><div id="marker"></div></div>
<aside>
<div><span id="phase">connecting</span> <span id="round"></span></div>
<progress id="progress" max="1" value="0"></progress>
<p><button id="save">Save PNG</button></p>
<form id="next"><label>size <input id="width" type="number" min="1" max="4096"> x
<input id="height" type="number" min="1" max="4096"></label>
<label>samples <input id="samples" type="number" min="1" max="16"></label>
<button id="apply">Render</button> <span id="asked"></span></form>
<h3>Scene messages</h3><pre id="diagnostics">none yet</pre>
<h3>Statistics</h3><pre id="stats">none yet</pre>
<h3>Pixel</h3><pre id="explain">click the picture to see how a pixel got its colour</pre>
</aside>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("t") || "";
const canvas = document.getElementById("picture");
const context = canvas.getContext("2d");
let shown = 0, wanted = 0, fetching = false, state = null, explained = null, events = null;

function query(path, extra) {
  return path + "?t=" + encodeURIComponent(token) + (extra || "");
}

// Only a newer picture than the one shown is drawn, so a late answer never
// puts an older picture over a newer one.
async function fetchPicture() {
  if (fetching || wanted <= shown) return;
  fetching = true;
  try {
    const answer = await fetch(query("/image"), { cache: "no-store" });
    const number = Number(answer.headers.get("X-Picture") || 0);
    if (answer.ok && answer.status === 200 && number > shown && state) {
      const rgb = new Uint8Array(await answer.arrayBuffer());
      if (rgb.length === state.width * state.height * 3) draw(rgb, number);
    }
  } finally {
    fetching = false;
  }
  if (wanted > shown) setTimeout(fetchPicture, 30);
}

function draw(rgb, number) {
  if (canvas.width !== state.width || canvas.height !== state.height) {
    canvas.width = state.width;
    canvas.height = state.height;
  }
  const image = context.createImageData(state.width, state.height);
  for (let i = 0, j = 0; i < rgb.length; i += 3, j += 4) {
    image.data[j] = rgb[i]; image.data[j + 1] = rgb[i + 1]; image.data[j + 2] = rgb[i + 2];
    image.data[j + 3] = 255;
  }
  context.putImageData(image, 0, 0);
  shown = number;
  canvas.dataset.picture = String(number);
}

// What the render is doing, with how far it has got.
function describe(next) {
  const share = next.total > 0 ? Math.floor(100 * next.done / next.total) + " %" : "";
  switch (next.phase) {
  case "reading": return "reading the scene " + share;
  case "building": return "building the search: " + next.done.toLocaleString() + " of " +
                          next.total.toLocaleString() + " objects and faces";
  case "coarse": return "tracing a coarse picture";
  case "tracing": return "tracing " + share;
  case "smoothing": return "smoothing edges (" + next.samples + "x" + next.samples + ") " + share;
  default: return next.phase;
  }
}

// An explanation belongs to the render it was traced in: a newer render
// makes it stale, and its marker goes.
function markStale(round) {
  if (!explained || explained.round >= round) return;
  const out = document.getElementById("explain");
  out.className = "stale";
  out.textContent = "pixel " + explained.x + "," + explained.y + " was explained in render " +
      explained.round + "; the picture has changed since: click again\n\n" + out.textContent;
  document.getElementById("marker").style.display = "none";
  explained = null;
}

function placeMarker() {
  const marker = document.getElementById("marker");
  if (!explained) return;
  const box = canvas.getBoundingClientRect();
  marker.style.left = ((explained.x + 0.5) * box.width / canvas.width) + "px";
  marker.style.top = ((explained.y + 0.5) * box.height / canvas.height) + "px";
  marker.style.display = "block";
}

function showState(next) {
  const first = state === null;
  state = next;
  const refused = next.phase === "refused";
  document.getElementById("phase").textContent = describe(next);
  document.getElementById("round").textContent = "(render " + next.round + ")";
  const bar = document.getElementById("progress");
  bar.max = Math.max(1, next.total);
  bar.value = next.phase === "done" ? bar.max : next.done;
  if (first) {
    document.getElementById("width").value = next.width;
    document.getElementById("height").value = next.height;
    document.getElementById("samples").value = next.samples;
  }
  markStale(next.round);
  const messages = document.getElementById("diagnostics");
  messages.textContent = next.diagnostics || "none";
  messages.className = refused ? "error" : "";
  canvas.className = refused ? "refused" : "";
  document.getElementById("stats").textContent = next.stats || "none yet";
  document.body.dataset.phase = next.phase;
  document.body.dataset.round = String(next.round);
  wanted = next.picture;
  fetchPicture();
}

// The stream of the render's state; after a refusal (too many pages open)
// or a lost connection, tried again every two seconds.
function connect() {
  events = new EventSource(query("/events"));
  events.onmessage = (message) => showState(JSON.parse(message.data));
  events.onerror = () => {
    document.getElementById("phase").textContent = "disconnected";
    document.body.dataset.phase = "disconnected";
    if (events.readyState === EventSource.CLOSED) {
      events.close();
      setTimeout(connect, 2000);
    }
  };
}
connect();
window.addEventListener("pagehide", () => events.close());

document.getElementById("next").addEventListener("submit", async (submit) => {
  submit.preventDefault();
  const value = (id) => encodeURIComponent(document.getElementById(id).value);
  const answer = await fetch(query("/settings", "&width=" + value("width") + "&height=" +
                                   value("height") + "&samples=" + value("samples")),
                             { method: "POST" });
  document.getElementById("asked").textContent = answer.ok ? "" : await answer.text();
});

canvas.addEventListener("click", async (click) => {
  const box = canvas.getBoundingClientRect();
  const x = Math.floor((click.clientX - box.left) * canvas.width / box.width);
  const y = Math.floor((click.clientY - box.top) * canvas.height / box.height);
  const out = document.getElementById("explain");
  const round = state ? state.round : 0;
  explained = { x: x, y: y, round: round };
  placeMarker();
  out.className = "";
  out.textContent = "explaining " + x + "," + y + " ...";
  const answer = await fetch(query("/explain", "&x=" + x + "&y=" + y));
  const text = await answer.text();
  if (explained && explained.x === x && explained.y === y) out.textContent = text;
  markStale(state ? state.round : 0);
});
window.addEventListener("resize", placeMarker);

document.getElementById("save").addEventListener("click", () => {
  canvas.toBlob((blob) => {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = "fotolume.png";
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
  }, "image/png");
});
</script></body></html>
)page";
    return page;
}

}  // namespace fotolume
