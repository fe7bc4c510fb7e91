// Headless Chromium from Debian, driven through the DevTools protocol, against a
// running server that serves a copy of tests/browser/site (plus fonts/test.ttf)
// from the folder ROOT:
//   node browser-test.mjs BASE_URL SCREENSHOT ROOT
// Loads a page that pulls a stylesheet, a script, an image and a font; follows
// a link to a folder without its trailing slash and one with a query string;
// loads a missing page; reloads the first page, which revalidates every file
// (counted on the wire), and after an edit of its stylesheet shows the edit.
// Asserts what was rendered, not just what was sent.
import fs from "node:fs";
import path from "node:path";
import { expect, failures, runBrowserTest, sleep } from "./common.mjs";

const [baseUrl, screenshot, root] = process.argv.slice(2);
// The whole test is bounded, whatever hangs.
await runBrowserTest({ seconds: 120 }, async (context) => {
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

  // 5. Reloads, counted on the wire through the DevTools protocol: from an
  // empty cache every file comes whole; a reload revalidates each with a 304;
  // after an edit of the stylesheet on disk, the reload shows the edit.
  const cdp = await context.newCDPSession(page);
  await cdp.send("Network.enable");
  await cdp.send("Network.clearBrowserCache");
  // Request id -> { file, status, bytes }. The status is the one on the wire:
  // for a revalidated page the response events report the cached 200.
  let wire = new Map();
  const entry = (id) => wire.get(id) ?? wire.set(id, {}).get(id);
  cdp.on("Network.requestWillBeSent", (e) => { entry(e.requestId).file = new URL(e.request.url).pathname; });
  cdp.on("Network.responseReceivedExtraInfo", (e) => { entry(e.requestId).status = e.statusCode; });
  cdp.on("Network.loadingFinished", (e) => { entry(e.requestId).bytes = e.encodedDataLength; });
  const load = async (how) => {
    wire = new Map();
    await how();
    await page.evaluate(() => document.fonts.ready);
    for (let i = 0; i < 50 && [...wire.values()].some((w) => w.bytes === undefined || !w.file); i++) {
      await sleep(100);
    }
    const entries = [...wire.values()];
    return { entries, bytes: entries.reduce((sum, w) => sum + (w.bytes ?? 0), 0) };
  };
  const statusOf = (entries, file) => entries.filter((w) => w.file === file).map((w) => w.status).join();
  const pageFiles = ["/", "/style.css", "/app.js", "/picture.png", "/fonts/test.ttf"];
  const first = await load(() => page.goto(`${baseUrl}/`, { waitUntil: "load" }));
  const again = await load(() => page.reload({ waitUntil: "load" }));
  for (const file of pageFiles) {
    expect(statusOf(first.entries, file) === "200", `first load of ${file}: ${statusOf(first.entries, file) || "not fetched"}`);
    expect(statusOf(again.entries, file) === "304", `reload of ${file}: ${statusOf(again.entries, file) || "not fetched"}, want 304`);
  }
  expect(again.bytes * 4 < first.bytes, `a reload took ${again.bytes} bytes, the first load ${first.bytes}`);
  console.log(`  chromium: first load ${first.bytes} bytes on the wire (${first.entries.length} responses), ` +
              `reload ${again.bytes} bytes (${again.entries.map((w) => w.status).join(" ")})`);

  const stylesheet = path.join(root, "style.css");
  const original = fs.readFileSync(stylesheet, "utf8");
  try {
    // The same size, and perhaps the same second: only the tag tells them apart.
    fs.writeFileSync(stylesheet, original.replace("rgb(1, 2, 3)", "rgb(4, 5, 6)"));
    const edited = await load(() => page.reload({ waitUntil: "load" }));
    const color = await page.evaluate(() => getComputedStyle(document.getElementById("box")).color);
    expect(color === "rgb(4, 5, 6)", `after an edit of style.css and a reload the box is ${color}`);
    expect(statusOf(edited.entries, "/style.css") === "200",
           `the edited style.css answered ${statusOf(edited.entries, "/style.css")}, want 200`);
    console.log(`  chromium: reload after an edit of style.css: ${edited.bytes} bytes, box color ${color}`);
  } finally {
    fs.writeFileSync(stylesheet, original);
  }

  expect(failed.length === 0, `requests failed: ${failed.join("; ")}`);
  console.log(`  chromium: ${responses.length} responses, ${failures.length} failures`);
});
