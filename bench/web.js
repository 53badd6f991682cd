"use strict";
// The time from navigation to the first prompt ready for typing, in each
// engine, the median of RUNS visits, beside a blank page's: the single page
// from disk, and the installed app with no network (visited once online,
// then opened again from its worker with the server stopped). The blank
// page is this benchmark's own, with the same first prompt and an input and
// nothing else; as an app, it is the same site with the blank page for
// index.html, which registers the same worker. Each visit to the page
// follows one to the blank page, so that both meet the same load of the
// machine. The clock is the page's own, from the start of the navigation to
// the first look that finds the page waiting for input; it looks every
// millisecond from the load event on. It measures and judges nothing; the
// aim is a ratio under 1.2.
// usage: xvfb-run -a node bench/web.js pathloss.html SITE_DIR [RUNS]
const fs = require("fs");
const os = require("os");
const path = require("path");
const { pathToFileURL } = require("url");
const { idle, staticServer, open } = require("../tests/web/drive");

const [pageFile, siteDir, runs = 9] = process.argv.slice(2);

const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "pathloss-bench-"));
const blank = (worker = "") => `<!DOCTYPE html>
<html lang="es"><meta charset="utf-8"><link rel="icon" href="data:,"><title>pathloss</title>
<pre id="output" aria-busy="false">
Introduce la frecuencia en Mhz: </pre><input id="line" autofocus>${worker}
`;
const blankFile = path.join(scratch, "blank.html");
fs.writeFileSync(blankFile, blank());
const blankSite = path.join(scratch, "site");
fs.cpSync(siteDir, blankSite, { recursive: true });
fs.writeFileSync(path.join(blankSite, "index.html"), blank('<script>navigator.serviceWorker.register("sw.js")</script>'));

// The medians of the blank page's and the page's times, from URLS.
async function medians(tab, urls) {
  const times = urls.map(() => []);
  for (let run = 0; run < runs; run++) {
    for (const [which, url] of urls.entries()) {
      await tab.goto(url);
      times[which].push(await idle(tab));
    }
  }
  return times.map(list => list.sort((a, b) => a - b)[Math.floor(list.length / 2)]);
}

function row(engine, what, [blankTime, pageTime]) {
  const ms = time => time.toFixed(0).padStart(6);
  console.log(`${engine.padEnd(9)} ${what.padEnd(22)} ${ms(blankTime)} ${ms(pageTime)} ${(pageTime / blankTime).toFixed(2).padStart(6)}`);
}

async function main() {
  const servers = [staticServer(blankFile, blankSite), staticServer(pageFile, siteDir)];
  const files = [blankFile, pageFile].map(file => pathToFileURL(path.resolve(file)).href);
  console.log(`ms to the first prompt, median of ${runs}`);
  console.log("engine    opened                  blank   page  ratio");
  for (const [name, opener] of Object.entries(open)) {
    for (const server of servers) await server.start();
    const apps = servers.map(server => server.url("pathloss/"));
    const engine = await opener();
    try {
      // Opened on a file, so that each app loads once: WebKit, reloading an
      // app whose worker was still installing, never reported it ready here.
      const tab = await engine.open(files[0], { own: files[0], offline: false });
      for (const app of apps) {
        await tab.goto(app);
        await idle(tab);
        await tab.run(() => navigator.serviceWorker.ready.then(() => true));
      }
      for (const server of servers) await server.stop();
      const offline = await medians(tab, apps);
      row(name, "single page from disk", await medians(tab, files));
      row(name, "installed app offline", offline);
    } finally {
      await engine.close();
      for (const server of servers) await server.stop();
    }
  }
}

main().catch(error => {
  console.log(error.stack);
  process.exitCode = 1;
}).finally(() => fs.rmSync(scratch, { recursive: true, force: true }));
