// Headless Chromium from Debian, driven through the DevTools protocol, against a
// running server that serves tests/browser/site (plus fonts/test.ttf):
//   node browser-test.mjs BASE_URL SCREENSHOT
// Loads a page that pulls a stylesheet, a script, an image and a font; follows
// a link to a folder without its trailing slash and one with a query string;
// loads a missing page. Asserts what was rendered, not just what was sent.
import { chromium } from "playwright-core";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const [baseUrl, screenshot] = process.argv.slice(2);
const failures = [];
const expect = (condition, what) => {
  if (!condition) {
    failures.push(what);
    console.log(`  FAIL ${what}`);
  }
};

// The whole test is bounded, whatever hangs.
const watchdog = setTimeout(() => {
  console.log("  FAIL the browser test did not finish within 120 s");
  process.exit(1);
}, 120_000);

const profile = fs.mkdtempSync(path.join(os.tmpdir(), "tarvel-chromium-"));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: [
    "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
  ],
  timeout: 60_000,
});

try {
  const page = context.pages()[0] ?? (await context.newPage());
  page.setDefaultTimeout(20_000);
  const responses = [];
  const failed = [];
  page.on("response", (r) => responses.push(r));
  page.on("requestfailed", (r) => failed.push(`${r.url()}: ${r.failure()?.errorText}`));
  const responseFor = (suffix) => responses.find((r) => new URL(r.url()).pathname.endsWith(suffix));

  // 1. The page and everything it pulls in.
  const main = await page.goto(`${baseUrl}/`, { waitUntil: "load" });
  expect(main.status() === 200, `GET / answered ${main.status()}`);
  await page.evaluate(() => document.fonts.ready);
  const shown = await page.evaluate(() => {
    const box = getComputedStyle(document.getElementById("box"));
    const picture = document.getElementById("picture");
    const face = [...document.fonts].find((f) => f.family.replace(/"/g, "") === "TarvelTest");
    return {
      title: document.title,
      script: document.body.dataset.script,
      out: document.getElementById("out").textContent,
      width: box.width, color: box.color,
      picture: [picture.complete, picture.naturalWidth, picture.naturalHeight],
      font: face ? face.status : "missing",
    };
  });
  expect(shown.title === "Tarvel browser test", `title ${JSON.stringify(shown.title)}`);
  expect(shown.script === "ran" && shown.out === "script ran; query (none)",
         `the script did not run: ${JSON.stringify(shown.out)}`);
  expect(shown.width === "123px" && shown.color === "rgb(1, 2, 3)",
         `the stylesheet was not applied: width ${shown.width}, color ${shown.color}`);
  expect(shown.picture.join() === "true,37,23",
         `the picture is not 37x23 as drawn: ${shown.picture.join()}`);
  expect(shown.font === "loaded", `the font is ${shown.font}`);
  for (const [file, type] of [["/style.css", "text/css"], ["/app.js", "text/javascript"],
                              ["/picture.png", "image/png"], ["/fonts/test.ttf", "font/ttf"]]) {
    const r = responseFor(file);
    expect(r && r.status() === 200 && r.headers()["content-type"] === type,
           `${file}: ${r ? `${r.status()} ${r.headers()["content-type"]}` : "never fetched"}`);
  }
  await page.screenshot({ path: screenshot, fullPage: true });

  // 2. A folder linked without its trailing slash: redirected, and its relative links work.
  await Promise.all([page.waitForURL(/\/docs\/$/), page.click("#to-folder")]);
  await page.waitForLoadState("load");
  const folder = responses.filter((r) => r.url() === `${baseUrl}/docs`).pop();
  expect(folder && folder.status() === 301 && folder.headers()["location"] === "/docs/",
         `/docs: ${folder ? `${folder.status()} Location ${folder.headers()["location"]}` : "no answer"}`);
  const docs = await page.evaluate(() => ({
    heading: document.getElementById("heading").textContent,
    badge: [document.getElementById("badge").naturalWidth, document.getElementById("badge").naturalHeight],
    width: getComputedStyle(document.getElementById("box")).width,
  }));
  expect(docs.heading === "The docs folder's own page", `the folder showed ${JSON.stringify(docs.heading)}`);
  expect(docs.badge.join() === "11,7", `the folder's relative picture is ${docs.badge.join("x")}`);
  expect(docs.width === "123px", `the folder's relative stylesheet was not applied (${docs.width})`);

  // 3. A link with a query string (and a fragment, which never reaches the server).
  await page.goBack({ waitUntil: "load" });
  await Promise.all([page.waitForURL(/page\.htm/), page.click("#to-query")]);
  await page.waitForLoadState("load");
  await page.waitForFunction(() => document.body.dataset.script === "ran");
  const query = await page.evaluate(() => ({
    heading: document.getElementById("heading").textContent,
    out: document.getElementById("out").textContent,
  }));
  expect(query.heading === "The query page", `the query link showed ${JSON.stringify(query.heading)}`);
  expect(query.out === "script ran; query ?from=index&q=a%20b", `the page saw ${JSON.stringify(query.out)}`);
  const queried = responseFor("/page.htm");
  expect(queried && queried.status() === 200, "page.htm?... was not answered 200");

  // 4. A missing page: the error page, with status 404.
  const missing = await page.goto(`${baseUrl}/no-such-page.htm`, { waitUntil: "load" });
  expect(missing.status() === 404, `a missing page answered ${missing.status()}`);
  const text = await page.evaluate(() => document.body.innerText);
  expect(text.includes("Error 404: Not Found"), `a missing page shows ${JSON.stringify(text)}`);

  expect(failed.length === 0, `requests failed: ${failed.join("; ")}`);
  console.log(`  chromium: ${responses.length} responses, ${failures.length} failures`);
} catch (error) {
  failures.push(String(error));
  console.log(`  FAIL ${error.stack || error}`);
} finally {
  await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
  clearTimeout(watchdog);
}
process.exit(failures.length ? 1 : 0);
