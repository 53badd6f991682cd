"use strict";
// Reads the installed app, in chromium, while a publisher in another
// process puts a new release over it: opens it without pause, a visit
// after another, until STOP_FILE exists, and every visit must open the app
// up to its first question, silently, controlled by the worker, with every
// file it got (the page, then the manifest and icons that the browser asks
// for after it) answered from one and the same store, and no store but the
// two releases'. Chromium's own record of each answer names the store it
// came from, which tells the releases apart even where their files are
// alike. After STOP_FILE the app must come to the new release alone within
// a minute, and then open with no network.
// usage: node reader.js APP_URL STOP_FILE OLD_VERSION NEW_VERSION
const fs = require("fs");
const { idle, open } = require("./drive");

const [appUrl, stopFile, oldVersion, newVersion] = process.argv.slice(2);
const loads = { [oldVersion]: 0, [newVersion]: 0 };
const problems = [];
let [count, offline] = [0, "not reached"];

// What the browser does once the page is open: fetches the manifest and
// the icons (chromium by itself fetches the manifest and one icon, at a
// time of its own), then looks for a new worker, which chromium by itself
// puts off while loads keep coming.
async function afterOpen() {
  const manifest = document.querySelector("link[rel=manifest]").href;
  const icons = (await (await fetch(manifest)).json()).icons.map(icon => new URL(icon.src, manifest).href);
  const links = [...document.querySelectorAll("link[rel~=icon], link[rel=apple-touch-icon]")].map(link => link.href);
  // Read whole, or the next load cuts them off, which the console shows.
  await Promise.all(icons.concat(links).map(icon => fetch(icon).then(answer => answer.blob())));
  await navigator.serviceWorker.ready.then(ready => ready.update()).catch(() => {});
}

async function read(engine) {
  const own = new URL(appUrl).origin;
  let tab = await engine.open(appUrl, { own, offline: false });
  const prefix = await tab.run(() => navigator.serviceWorker.ready.then(ready => `pathloss ${ready.scope} `));
  await tab.close();
  const version = store => store.slice(prefix.length).split(" ")[0];
  // Opens the app in a new tab, and closes it; gives the stores there are
  // after it, or nothing when the visit went wrong.
  async function load() {
    const found = [];
    const answers = [];
    count++;
    tab = await engine.open("about:blank", { own, offline: false });
    const cdp = await tab.page.context().newCDPSession(tab.page);
    cdp.on("Network.responseReceived", answer => answers.push(answer));
    await cdp.send("Network.enable");
    try {
      await tab.goto(appUrl);
      await idle(tab);
      await tab.run(afterOpen);
    } catch (error) {
      found.push(error.message.split("\n")[0]);
    }
    const { controlled, stores } = await tab.run(async prefix => ({
      controlled: navigator.serviceWorker.controller !== null,
      stores: (await caches.keys()).filter(key => key.startsWith(prefix)),
    }), prefix);
    found.push(...tab.noise.splice(0));
    await tab.close();
    // The page's own answers: not the worker's, which looks for a new one.
    const page = answers.find(answer => answer.type === "Document");
    const mine = answers.filter(answer => page && answer.loaderId === page.loaderId).map(answer => answer.response);
    const from = [...new Set(mine.map(answer => answer.cacheStorageCacheName))];
    if (!controlled) found.push("not controlled by the worker");
    if (from.length === 1 && from[0]) loads[version(from[0])] = (loads[version(from[0])] || 0) + 1;
    else found.push(`one visit from several stores: ${mine.map(answer =>
      `${answer.url.split("/").pop() || "./"} from ${answer.cacheStorageCacheName || "no store"}`).join(", ")}`);
    for (const store of stores)
      if (![oldVersion, newVersion].includes(version(store))) found.push(`a store of neither release: ${store}`);
    problems.push(...found.map(problem => `visit ${count}: ${problem}`));
    return found.length ? undefined : stores;
  }
  while (!fs.existsSync(stopFile)) await load();
  const alone = stores => stores && stores.length === 1 && version(stores[0]) === newVersion;
  const given = Date.now();
  let stores;
  do stores = await load(); while (!alone(stores) && Date.now() - given < 60000);
  if (!alone(stores)) problems.push(`not on ${newVersion} alone a minute after the release: ${stores}`);
  await tab.page.context().setOffline(true);
  offline = await load() ? "ok" : "failed";
}

async function main() {
  const engine = await open.chromium();
  try {
    await read(engine);
  } finally {
    await engine.close();
  }
}

// Writes the summary and the problems; gives the exit status.
function report() {
  const counts = Object.entries(loads).map(([name, number]) => `${name}: ${number}`).join(", ");
  console.log(`reader: ${count} visits, ${counts}, offline: ${offline}`);
  for (const problem of problems) console.log(problem);
  return problems.length ? 1 : 0;
}

main().catch(error => problems.push(error.stack)).finally(() => { process.exitCode = report(); });
