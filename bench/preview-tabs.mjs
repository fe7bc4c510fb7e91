// Keeps COUNT headless Chromium tabs open on URL, each page visible, until its
// standard input closes; then prints how many requests the tabs made and in
// how many seconds. For bench/preview.py, which pins it to the client core.
//   node preview-tabs.mjs PLAYWRIGHT_CORE_DIR URL COUNT
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const [playwrightDir, url, count] = process.argv.slice(2);
const { chromium } = await import(path.join(playwrightDir, "index.mjs"));
const profile = fs.mkdtempSync(path.join(os.tmpdir(), "tarvel-tabs-"));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--disable-background-timer-throttling",
         "--disable-renderer-backgrounding", "--disable-backgrounding-occluded-windows"],
});
let requests = 0;
const pages = [];
for (let i = 0; i < Number(count); ++i) {
  const page = i === 0 && context.pages().length ? context.pages()[0] : await context.newPage();
  page.on("request", () => ++requests);
  await page.goto(url, { waitUntil: "load" });
  pages.push(page);
}
const visible = (await Promise.all(pages.map((p) => p.evaluate(() => document.visibilityState))))
  .filter((state) => state === "visible").length;
requests = 0;
const started = Date.now();
console.log(`ready ${visible} visible`);
process.stdin.resume();
process.stdin.on("end", async () => {
  console.log(`requests ${requests} seconds ${((Date.now() - started) / 1000).toFixed(2)}`);
  await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
  process.exit(0);
});
