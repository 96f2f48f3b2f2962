// Time to the first search result in a web-folder catalogue, typed once the
// start page has loaded (as a reader types), in headless Chromium driven
// over the DevTools protocol. Each run starts a fresh browser, so nothing
// of the index is cached.
// Usage: node --experimental-websocket bench/search_after_load.mjs SITE QUERY [runs]
// Prints one line per run: "loaded MS find MS rows N", then the medians.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";

const [site, query, runsArg] = process.argv.slice(2);
if (!site || query === undefined) {
  console.error("usage: search_after_load.mjs SITE QUERY [runs]");
  process.exit(2);
}
const runs = Number(runsArg || 5);
const chromium = process.env.CHROMIUM || "chromium";

function startBrowser(profile) {
  const browser = spawn(chromium, ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
    "--remote-debugging-port=0", "--remote-allow-origins=*", `--user-data-dir=${profile}`, "about:blank"],
    { stdio: ["ignore", "ignore", "pipe"], detached: true });
  return new Promise((done, fail) => {
    let text = "";
    browser.stderr.on("data", (chunk) => {
      text += chunk;
      const m = text.match(/DevTools listening on (ws:\/\/\S+)/);
      if (m) done({ browser, url: m[1] });
    });
    browser.on("exit", () => fail(new Error("chromium ended before it listened")));
  });
}

function connect(url) {
  const ws = new WebSocket(url);
  let next = 1;
  const waiting = new Map(), listeners = [];
  ws.onmessage = (e) => {
    const m = JSON.parse(e.data);
    if (m.id && waiting.has(m.id)) {
      const { done, fail } = waiting.get(m.id);
      waiting.delete(m.id);
      m.error ? fail(new Error(m.error.message)) : done(m.result);
    } else {
      for (const l of listeners) l(m);
    }
  };
  const send = (method, params = {}, sessionId) => new Promise((done, fail) => {
    const id = next++;
    waiting.set(id, { done, fail });
    ws.send(JSON.stringify({ id, method, params, sessionId }));
  });
  const once = (method) => new Promise((done) => {
    const l = (m) => { if (m.method === method) { listeners.splice(listeners.indexOf(l), 1); done(m); } };
    listeners.push(l);
  });
  return new Promise((done) => { ws.onopen = () => done({ ws, send, once }); });
}

// Types the query into the search box and resolves with the milliseconds
// until the results show (or -1 after 10 s) and the rows shown.
const typeAndWait = (q) => `new Promise(function (done) {
  var box = document.getElementById('q'), r = document.getElementById('results'), t0 = performance.now();
  function shown() { return r && !r.hidden && r.firstChild; }
  function finish(ms) { done({ ms: ms, rows: r ? r.getElementsByTagName('li').length : 0 }); }
  var o = new MutationObserver(function () { if (shown()) { o.disconnect(); finish(performance.now() - t0); } });
  o.observe(r, { childList: true, attributes: true, subtree: true });
  box.value = ${JSON.stringify(q)}; box.dispatchEvent(new Event('input'));
  if (shown()) { o.disconnect(); finish(performance.now() - t0); }
  setTimeout(function () { o.disconnect(); finish(-1); }, 10000);
})`;

async function once() {
  const profile = mkdtempSync(join(tmpdir(), "orvalis-cdp-"));
  const { browser, url } = await startBrowser(profile);
  try {
    const c = await connect(url);
    const { targetId } = await c.send("Target.createTarget", { url: "about:blank" });
    const { sessionId } = await c.send("Target.attachToTarget", { targetId, flatten: true });
    await c.send("Page.enable", {}, sessionId);
    const loaded = c.once("Page.loadEventFired");
    const start = Date.now();
    await c.send("Page.navigate", { url: "file://" + resolve(site, "index.html") }, sessionId);
    await loaded;
    const loadMs = Date.now() - start;
    // A reader types a moment after the page shows.
    await new Promise((d) => setTimeout(d, 300));
    const { result } = await c.send("Runtime.evaluate",
      { expression: typeAndWait(query), awaitPromise: true, returnByValue: true }, sessionId);
    c.ws.close();
    return { loadMs, ms: Math.round(result.value.ms), rows: result.value.rows };
  } finally {
    // The whole group: the browser's helper processes write to the profile too.
    const ended = new Promise((d) => browser.once("exit", d));
    try { process.kill(-browser.pid, "SIGTERM"); } catch { browser.kill(); }
    await ended;
    rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
  }
}

const median = (v) => { const s = [...v].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };
const loads = [], finds = [];
for (let i = 0; i < runs; ++i) {
  const r = await once();
  console.log(`loaded ${r.loadMs} find ${r.ms} rows ${r.rows}`);
  loads.push(r.loadMs);
  finds.push(r.ms);
}
console.log(`median: loaded ${median(loads)} ms, find ${median(finds)} ms (${runs} runs)`);
