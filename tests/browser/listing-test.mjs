// Headless Chromium at a phone's viewport against a running server that lists
// the folder ROOT (tarvel-serve --list), which holds a file with a 200-letter
// name, one named like a tag, perhaps one with quotes, and a folder "sub folder"
// holding a file:
//   node listing-test.mjs BASE_URL SCREENSHOT ROOT
// The listing must fit the screen's width, run nothing a name says, show each
// name as text behind a link to it, and open the folder on a tap.
import fs from "node:fs";
import path from "node:path";
import { expect, failures, runBrowserTest } from "./common.mjs";

const [baseUrl, screenshot, root] = process.argv.slice(2);
const tagName = "<img src=x onerror=window.__pwned=1>";
const subFolder = "sub folder";
const names = fs.readdirSync(root);
const longName = names.find((name) => /^[A-Za-z]{200}$/.test(name));
const inner = fs.readdirSync(path.join(root, subFolder))[0];

// One line per check, passed or not.
function check(condition, what) {
  if (condition) console.log(`  ok ${what}`);
  else expect(false, what);
}

const phone = { viewport: { width: 360, height: 740 }, isMobile: true, hasTouch: true };
await runBrowserTest({ seconds: 80, context: phone }, async (context) => {
  const page = context.pages()[0] ?? (await context.newPage());
  page.setDefaultTimeout(20_000);
  const dialogs = [];
  page.on("dialog", (dialog) => {
    dialogs.push(dialog.message());
    dialog.dismiss().catch(() => {});
  });
  check(longName && names.includes(tagName) && inner,
        `the root holds ${names.length} entries, among them the long and the tag-like names`);

  const answer = await page.goto(`${baseUrl}/`, { waitUntil: "load" });
  check(answer.status() === 200 && answer.headers()["content-type"]?.startsWith("text/html"),
        `the root's listing answered ${answer.status()} ${answer.headers()["content-type"]}`);
  const shown = await page.evaluate(({ longName }) => {
    const html = document.documentElement;
    const links = [...document.querySelectorAll("a")];
    // The lines the long name takes, and how far right any of them reaches.
    const text = document.createRange();
    const long = links.find((a) => a.textContent === longName);
    if (long) text.selectNodeContents(long);
    const lines = long ? [...text.getClientRects()] : [];
    return {
      inner: window.innerWidth, client: html.clientWidth, scroll: html.scrollWidth,
      lines: lines.length, right: Math.max(0, ...lines.map((r) => r.right)),
      pwned: typeof window.__pwned,
      markup: document.querySelectorAll("script, img, iframe, object, embed, svg").length,
      handlers: [...document.querySelectorAll("*")].flatMap((e) => [...e.attributes])
        .filter((a) => a.name.toLowerCase().startsWith("on")).map((a) => a.name),
      // Link text -> the last step of its target, decoded.
      links: links.map((a) => [a.textContent,
                               decodeURIComponent(new URL(a.href).pathname.replace(/\/$/, "").split("/").pop())]),
    };
  }, { longName });
  check(shown.inner === 360 && shown.client === 360,
        `the page is laid out at the phone's width (innerWidth ${shown.inner}, clientWidth ${shown.client})`);
  check(shown.scroll <= shown.client, `no sideways scroll (scrollWidth ${shown.scroll}, clientWidth ${shown.client})`);
  check(shown.lines > 1 && shown.right <= shown.client,
        `the 200-letter name wraps onto ${shown.lines} lines reaching ${Math.round(shown.right)} px`);
  check(shown.pwned === "undefined" && dialogs.length === 0,
        `nothing a name says ran (window.__pwned ${shown.pwned}, ${dialogs.length} dialogs)`);
  check(shown.markup === 0 && shown.handlers.length === 0,
        `no element came from a name (${shown.markup} script/img/embedded, ` +
        `handlers: ${shown.handlers.join() || "none"})`);
  for (const name of names) {
    const shownAs = fs.statSync(path.join(root, name)).isDirectory() ? `${name}/` : name;
    const link = shown.links.find(([text]) => text === shownAs);
    const target = link ? JSON.stringify(link[1].slice(0, 40)) : "nothing";
    check(link && link[1] === name, `${JSON.stringify(shownAs.slice(0, 40))} is shown as text, linked to ${target}`);
  }
  await page.screenshot({ path: screenshot, fullPage: true });

  await Promise.all([page.waitForURL(/\/sub%20folder\/$/), page.tap(`a:text-is("${subFolder}/")`)]);
  await page.waitForLoadState("load");
  const opened = await page.evaluate(() => ({
    url: location.href, texts: [...document.querySelectorAll("a")].map((a) => a.textContent),
  }));
  check(opened.url.endsWith("/sub%20folder/") && opened.texts.includes(inner),
        `a tap on "${subFolder}/" opened ${opened.url} showing ${JSON.stringify(inner)}`);
  check(dialogs.length === 0 && (await page.evaluate(() => typeof window.__pwned)) === "undefined",
        "still nothing ran after the tap");
  console.log(`  listing: ${failures.length} failures`);
});
