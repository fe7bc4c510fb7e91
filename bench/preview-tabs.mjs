// Keeps COUNT headless Chromium tabs open on URL, each page visible, until its
// standard input closes; then prints how many requests the tabs made and in
// how many seconds. For bench/preview.py, which pins it to the client core.
//   node preview-tabs.mjs URL COUNT
import { launch } from "../tests/browser/common.mjs";

const [url, count] = process.argv.slice(2);
// Tabs in the background keep their timers running, as a visible page's do.
const { context, close } = await launch([
  "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
  "--disable-backgrounding-occluded-windows",
]);
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
  await close();
  process.exit(0);
});
