"use strict";
// Checks pathloss.html in the three engines Debian has: chromium (Blink)
// through playwright-core, firefox-esr (Gecko) through puppeteer-core over
// WebDriver BiDi, and WebKitGTK's MiniBrowser (WebKit, Safari's engine)
// through WebKitWebDriver over plain W3C WebDriver. In each, opened from
// disk: every transcript typed into the page line by line shows its .out
// byte for byte, with not one console message and no request beyond the
// page itself (WebDriver shows neither, so in WebKit the output alone
// counts); along the way the phone and tablet layout, keyboard and
// screen-reader hooks, focus and the restart after the end.
// Given the site's folder, the installable app too, served from 127.0.0.1
// under a sub-path: the same checks, then the same again with the server
// stopped, from the worker's store. In chromium also the single page from
// the server, chromium's own verdict on installing the app, every request
// offline answered by the worker, and a changed build published over the
// app, which must reach it and remove the old store. WebKit needs an X
// display: run this under xvfb-run.
// usage: node browser.js pathloss.html TRANSCRIPTS_DIR [--site DIR]
//        [--engines chromium,firefox,webkit] [--screenshots DIR]
const fs = require("fs");
const http = require("http");
const os = require("os");
const path = require("path");
const { spawn } = require("child_process");
const { pathToFileURL } = require("url");
const { chromium } = require("playwright-core");
const puppeteer = require("puppeteer-core");

const [pageFile, casesDir, ...options] = process.argv.slice(2);
const option = name => (options.includes(name) ? options[options.indexOf(name) + 1] : undefined);
const [siteDir, shotsDir] = [option("--site"), option("--screenshots")];
const engines = (option("--engines") || "chromium,firefox,webkit").split(",");
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
    // WebKitGTK, with no on-screen keyboard, does not reflect enterkeyhint.
    "text keyboard with Enter": line.inputMode === "text" &&
      (line.enterKeyHint ?? line.getAttribute("enterkeyhint")) === "enter",
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
const idle = tab => tab.run(() => new Promise((resolve, reject) => {
  const given = Date.now();
  const check = () => {
    if (document.querySelector("#output[aria-busy=false]")) resolve(true);
    else if (Date.now() - given > 10000) reject(new Error("busy for 10 s"));
    else setTimeout(check, 2);
  };
  check();
}));

// Types the input as at a console: each line with Enter, then Ctrl-D for
// text left without a line end, then Ctrl-D for the end of input; stops when
// the program ends first (unless told not to end the input). Returns what
// was typed, once the program waits again or has ended.
async function type(tab, input, close = true) {
  const lines = input.split("\n");
  const rest = lines.pop();
  const keys = lines.map(text => [text, "Enter"]).concat(rest ? [[rest, "Control+d"]] : []);
  let typed = "";
  for (const [text, key] of close ? keys.concat([["", "Control+d"]]) : keys) {
    await idle(tab);
    const state = await tab.run(() => {
      const line = document.getElementById("line");
      return line.disabled ? "closed" : line === document.activeElement ? "open" : "no focus";
    });
    if (state === "closed") break;
    if (state === "no focus") throw new Error("focus not in the input");
    await tab.fill(text);
    await tab.press(key);
    typed += key === "Enter" ? `${text}\n` : text;
  }
  await idle(tab);
  return typed;
}

async function checkCase(tab, name) {
  const typed = await type(tab, read(`${name}.in`));
  const shown = await tab.run(() => {
    const log = document.getElementById("output").cloneNode(true);
    const kbds = [...log.querySelectorAll("kbd")].map(kbd => kbd.remove() || kbd.textContent);
    return { output: log.textContent, typed: kbds.join("") };
  });
  const problems = await tab.run(pageProblems);
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
async function openingProblems(tab) {
  const problems = [];
  for (const [width, height] of [[768, 1024], [360, 640]]) {
    await tab.resize(width, height);
    problems.push(...await tab.run(size => {
      const root = document.scrollingElement;
      const box = document.getElementById("line").getBoundingClientRect();
      return [root.scrollWidth <= root.clientWidth || `sideways scroll at ${size}`,
              box.bottom <= innerHeight || `input out of sight at ${size}`].filter(p => p !== true);
    }, `${width}x${height}`));
  }
  return problems;
}

// Runs every transcript in a new tab of ENGINE at URL; a request for
// anything but what starts with OWN is a fault, and so, OFFLINE, is any
// answer but the worker's. Returns the tab, still open.
async function checkPage(engine, url, { own = url, offline = false } = {}) {
  const tab = await engine.open(url, { own, offline });
  const from = `${offline ? `${url} offline` : url} in ${engine.name}`;
  await idle(tab);
  tally(`opening ${from}`, await openingProblems(tab));
  for (const name of cases) {
    let problems;
    try {
      problems = await checkCase(tab, name);
      await tab.press("Enter"); // on "start again", which has the focus
    } catch (error) {
      problems = [error.message];
      await tab.goto(url);
    }
    problems.push(...tab.noise.splice(0));
    tally(`${name} from ${from}`, problems);
  }
  return tab;
}

// A phone-sized app in light and dark, and a desktop window (chromium).
async function screenshots(tab) {
  await type(tab, "144\n100\n", false);
  await tab.page.screenshot({ path: path.join(shotsDir, "phone.png"), fullPage: true });
  await tab.page.emulateMedia({ colorScheme: "dark" });
  await tab.page.screenshot({ path: path.join(shotsDir, "phone-dark.png"), fullPage: true });
  await tab.page.emulateMedia({ colorScheme: "light" });
  await tab.resize(1280, 800);
  await tab.page.screenshot({ path: path.join(shotsDir, "desktop.png") });
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

// Tabs are alike in every engine: open(URL) gives one with goto(URL),
// run(FUNCTION, ARGUMENT) in the page, fill(TEXT) the input, press(KEY)
// (Enter or Control+d), resize(WIDTH, HEIGHT) of the viewport, close(),
// and the console errors, page errors and stray requests seen so far in
// noise. playwright's and puppeteer's pages differ only in what ENGINE
// gives: fill, press, resize, the console's name for a warning, and
// whether a response tells that the worker gave it.
async function pageTab(page, url, { own, offline }, engine) {
  page.setDefaultTimeout(10000);
  const noise = [];
  page.on("console", m => ["error", engine.warning].includes(m.type()) && noise.push(m.text()));
  page.on("pageerror", error => noise.push(error.message));
  page.on("request", r => r.url().startsWith(own) || r.url().startsWith("data:") || noise.push(r.url()));
  page.on("requestfailed", r => noise.push(`failed: ${r.url()}`));
  if (offline && engine.fromWorker)
    page.on("response", r => r.fromServiceWorker() || r.url().startsWith("data:") ||
                             noise.push(`not from the worker: ${r.url()}`));
  const tab = {
    page, noise,
    goto: to => page.goto(to),
    run: (script, argument) => page.evaluate(script, argument),
    fill: text => engine.fill(page, text),
    press: key => engine.press(page, key),
    resize: (width, height) => engine.resize(page, { width, height }),
    close: () => page.close(),
  };
  await tab.resize(360, 640);
  await page.goto(url);
  return tab;
}

// chromium in a profile that lasts the whole run, as an installed app's
// does, with its own verdict on installing the app.
async function openChromium() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "pathloss-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    viewport: { width: 360, height: 640 },
  });
  const engine = {
    name: "chromium",
    warning: "warning",
    fromWorker: true,
    fill: (page, text) => page.locator("#line").fill(text),
    press: (page, key) => page.keyboard.press(key),
    resize: (page, size) => page.setViewportSize(size),
    open: async (url, how) => pageTab(await context.newPage(), url, how, engine),
    async verdicts(tab, url) {
      const cdp = await context.newCDPSession(tab.page);
      const { installabilityErrors } = await cdp.send("Page.getInstallabilityErrors");
      tally(`installable from ${url}`, installabilityErrors.map(e => JSON.stringify(e)));
      const manifest = await cdp.send("Page.getAppManifest");
      tally(`manifest of ${url}`, manifest.errors.map(e => e.message).concat(manifest.url ? [] : ["no manifest"]));
    },
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
  return engine;
}

async function openFirefox() {
  const browser = await puppeteer.launch({ browser: "firefox", executablePath: "/usr/bin/firefox-esr" });
  const engine = {
    name: "firefox",
    warning: "warn",
    fill: (page, text) => page.$eval("#line", (line, value) => { line.value = value; }, text),
    press: async (page, key) => {
      if (key === "Enter") return page.keyboard.press("Enter");
      await page.keyboard.down("Control");
      await page.keyboard.press("d");
      await page.keyboard.up("Control");
    },
    resize: (page, size) => page.setViewport(size),
    open: async (url, how) => pageTab(await browser.newPage(), url, how, engine),
    close: () => browser.close(),
  };
  return engine;
}

// WebKitWebDriver on a port of its own, starting MiniBrowser full screen,
// where the window is the viewport, in one window that every tab reuses.
async function openWebKit() {
  const portFinder = http.createServer();
  await new Promise(resolve => portFinder.listen(0, "127.0.0.1", resolve));
  const driverPort = portFinder.address().port;
  await new Promise(resolve => portFinder.close(resolve));
  const driver = spawn("WebKitWebDriver", [`--port=${driverPort}`, "--host=127.0.0.1"], { stdio: "ignore" });
  const call = async (method, command, body) => {
    const response = await fetch(`http://127.0.0.1:${driverPort}${command}`, {
      method, headers: { "Content-Type": "application/json" }, body: body && JSON.stringify(body),
    });
    const { value } = await response.json();
    if (!response.ok) throw new Error(`${command}: ${value.message}`);
    return value;
  };
  for (let tries = 0; ; tries++) {
    try {
      await call("GET", "/status");
      break;
    } catch (error) {
      if (tries === 50) throw error;
      await new Promise(resolve => setTimeout(resolve, 100));
    }
  }
  const { sessionId } = await call("POST", "/session", { capabilities: { alwaysMatch: {
    "webkitgtk:browserOptions": {
      binary: "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser", args: ["--automation", "--full-screen"],
    },
  } } });
  const session = `/session/${sessionId}`;
  const run = (script, argument) => call("POST", `${session}/execute/sync`,
    { script: `return (${script})(...arguments);`, args: argument === undefined ? [] : [argument] });
  const tab = {
    noise: [],
    goto: url => call("POST", `${session}/url`, { url }),
    run,
    fill: text => run(value => { document.getElementById("line").value = value; }, text),
    press: async key => {
      const element = await call("GET", `${session}/element/active`);
      await call("POST", `${session}/element/${Object.values(element)[0]}/value`,
                 { text: key === "Enter" ? "\uE007" : "\uE009d\uE000" });
    },
    resize: (width, height) => call("POST", `${session}/window/rect`, { width, height }),
    close: async () => {},
  };
  return {
    name: "webkit",
    async open(url) {
      await tab.resize(360, 640);
      await tab.goto(url);
      return tab;
    },
    async close() {
      await call("DELETE", session);
      driver.kill();
    },
  };
}

// A changed build published in the same place: one byte of the page, and
// of the worker, which names the new store.
async function checkUpdate(engine, url, oldStores) {
  const edit = (name, from, to) => {
    const file = path.join(site, name);
    fs.writeFileSync(file, fs.readFileSync(file, "utf8").replace(from, to));
  };
  edit("index.html", "<h1>Atenuación en espacio libre", "<h1>Atenuación en espacio librE");
  edit("sw.js", /(const store = `[^`]*)`/, "$1+`");
  const tab = await engine.open(url, { own: url, offline: false });
  // The new worker takes over once its store is full and the old is gone.
  const updated = stores => stores.length === 1 && !oldStores.includes(stores[0]);
  let stores = oldStores;
  for (let tries = 0; tries < 100 && !updated(stores); tries++) {
    await new Promise(resolve => setTimeout(resolve, 100));
    stores = await tab.run(() => caches.keys());
  }
  await tab.goto(url);
  const heading = await tab.run(() => document.querySelector("h1").textContent);
  const problems = tab.noise.splice(0);
  if (!heading.endsWith("librE")) problems.push(`the old page after the update: ${heading}`);
  if (!updated(stores)) problems.push(`stores ${stores} after ${oldStores}`);
  tally(`update of ${url} in ${engine.name}`, problems);
  await tab.close();
}

// The single page from disk; the app online, then with the server stopped;
// in chromium the rest.
async function checkEngine(engine) {
  await (await checkPage(engine, pathToFileURL(path.resolve(pageFile)).href)).close();
  if (engine.verdicts) {
    const tab = await checkPage(engine, `http://127.0.0.1:${port}/pathloss.html`);
    if (shotsDir && !site) await screenshots(tab);
    await tab.close();
  }
  if (!site) return;
  fs.cpSync(siteDir, site, { recursive: true });
  const url = `http://127.0.0.1:${port}/pathloss/`;
  let tab = await checkPage(engine, url);
  await tab.run(() => navigator.serviceWorker.ready.then(() => true));
  if (engine.verdicts) await engine.verdicts(tab, url);
  const stores = await tab.run(() => caches.keys());
  await tab.close();
  await stopServer();
  try {
    tab = await checkPage(engine, url, { offline: true });
    if (shotsDir && engine.verdicts) await screenshots(tab);
    await tab.close();
  } finally {
    await startServer();
  }
  if (engine.verdicts) await checkUpdate(engine, url, stores);
}

async function main() {
  await startServer();
  const openers = { chromium: openChromium, firefox: openFirefox, webkit: openWebKit };
  for (const name of engines) {
    const engine = await openers[name]();
    try {
      await checkEngine(engine);
    } catch (error) {
      tally(`in ${name}`, [error.stack]);
    } finally {
      await engine.close();
    }
  }
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
