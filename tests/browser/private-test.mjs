// Headless Chromium on a site served by tarvel-serve --preview --private=KEY,
// which this test starts itself, beside a second local server (another
// origin) that records what reaches it:
//   node private-test.mjs TARVEL_SERVE
// Inside the secret a page reloads on an edit (the reload script asks inside
// the secret, also on the site's 404 page), root-relative links work through
// the cookie, and neither an image nor a link to the other server carries a
// Referer, so the secret stays on this server.
import { spawn } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { expect, runBrowserTest, sleep } from "./common.mjs";

const [serveBinary] = process.argv.slice(2);
const key = "t3stk3ysecr3tpr2vat3l2nkaa";
const root = fs.mkdtempSync(path.join(os.tmpdir(), "tarvel-private-"));
const write = (name, text) => fs.writeFileSync(path.join(root, name), text);

function check(condition, what) {
  if (condition) console.log(`  ok ${what}`);
  else expect(false, what);
}

// The other origin: answers everything, keeps each request's Referer (or none).
const seen = [];
const other = http.createServer((request, response) => {
  seen.push({ url: request.url, referer: request.headers.referer ?? null });
  response.setHeader("Content-Type", request.url.endsWith(".svg") ? "image/svg+xml" : "text/html");
  response.end(request.url.endsWith(".svg")
    ? `<svg xmlns="http://www.w3.org/2000/svg" width="5" height="5"/>` : "<p id=o>other</p>");
});
await new Promise((resolve) => other.listen(0, "127.0.0.1", resolve));
const otherBase = `http://127.0.0.1:${other.address().port}`;

const page = (title) =>
  `<!doctype html><html><head><link rel="stylesheet" href="/css/site.css"></head><body>` +
  `<h1 id="t">${title}</h1><img src="${otherBase}/away.svg">` +
  `<a id="out" href="${otherBase}/page">away</a></body></html>\n`;
fs.mkdirSync(path.join(root, "css"));
write("css/site.css", "h1 { color: rgb(0, 128, 0); }\n");
write("index.html", page("Title 0"));
write("404.html", `<html><body><p id="t">site 404</p></body></html>`);

// runBrowserTest ends the process: the servers and the site go with it.
process.on("exit", () => {
  server.kill("SIGKILL");
  other.close();
  fs.rmSync(root, { recursive: true, force: true });
});
const server = spawn(serveBinary, ["--preview", `--private=${key}`, root, "0"],
  { stdio: ["ignore", "pipe", "inherit"] });
const base = await new Promise((resolve, reject) => {
  let out = "";
  server.stdout.on("data", (data) => {
    out += data;
    const found = out.match(/on (http:\/\/127\.0\.0\.1:\d+\/\S*)/);
    if (found) resolve(found[1]);
  });
  server.on("exit", (code) => reject(new Error(`tarvel-serve exited (${code}): ${out}`)));
});
check(base.endsWith(`/${key}/`), `the first line gives the private address (${base})`);
const plainBase = base.slice(0, -(key.length + 1));

async function until(target, fn, limitMs = 8000) {
  const started = Date.now();
  while (Date.now() - started < limitMs) {
    try {
      if (await target.evaluate(fn)) return Date.now() - started;
    } catch {
      // the page is being reloaded
    }
    await sleep(20);
  }
  return Infinity;
}

await runBrowserTest({ seconds: 90 }, async (context) => {
  const tab = context.pages()[0] ?? (await context.newPage());
  const outside = await tab.goto(plainBase, { waitUntil: "load" });
  check(outside.status() === 404, "the plain address gets the error page");
  check(!(await outside.text()).includes("site 404"), "the site's 404 page is only inside the secret");

  await tab.goto(base, { waitUntil: "load" });
  check((await tab.textContent("#t")) === "Title 0", "the private address shows the page");
  const colour = await tab.evaluate(() => getComputedStyle(document.getElementById("t")).color);
  check(colour === "rgb(0, 128, 0)", `a root-relative stylesheet loads through the cookie (${colour})`);
  await until(tab, () => document.images[0].complete);
  const image = seen.find((r) => r.url === "/away.svg");
  check(image && image.referer === null, `an image on another server gets no Referer (${image?.referer})`);

  await sleep(1200);  // a whole polling round before the edit
  write("index.html", page("Title 1"));
  const reloadMs = await until(tab, () => document.getElementById("t")?.textContent === "Title 1");
  check(reloadMs < 8000, `an edit shows inside the secret (${reloadMs} ms)`);

  const missing = await tab.goto(`${base}deep/fresh`, { waitUntil: "load" });
  check(missing.status() === 404 && (await tab.textContent("#t")) === "site 404",
    "a missing page inside the secret gets the site's 404 page");
  fs.mkdirSync(path.join(root, "deep"));
  write("deep/fresh.html", `<html><body><p id="t">fresh</p></body></html>`);
  const freshMs = await until(tab, () => document.getElementById("t")?.textContent === "fresh");
  check(freshMs < 8000, `the 404 page's script asks inside the secret and shows the new page (${freshMs} ms)`);

  await tab.goto(base, { waitUntil: "load" });
  await Promise.all([tab.waitForURL(`${otherBase}/page`), tab.click("#out")]);
  const link = seen.find((r) => r.url === "/page");
  check(link && link.referer === null, `a link to another server carries no Referer (${link?.referer})`);
  for (const request of seen) {
    check(!JSON.stringify(request).includes(key), `the other server never saw the secret (${request.url})`);
  }
});
