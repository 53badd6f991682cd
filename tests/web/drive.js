"use strict";
// What the browser checks and the benchmark share: the three engines Debian
// has, driven alike (chromium through playwright-core over the DevTools
// protocol, firefox-esr through puppeteer-core over WebDriver BiDi, WebKitGTK's
// MiniBrowser through WebKitWebDriver over plain W3C WebDriver, which needs
// an X display), a static server on 127.0.0.1, and the checks' count.
const fs = require("fs");
const http = require("http");
const os = require("os");
const path = require("path");
const { spawn } = require("child_process");
const { chromium } = require("playwright-core");
const puppeteer = require("puppeteer-core");

// The page is not busy only while the program waits for input or has ended;
// gives the page's clock at the first look that finds it so.
const idle = tab => tab.run(() => new Promise((resolve, reject) => {
  const given = Date.now();
  const check = () => {
    if (document.querySelector("#output[aria-busy=false]")) resolve(performance.now());
    else if (Date.now() - given > 10000) reject(new Error("busy for 10 s"));
    else setTimeout(check, 1);
  };
  check();
}));

const types = { ".html": "text/html; charset=utf-8", ".js": "text/javascript", ".svg": "image/svg+xml",
                ".webmanifest": "application/manifest+json", ".png": "image/png" };

// Serves on 127.0.0.1 the file that FIND names for a request's path, or
// 404 where it names none; started again, on the same port.
function server(find) {
  let server, port = 0;
  function serve(request, response) {
    const file = find(new URL(request.url, "http://127.0.0.1").pathname);
    response.writeHead(file ? 200 : 404, { "Content-Type": types[path.extname(file || "404.html")] });
    response.end(file ? fs.readFileSync(file) : "");
  }
  return {
    url: name => `http://127.0.0.1:${port}/${name}`,
    async start() {
      server = http.createServer(serve);
      await new Promise(resolve => server.listen(port, "127.0.0.1", resolve));
      port = server.address().port;
    },
    async stop() {
      if (!server || !server.listening) return;
      const closed = new Promise(resolve => server.close(resolve));
      server.closeAllConnections();
      await closed;
    },
  };
}

// PAGE at /pathloss.html and the files of the folder SITE under
// /pathloss/, as a static host serves them.
const staticServer = (page, site) => server(address => {
  const name = address.startsWith("/pathloss/") && (address.slice(10) || "index.html");
  return address === "/pathloss.html" ? page
       : site && /^[\w-]+\.\w+$/.test(name) && fs.existsSync(path.join(site, name)) && path.join(site, name);
});

// The whole tree under ROOT, a folder by its index.html. The URL parser has
// already resolved any "..", so nothing outside ROOT is reached.
const treeServer = root => server(address => {
  const file = path.join(root, address.endsWith("/") ? `${address}index.html` : address);
  return fs.existsSync(file) && fs.statSync(file).isFile() && file;
});

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
    // What keeps the app in TAB from being installed, and what is wrong
    // with its manifest.
    async verdicts(tab) {
      const cdp = await context.newCDPSession(tab.page);
      const { installabilityErrors } = await cdp.send("Page.getInstallabilityErrors");
      const manifest = await cdp.send("Page.getAppManifest");
      return {
        installable: installabilityErrors.map(e => JSON.stringify(e)),
        manifest: manifest.errors.map(e => e.message).concat(manifest.url ? [] : ["no manifest"]),
      };
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
    // BiDi's own command: puppeteer's setViewport sends a screen orientation
    // with it, which firefox-esr 140 does not know, and fails whole.
    resize: (page, viewport) => page.mainFrame().browsingContext.setViewport({ viewport }),
    open: async (url, how) => pageTab(await browser.newPage(), url, how, engine),
    close: () => browser.close(),
  };
  return engine;
}

// WebKitGTK's MiniBrowser, in the folder of the machine's multiarch triplet.
const miniBrowser = fs.readdirSync("/usr/lib").map(dir => `/usr/lib/${dir}/webkit2gtk-4.1/MiniBrowser`)
  .find(file => fs.existsSync(file)) || "MiniBrowser not found under /usr/lib/*/webkit2gtk-4.1";

// WebKit's console, which WebDriver does not show: MiniBrowser outside
// automation, in a profile of its own, opens URLS and writes every console
// message, whatever the flag's name, to its standard error when that is a
// pipe (to its standard output at times otherwise), among GTK's own lines:
// both are read. Last it opens a page that logs one line, which proves the
// browser runs and its console is read; two seconds after that line, long
// past the first prompt, any other message is a fault.
async function webkitConsole(urls) {
  const probe = "data:text/html,<script>console.log('probe')</script>";
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "pathloss-minibrowser-"));
  const browser = spawn(miniBrowser, ["--enable-write-console-messages-to-stdout=true", ...urls, probe], {
    stdio: ["ignore", "pipe", "pipe"], env: { ...process.env, XDG_DATA_HOME: profile, XDG_CACHE_HOME: profile },
  });
  let shown = "";
  browser.stdout.on("data", data => { shown += data; });
  browser.stderr.on("data", data => { shown += data; });
  let over = false; // as when it cannot start at all
  const ended = new Promise(resolve => browser.on("close", resolve).on("error", resolve)).then(() => { over = true; });
  const messages = () => shown.split("\n").filter(line => /(^|: )CONSOLE /.test(line));
  const probed = () => messages().some(line => line.startsWith(`${probe}:`));
  for (let tries = 0; tries < 300 && !probed() && !over; tries++)
    await new Promise(resolve => setTimeout(resolve, 100));
  if (probed()) await new Promise(resolve => setTimeout(resolve, 2000));
  browser.kill();
  await ended;
  fs.rmSync(profile, { recursive: true, force: true });
  const faults = messages().filter(line => !line.startsWith(`${probe}:`));
  return probed() ? faults : faults.concat([`no console from ${miniBrowser}`]);
}

// WebKitWebDriver on a port of its own, starting MiniBrowser full screen,
// where the window is the viewport, in one window that every tab reuses.
async function openWebKit() {
  const portFinder = http.createServer();
  await new Promise(resolve => portFinder.listen(0, "127.0.0.1", resolve));
  const driverPort = portFinder.address().port;
  await new Promise(resolve => portFinder.close(resolve));
  const driver = spawn("WebKitWebDriver", [`--port=${driverPort}`, "--host=127.0.0.1"], { stdio: "ignore" });
  // Not even a run cut short leaves the driver behind.
  process.on("exit", () => driver.kill());
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
      binary: miniBrowser, args: ["--automation", "--full-screen"],
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
    // The one window stays; leaving the page is what ends it, as closing a
    // tab does elsewhere.
    close: () => tab.goto("about:blank"),
  };
  return {
    name: "webkit",
    console: webkitConsole,
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

// What a screen of each of SIZES shows when the page opens: nothing to
// scroll sideways, and the element SEEN, if named, in sight.
async function openingProblems(tab, sizes, seen) {
  const problems = [];
  for (const [width, height] of sizes) {
    await tab.resize(width, height);
    problems.push(...await tab.run(([size, seen]) => {
      const root = document.scrollingElement;
      const box = seen && document.querySelector(seen).getBoundingClientRect();
      return [root.scrollWidth <= root.clientWidth || `sideways scroll at ${size}`,
              !box || box.bottom <= innerHeight || `${seen} out of sight at ${size}`].filter(p => p !== true);
    }, [`${width}x${height}`, seen]));
  }
  return problems;
}

let [passed, failed] = [0, 0];

// Counts the check LABEL: passed with no PROBLEMS, else failed, and shown.
function tally(label, problems) {
  const lines = problems.map(problem => problem.slice(0, 300)).join("\n  ");
  if (problems.length) console.log(`FAIL ${label}\n  ${lines}`);
  problems.length ? failed++ : passed++;
}

// Starts SERVER and runs CHECK(ENGINE) in each engine NAMES names, in
// turn, where a fault fails that engine; whatever happens, stops SERVER and
// ends with the count, which sets the exit status. Nothing here outlives
// ten minutes.
function checkEngines(names, server, check) {
  setTimeout(() => process.exit(2), 600000).unref();
  const run = async () => {
    await server.start();
    for (const name of names) {
      const engine = await open[name]();
      try {
        await check(engine);
      } catch (error) {
        tally(`in ${name}`, [error.stack]);
      } finally {
        await engine.close();
      }
    }
  };
  return run().catch(error => tally("the run", [error.stack])).finally(async () => {
    await server.stop();
    console.log(`${passed} passed, ${failed} failed`);
    process.exitCode = failed ? 1 : 0;
  });
}

const open = { chromium: openChromium, firefox: openFirefox, webkit: openWebKit };

module.exports = { idle, staticServer, treeServer, open, openingProblems, tally, checkEngines };
