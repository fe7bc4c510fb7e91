// What the browser tests share: headless Chromium from Debian with the flags
// this machine needs and a fresh profile, a failure list, and a watchdog.
import { chromium } from "playwright-core";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

export const failures = [];

export function expect(condition, what) {
  if (!condition) {
    failures.push(what);
    console.log(`  FAIL ${what}`);
  }
}

// Ends the process with a failure when the test has not finished in time.
function watchdog(seconds) {
  return setTimeout(() => {
    console.log(`  FAIL the browser test did not finish within ${seconds} s`);
    process.exit(1);
  }, seconds * 1000);
}

// A persistent context on a new empty profile (with playwright's context
// options, such as a phone's viewport); close() also removes the profile.
export async function launch(extraArgs = [], contextOptions = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "tarvel-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: [
      "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      ...extraArgs,
    ],
    timeout: 60_000,
    ...contextOptions,
  });
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Runs body(context) in a fresh browser (with Chromium's extra args and the
// context's options), bounded by a watchdog of that many seconds; an exception
// counts as a failure. Exits the process: 1 on any failure.
export async function runBrowserTest({ seconds, args = [], context = {} }, body) {
  const timer = watchdog(seconds);
  const browser = await launch(args, context);
  try {
    await body(browser.context);
  } catch (error) {
    failures.push(String(error));
    console.log(`  FAIL ${error.stack || error}`);
  } finally {
    await browser.close();
    clearTimeout(timer);
  }
  process.exit(failures.length ? 1 : 0);
}
