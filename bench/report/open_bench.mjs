// How long the refinement report takes to open in headless Chromium: from
// navigation to the plot drawn (window.pkReport set), median of three loads.
//   node bench/report/open_bench.mjs REPORT.html
// A report of a million points: powderkit refine on a pattern of 10⁶ points
// (bench/report/README lines in BENCHMARKS.md say how it was made).
import { createRequire } from "node:module";
import { dirname, join, resolve } from "node:path";
import { statSync } from "node:fs";
import { fileURLToPath } from "node:url";

const web = process.env.PK_WEB || join(dirname(fileURLToPath(import.meta.url)), "../../web");
const { chromium } = createRequire(join(resolve(web), "package.json"))("playwright-core");
const path = resolve(process.argv[2]);
const browser = await chromium.launch({
  executablePath: process.env.PK_CHROMIUM || "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking", "--disable-component-update"],
});
const times = [];
for (let run = 0; run < 3; ++run) {
  const page = await (await browser.newContext({ offline: true, viewport: { width: 1400, height: 1000 } })).newPage();
  const start = Date.now();
  await page.goto("file://" + path);
  await page.waitForFunction(() => window.pkReport !== undefined, null, { timeout: 60000 });
  times.push((Date.now() - start) / 1000);
  await page.close();
}
await browser.close();
times.sort((a, b) => a - b);
console.log(`${path}: ${(statSync(path).size / 1e6).toFixed(1)} MB, opened in ${times[1].toFixed(2)} s (median of ${times.join(", ")})`);
