// The front panel: one WebSocket to the server (/panel/socket). The server pushes "state" when
// anything changes and "readback" once a second; the page sends one request per setting and
// gets a "result" for it, with the errors in words.
const letters = ["A", "B", "C", "D"];
const colours = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd"]; // as panel.css colours the picks
const keptSeconds = 3600;
const $ = (id) => document.getElementById(id);

let socket = null;
let lastId = 0;
const pending = new Map(); // request id -> the field it came from
const samples = []; // {time: ms, codes: [4], volts: [4 texts]}
let vdd = 5;

function element(tag, properties = {}, children = []) {
  const made = Object.assign(document.createElement(tag), properties);
  for (const child of children) made.append(child);
  return made;
}

function entryForm(action, channel, label, id) {
  const input = element("input", { id, autocomplete: "off", inputMode: "decimal" });
  const form = element("form", {}, [
    element("label", { htmlFor: id, textContent: label }), input,
    element("button", { type: "submit", textContent: "Set" })]);
  form.dataset.action = action;
  if (channel) form.dataset.channel = channel;
  return form;
}

function buildPage() {
  letters.forEach((letter, at) => {
    const channel = at + 1;
    $("channels").append(element("div", { className: "card" }, [
      element("h3", { textContent: `DAC ${letter}` }),
      element("dl", {}, [
        element("dt", { textContent: "Set to" }),
        element("dd", { id: `set-${letter}`, textContent: "–" }),
        element("dt", { textContent: "Read back" }),
        element("dd", { id: `read-${letter}`, className: "readback", textContent: "–" })]),
      entryForm("volts", channel, `DAC ${letter} volts`, `volts-${letter}`),
      entryForm("code", channel, `DAC ${letter} code`, `code-${letter}`)]));
    const box = element("input", { type: "checkbox", id: `pick-${letter}`, checked: at === 0 });
    box.addEventListener("change", drawChart);
    $("picked").append(element("label", { htmlFor: box.id }, [box, ` ${letter}`]));
  });
  for (const pin of ["clr", "ldac"]) {
    const name = pin.toUpperCase();
    const buttons = ["HIGH", "LOW"].map((level) => {
      const button = element("button", { type: "button", textContent: `${name} ${level.toLowerCase()}` });
      button.addEventListener("click", () => request({ action: pin, value: level }, button));
      return button;
    });
    $("pins").append(element("p", {}, [`${name} pin: `,
      element("strong", { id: `${pin}-level`, textContent: "–" }), " ", ...buttons]));
  }
  $("pins").append(element("p", { id: "supplies" }));
  $("sweep-form").addEventListener("submit", (event) => {
    event.preventDefault();
    request({ action: "sweep", channel: Number($("sweep-channel").value), from: $("sweep-from").value,
              to: $("sweep-to").value, points: $("sweep-points").value }, $("sweep-start"));
  });
  $("sweep-stop").addEventListener("click", () => request({ action: "stop-sweep" }, $("sweep-stop")));
  document.querySelectorAll("form[data-action]").forEach((form) => form.addEventListener("submit", (event) => {
    event.preventDefault();
    const input = form.querySelector("input");
    request({ action: form.dataset.action, channel: Number(form.dataset.channel || 0),
              value: input.value }, input);
  }));
  $("reset").addEventListener("click", () => request({ action: "reset", value: "" }, $("reset")));
  $("calibration-on").addEventListener("change", () => {
    const box = $("calibration-on");
    request({ action: "calibration", value: box.checked ? "ON" : "OFF" }, box);
  });
  $("span").addEventListener("change", drawChart);
  $("csv").addEventListener("click", downloadCsv);
  $("clear-errors").addEventListener("click", () => $("errors").replaceChildren());
  window.addEventListener("resize", drawChart);
}

function request(fields, from) {
  if (!socket || socket.readyState !== WebSocket.OPEN) {
    showErrors(["not sent: the page has no connection to the server"], from);
    return;
  }
  const id = ++lastId;
  const label = from.labels && from.labels.length ? from.labels[0].textContent : from.textContent;
  pending.set(id, { from, what: fields.value ? `${label} "${fields.value}"` : label });
  from.removeAttribute("aria-invalid");
  socket.send(JSON.stringify({ id, ...fields }));
}

function showErrors(errors, from) {
  for (const text of errors) {
    $("errors").prepend(element("li", { textContent: `${new Date().toLocaleTimeString()}: ${text}` }));
  }
  if (from) from.setAttribute("aria-invalid", "true");
}

function shortVolts(text) {
  return text === "" || text === undefined ? "–" : `${Number(text).toFixed(6)} V`;
}

// "1.250000 V (code 16384)", which may break between its two parts but never inside one.
function showValue(id, volts, code) {
  $(id).replaceChildren(element("span", { className: "value", textContent: shortVolts(volts) }), " ",
                        element("span", { className: "value", textContent: `(code ${code})` }));
}

function showState(state) {
  const board = state.board;
  $("port").textContent = board.port ? `on ${board.port}` : "";
  document.title = `TX4410 ${board.port} front panel`;
  const back = board.restarts ? `, brought back ${board.restarts} time${board.restarts === 1 ? "" : "s"} since the server started` : "";
  $("board").textContent = board.up ? `Board up${back}.` : `Board away: ${board.reason}`;
  $("board").className = board.up ? "up" : "away";
  if (board.lock) $("board").textContent += ` Locked by a VXI-11 link from ${board.lock}.`;
  const c = state.clients;
  $("clients").textContent = `Clients: ${c.socket} on the socket, ${c.vxi11} over VXI-11, ${c.web} page${c.web === 1 ? "" : "s"}.`;
  const s = state.settings;
  letters.forEach((letter, at) => {
    showValue(`set-${letter}`, s.volts[at], s.codes[at]);
  });
  $("clr-level").textContent = s.clr;
  $("ldac-level").textContent = s.ldac;
  $("supplies").textContent = `Reference ${shortVolts(s.reference)}, Vdd ${shortVolts(s.vdd)}`;
  vdd = Number(s.vdd) || vdd;
  showCalibration(state.calibration);
  showSweep(state.sweep);
}

// Each channel's calibration in force, and whether they apply; the box follows the server.
function showCalibration(calibration) {
  $("calibration-on").checked = calibration.on;
  $("calibrations").replaceChildren(...letters.map((letter, at) => {
    const entry = calibration.channels[at];
    if (!entry) return element("li", { id: `calibration-${letter}`, textContent: `DAC ${letter}: not calibrated` });
    const due = entry.overdue ? element("strong", { className: "overdue", textContent: `overdue since ${entry.due}` })
                              : `due ${entry.due}`;
    return element("li", { id: `calibration-${letter}` }, [
      `DAC ${letter}: calibrated ${entry.date}, `, due,
      `, ±${entry.uncertainty_mv.toFixed(3)} mV`, calibration.on ? ", applied" : ", not applied"]);
  }));
}

let shownSweep = "";
function showSweep(sweep) {
  const words = {
    none: "No sweep yet.",
    running: `Sweeping DAC ${sweep.channel}: ${sweep.points} points measured. Other clients wait until it is done.`,
    done: `Sweep of DAC ${sweep.channel} done: ${sweep.points} points.`,
    stopped: `Sweep of DAC ${sweep.channel} stopped after ${sweep.points} points.`,
    failed: `Sweep of DAC ${sweep.channel} failed: ${sweep.error}`,
  };
  $("sweep-state").textContent = words[sweep.state] || sweep.state;
  $("sweep-progress").value = sweep.progress;
  $("sweep-start").disabled = sweep.state === "running";
  $("sweep-stop").disabled = sweep.state !== "running";
  const finished = sweep.state === "done" || sweep.state === "stopped";
  $("sweep-result").hidden = !finished;
  const key = `${sweep.serial}/${sweep.state}`;
  if (finished && key !== shownSweep) {
    $("sweep-summary").textContent = sweep.summary;
    $("sweep-picture").src = `made/sweep.png?${sweep.serial}`;
    $("sweep-csv").href = `made/sweep.csv?${sweep.serial}`;
  }
  shownSweep = key;
}

function showReadback(sample) {
  if (sample.error) {
    letters.forEach((letter) => { $(`read-${letter}`).textContent = `not read: ${sample.error}`; });
    return;
  }
  letters.forEach((letter, at) => {
    showValue(`read-${letter}`, sample.volts[at], sample.codes[at]);
  });
  samples.push(sample);
  while (samples.length && samples[0].time < sample.time - keptSeconds * 1000) samples.shift();
  drawChart();
}

function showResult(result) {
  const { from, what } = pending.get(result.id) || {};
  pending.delete(result.id);
  if (result.errors.length) {
    showErrors(result.errors.map((text) => `${what}: ${text}`), from);
  } else if (from && from.tagName === "INPUT") {
    from.value = "";
  }
}

function picked() {
  return letters.map((letter, at) => ($(`pick-${letter}`).checked ? at : -1)).filter((at) => at >= 0);
}

function drawChart() {
  const canvas = $("chart");
  const width = canvas.clientWidth || 900;
  const height = canvas.clientHeight || 320;
  const ratio = window.devicePixelRatio || 1;
  canvas.width = width * ratio;
  canvas.height = height * ratio;
  const g = canvas.getContext("2d");
  g.scale(ratio, ratio);
  g.font = "12px sans-serif";
  const left = 52, right = 10, top = 10, bottom = 28;
  const plotWidth = width - left - right, plotHeight = height - top - bottom;
  // The span picked, or less while the page holds less: the trace starts at the left edge.
  const end = samples.length ? samples[samples.length - 1].time : Date.now();
  const first = samples.length ? samples[0].time : end;
  const span = Math.min(Number($("span").value) * 1000, Math.max(end - first, 2000));
  const x = (time) => left + plotWidth * (1 - (end - time) / span);
  const y = (volts) => top + plotHeight * (1 - volts / vdd);
  g.strokeStyle = "#ccc";
  g.fillStyle = "#444";
  g.textAlign = "right";
  for (let step = 0; step <= 5; ++step) {
    const volts = (vdd * step) / 5;
    g.beginPath(); g.moveTo(left, y(volts)); g.lineTo(left + plotWidth, y(volts)); g.stroke();
    g.fillText(`${volts.toFixed(2)} V`, left - 4, y(volts) + 4);
  }
  // A tick every whole number of seconds or minutes, at most six over the span.
  const tick = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600].find((seconds) => span / (seconds * 1000) <= 6) * 1000;
  g.textAlign = "center";
  for (let ago = 0; ago <= span; ago += tick) {
    const at = x(end - ago);
    g.beginPath(); g.moveTo(at, top); g.lineTo(at, top + plotHeight); g.stroke();
    const label = ago === 0 ? new Date(end).toLocaleTimeString()
                            : ago >= 60000 ? `−${ago / 60000} min` : `−${ago / 1000} s`;
    g.textAlign = ago === 0 ? "right" : "center";
    g.fillText(label, at, height - 8);
  }
  g.lineWidth = 1.5;
  for (const at of picked()) {
    g.strokeStyle = colours[at];
    g.beginPath();
    let started = false;
    for (const sample of samples) {
      if (sample.time < end - span) continue;
      const point = [x(sample.time), y(Number(sample.volts[at]))];
      started ? g.lineTo(...point) : g.moveTo(...point);
      started = true;
    }
    g.stroke();
  }
  $("held").textContent = `${samples.length} samples held, over ${((end - first) / 60000).toFixed(1)} min`;
}

// The same columns as tx4410-cli read --csv: seconds from the first sample held.
function csvText() {
  const rows = ["time_s,channel,code,volts"];
  const first = samples.length ? samples[0].time : 0;
  for (const sample of samples) {
    for (const at of picked()) {
      rows.push(`${((sample.time - first) / 1000).toFixed(3)},${letters[at]},${sample.codes[at]},${sample.volts[at]}`);
    }
  }
  return rows.join("\n") + "\n";
}

function downloadCsv() {
  const link = element("a", {
    href: URL.createObjectURL(new Blob([csvText()], { type: "text/csv" })),
    download: "tx4410-readback.csv" });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

function connect() {
  socket = new WebSocket(`${location.protocol === "https:" ? "wss" : "ws"}://${location.host}/panel/socket`);
  socket.addEventListener("message", (event) => {
    const message = JSON.parse(event.data);
    if (message.type === "state") showState(message);
    else if (message.type === "readback") showReadback(message);
    else if (message.type === "result") showResult(message);
    else if (message.type === "refused") showErrors([message.text]);
  });
  socket.addEventListener("close", () => {
    $("board").textContent = "No connection to the server: trying again every 2 s.";
    $("board").className = "away";
    for (const { from, what } of pending.values()) {
      showErrors([`${what}: no answer, the connection to the server closed`], from);
    }
    pending.clear();
    setTimeout(connect, 2000);
  });
}

buildPage();
drawChart();
connect();
window.panel = { csvText }; // for whoever scripts the page
