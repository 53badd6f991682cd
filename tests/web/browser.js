"use strict";
// Checks pathloss.html in Debian's chromium, opened from disk and from a
// server on 127.0.0.1: every transcript typed into the page line by line
// shows its .out byte for byte, with not one console message and no request
// beyond the page itself; along the way the phone and tablet layout,
// keyboard and screen-reader hooks, focus and the restart after the end.
// Given the site's folder, the installable app too, served under a
// sub-path: the same checks, then chromium's own verdict on installing it,
// then the same again with the server stopped, every request answered by
// the worker; last, a changed build published over it reaches the app and
// the old store goes.
// usage: node browser.js pathloss.html TRANSCRIPTS_DIR [--site DIR] [--screenshots DIR]
const fs = require("fs");
const http = require("http");
const os = require("os");
const path = require("path");
const { pathToFileURL } = require("url");
const { chromium } = require("playwright-core");

const [pageFile, casesDir, ...options] = process.argv.slice(2);
const option = name => (options.includes(name) ? options[options.indexOf(name) + 1] : undefined);
const [siteDir, shotsDir] = [option("--site"), option("--screenshots")];
const cases = fs.readdirSync(casesDir).filter(f => f.endsWith(".in")).map(f => f.slice(0, -3));
const read = name => fs.readFileSync(path.join(casesDir, name), "latin1");
let [passed, failed] = [0, 0];

// Runs in the page once a run has ended: what a phone user and a screen
// reader depend on.
function pageProblems() {
  const line = document.getElementById("line");
  const log = document.getElementById("output");
  const root = document.scrollingElement;
  const wanted = {
    "lang es": document.documentElement.lang === "es",
    "log role and aria-live": log.getAttribute("role") === "log" && log.ariaLive === "polite",
    "labelled input": line.labels.length === 1 && line.labels[0].textContent.trim() !== "",
    "text keyboard with Enter": line.inputMode === "text" && line.enterKeyHint === "enter",
    "no autocorrection": line.getAttribute("autocapitalize") === "off" && !line.spellcheck,
    "no sideways scroll": root.scrollWidth <= root.clientWidth,
    "readable text": parseFloat(getComputedStyle(log).fontSize) >= 14,
    "input at 16px, or iOS zooms": parseFloat(getComputedStyle(line).fontSize) >= 16,
    "input closed": line.disabled && !document.getElementById("ended").hidden,
    "focus on start again": document.activeElement.id === "again",
  };
  return Object.keys(wanted).filter(name => !wanted[name]);
}

// The page is not busy only while the program waits for input or has ended.
const idle = page => page.waitForSelector("#output[aria-busy=false]");

// Types the input as at a console: each line with Enter, then Ctrl-D for
// text left without a line end, then Ctrl-D for the end of input; stops when
// the program ends first (unless told not to end the input). Returns what
// was typed, once the program waits again or has ended.
async function type(page, input, close = true) {
  const lines = input.split("\n");
  const rest = lines.pop();
  const keys = lines.map(text => [text, "Enter"]).concat(rest ? [[rest, "Control+d"]] : []);
  let typed = "";
  for (const [text, key] of close ? keys.concat([["", "Control+d"]]) : keys) {
    await idle(page);
    if (await page.locator("#line").isDisabled()) break;
    if (!(await page.locator("#line").evaluate(line => line === document.activeElement)))
      throw new Error("focus not in the input");
    await page.locator("#line").fill(text);
    await page.keyboard.press(key);
    typed += key === "Enter" ? `${text}\n` : text;
  }
  await idle(page);
  return typed;
}

async function checkCase(page, name) {
  const typed = await type(page, read(`${name}.in`));
  const shown = await page.evaluate(() => {
    const log = document.getElementById("output").cloneNode(true);
    const kbds = [...log.querySelectorAll("kbd")].map(kbd => kbd.remove() || kbd.textContent);
    return { output: log.textContent, typed: kbds.join("") };
  });
  const problems = await page.evaluate(pageProblems);
  if (shown.output !== read(`${name}.out`)) problems.push(`output ${JSON.stringify(shown.output)}`);
  if (shown.typed !== typed) problems.push(`typed lines shown as ${JSON.stringify(shown.typed)}`);
  return problems;
}

function tally(label, problems) {
  const lines = problems.map(problem => problem.slice(0, 300)).join("\n  ");
  if (problems.length) console.log(`FAIL ${label}\n  ${lines}`);
  problems.length ? failed++ : passed++;
}

// What a phone or a tablet shows when the page opens: nothing to scroll
// sideways, and the input in sight.
async function openingProblems(page) {
  const problems = [];
  for (const [width, height] of [[768, 1024], [360, 640]]) {
    await page.setViewportSize({ width, height });
    problems.push(...await page.evaluate(size => {
      const root = document.scrollingElement;
      const box = document.getElementById("line").getBoundingClientRect();
      return [root.scrollWidth <= root.clientWidth || `sideways scroll at ${size}`,
              box.bottom <= innerHeight || `input out of sight at ${size}`].filter(p => p !== true);
    }, `${width}x${height}`));
  }
  return problems;
}

// Runs every transcript in a new page of CONTEXT at URL; a request for
// anything but what starts with OWN is a fault, and so, OFFLINE, is any
// answer but the worker's. Returns the page, still open.
async function checkPage(context, url, { own = url, offline = false } = {}) {
  const page = await context.newPage();
  page.setDefaultTimeout(10000);
  const noise = [];
  const from = offline ? `${url} offline` : url;
  page.on("console", m => ["error", "warning"].includes(m.type()) && noise.push(m.text()));
  page.on("pageerror", error => noise.push(error.message));
  page.on("request", r => r.url().startsWith(own) || r.url().startsWith("data:") || noise.push(r.url()));
  page.on("requestfailed", r => noise.push(`failed: ${r.url()}`));
  page.on("response", r => !offline || r.fromServiceWorker() || r.url().startsWith("data:") ||
                           noise.push(`not from the worker: ${r.url()}`));
  await page.goto(url);
  await idle(page);
  tally(`opening ${from}`, await openingProblems(page));
  for (const name of cases) {
    let problems;
    try {
      problems = await checkCase(page, name);
      await page.keyboard.press("Enter"); // on "start again", which has the focus
    } catch (error) {
      problems = [error.message];
      await page.goto(url);
    }
    problems.push(...noise.splice(0));
    tally(`${name} from ${from}`, problems);
  }
  return page;
}

// A phone-sized app in light and dark, and a desktop window.
async function screenshots(page) {
  await type(page, "144\n100\n", false);
  await page.screenshot({ path: path.join(shotsDir, "phone.png"), fullPage: true });
  await page.emulateMedia({ colorScheme: "dark" });
  await page.screenshot({ path: path.join(shotsDir, "phone-dark.png"), fullPage: true });
  await page.emulateMedia({ colorScheme: "light" });
  await page.setViewportSize({ width: 1280, height: 800 });
  await page.screenshot({ path: path.join(shotsDir, "desktop.png") });
}

// The single page at /pathloss.html and the site under /pathloss/, as a
// static host serves them. The site is served from a copy, which the
// update check changes.
const site = siteDir && fs.mkdtempSync(path.join(os.tmpdir(), "pathloss-site-"));
const types = { ".html": "text/html; charset=utf-8", ".js": "text/javascript",
                ".webmanifest": "application/manifest+json", ".png": "image/png" };
let server, port = 0;
function serve(request, response) {
  const address = new URL(request.url, "http://127.0.0.1");
  const name = address.pathname.startsWith("/pathloss/") && (address.pathname.slice(10) || "index.html");
  const file = address.pathname === "/pathloss.html" ? pageFile
             : site && /^[\w-]+\.\w+$/.test(name) && fs.existsSync(path.join(site, name)) && path.join(site, name);
  response.writeHead(file ? 200 : 404, { "Content-Type": types[path.extname(file || ".html")] });
  response.end(file ? fs.readFileSync(file) : "");
}
async function startServer() {
  server = http.createServer(serve);
  await new Promise(resolve => server.listen(port, "127.0.0.1", resolve));
  port = server.address().port;
}
async function stopServer() {
  const closed = new Promise(resolve => server.close(resolve));
  server.closeAllConnections();
  await closed;
}

const launchOptions = {
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
};

// A changed build published in the same place: one byte of the page, and
// of the worker, which names the new store.
async function checkUpdate(context, url, oldStores) {
  const edit = (name, from, to) => {
    const file = path.join(site, name);
    fs.writeFileSync(file, fs.readFileSync(file, "utf8").replace(from, to));
  };
  edit("index.html", "<h1>Atenuación en espacio libre", "<h1>Atenuación en espacio librE");
  edit("sw.js", /(const store = `[^`]*)`/, "$1+`");
  await startServer();
  const page = await context.newPage();
  await page.goto(url);
  // The new worker takes over once its store is full and the old is gone.
  const updated = stores => stores.length === 1 && !oldStores.includes(stores[0]);
  let stores = oldStores;
  for (let tries = 0; tries < 100 && !updated(stores); tries++) {
    await page.waitForTimeout(100);
    stores = await page.evaluate(() => caches.keys());
  }
  await page.reload();
  const heading = await page.locator("h1").textContent();
  const problems = [];
  if (!heading.endsWith("librE")) problems.push(`the old page after the update: ${heading}`);
  if (!updated(stores)) problems.push(`stores ${stores} after ${oldStores}`);
  tally(`update of ${url}`, problems);
  await page.close();
}

// The app in a profile that persists, as an installed one does: chromium's
// own installability check and manifest parse, then offline, then updated.
async function checkSite(url) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "pathloss-profile-"));
  const context = await chromium.launchPersistentContext(profile, launchOptions);
  try {
    const own = url.slice(0, url.lastIndexOf("/") + 1);
    let page = await checkPage(context, url, { own });
    await page.evaluate(() => navigator.serviceWorker.ready.then(() => true));
    const cdp = await context.newCDPSession(page);
    const { installabilityErrors } = await cdp.send("Page.getInstallabilityErrors");
    tally(`installable from ${url}`, installabilityErrors.map(e => JSON.stringify(e)));
    const manifest = await cdp.send("Page.getAppManifest");
    tally(`manifest of ${url}`, manifest.errors.map(e => e.message).concat(manifest.url ? [] : ["no manifest"]));
    const stores = await page.evaluate(() => caches.keys());
    await page.close();
    await stopServer();
    page = await checkPage(context, url, { own, offline: true });
    if (shotsDir) await screenshots(page);
    await page.close();
    await checkUpdate(context, url, stores);
  } finally {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

async function main() {
  if (site) fs.cpSync(siteDir, site, { recursive: true });
  await startServer();
  // Each launch gets a fresh profile folder of its own from playwright.
  const browser = await chromium.launch(launchOptions);
  try {
    const viewport = { viewport: { width: 360, height: 640 } };
    for (const url of [pathToFileURL(path.resolve(pageFile)).href, `http://127.0.0.1:${port}/pathloss.html`]) {
      const context = await browser.newContext(viewport);
      const page = await checkPage(context, url);
      if (shotsDir && !site && url.startsWith("http")) await screenshots(page);
      await context.close();
    }
  } finally {
    await browser.close();
  }
  if (site) await checkSite(`http://127.0.0.1:${port}/pathloss/`);
}

// Whatever happens, nothing here outlives ten minutes.
setTimeout(() => process.exit(2), 600000).unref();
main().catch(error => {
  console.log(error.stack);
  failed++;
}).finally(() => {
  server.close();
  server.closeAllConnections();
  if (site) fs.rmSync(site, { recursive: true, force: true });
  console.log(`${passed} passed, ${failed} failed`);
  process.exitCode = failed ? 1 : 0;
});
