"use strict";
// Checks pathloss.html in Debian's chromium, opened from disk and from a
// server on 127.0.0.1: every transcript typed into the page line by line
// shows its .out byte for byte, with not one console message and no request
// beyond the page itself; along the way the phone layout, keyboard and
// screen-reader hooks, focus and the restart after the end.
// usage: node browser.js pathloss.html TRANSCRIPTS_DIR [--screenshots DIR]
const fs = require("fs");
const http = require("http");
const path = require("path");
const { pathToFileURL } = require("url");
const { chromium } = require("playwright-core");

const [pageFile, casesDir, shotsOption, shotsDir] = process.argv.slice(2);
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

async function checkPage(browser, url) {
  const context = await browser.newContext({ viewport: { width: 360, height: 640 } });
  const page = await context.newPage();
  page.setDefaultTimeout(10000);
  const noise = [];
  page.on("console", m => ["error", "warning"].includes(m.type()) && noise.push(m.text()));
  page.on("pageerror", error => noise.push(error.message));
  context.on("request", r => r.url() === url || r.url().startsWith("data:") || noise.push(r.url()));
  await page.goto(url);
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
    const lines = problems.map(problem => problem.slice(0, 300)).join("\n  ");
    if (problems.length) console.log(`FAIL ${name} from ${url}\n  ${lines}`);
    problems.length ? failed++ : passed++;
  }
  if (shotsOption === "--screenshots" && url.startsWith("http")) {
    await type(page, "144\n100\n", false);
    await page.screenshot({ path: path.join(shotsDir, "phone.png"), fullPage: true });
    await page.setViewportSize({ width: 1280, height: 800 });
    await page.screenshot({ path: path.join(shotsDir, "desktop.png") });
  }
  await context.close();
}

async function main() {
  const html = fs.readFileSync(pageFile);
  const server = http.createServer((request, response) => {
    const found = request.url === "/pathloss.html";
    response.writeHead(found ? 200 : 404, { "Content-Type": "text/html; charset=utf-8" });
    response.end(found ? html : "");
  });
  await new Promise(resolve => server.listen(0, "127.0.0.1", resolve));
  // Each launch gets a fresh profile folder of its own from playwright.
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  try {
    await checkPage(browser, pathToFileURL(path.resolve(pageFile)).href);
    await checkPage(browser, `http://127.0.0.1:${server.address().port}/pathloss.html`);
  } finally {
    await browser.close();
    server.close();
  }
}

main().catch(error => {
  console.log(error.stack);
  failed++;
}).finally(() => {
  console.log(`${passed} passed, ${failed} failed`);
  process.exitCode = failed ? 1 : 0;
});
