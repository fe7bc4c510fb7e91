// Headless Chromium on a small site served by tarvel-serve --preview, which
// this test starts (and stops and starts again) itself:
//   node preview-test.mjs TARVEL_SERVE
// Each kind of edit (the page, a stylesheet, a script, an image, a page
// without <body>, a page saved by rename) must show in the open page by
// itself; the times from saving to seeing are printed, and their median must
// stay within 3 s. A stylesheet is swapped without a reload; a page keeps its
// scroll position; a fragment a script fetches comes plain; with the option
// off every byte served is the file's.
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { expect, runBrowserTest, sleep } from "./common.mjs";

const [serveBinary] = process.argv.slice(2);
const root = fs.mkdtempSync(path.join(os.tmpdir(), "tarvel-preview-"));
const at = (name) => path.join(root, name);
const write = (name, text) => fs.writeFileSync(at(name), text);
const indexPage = (title) =>
  `<!doctype html><html><head><link rel="stylesheet" href="style.css"><script src="app.js"></script>` +
  `</head><body><h1 id="t">${title}</h1><img id="pic" src="pic.svg"><div style="height:4000px"></div>` +
  `</body></html>\n`;
const picture = (width) =>
  `<svg xmlns="http://www.w3.org/2000/svg" width="${width}" height="10"><rect width="${width}" height="10"/></svg>`;
write("index.html", indexPage("Title 0"));
write("style.css", "h1 { color: rgb(0, 0, 0); }\n");
write("app.js", "window.appVersion = 0;\n");
write("pic.svg", picture(10));
write("nobody.html", `<p id="t">v0`);
write("renamed.html", `<p id="t">r0</p>`);
write("fragment.html", "<p>a fragment</p>\n");
write("404.html", `<html><body><p id="t">site 404</p></body></html>`);
// A page loading thirty images: its second still asks at most ten questions.
for (let i = 0; i < 30; ++i) write(`i${i}.svg`, picture(i + 1));
write("many.html", Array.from({ length: 30 }, (_, i) => `<img src="i${i}.svg">`).join("") + "\n");

function check(condition, what) {
  if (condition) console.log(`  ok ${what}`);
  else expect(false, what);
}

// Starts the server on the port (0: any) and resolves to its port.
const servers = [];
function serve(options, port = 0) {
  const child = spawn(serveBinary, [...options, root, String(port)], { stdio: ["ignore", "pipe", "inherit"] });
  servers.push(child);
  return new Promise((resolve, reject) => {
    let out = "";
    child.stdout.on("data", (data) => {
      out += data;
      const found = out.match(/on http:\/\/127\.0\.0\.1:(\d+)\//);
      if (found) resolve({ child, port: Number(found[1]) });
    });
    child.on("exit", (code) => reject(new Error(`tarvel-serve exited (${code}): ${out}`)));
  });
}
async function stop(child) {
  const gone = new Promise((resolve) => child.once("exit", resolve));
  child.kill("SIGTERM");
  await gone;
}

// Milliseconds until fn holds in the page (reloads may come between), or Infinity.
async function until(page, fn, arg, limitMs = 8000) {
  const started = Date.now();
  while (Date.now() - started < limitMs) {
    try {
      if (await page.evaluate(fn, arg)) return Date.now() - started;
    } catch {
      // the page is being reloaded
    }
    await sleep(20);
  }
  return Infinity;
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const times = {};
// One saved edit, at a random point of the page's second: ms until seen.
async function timeEdit(page, kind, edit, seen, arg) {
  await sleep(300 + Math.random() * 1000);
  const saved = Date.now();
  edit();
  const ms = (await until(page, seen, arg)) === Infinity ? Infinity : Date.now() - saved;
  (times[kind] ??= []).push(ms);
  return ms;
}

// runBrowserTest ends the process: servers and the site go with it.
process.on("exit", () => {
  for (const child of servers) child.kill("SIGKILL");
  fs.rmSync(root, { recursive: true, force: true });
});

let server;
try {
  server = await serve(["--preview"]);
} catch (error) {
  console.log(`  FAIL ${error}`);
  process.exit(1);
}
const base = () => `http://127.0.0.1:${server.port}`;

await runBrowserTest({ seconds: 240 }, async (context) => {
  const page = context.pages()[0] ?? (await context.newPage());
  page.setDefaultTimeout(20_000);
  let requests = 0;
  page.on("request", () => ++requests);

  const first = await page.goto(`${base()}/`, { waitUntil: "load" });
  const firstBody = (await first.body()).toString();
  check(first.status() === 200 && firstBody.includes("<script>/* Tarvel preview") &&
        Number(first.headers()["content-length"]) === Buffer.byteLength(firstBody),
        "the front page index.html came with the script and its exact length");
  const fragment = await page.evaluate(() => fetch("fragment.html").then((r) => r.text()));
  check(fragment === "<p>a fragment</p>\n", "a fragment the page's script fetches comes without the script");
  // Once a second: the page and its three files.
  requests = 0;
  await sleep(5000);
  check(requests >= 14 && requests <= 26, `an idle open page made ${requests} requests in 5 s`);
  await page.goto(`${base()}/many.html`, { waitUntil: "load" });
  await sleep(2000);
  // Also while the page is shown again and again (a tab switched to).
  requests = 0;
  await page.evaluate(() => {
    const shown = setInterval(() => document.dispatchEvent(new Event("visibilitychange")), 50);
    setTimeout(() => clearInterval(shown), 5000);
  });
  await sleep(5000);
  check(requests >= 35 && requests <= 60,
        `an idle page that loaded 30 images, shown 100 times, made ${requests} requests in 5 s`);
  await page.goto(`${base()}/`, { waitUntil: "load" });

  for (let i = 1; i <= 3; ++i) {
    await page.evaluate(() => { window.kept = 42; });
    await timeEdit(page, "stylesheet", () => write("style.css", `h1 { color: rgb(0, 0, ${i * 50}); }\n`),
                   (blue) => getComputedStyle(document.getElementById("t")).color === `rgb(0, 0, ${blue})`,
                   i * 50);
    check(await page.evaluate(() => window.kept === 42), `stylesheet change ${i} swapped without a reload`);
    // The browser's own restoring is off: the place kept must be the script's doing.
    await page.evaluate(() => {
      history.scrollRestoration = "manual";
      window.scrollTo(0, 700);
    });
    await timeEdit(page, "page", () => write("index.html", indexPage(`Title ${i}`)),
                   (title) => document.getElementById("t")?.textContent === title && document.readyState === "complete",
                   `Title ${i}`);
    check((await until(page, () => Math.abs(window.scrollY - 700) < 2, null, 2000)) !== Infinity,
          `the page reloaded for change ${i} kept its scroll position`);
    await timeEdit(page, "script", () => write("app.js", `window.appVersion = ${i};\n`),
                   (version) => window.appVersion === version, i);
    await timeEdit(page, "image", () => write("pic.svg", picture(10 + i)),
                   (width) => document.getElementById("pic")?.naturalWidth === width, 10 + i);
  }
  // A script saved right after the page loaded: compared with what it loaded.
  for (let i = 4; i <= 6; ++i) {
    await page.goto(`${base()}/`, { waitUntil: "load" });
    const saved = Date.now();
    write("app.js", `window.appVersion = ${i};\n`);
    const ms = await until(page, (version) => window.appVersion === version, i);
    (times["script saved at load"] ??= []).push(ms === Infinity ? ms : Date.now() - saved);
  }

  await page.goto(`${base()}/nobody.html`, { waitUntil: "load" });
  for (let i = 1; i <= 3; ++i) {
    // The script ends up inside the unclosed paragraph: its first text is the page's.
    await timeEdit(page, "page without <body>", () => write("nobody.html", `<p id="t">v${i}`),
                   (text) => document.getElementById("t")?.firstChild?.nodeValue === text, `v${i}`);
  }
  await page.goto(`${base()}/renamed`, { waitUntil: "load" });
  for (let i = 1; i <= 3; ++i) {
    await timeEdit(page, "page saved by rename", () => {
      write("renamed.html.tmp", `<p id="t">r${i}</p>`);
      fs.renameSync(at("renamed.html.tmp"), at("renamed.html"));
    }, (text) => document.getElementById("t")?.textContent === text, `r${i}`);
  }

  // The site's 404 page, until the missing page is made.
  const missing = await page.goto(`${base()}/fresh`, { waitUntil: "load" });
  check(missing.status() === 404 && (await page.textContent("#t")) === "site 404",
        `a missing page showed the site's 404.html (${missing.status()})`);
  await timeEdit(page, "missing page made", () => write("fresh.html", `<p id="t">fresh</p>`),
                 () => document.getElementById("t")?.textContent === "fresh");

  // Stopped, the page waits quietly; started again, it goes on.
  await page.goto(`${base()}/`, { waitUntil: "load" });
  await page.evaluate(() => { window.kept = "before the stop"; });
  const port = server.port;
  await stop(server.child);
  await sleep(2500);
  server = await serve(["--preview"], port);
  await sleep(1500);
  check(await page.evaluate(() => window.kept === "before the stop"), "the page waited through a stop without reloading");
  await timeEdit(page, "page after a stop", () => write("index.html", indexPage("After")),
                 () => document.getElementById("t")?.textContent === "After");

  for (const [kind, values] of Object.entries(times)) {
    const shown = values.map((ms) => (ms === Infinity ? "never" : `${(ms / 1000).toFixed(2)} s`)).join(", ");
    check(median(values) <= 3000, `${kind}: median ${(median(values) / 1000).toFixed(2)} s (${shown})`);
  }

  // With the option off, every byte is the file's, and no 404.html stands in.
  const plain = await serve([]);
  for (const name of ["index.html", "nobody.html", "style.css", "app.js"]) {
    const answer = await page.goto(`http://127.0.0.1:${plain.port}/${name}`);
    check(Buffer.compare(await answer.body(), fs.readFileSync(at(name))) === 0,
          `with the option off, ${name} came byte for byte`);
  }
  const offMissing = await page.goto(`http://127.0.0.1:${plain.port}/fresh`);
  check(offMissing.status() === 404 && !(await offMissing.body()).toString().includes("site 404"),
        "with the option off, /fresh got the fixed error page");
  await stop(plain.child);
});
