// Headless Chromium at a phone's viewport adds files through a folder listing
// of tarvel-serve --list --upload, which this test starts itself on an empty
// temporary root:
//   node upload-test.mjs TARVEL_SERVE SCREENSHOT
// Three files are picked: one named in another script, one named like a tag
// whose handler would set window.__xss, and one of a few MiB. With JavaScript
// the page's script sends them (the upload slowed down so the bar moves): the
// bar must reach its end, "Stored:" must name them and the listing show them
// by their exact names. Without JavaScript the form posts them again and the
// 303 leads back to the listing, its sort kept, showing "name (1).ext". No
// dialog, no page error, no policy violation, nothing a name says may run,
// and every stored file must hold exactly its source's bytes. SCREENSHOT is
// the phone's screen after the upload; SCREENSHOT with "-sending" before
// ".png" is the same screen while the bar moves.
import { spawn } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { expect, launch, runBrowserTest, sleep } from "./common.mjs";

const [serveBinary, screenshot] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), "tarvel-upload-"));
const root = path.join(work, "root");
const picked = path.join(work, "picked");
fs.mkdirSync(root);
fs.mkdirSync(picked);

// Random bytes, so a byte lost, doubled or swapped anywhere shows in the hash.
const sources = [
  { name: "测试 照片.jpg", copy: "测试 照片 (1).jpg", size: 48 * 1024 },
  { name: "<img src=x onerror=window.__xss=1>.png", copy: "<img src=x onerror=window.__xss=1> (1).png",
    size: 20 * 1024 + 7 },
  { name: "big video.mp4", copy: "big video (1).mp4", size: 6 * 1024 * 1024 + 13 },
];
for (const source of sources) {
  source.path = path.join(picked, source.name);
  fs.writeFileSync(source.path, crypto.randomBytes(source.size));
}
const sha256 = (file) => crypto.createHash("sha256").update(fs.readFileSync(file)).digest("hex");
// The sent body is slowed to this, so the bar shows steps between empty and full.
const kUploadBytesPerSecond = 4 * 1024 * 1024;

function check(condition, what) {
  if (condition) console.log(`  ok ${what}`);
  else expect(false, what);
}

// runBrowserTest ends the process: the server and the folders go with it.
process.on("exit", () => {
  server.kill("SIGKILL");
  fs.rmSync(work, { recursive: true, force: true });
});
const server = spawn(serveBinary, ["--list", "--upload", root, "0"],
  { stdio: ["ignore", "pipe", "inherit"] });
const base = await new Promise((resolve, reject) => {
  let out = "";
  server.stdout.on("data", (data) => {
    out += data;
    const found = out.match(/on (http:\/\/127\.0\.0\.1:\d+\/)/);
    if (found) resolve(found[1]);
  });
  server.on("exit", (code) => reject(new Error(`tarvel-serve exited (${code}): ${out}`)));
});
const listing = `${base}?sort=size`;
const phone = { viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true };

// Whatever would show that something ran or was blocked: dialogs, page
// errors, and console errors other than the missing favicon.
function watch(page, problems) {
  page.setDefaultTimeout(20_000);
  page.on("dialog", (dialog) => {
    problems.push(`dialog: ${dialog.message()}`);
    dialog.dismiss().catch(() => {});
  });
  page.on("pageerror", (error) => problems.push(`page error: ${error.message}`));
  page.on("console", (message) => {
    const favicon = /\/favicon\.ico$/.test(message.location().url ?? "");
    if ((message.type() === "error" && !favicon) || /Content Security Policy/i.test(message.text())) {
      problems.push(`console ${message.type()}: ${message.text()}`);
    }
  });
}

// Polls fn in the page until it returns true; false after limitMs.
async function until(page, fn, limitMs) {
  const started = Date.now();
  while (Date.now() - started < limitMs) {
    if (await page.evaluate(fn)) return true;
    await sleep(25);
  }
  return false;
}

// What the listing shows: each row's link text beside the last step of its
// target, decoded; and anything a name could have become.
const shownOn = (page) => page.evaluate(() => ({
  url: location.href,
  links: [...document.querySelectorAll("tbody a")].map((a) =>
    [a.textContent, decodeURIComponent(new URL(a.href).pathname.split("/").pop())]),
  xss: typeof window.__xss,
  markup: document.querySelectorAll("img, iframe, object, embed, svg").length,
  handlers: [...document.querySelectorAll("*")].flatMap((e) => [...e.attributes])
    .filter((a) => a.name.toLowerCase().startsWith("on")).map((a) => a.name),
}));

function checkListed(shown, names, how) {
  for (const name of names) {
    const link = shown.links.find(([text]) => text === name);
    check(link && link[1] === name,
          `${how}: ${JSON.stringify(name)} is listed as text, linked to ${JSON.stringify(link?.[1] ?? null)}`);
  }
  check(shown.xss === "undefined" && shown.markup === 0 && shown.handlers.length === 0,
        `${how}: nothing a name says ran or became markup (window.__xss ${shown.xss}, ` +
        `${shown.markup} img/embedded, handlers: ${shown.handlers.join() || "none"})`);
}

// The page's script sends the picked files; the bar's steps and the status
// line's texts are recorded as the page shows them.
async function addWithScript(context, problems) {
  const page = context.pages()[0] ?? (await context.newPage());
  watch(page, problems);
  const answer = await page.goto(listing, { waitUntil: "load" });
  const policy = answer.headers()["content-security-policy"] ?? "";
  check(answer.status() === 200 && /script-src 'nonce-[^']+'/.test(policy),
        `the listing answered ${answer.status()} with a nonce for its own script in its policy`);
  await page.evaluate(() => {
    const bar = document.querySelector("#add-files progress");
    const said = document.getElementById("add-files-said");
    const seen = (window.__seen = { bar: [], said: [], violations: [] });
    new MutationObserver(() => {
      if (bar.hasAttribute("value")) seen.bar.push([bar.value, bar.max]);
    }).observe(bar, { attributes: true, attributeFilter: ["value"] });
    new MutationObserver(() => seen.said.push(said.textContent))
      .observe(said, { childList: true, characterData: true, subtree: true });
    document.addEventListener("securitypolicyviolation",
      (e) => seen.violations.push(`${e.violatedDirective} ${e.blockedURI}`));
  });
  const cdp = await context.newCDPSession(page);
  await cdp.send("Network.enable");
  await cdp.send("Network.emulateNetworkConditions",
    { offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: kUploadBytesPerSecond });
  await page.setInputFiles("input[type=file]", sources.map((s) => s.path));
  await page.tap('button:text-is("Add files")');

  const moving = await until(page, () => {
    const bar = document.querySelector("#add-files progress");
    const part = bar.value / bar.max;
    return !bar.hidden && bar.hasAttribute("value") && part > 0.2 && part < 0.8;
  }, 15_000);
  if (moving) await page.screenshot({ path: screenshot.replace(/\.png$/, "-sending.png") });
  const stored = await until(page, () =>
    document.getElementById("add-files-said").textContent.startsWith("Stored: "), 20_000);
  const seen = await page.evaluate(() => window.__seen);
  const said = await page.textContent("#add-files-said");
  check(stored, `the status line says ${JSON.stringify(said)}`);
  for (const source of sources) {
    check(said.includes(source.name), `"Stored:" names ${JSON.stringify(source.name)}`);
  }

  const [lastValue, lastMax] = seen.bar.at(-1) ?? [0, 0];
  const sent = sources.reduce((sum, s) => sum + s.size, 0);
  const percents = seen.bar.map(([value, max]) => Math.floor((100 * value) / max));
  console.log(`  the bar showed ${seen.bar.length} steps: ${percents.join(" ")} %`);
  check(moving, "the bar was seen between 20 % and 80 % while the (slowed) body was sent");
  check(seen.bar.length > 0 && lastValue === lastMax && lastMax >= sent,
        `the bar reached its end (${lastValue} of ${lastMax} bytes; the files hold ${sent})`);
  check(seen.said.some((text) => /^Sending: \d+ %$/.test(text)),
        `the status line counted: ${seen.said.slice(0, 2).join(" / ")} ...`);
  check(seen.violations.length === 0, `no policy violation (${seen.violations.join("; ") || "none"})`);

  const shown = await shownOn(page);
  check(shown.url === listing, `the page stayed at ${shown.url}`);
  checkListed(shown, sources.map((s) => s.name), "with JavaScript");
  await page.screenshot({ path: screenshot });
}

// With JavaScript off the form itself posts; its answer leads back to the listing.
async function addWithForm(problems) {
  const plain = await launch([], { ...phone, javaScriptEnabled: false });
  try {
    const page = plain.context.pages()[0] ?? (await plain.context.newPage());
    watch(page, problems);
    await page.goto(listing, { waitUntil: "load" });
    await page.setInputFiles("input[type=file]", sources.map((s) => s.path));
    const [posted] = await Promise.all([
      page.waitForRequest((r) => r.method() === "POST"),
      page.waitForEvent("load"),
      page.tap('button:text-is("Add files")'),
    ]);
    const postAnswer = await posted.response();
    const location = postAnswer ? await postAnswer.headerValue("location") : null;
    check(postAnswer?.status() === 303 && new URL(location, base).href === listing,
          `the form's answer was ${postAnswer?.status()} to ${location}`);
    const shown = await shownOn(page);
    check(shown.url === listing, `the browser came back to ${shown.url}, its sort kept`);
    checkListed(shown, sources.flatMap((s) => [s.name, s.copy]), "without JavaScript");
  } finally {
    await plain.close();
  }
}

await runBrowserTest({ seconds: 90, context: phone }, async (context) => {
  const problems = [];
  await addWithScript(context, problems);
  await addWithForm(problems);
  check(problems.length === 0, `no dialog, page error or console error (${problems.join("; ") || "none"})`);

  const expected = sources.flatMap((s) => [[s.name, s], [s.copy, s]]);
  const onDisk = fs.readdirSync(root).sort();
  check(JSON.stringify(onDisk) === JSON.stringify(expected.map(([name]) => name).sort()),
        `the root holds exactly the six stored files (${onDisk.length} entries)`);
  for (const [name, source] of expected) {
    const file = path.join(root, name);
    check(fs.existsSync(file) && sha256(file) === sha256(source.path),
          `${JSON.stringify(name)} holds exactly the bytes of ${JSON.stringify(source.name)}`);
  }
});
