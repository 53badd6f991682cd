"use strict";
// Checks pathloss.html in the three engines Debian has: chromium (Blink)
// through playwright-core, firefox-esr (Gecko) through puppeteer-core over
// WebDriver BiDi, and WebKitGTK's MiniBrowser (WebKit, Safari's engine)
// through WebKitWebDriver over plain W3C WebDriver. In each, opened from
// disk: every transcript typed into the page line by line shows its .out
// byte for byte, with not one console message and no request beyond the
// page itself; along the way the phone and tablet layout, keyboard and
// screen-reader hooks, the Content-Security-Policy, focus and the restart
// after the end. WebDriver shows neither console nor requests, so WebKit's
// console is read from a MiniBrowser of its own, outside automation, that
// opens the page and the app until they wait for input.
// Given the site's folder, the installable app too, served from 127.0.0.1
// under a sub-path: the same checks, then the same again with the server
// stopped, from the worker's store; last, a changed build published over
// the app must reach it and remove the old store. In chromium also the
// single page from the server, chromium's own verdict on installing the
// app, and every request offline answered by the worker. WebKit needs an X
// display: run this under xvfb-run.
// usage: node browser.js pathloss.html TRANSCRIPTS_DIR [--site DIR]
//        [--engines chromium,firefox,webkit] [--screenshots DIR]
const fs = require("fs");
const os = require("os");
const path = require("path");
const { pathToFileURL } = require("url");
const { idle, staticServer, openingProblems, tally, checkEngines } = require("./drive");

const [pageFile, casesDir, ...options] = process.argv.slice(2);
const option = name => (options.includes(name) ? options[options.indexOf(name) + 1] : undefined);
const [siteDir, shotsDir] = [option("--site"), option("--screenshots")];
const engines = (option("--engines") || "chromium,firefox,webkit").split(",");
const cases = fs.readdirSync(casesDir).filter(f => f.endsWith(".in")).map(f => f.slice(0, -3));
const read = name => fs.readFileSync(path.join(casesDir, name), "latin1");
// The site is served from a copy, which the update check changes.
const site = siteDir && fs.mkdtempSync(path.join(os.tmpdir(), "pathloss-site-"));
const server = staticServer(pageFile, site);

// Runs in the page once a run has ended: what a phone user and a screen
// reader depend on, and the policy that keeps anything else from running.
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
    // firefox-esr 140 gives the page's "off" back as its synonym, "none".
    "no autocorrection": ["off", "none"].includes(line.getAttribute("autocapitalize")) && !line.spellcheck,
    "no sideways scroll": root.scrollWidth <= root.clientWidth,
    "readable text": parseFloat(getComputedStyle(log).fontSize) >= 14,
    "input at 16px, or iOS zooms": parseFloat(getComputedStyle(line).fontSize) >= 16,
    "input closed": line.disabled && !document.getElementById("ended").hidden,
    "focus on start again": document.activeElement.id === "again",
    // Scripts allowed by their digests, not by a keyword that lets in any.
    "no unsafe keyword in the CSP":
      !/'unsafe-/.test(document.querySelector("meta[http-equiv=Content-Security-Policy]").content),
  };
  return Object.keys(wanted).filter(name => !wanted[name]);
}

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

// Runs every transcript in a new tab of ENGINE at URL; a request for
// anything but what starts with OWN is a fault, and so, OFFLINE, is any
// answer but the worker's. Returns the tab, still open.
async function checkPage(engine, url, { own = url, offline = false } = {}) {
  const tab = await engine.open(url, { own, offline });
  const from = `${offline ? `${url} offline` : url} in ${engine.name}`;
  await idle(tab);
  tally(`opening ${from}`, await openingProblems(tab, [[768, 1024], [360, 640]], "#line"));
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

// A changed build published in the same place: one byte of the page, and
// of the worker, which names the new store. The visit that finds the new
// worker is the old release whole; once it is closed, the next is the new
// one, and the old store is gone.
async function checkUpdate(engine, url, oldStores) {
  const edit = (name, from, to) => {
    const file = path.join(site, name);
    fs.writeFileSync(file, fs.readFileSync(file, "utf8").replace(from, to));
  };
  edit("index.html", "<h1>Atenuación en espacio libre", "<h1>Atenuación en espacio librE");
  edit("sw.js", /(const store = `[^`]*)`/, "$1+`");
  const problems = [];
  let heading, stores;
  for (let visit = 1; visit <= 10; visit++) {
    const tab = await engine.open(url, { own: url, offline: false });
    heading = await tab.run(() => document.querySelector("h1").textContent);
    if (visit === 1) {
      if (heading.endsWith("librE")) problems.push("the new page under the old worker");
      // Closed only once the new worker waits, or after 10 s.
      await tab.run(async () => {
        for (let tries = 0; tries < 100 && !(await navigator.serviceWorker.getRegistration()).waiting; tries++)
          await new Promise(resolve => setTimeout(resolve, 100));
      });
    }
    stores = await tab.run(() => caches.keys());
    problems.push(...tab.noise.splice(0));
    await tab.close();
    if (heading.endsWith("librE")) break;
  }
  if (!heading.endsWith("librE")) problems.push(`the old page after the update: ${heading}`);
  if (stores.length !== 1 || oldStores.includes(stores[0])) problems.push(`stores ${stores} after ${oldStores}`);
  tally(`update of ${url} in ${engine.name}`, problems);
}

// WebKit's console; the single page from disk; the app online, then with
// the server stopped, then updated; in chromium the rest.
async function checkEngine(engine) {
  const file = pathToFileURL(path.resolve(pageFile)).href;
  if (site) fs.cpSync(siteDir, site, { recursive: true });
  const url = server.url("pathloss/");
  if (engine.console) tally(`console in ${engine.name}`, await engine.console(site ? [file, url] : [file]));
  await (await checkPage(engine, file)).close();
  if (engine.verdicts) {
    const tab = await checkPage(engine, server.url("pathloss.html"));
    if (shotsDir && !site) await screenshots(tab);
    await tab.close();
  }
  if (!site) return;
  let tab = await checkPage(engine, url);
  await tab.run(() => navigator.serviceWorker.ready.then(() => true));
  if (engine.verdicts) {
    const { installable, manifest } = await engine.verdicts(tab);
    tally(`installable from ${url}`, installable);
    tally(`manifest of ${url}`, manifest);
  }
  const stores = await tab.run(() => caches.keys());
  await tab.close();
  await server.stop();
  try {
    tab = await checkPage(engine, url, { offline: true });
    if (shotsDir && engine.verdicts) await screenshots(tab);
    await tab.close();
  } finally {
    await server.start();
  }
  await checkUpdate(engine, url, stores);
}

checkEngines(engines, server, checkEngine).finally(() => site && fs.rmSync(site, { recursive: true, force: true }));
