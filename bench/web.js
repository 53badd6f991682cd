"use strict";
// The time from navigation to the first prompt ready for typing, in each
// engine, the median of RUNS visits: the single page from disk, and the
// installed app with no network (visited once online, then opened again
// from its worker with the server stopped). The clock is the page's own,
// from the start of the navigation to the first look that finds the page
// waiting for input; it looks every millisecond from the load event on.
// It measures and judges nothing; the aim is under 300 ms.
// usage: xvfb-run -a node bench/web.js pathloss.html SITE_DIR [RUNS]
const path = require("path");
const { pathToFileURL } = require("url");
const { idle, staticServer, open } = require("../tests/web/drive");

const [pageFile, siteDir, runs = 9] = process.argv.slice(2);

async function median(tab, url) {
  const times = [];
  for (let run = 0; run < runs; run++) {
    await tab.goto(url);
    times.push(await idle(tab));
  }
  times.sort((a, b) => a - b);
  return times[Math.floor(times.length / 2)].toFixed(0);
}

async function main() {
  const server = staticServer(pageFile, siteDir);
  await server.start();
  const file = pathToFileURL(path.resolve(pageFile)).href;
  const app = server.url("pathloss/");
  console.log(`ms to the first prompt, median of ${runs}`);
  console.log("engine     single page from disk   installed app offline");
  try {
    for (const [name, opener] of Object.entries(open)) {
      const engine = await opener();
      try {
        const tab = await engine.open(app, { own: app, offline: false });
        await idle(tab);
        await tab.run(() => navigator.serviceWorker.ready.then(() => true));
        await server.stop();
        const offline = await median(tab, app);
        await server.start();
        const single = await median(tab, file);
        console.log(`${name.padEnd(10)} ${single.padStart(21)} ${offline.padStart(23)}`);
      } finally {
        await engine.close();
      }
    }
  } finally {
    await server.stop();
  }
}

main().catch(error => {
  console.log(error.stack);
  process.exitCode = 1;
});
