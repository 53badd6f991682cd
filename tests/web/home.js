"use strict";
// Checks the project's home, the folder packaging/home.py writes, served
// from 127.0.0.1 as a static host serves it, in chromium, firefox-esr and
// WebKitGTK's MiniBrowser: every page of it (each folder's index.html) fits
// a phone and a desktop with nothing to scroll sideways, gives a screen
// reader its languages, headings and names, shows no text under 14px,
// loads nothing from elsewhere and logs nothing, and keeps the policy that
// lets in its one style by its digest, a style that did apply. WebKit's
// console is read as browser.js reads it. WebKit needs an X display: run
// this under xvfb-run.
// usage: node home.js HOME_DIR [--screenshots DIR]
const fs = require("fs");
const path = require("path");
const { treeServer, openingProblems, tally, checkEngines } = require("./drive");

const [homeDir, ...options] = process.argv.slice(2);
const shotsDir = options[0] === "--screenshots" ? options[1] : undefined;
const pages = fs.readdirSync(homeDir, { recursive: true }).filter(name => path.basename(name) === "index.html")
  .map(name => name.slice(0, -"index.html".length)).sort();
const server = treeServer(homeDir);

// Runs in the page: what a screen reader and a reader with poor sight
// depend on, and the policy.
function homeProblems() {
  const all = selector => [...document.querySelectorAll(selector)];
  const levels = all("h1, h2, h3, h4, h5, h6").map(heading => Number(heading.tagName[1]));
  const texts = all("body *").filter(element =>
    [...element.childNodes].some(node => node.nodeType === Node.TEXT_NODE && node.textContent.trim()));
  const small = texts.filter(element => parseFloat(getComputedStyle(element).fontSize) < 14)
    .map(element => element.outerHTML.slice(0, 80));
  const policy = document.querySelector("meta[http-equiv=Content-Security-Policy]");
  const wanted = {
    "lang es": document.documentElement.lang === "es",
    "the English section in lang en": all("h2").filter(heading => heading.textContent === "In English")
      .every(heading => heading.closest("[lang]").lang === "en"),
    "one h1": levels.filter(level => level === 1).length === 1,
    "no heading level skipped": levels.every((level, i) => level <= (i ? levels[i - 1] : 0) + 1),
    "every link named": all("a").every(link => link.textContent.trim() !== ""),
    "every image with alt": all("img").every(image => image.hasAttribute("alt")),
    [`text under 14px: ${small.join(" ")}`]: small.length === 0,
    // The style is let in by its digest, not by a keyword that lets in any.
    "no unsafe keyword in the CSP": policy && !/'unsafe-/.test(policy.content),
    "the style applied (its digest matches)": getComputedStyle(document.body).maxWidth !== "none",
  };
  return Object.keys(wanted).filter(name => !wanted[name]);
}

// The home page on a phone, all of it, and in a desktop window.
async function screenshots(tab) {
  await tab.resize(360, 640);
  await tab.page.screenshot({ path: path.join(shotsDir, "home-phone.png"), fullPage: true });
  await tab.resize(1280, 800);
  await tab.page.screenshot({ path: path.join(shotsDir, "home-desktop.png") });
}

async function checkEngine(engine) {
  const urls = pages.map(page => server.url(page));
  if (engine.console) tally(`console in ${engine.name}`, await engine.console(urls));
  for (const url of urls) {
    const tab = await engine.open(url, { own: server.url(""), offline: false });
    const problems = await openingProblems(tab, [[360, 640], [1280, 800]]);
    problems.push(...await tab.run(homeProblems), ...tab.noise.splice(0));
    tally(`${url} in ${engine.name}`, problems);
    if (shotsDir && engine.name === "chromium" && url === urls[0]) await screenshots(tab);
    await tab.close();
  }
}

checkEngines(["chromium", "firefox", "webkit"], server, checkEngine);
