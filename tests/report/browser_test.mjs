// The refinement report in a real browser: Debian's Chromium, headless and
// offline (every request that is not the page itself is refused), driven by
// playwright-core. The page must raise no console error, draw a plot per
// measured pattern on its own axis (non-blank pixels), list one row per parameter of refinement.json with its
// value, zoom when dragged across, and name a reflexion's h k l when its tick
// is hovered. Screenshots at two zoom levels are kept beside the report.
//
//   node browser_test.mjs FOLDER   (FOLDER holds report.html and refinement.json)
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

// playwright-core as scripts/setup.sh installs it, in web/node_modules.
const web = process.env.PK_WEB || join(dirname(fileURLToPath(import.meta.url)), "../../web");
const { chromium } = createRequire(join(resolve(web), "package.json"))("playwright-core");

const folder = resolve(process.argv[2]);
const expected = JSON.parse(readFileSync(join(folder, "refinement.json"), "utf8"));
const failures = [];
const check = (ok, what) => { if (!ok) failures.push(what); };

const browser = await chromium.launch({
  executablePath: process.env.PK_CHROMIUM || "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync"],
});
try {
  const context = await browser.newContext({ offline: true, viewport: { width: 1400, height: 1000 } });
  const page = await context.newPage();
  const errors = [];
  page.on("console", m => { if (m.type() === "error") errors.push(m.text()); });
  page.on("pageerror", e => errors.push(String(e)));
  await page.route("**/*", route => (route.request().url().startsWith("file:") ? route.continue() : route.abort()));
  await page.goto("file://" + join(folder, "report.html"));
  await page.waitForFunction(() => window.pkReport !== undefined, null, { timeout: 10000 });
  check(errors.length === 0, "console errors: " + errors.join(" | "));

  // A main and a difference plot per measured pattern, each main plot's legend naming the pattern's own axis.
  const axes = await page.$$eval(".uplot", plots => plots.map(p => p.querySelector(".u-legend .u-label")?.textContent));
  const patterns = await page.evaluate(() => window.pkReport.data.patterns.map(p => p.axis));
  check(axes.length === 2 * patterns.length && patterns.every((axis, i) => axes[2 * i] === axis),
        `plots labelled ${axes.join(", ")} for patterns on ${patterns.join(", ")}`);

  // The main plot's canvas holds drawn pixels.
  const drawn = await page.evaluate(() => {
    const canvas = document.querySelector(".uplot canvas");
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let coloured = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i + 3] > 0 && (data[i] < 200 || data[i + 1] < 200)) ++coloured;
    return coloured;
  });
  check(drawn > 2000, "the plot's canvas is nearly blank (" + drawn + " pixels drawn)");

  // One row per parameter, each with the value refinement.json gives.
  const rows = await page.$$eval("#parameters tr[data-name]", trs => trs.map(tr => [tr.dataset.name, tr.children[1].textContent]));
  check(rows.length === expected.parameters.length, `${rows.length} parameter rows for ${expected.parameters.length} parameters`);
  const shown = new Map(rows);
  for (const p of expected.parameters) {
    const text = shown.get(p.name);
    const value = text === undefined ? NaN : Number(text);
    const close = p.value === null ? text === "—" : Math.abs(value - p.value) <= 1e-6 * Math.max(1, Math.abs(p.value));
    check(close, `parameter ${p.name}: the page shows ${text}, refinement.json ${p.value}`);
  }
  // The filter keeps the matching rows only.
  await page.fill("#filter", ".a");
  const filtered = await page.$$eval("#parameters tr[data-name]", trs => trs.map(tr => tr.dataset.name));
  check(filtered.length > 0 && filtered.every(n => n.toLowerCase().includes(".a")), "the filter kept " + filtered.join(", "));
  await page.fill("#filter", "");
  await page.evaluate(() => window.scrollTo(0, 0));   // the filter scrolled the page down to it

  await page.screenshot({ path: join(folder, "report-whole.png"), fullPage: false });

  // A drag across the middle fifth of the plot zooms into it.
  const before = await page.evaluate(() => window.pkReport.xRange());
  const box = await page.locator(".uplot .u-over").first().boundingBox();
  const y = box.y + box.height / 3;
  await page.mouse.move(box.x + 0.4 * box.width, y);
  await page.mouse.down();
  await page.mouse.move(box.x + 0.5 * box.width, y, { steps: 8 });
  await page.mouse.move(box.x + 0.6 * box.width, y, { steps: 8 });
  await page.mouse.up();
  const after = await page.evaluate(() => window.pkReport.xRange());
  const span = before[1] - before[0];
  check(after[1] - after[0] < 0.3 * span && after[0] > before[0] + 0.3 * span,
        `the drag did not zoom: ${before} → ${after}`);
  await page.screenshot({ path: join(folder, "report-zoomed.png"), fullPage: false });

  // A tick in view, hovered, names its reflexion.
  const tick = await page.evaluate(() => {
    const [min, max] = window.pkReport.xRange(), row = window.pkReport.data.patterns[0].ticks[0];
    const n = row.x.findIndex(x => x > min && x < max);
    return n < 0 ? null : { n, hkl: row.hkl[n].join(" "), point: window.pkReport.tickPoint(0, n) };
  });
  check(tick !== null, "no tick in the zoomed range");
  if (tick !== null) {
    await page.mouse.move(tick.point.x, tick.point.y);
    const tip = await page.evaluate(() => { const t = document.getElementById("tooltip"); return t.hidden ? "" : t.textContent; });
    check(tip.includes(tick.hkl), `hovering the tick shows "${tip}", not h k l ${tick.hkl}`);
  }

  // A double click returns to the whole range.
  await page.mouse.dblclick(box.x + box.width / 2, y);
  const reset = await page.evaluate(() => window.pkReport.xRange());
  check(Math.abs(reset[0] - before[0]) < 1e-9 && Math.abs(reset[1] - before[1]) < 1e-9, `double click left ${reset}`);
  check(errors.length === 0, "console errors: " + errors.join(" | "));
} finally {
  await browser.close();
}
if (failures.length) {
  for (const f of failures) console.error("FAIL: " + f);
  process.exit(1);
}
console.log("report: every browser check passed; screenshots in " + folder);
