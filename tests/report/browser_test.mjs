// The refinement report in a real browser: Debian's Chromium, headless and
// offline (every request that is not the page itself is refused), driven by
// playwright-core. The page must raise no console error, draw a plot per
// measured pattern on its own axis (non-blank pixels), list one row per parameter of refinement.json with its
// value, zoom when dragged across, and name a reflexion's h k l when its tick
// is hovered. The curves it decodes must hold the values of fit.xy (or
// fit_NAME.xy per pattern), and each region excluded in setup.json must be
// listed and shaded. Screenshots at two zoom levels are kept beside the report.
//
//   node browser_test.mjs FOLDER   (FOLDER holds report.html, refinement.json, setup.json and the fit's .xy files)
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

// playwright-core as scripts/setup.sh installs it, in web/node_modules.
const web = process.env.PK_WEB || join(dirname(fileURLToPath(import.meta.url)), "../../web");
const { chromium } = createRequire(join(resolve(web), "package.json"))("playwright-core");

const folder = resolve(process.argv[2]);
const expected = JSON.parse(readFileSync(join(folder, "refinement.json"), "utf8"));
const setup = JSON.parse(readFileSync(join(folder, "setup.json"), "utf8"));
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

  // The phase table: each phase as each pattern sees it, with refinement.json's R-Bragg (two decimals).
  const phaseRows = await page.$$eval("#phases tr", trs => trs.slice(1).map(tr => [...tr.cells].map(c => c.textContent)));
  const seen = expected.histograms.length > 1 ? expected.histograms.flatMap(h => h.phases.map(p => [h.name, p]))
                                              : expected.phases.map(p => [null, p]);
  check(phaseRows.length === seen.length, `${phaseRows.length} phase rows for ${seen.length}`);
  seen.forEach(([name, phase], i) => {
    const cells = phaseRows[i] || [];
    const shift = name === null ? 0 : 1;
    check((name === null || cells[0] === name) && cells[shift] === phase.name &&
          cells[shift + 7] === phase.R_bragg.toFixed(2), `phase row ${i}: ${cells.join(" ")} for ${name} ${phase.name}`);
  });

  // The main plot's canvas holds drawn pixels.
  const drawn = await page.evaluate(() => {
    const canvas = document.querySelector(".uplot canvas");
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let coloured = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i + 3] > 0 && (data[i] < 200 || data[i + 1] < 200)) ++coloured;
    return coloured;
  });
  check(drawn > 2000, "the plot's canvas is nearly blank (" + drawn + " pixels drawn)");

  // Each pattern's decoded curves hold the columns of its .xy file (x, observed, calculated, difference,
  // background; written to 10 digits, the page's counts are single precision) at five points.
  const decoded = await page.evaluate(() => window.pkReport.data.patterns.map(p => {
    const at = [0, 1, 2, 3, 4].map(k => Math.floor(k * (p.x.length - 1) / 4));
    return { name: p.name, count: p.x.length, at, rows: at.map(i => [p.x[i], p.observed[i], p.calculated[i], p.difference[i],
                                                                      p.background[i]]) };
  }));
  for (const p of decoded) {
    const file = decoded.length > 1 ? `fit_${p.name}.xy` : "fit.xy";
    const table = readFileSync(join(folder, file), "utf8").split("\n").filter(l => l && !l.startsWith("#"))
      .map(l => l.trim().split(/\s+/).map(Number));
    check(table.length === p.count, `${file}: ${table.length} rows, the page ${p.count} points`);
    p.at.forEach((i, k) => p.rows[k].forEach((v, c) => {
      const want = table[i]?.[c], scale = Math.max(Math.abs(want), c === 3 ? Math.abs(table[i][1]) : 0, 1e-3);
      check(Math.abs(v - want) <= (c === 0 ? 1e-8 : 1e-6) * scale, `${file} row ${i} column ${c}: ${want}, the page ${v}`);
    }));
  }

  // Each region setup.json excludes is listed, and shaded behind the curves (a grey pixel at its middle, near the
  // top of the main plot, where no curve passes).
  const given = setup.patterns ? setup.patterns.map(p => p.excluded) : [setup.excluded];
  const shown = await page.evaluate(() => window.pkReport.data.patterns.map(p => p.excluded));
  const listed = await page.$$eval("#excluded li", lis => lis.length);
  check(listed === given.flat().length, `${listed} excluded regions listed for ${given.flat().length} given`);
  for (let i = 0; i < given.length; ++i) {
    check(shown[i].length === given[i].length, `pattern ${i}: regions ${JSON.stringify(shown[i])} for ${JSON.stringify(given[i])}`);
    for (const [k, [from, to]] of given[i].entries()) {
      const [a, b] = shown[i][k] || [NaN, NaN];
      check(a >= from && b <= to && b - a > 0.9 * (to - from), `pattern ${i}: region ${a} … ${b} for ${from} … ${to}`);
      const pixel = await page.evaluate(([i, middle]) => {
        const over = document.querySelectorAll(".uplot .u-over")[2 * i], canvas = document.querySelectorAll(".uplot canvas")[2 * i];
        const [min, max] = window.pkReport.xRange(i), box = over.getBoundingClientRect(), at = canvas.getBoundingClientRect();
        const x = box.left + (middle - min) / (max - min) * box.width - at.left, y = box.top + 4 - at.top;
        const r = devicePixelRatio;
        return Array.from(canvas.getContext("2d").getImageData(Math.round(x * r), Math.round(y * r), 1, 1).data);
      }, [i, (from + to) / 2]);
      const grey = pixel[3] === 255 && pixel[0] === pixel[1] && pixel[1] === pixel[2] && pixel[0] >= 200 && pixel[0] <= 230;
      check(grey, `pattern ${i}: the middle of ${from} … ${to} is not shaded (${pixel})`);
    }
  }

  // One row per parameter, each with the value refinement.json gives.
  const rows = await page.$$eval("#parameters tr[data-name]", trs => trs.map(tr => [tr.dataset.name, tr.children[1].textContent]));
  check(rows.length === expected.parameters.length, `${rows.length} parameter rows for ${expected.parameters.length} parameters`);
  const values = new Map(rows);
  for (const p of expected.parameters) {
    const text = values.get(p.name);
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
