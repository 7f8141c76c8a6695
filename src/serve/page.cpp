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
#view { flex: 0 1 auto; }
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
<div id="view"><canvas id="picture" width="1" height="1"></canvas></div>
<aside>
<div><span id="phase">connecting</span> <span id="round"></span></div>
<progress id="progress" max="1" value="0"></progress>
<p><button id="save">Save PNG</button></p>
<h3>Scene messages</h3><pre id="diagnostics">none yet</pre>
<h3>Statistics</h3><pre id="stats">none yet</pre>
<h3>Pixel</h3><pre id="explain">click the picture to see how a pixel got its colour</pre>
</aside>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("t") || "";
const canvas = document.getElementById("picture");
const context = canvas.getContext("2d");
let shown = 0, wanted = 0, fetching = false, state = null;

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

function showState(next) {
  state = next;
  const refused = next.phase === "refused";
  document.getElementById("phase").textContent = next.phase;
  document.getElementById("round").textContent = "(render " + next.round + ")";
  const bar = document.getElementById("progress");
  bar.max = Math.max(1, next.total);
  bar.value = next.phase === "done" ? bar.max : next.done;
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

const events = new EventSource(query("/events"));
events.onmessage = (message) => showState(JSON.parse(message.data));
events.onerror = () => { document.getElementById("phase").textContent = "disconnected"; };

canvas.addEventListener("click", async (click) => {
  const box = canvas.getBoundingClientRect();
  const x = Math.floor((click.clientX - box.left) * canvas.width / box.width);
  const y = Math.floor((click.clientY - box.top) * canvas.height / box.height);
  const out = document.getElementById("explain");
  out.textContent = "explaining " + x + "," + y + " ...";
  const answer = await fetch(query("/explain", "&x=" + x + "&y=" + y));
  out.textContent = await answer.text();
});

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
