// The refinement report: the data of #report-data drawn with uPlot (for each
// measured pattern, on its own axis, a main panel with the observed points,
// the calculated curve, the background and a row of reflexion ticks per
// phase, and a difference panel with its own scale, their x ranges joined),
// and the tables of statistics, phases, parameters and correlations. A pattern of many points is drawn from the minimum and
// maximum of each series in every pixel column of the range in view, and at
// full resolution once the range holds few enough points.
"use strict";
(async function () {
  const report = JSON.parse(document.getElementById("report-data").textContent);
  // A curve as the page holds it: a little-endian array of Float32 (counts) or Float64 (x) values with byte k of
  // value i at k·count + i, deflated (zlib) and in base64.
  const littleEndian = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;
  async function decoded(text, Type, count) {
    const packed = Uint8Array.fromBase64 ? Uint8Array.fromBase64(text) : Uint8Array.from(atob(text), c => c.charCodeAt(0));
    const planes = new Uint8Array(await new Response(new Blob([packed]).stream().pipeThrough(new DecompressionStream("deflate"))).arrayBuffer());
    const size = Type.BYTES_PER_ELEMENT, bytes = new Uint8Array(count * size);
    for (let b = 0; b < size; ++b) {
      const plane = planes.subarray(b * count, (b + 1) * count);
      for (let i = 0; i < count; ++i) bytes[i * size + b] = plane[i];
    }
    if (littleEndian) return new Type(bytes.buffer);
    const view = new DataView(bytes.buffer), values = new Type(count);
    for (let i = 0; i < count; ++i) values[i] = size === 4 ? view.getFloat32(4 * i, true) : view.getFloat64(8 * i, true);
    return values;
  }
  // x, observed, calculated, background; the difference observed − calculated.
  for (const p of report.patterns) {
    const c = p.curves, n = c.count;
    [p.observed, p.calculated, p.background] = await Promise.all(["observed", "calculated", "background"].map(name => decoded(c[name], Float32Array, n)));
    p.axis = p.axis || report.axis;
    if (p.even_x) {
      p.x = new Float64Array(n);
      for (let i = 0; i < n; ++i) p.x[i] = p.even_x.first + i * p.even_x.step;
    } else p.x = await decoded(c.x, Float64Array, n);
    p.difference = new Float64Array(n);
    for (let i = 0; i < n; ++i) p.difference[i] = p.observed[i] - p.calculated[i];
  }
  const colours = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#8c564b", "#e377c2", "#17becf", "#bcbd22"];
  const tickRow = 12;  // px per phase's tick row
  const excludedShade = "rgb(224, 224, 224)";
  const state = { mode: "linear", panels: [] };

  // ---- numbers -------------------------------------------------------------
  function fixed(v, digits) { return v === null || v === undefined || !isFinite(v) ? "—" : Number(v).toFixed(digits); }
  function general(v) {
    if (v === null || v === undefined) return "—";
    if (!isFinite(v)) return v > 0 ? "∞" : v < 0 ? "−∞" : "—";
    const a = Math.abs(v);
    return a !== 0 && (a < 1e-3 || a >= 1e6) ? v.toExponential(4) : String(Number(v.toPrecision(7)));
  }
  // A value with its esd in parentheses on its last digits: 4.75890(2).
  function withEsd(v, esd) {
    if (v === null || !isFinite(v)) return "—";
    if (esd === null || !isFinite(esd) || esd <= 0) return general(v);
    const digits = Math.max(0, Math.min(10, -Math.floor(Math.log10(esd)) + (esd / Math.pow(10, Math.floor(Math.log10(esd))) < 2 ? 1 : 0)));
    const scaled = Math.round(esd * Math.pow(10, digits));
    return v.toFixed(digits) + "(" + scaled + ")";
  }
  // A curve's value in the legend: no more digits than the page holds.
  function shownValue(u, v) { return general(v); }
  function lowerBound(a, v) { let lo = 0, hi = a.length; while (lo < hi) { const m = (lo + hi) >> 1; if (a[m] < v) lo = m + 1; else hi = m; } return lo; }

  // ---- y transforms ----------------------------------------------------------
  // The axis keeps counts on its labels whatever the scale.
  const transforms = {
    linear: { f: v => v, inverse: v => v },
    sqrt: { f: v => v === null ? null : Math.sign(v) * Math.sqrt(Math.abs(v)), inverse: v => Math.sign(v) * v * v },
    log: { f: v => v === null ? null : Math.log10(Math.max(v, 1)), inverse: v => Math.pow(10, v) },
  };

  // ---- the points in view ----------------------------------------------------
  // Indices first … last of the pattern's x inside [min, max] (one beyond each end), decimated to the minimum and
  // maximum of each series per pixel column when they are more than two per column.
  function view(p, min, max, columns) {
    const x = p.x, n = x.length;
    const first = Math.max(0, lowerBound(x, min) - 1), last = Math.min(n - 1, lowerBound(x, max));
    const series = [p.observed, p.calculated, p.background, p.difference];
    const out = [[], [], [], [], []];
    const count = last - first + 1;
    if (count <= 2 * columns) {
      for (let i = first; i <= last; ++i) { out[0].push(x[i]); for (let s = 0; s < 4; ++s) out[s + 1].push(series[s][i]); }
      return out;
    }
    for (let c = 0; c < columns; ++c) {
      const a = first + Math.floor(c * count / columns), b = first + Math.floor((c + 1) * count / columns);
      if (b <= a) continue;
      out[0].push(x[a], x[b - 1]);
      for (let s = 0; s < 4; ++s) {
        const y = series[s];
        let lo = a, hi = a;
        for (let i = a + 1; i < b; ++i) { if (y[i] < y[lo]) lo = i; if (y[i] > y[hi]) hi = i; }
        if (lo <= hi) out[s + 1].push(y[lo], y[hi]); else out[s + 1].push(y[hi], y[lo]);
      }
    }
    return out;
  }

  function range(values) {
    let lo = Infinity, hi = -Infinity;
    for (const v of values) if (v !== null && isFinite(v)) { if (v < lo) lo = v; if (v > hi) hi = v; }
    return lo <= hi ? [lo, hi] : [0, 1];
  }

  // ---- one pattern's panels ----------------------------------------------------
  function makePanels(p, index) {
    const holder = document.createElement("div");
    document.getElementById("panels").appendChild(holder);
    if (report.patterns.length > 1) {
      const t = document.createElement("div"); t.className = "panel-title";
      t.textContent = p.name + " · " + p.axis + " · Rwp " + fixed(p.statistics.Rwp, 3) + " % · GoF " + fixed(p.statistics.GoF, 3);
      holder.appendChild(t);
    }
    const width = Math.max(400, document.getElementById("plots").clientWidth - 10);
    const full = [p.x[0], p.x[p.x.length - 1]];
    const panel = { pattern: p, full: full, busy: false, main: null, difference: null, index: index };
    const rows = p.ticks.length;
    const cursor = {
      drag: { x: true, y: false, setScale: true },
      sync: { key: "pattern" + index },
      bind: { dblclick: () => () => { setRange(panel, full[0], full[1]); return null; } },
    };
    const xAxis = { label: p.axis, space: 60 };
    const mainOptions = {
      width: width, height: 380 + rows * tickRow, cursor: cursor, legend: { show: true },
      scales: { x: { time: false, range: (u, min, max) => [min, max] }, y: { range: () => panel.yRange } },
      series: [
        { label: p.axis, value: shownValue },
        { label: "observed", stroke: "#000", width: 0, points: { show: true, size: 3, stroke: "#000", fill: "#000" }, value: shownValue },
        { label: "calculated", stroke: "#d62728", width: 1.25, value: shownValue },
        { label: "background", stroke: "#2ca02c", width: 1, value: shownValue },
      ],
      axes: [xAxis, { label: "intensity (counts)", size: 70, values: (u, splits) => splits.map(v => general(Number(transforms[state.mode].inverse(v).toPrecision(4)))) }],
      hooks: {
        setScale: [(u, key) => { if (key === "x") joined(panel, u); }],
        drawClear: [u => drawExcluded(panel, u)],
        draw: [u => drawTicks(panel, u)],
        setCursor: [u => hover(panel, u)],
      },
    };
    const differenceOptions = {
      width: width, height: 170, cursor: cursor, legend: { show: false },
      scales: { x: { time: false, range: (u, min, max) => [min, max] }, y: { range: () => panel.dRange } },
      series: [{ label: p.axis }, { label: "difference", stroke: "#1f77b4", width: 1 }],
      axes: [xAxis, { label: "difference", size: 70, values: (u, splits) => splits.map(general) }],
      hooks: {
        setScale: [(u, key) => { if (key === "x") joined(panel, u); }],
        drawClear: [u => drawExcluded(panel, u)],
        draw: [u => drawUnexplained(panel, u)],
      },
    };
    panel.min = full[0]; panel.max = full[1];
    const data = viewData(panel);
    panel.main = new uPlot(mainOptions, data.main, holder);
    panel.difference = new uPlot(differenceOptions, data.difference, holder);
    refresh(panel);
    for (const u of [panel.main, panel.difference]) {
      u.over.addEventListener("wheel", e => {
        e.preventDefault();
        const span = panel.max - panel.min;
        if (e.shiftKey) {
          const at = u.posToVal(e.offsetX, "x"), factor = e.deltaY > 0 ? 1.25 : 0.8;
          setRange(panel, at - (at - panel.min) * factor, at + (panel.max - at) * factor);
        } else {
          const shift = (e.deltaY > 0 || e.deltaX > 0 ? 0.1 : -0.1) * span;
          setRange(panel, panel.min + shift, panel.max + shift);
        }
      }, { passive: false });
    }
    return panel;
  }

  // The data of the range in view, transformed, and the y ranges that leave room for the tick rows.
  function viewData(panel) {
    const p = panel.pattern, t = transforms[state.mode].f;
    const columns = Math.max(200, Math.round(document.getElementById("plots").clientWidth || 1000));
    const v = view(p, panel.min, panel.max, columns);
    const observed = v[1].map(t), calculated = v[2].map(t), background = v[3].map(t);
    const [lo, hi] = range(observed.concat(calculated, background));
    const rows = p.ticks.length, height = 380;
    const span = (hi - lo) || 1;
    const room = rows > 0 ? span * (rows * tickRow + 6) / (height - 60) : 0;
    panel.yRange = [lo - room - 0.02 * span, hi + 0.05 * span];
    const [dlo, dhi] = range(v[4]);
    const dspan = Math.max(Math.abs(dlo), Math.abs(dhi)) || 1;
    panel.dRange = [-1.1 * dspan, 1.1 * dspan];
    return { main: [v[0], observed, calculated, background], difference: [v[0], v[4]] };
  }

  function setRange(panel, min, max) {
    const [a, b] = panel.full, span = Math.min(max - min, b - a);
    if (!(span > 0)) return;
    if (min < a) { min = a; max = a + span; }
    if (max > b) { max = b; min = b - span; }
    panel.min = min; panel.max = max;
    refresh(panel);
  }

  function refresh(panel) {
    panel.busy = true;
    const data = viewData(panel);
    for (const [u, d, y] of [[panel.main, data.main, panel.yRange], [panel.difference, data.difference, panel.dRange]]) {
      u.batch(() => {
        u.setData(d, false);
        u.setScale("x", { min: panel.min, max: panel.max });
        u.setScale("y", { min: y[0], max: y[1] });
      });
    }
    panel.busy = false;
  }

  // A zoom in either panel sets the range of both.
  function joined(panel, u) {
    if (panel.busy) return;
    const min = u.scales.x.min, max = u.scales.x.max;
    if (min === panel.min && max === panel.max) return;
    setRange(panel, min, max);
  }

  // ---- reflexion ticks -------------------------------------------------------
  function tickTop(u, row) { return u.bbox.top / devicePixelRatio + u.bbox.height / devicePixelRatio - (row + 1) * tickRow; }

  function drawTicks(panel, u) {
    const ctx = u.ctx, r = devicePixelRatio;
    ctx.save();
    ctx.lineWidth = 1 * r;
    panel.pattern.ticks.forEach((phase, row) => {
      ctx.strokeStyle = colours[row % colours.length];
      ctx.beginPath();
      const top = tickTop(u, panel.pattern.ticks.length - 1 - row) * r;
      for (let i = 0; i < phase.x.length; ++i) {
        const x = phase.x[i];
        if (x < panel.min || x > panel.max) continue;
        const px = u.valToPos(x, "x", true);
        ctx.moveTo(px, top + 2 * r);
        ctx.lineTo(px, top + (tickRow - 2) * r);
      }
      ctx.stroke();
    });
    ctx.restore();
  }

  // The regions left out of the fit, shaded grey behind the curves (at least a pixel wide).
  function drawExcluded(panel, u) {
    const ctx = u.ctx, r = devicePixelRatio, left = u.bbox.left, right = u.bbox.left + u.bbox.width;
    ctx.save();
    ctx.fillStyle = excludedShade;
    for (const [from, to] of panel.pattern.excluded) {
      if (to < panel.min || from > panel.max) continue;
      const a = Math.max(left, u.valToPos(from, "x", true)), b = Math.min(right, u.valToPos(to, "x", true));
      ctx.fillRect(a, u.bbox.top, Math.max(b - a, r), u.bbox.height);
    }
    ctx.restore();
  }

  // The difference peaks no phase explains: an orange ▼ above each.
  function drawUnexplained(panel, u) {
    const ctx = u.ctx, r = devicePixelRatio, top = u.bbox.top + 3 * r;
    ctx.save();
    ctx.fillStyle = "#e67e00";
    for (const x of panel.pattern.unexplained) {
      if (x < panel.min || x > panel.max) continue;
      const px = u.valToPos(x, "x", true);
      ctx.beginPath();
      ctx.moveTo(px - 5 * r, top);
      ctx.lineTo(px + 5 * r, top);
      ctx.lineTo(px, top + 8 * r);
      ctx.fill();
    }
    ctx.restore();
  }

  // The reflexion under the cursor in a tick row: its h k l, d, position and intensity.
  function hover(panel, u) {
    const tip = document.getElementById("tooltip");
    const left = u.cursor.left, top = u.cursor.top;
    tip.hidden = true;
    if (left === undefined || left < 0) return;
    const rows = panel.pattern.ticks.length;
    const fromBottom = u.bbox.height / devicePixelRatio - top;
    const row = rows - 1 - Math.floor(fromBottom / tickRow);
    if (row < 0 || row >= rows || fromBottom < 0) return;
    const phase = panel.pattern.ticks[row];
    let best = -1, distance = 5;
    for (let i = 0; i < phase.x.length; ++i) {
      const d = Math.abs(u.valToPos(phase.x[i], "x") - left);
      if (d <= distance) { distance = d; best = i; }
    }
    if (best < 0) return;
    const hkl = phase.hkl[best];
    tip.textContent = phase.phase + "  " + hkl.join(" ") + "\nd " + fixed(phase.d[best], 5) + " Å   " +
      panel.pattern.axis + " " + fixed(phase.x[best], 4) + "\nintensity " + general(phase.intensity[best]);
    const box = u.over.getBoundingClientRect();
    tip.style.left = (box.left + left + 12) + "px";
    tip.style.top = (box.top + top + 12) + "px";
    tip.hidden = false;
  }

  // ---- tables ----------------------------------------------------------------
  function row(table, cells, header) {
    const tr = document.createElement("tr");
    for (const c of cells) { const cell = document.createElement(header ? "th" : "td"); cell.textContent = c; tr.appendChild(cell); }
    table.appendChild(tr);
    return tr;
  }

  function statistics() {
    const table = document.getElementById("statistics");
    row(table, ["", "Rp %", "Rwp %", "Rexp %", "χ²", "reduced χ²", "GoF", "points"], true);
    const line = (name, s) => row(table, [name, fixed(s.Rp, 3), fixed(s.Rwp, 3), fixed(s.Rexp, 3), general(s.chi2),
                                          fixed(s.reduced_chi2, 3), fixed(s.GoF, 3), String(s.points)]);
    if (report.patterns.length > 1) report.patterns.forEach(p => line(p.name, p.statistics));
    line(report.patterns.length > 1 ? "all" : "pattern", report.statistics);
    const excluded = document.getElementById("excluded");
    for (const p of report.patterns) {
      for (const [from, to, points] of p.excluded) {
        const li = document.createElement("li");
        li.textContent = "left out of the fit" + (report.patterns.length > 1 ? " (" + p.name + ")" : "") + ": " + p.axis + " " +
          general(from) + " – " + general(to) + " (" + points + (points === 1 ? " point)" : " points)");
        excluded.appendChild(li);
      }
    }
    const reasons = document.getElementById("reasons");
    for (const r of report.verdict.reasons) { const li = document.createElement("li"); li.textContent = r; reasons.appendChild(li); }
    const notes = document.getElementById("notes");
    for (const n of report.notes) { const li = document.createElement("li"); li.textContent = n; notes.appendChild(li); }
  }

  function phases() {
    const table = document.getElementById("phases");
    // Of several patterns, each phase as each pattern sees it (its cell there, R-Bragg, size and strain).
    const several = report.patterns.length > 1;
    row(table, (several ? ["pattern"] : []).concat(["phase", "a (Å)", "b (Å)", "c (Å)", "α (°)", "β (°)", "γ (°)", "R-Bragg %",
      "weight fraction", "size (nm)", "strain %"]), true);
    for (const ph of report.phases) {
      row(table, (several ? [ph.pattern] : []).concat([ph.name], ph.cell.map((v, i) => withEsd(v, ph.cell_esd[i])),
        [fixed(ph.r_bragg, 2), fixed(ph.weight_fraction, 4), withEsd(ph.size_nm, ph.size_esd), withEsd(ph.strain_percent, ph.strain_esd)]));
    }
  }

  function parameters() {
    const table = document.getElementById("parameters");
    const columns = ["name", "value", "esd", "state", "lower", "upper"];
    let key = null, up = true;
    const draw = () => {
      const filter = document.getElementById("filter").value.trim().toLowerCase();
      table.textContent = "";
      const head = row(table, columns, true);
      head.childNodes.forEach((th, i) => {
        if (columns[i] === key) th.className = "sorted" + (up ? " up" : "");
        th.addEventListener("click", () => { up = key === columns[i] ? !up : true; key = columns[i]; draw(); });
      });
      let list = report.parameters.filter(p => p.name.toLowerCase().includes(filter));
      if (key !== null) {
        list = list.slice().sort((a, b) => {
          const x = a[key], y = b[key];
          const order = typeof x === "string" ? x.localeCompare(y) : (x === null ? -Infinity : x) - (y === null ? -Infinity : y);
          return up ? order : -order;
        });
      }
      for (const p of list) {
        const tr = row(table, [p.name, general(p.value), general(p.esd), p.state, general(p.lower), general(p.upper)]);
        tr.dataset.name = p.name;
        if (p.state === "at limit") tr.className = "limit";
        if (p.state === "fixed: undetermined") tr.className = "undetermined";
      }
    };
    document.getElementById("filter").addEventListener("input", draw);
    draw();
  }

  // The correlation matrix as a colour map (blue −1, white 0, red +1) and the pairs beyond 0.9.
  function correlations() {
    const c = report.correlations, n = c.names.length;
    const canvas = document.getElementById("correlations"), ctx = canvas.getContext("2d");
    const list = document.getElementById("high-correlations");
    if (n === 0) { canvas.hidden = true; return; }
    const cell = canvas.width / n;
    for (let i = 0; i < n; ++i) {
      for (let j = 0; j < n; ++j) {
        const v = c.matrix[i * n + j];
        const t = Math.min(1, Math.abs(v === null ? 0 : v)), shade = Math.round(255 * (1 - t));
        ctx.fillStyle = v >= 0 ? `rgb(255,${shade},${shade})` : `rgb(${shade},${shade},255)`;
        ctx.fillRect(j * cell, i * cell, Math.ceil(cell), Math.ceil(cell));
      }
    }
    canvas.title = "rows and columns: " + c.names.join(", ");
    canvas.addEventListener("mousemove", e => {
      const i = Math.floor(e.offsetY / (canvas.clientHeight / n)), j = Math.floor(e.offsetX / (canvas.clientWidth / n));
      if (i >= 0 && j >= 0 && i < n && j < n) canvas.title = c.names[i] + " · " + c.names[j] + ": " + fixed(c.matrix[i * n + j], 3);
    });
    for (let i = 0; i < n; ++i) {
      for (let j = i + 1; j < n; ++j) {
        const v = c.matrix[i * n + j];
        if (Math.abs(v) > 0.9) { const li = document.createElement("li"); li.textContent = c.names[i] + " · " + c.names[j] + ": " + fixed(v, 3); list.appendChild(li); }
      }
    }
    if (!list.childNodes.length) { const li = document.createElement("li"); li.textContent = "no pair beyond 0.9"; list.appendChild(li); }
  }

  // ---- the page --------------------------------------------------------------
  document.getElementById("title").textContent = report.title;
  const verdict = document.getElementById("verdict");
  verdict.textContent = (report.converged ? "converged" : "not converged: " + report.stop_reason) + " after " + report.cycles +
    " cycles · " + (report.verdict.doubtful ? report.verdict.reasons.length + " reason(s) to doubt the fit, below" : "no reason found to doubt the fit");
  verdict.className = report.verdict.doubtful ? "doubtful" : "good";
  statistics();
  phases();
  if (report.compact) {
    for (const id of ["parameters-section", "correlations-section"]) document.getElementById(id).hidden = true;
  } else {
    parameters();
    correlations();
  }
  if (typeof uPlot === "undefined") {
    document.getElementById("panels").textContent = "The plotting library was not installed when powderkit was built (scripts/setup.sh installs it).";
  } else {
    state.panels = report.patterns.map(makePanels);
  }
  document.getElementById("y-mode").addEventListener("change", e => {
    state.mode = e.target.value;
    for (const panel of state.panels) {
      refresh(panel);
      panel.main.redraw(false, true);
    }
  });
  // For scripts (and the browser test): the panels' x range and a tick's place on the screen.
  window.pkReport = {
    data: report,
    xRange: (i = 0) => [state.panels[i].min, state.panels[i].max],
    tickPoint: (phase, n, i = 0) => {
      const panel = state.panels[i], u = panel.main, box = u.over.getBoundingClientRect();
      const rows = panel.pattern.ticks.length;
      return { x: box.left + u.valToPos(panel.pattern.ticks[phase].x[n], "x"),
               y: box.top + u.bbox.height / devicePixelRatio - (rows - 1 - phase) * tickRow - tickRow / 2 };
    },
  };
})();
