// End to end with real browsers, the way a user's machine goes through it: the application bundle
// laid out in /Applications as `make bundle` lays it out, `ondrake-native-host register-development`
// run from inside it, and then Debian's Chromium and Firefox ESR, headless, finding the host
// through the very manifests registration wrote. A probe extension in each browser sends the
// messages; the reference application peer, started by the host through the bundle's main
// executable, plays the desktop application under a throwaway HOME. Then the Firefox trust modes
// (`register` refuses the development add-on, `register-development` admits it again) and
// uninstalling (`unregister`: no browser finds the host and ondrake-doctor says why; `register`:
// healthy again).
//
// usage: node run.mjs --cmake PATH --build DIR --scratch DIR
//          --bundle /Applications/NAME.app [--chromium PATH] [--firefox PATH]
// run.sh chooses the scratch directory and the bundle's path and removes both again whatever
// happens here. Prints one line per check and "N passed, N failed"; exits 1 when a check failed.

import { spawn, spawnSync } from "node:child_process";
import { createHash } from "node:crypto";
import {
  appendFileSync, chmodSync, copyFileSync, existsSync, mkdirSync, readFileSync, rmSync, symlinkSync, writeFileSync,
} from "node:fs";
import { createServer } from "node:http";
import path from "node:path";
import { fileURLToPath } from "node:url";
import WebSocket from "ws";

const HERE = path.dirname(fileURLToPath(import.meta.url));
const PROBE_DIR = path.join(HERE, "probe");
// The extension client the probes make their calls with.
const CLIENT_DIR = path.join(HERE, "..", "extension-client");
const CLIENT_FILES = ["index.js", "protocol.js"];
const HOST_NAME = "com.ondrake.download";
// The ids our Firefox add-on ships with: the production build and the development build.
const FIREFOX_ADDON_ID = "browser-bridge@ondrake.download";
const FIREFOX_DEV_ADDON_ID = "browser-bridge-dev@ondrake.download";
const APPLICATION_EXECUTABLE = "Ondrake Download";
const OVERALL_LIMIT_MS = 240_000;
const ORDER_LIMIT_MS = 20_000;
const START_LIMIT_MS = 30_000;

function parseArguments(argv) {
  const options = { chromium: "/usr/bin/chromium", firefox: "/usr/bin/firefox-esr" };
  const names = {
    "--cmake": "cmake", "--build": "build", "--scratch": "scratch", "--bundle": "bundle",
    "--chromium": "chromium", "--firefox": "firefox",
  };
  for (let i = 0; i < argv.length; ++i) {
    const name = names[argv[i]];
    if (!name || i + 1 >= argv.length) throw new Error(`unknown or incomplete argument: ${argv[i]}`);
    const value = argv[++i];
    // A program given by name is found on PATH; everything else is a path.
    options[name] = name === "cmake" && !value.includes("/") ? value : path.resolve(value);
  }
  for (const required of ["cmake", "build", "scratch", "bundle"]) {
    if (!options[required]) throw new Error(`--${required} is required`);
  }
  return options;
}

// Chromium's id for an extension with a fixed "key": the SHA-256 of the DER public key, its
// first 32 hex digits written with the letters a to p instead of 0 to f.
export function extensionIdFromKey(base64Key) {
  const digest = createHash("sha256").update(Buffer.from(base64Key, "base64")).digest("hex");
  return [...digest.slice(0, 32)].map((digit) => String.fromCharCode(97 + parseInt(digit, 16))).join("");
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitFor(what, condition, limitMs) {
  const deadline = Date.now() + limitMs;
  while (!(await condition())) {
    if (Date.now() > deadline) throw new Error(`timed out after ${limitMs / 1000} s waiting for ${what}`);
    await sleep(50);
  }
}

const quote = (text) => `'${text.replaceAll("'", "'\\''")}'`;

// ---- Checks ------------------------------------------------------------------------------

const results = { passed: 0, failed: 0 };
function check(who, name, ok, detail = "") {
  if (ok) {
    results.passed += 1;
    console.log(`ok - ${who}: ${name}`);
  } else {
    results.failed += 1;
    const indented = detail ? `\n    ${String(detail).replaceAll("\n", "\n    ")}` : "";
    console.log(`not ok - ${who}: ${name}${indented}`);
  }
}
// Replies are compared as JSON text, so the host's key order counts too.
function checkJson(who, name, actual, expected) {
  const got = JSON.stringify(actual);
  const want = JSON.stringify(expected);
  check(who, name, got === want, `got      ${got}\nexpected ${want}`);
}

// ---- The messages ------------------------------------------------------------------------

// The probes make calls of the extension client: { call, args }. `send` passes a message as it is,
// unchecked, which is how the messages the client would refuse reach the host.
const download = (requestId, url) => ({ call: "download", args: [url, { requestId }] });
const send = (message) => ({ call: "send", args: [message] });
const simple = (browser, requestId, url, extra = {}) => ({
  protocolVersion: 1, requestId, action: "download", source: "context_menu", browser, url, ...extra,
});
const PREPARE = {
  call: "prepare",
  args: ["https://Files.Example.TEST/dir/../file.zip#part", {
    requestId: "e2e-prepare", captureId: "e2e-capture", browserDownloadId: 7,
    observed: {
      finalUrl: "https://cdn.example.test/file.zip", mime: "application/zip", totalBytes: 1024, etag: null,
      seenBy: "probe",
    },
    cookies: [{ name: "sid", value: "v 1", path: "/", secure: true }],
    downloadName: "file.zip",
  }],
};
const STATUS = { call: "status", args: [{ requestId: "e2e-status", captureId: "e2e-capture" }] };

// The client's results.
const simpleResult = (requestId, status, code, retrySafe = false) => ({ status, code, retrySafe, requestId });
const captureResult = (requestId, captureId, status, code, retrySafe = false) =>
  ({ status, code, retrySafe, requestId, captureId, preflight: null });
const ACCEPTED = (requestId) => simpleResult(requestId, "accepted", "ACCEPTED");

// What the application must receive, byte for byte: the normalised requests.
const received = (browser) => [
  '{"protocolVersion":1,"requestId":"e2e-download","url":"https://example.test/a"}',
  '{"protocolVersion":4,"requestId":"e2e-prepare","captureId":"e2e-capture","action":"capture_prepare",' +
    `"browser":"${browser}","browserDownloadId":7,"url":"https://files.example.test/file.zip",` +
    '"observed":{"finalUrl":"https://cdn.example.test/file.zip","mime":"application/zip","totalBytes":1024,"etag":null},' +
    '"cookies":[{"name":"sid","value":"v 1","path":"/","secure":true}],"downloadName":"file.zip",' +
    '"initiatorOrigin":null,"revalidateResponse":null}',
  '{"protocolVersion":4,"requestId":"e2e-status","captureId":"e2e-capture","action":"capture_status",' +
    `"browser":"${browser}","browserDownloadId":null,"url":null,"observed":null,"cookies":null,` +
    '"downloadName":null,"initiatorOrigin":null,"revalidateResponse":null}',
];

// The host's log for that session: the application was not running, so the first delivery
// starts it and is logged after the start.
const HOST_LOG = [
  "ondrake-native-host: stage=app_spawn in_job=n/a breakaway_ok=n/a silent_breakaway_ok=n/a",
  "ondrake-native-host: request e2e-download -> Accepted",
  "ondrake-native-host: capture e2e-capture CapturePrepare -> Prepared/CapturePrepared",
  "ondrake-native-host: capture e2e-capture CaptureStatus -> Prepared/Accepted",
];

// ---- The driver: orders for the probes over HTTP -----------------------------------------

// Each probe asks GET /next?probe=NAME for its next order and posts the result to
// /result?probe=NAME&order=ID. A request for which there is no order yet is held up to a second.
class Driver {
  constructor() {
    this.queues = new Map();    // probe -> orders not yet fetched
    this.waiting = new Map();   // probe -> the held response
    this.pending = new Map();   // "probe/order" -> resolve
    this.seen = new Set();      // probes that have asked at least once
    this.finished = false;
    this.nextId = 1;
    this.server = createServer((request, response) => this.handle(request, response));
  }

  async listen() {
    await new Promise((resolve) => this.server.listen(0, "127.0.0.1", resolve));
    return `http://127.0.0.1:${this.server.address().port}`;
  }

  handle(request, response) {
    const url = new URL(request.url, "http://127.0.0.1");
    const probe = url.searchParams.get("probe") ?? "";
    const headers = { "Access-Control-Allow-Origin": "*", "Cache-Control": "no-store" };
    if (url.pathname === "/next") {
      this.seen.add(probe);
      if (this.finished) return response.writeHead(410, headers).end();
      const queue = this.queues.get(probe) ?? [];
      if (queue.length > 0) return this.deliver(response, queue.shift(), headers);
      this.waiting.get(probe)?.response.writeHead(204, headers).end();
      const timer = setTimeout(() => {
        this.waiting.delete(probe);
        response.writeHead(204, headers).end();
      }, 1000);
      this.waiting.set(probe, { response, timer, headers });
      return undefined;
    }
    if (url.pathname === "/result" && request.method === "POST") {
      let body = "";
      request.setEncoding("utf8");
      request.on("data", (chunk) => { body += chunk; });
      request.on("end", () => {
        response.writeHead(204, headers).end();
        const key = `${probe}/${url.searchParams.get("order")}`;
        const resolve = this.pending.get(key);
        this.pending.delete(key);
        if (resolve) resolve(JSON.parse(body));
      });
      return undefined;
    }
    return response.writeHead(404, headers).end();
  }

  deliver(response, order, headers) {
    response.writeHead(200, { ...headers, "Content-Type": "application/json" }).end(JSON.stringify(order));
  }

  // Gives the probe one order and resolves with its result.
  order(probe, order) {
    const id = this.nextId++;
    const full = { ...order, id };
    const result = new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(`${probe}/${id}`);
        reject(new Error(`the ${probe} probe did not answer order ${order.kind} within ${ORDER_LIMIT_MS / 1000} s`));
      }, ORDER_LIMIT_MS);
      this.pending.set(`${probe}/${id}`, (value) => { clearTimeout(timer); resolve(value); });
    });
    const held = this.waiting.get(probe);
    if (held) {
      clearTimeout(held.timer);
      this.waiting.delete(probe);
      this.deliver(held.response, full, held.headers);
    } else {
      if (!this.queues.has(probe)) this.queues.set(probe, []);
      this.queues.get(probe).push(full);
    }
    return result;
  }

  async close() {
    this.finished = true;
    for (const { response, timer, headers } of this.waiting.values()) {
      clearTimeout(timer);
      response.writeHead(410, headers).end();
    }
    this.waiting.clear();
    this.server.closeAllConnections();
    await new Promise((resolve) => this.server.close(resolve));
  }
}

// A probe's files: the browser's manifest, the shared background script, told where the driver is
// and which probe it is, and the extension client it imports.
function assembleProbe(directory, manifest, driverUrl, name) {
  mkdirSync(path.join(directory, "extension-client"), { recursive: true });
  for (const file of CLIENT_FILES) {
    copyFileSync(path.join(CLIENT_DIR, file), path.join(directory, "extension-client", file));
  }
  writeFileSync(path.join(directory, "manifest.json"), JSON.stringify(manifest, null, 2) + "\n");
  const script = readFileSync(path.join(PROBE_DIR, "background.js"), "utf8");
  writeFileSync(path.join(directory, "background.js"),
    `const DRIVER = ${JSON.stringify(driverUrl)};\nconst PROBE = ${JSON.stringify(name)};\n${script}`);
  return directory;
}

// ---- Processes ---------------------------------------------------------------------------

// Every process the test starts runs in its own process group, recorded in the scratch
// directory so that run.sh can end what is left even when this driver itself was killed.
class Processes {
  constructor(scratch) {
    this.record = path.join(scratch, "process-groups");
    this.children = [];
  }

  start(executable, args, env, logFile) {
    const out = logFile ? ["ignore", "ignore", "pipe"] : ["ignore", "ignore", "ignore"];
    const child = spawn(executable, args, { env, stdio: out, detached: true });
    appendFileSync(this.record, `${child.pid}\n`);
    child.exitStatus = null;
    child.on("exit", (code, signal) => { child.exitStatus = signal ?? code; });
    if (logFile) child.stderr.on("data", (chunk) => appendFileSync(logFile, chunk));
    this.children.push(child);
    return child;
  }

  async stop(child) {
    if (child.exitStatus === null) {
      const ended = new Promise((resolve) => child.once("exit", resolve));
      signalGroup(child.pid, "SIGTERM");
      const killed = await Promise.race([ended.then(() => false), sleep(5_000).then(() => true)]);
      if (killed) {
        signalGroup(child.pid, "SIGKILL");
        await ended;
      }
    }
    // The group may outlive its leader: the browser's helpers, a host still closing.
    signalGroup(child.pid, "SIGKILL");
  }

  async stopAll() {
    for (const child of this.children.reverse()) await this.stop(child);
    this.children = [];
  }
}

function signalGroup(pid, signal) {
  try {
    process.kill(-pid, signal);
  } catch {
    // already gone
  }
}

function isRunning(pid) {
  try {
    process.kill(pid, 0);
  } catch {
    return false;
  }
  const state = spawnSync("ps", ["-o", "stat=", "-p", String(pid)], { encoding: "utf8" }).stdout.trim();
  return state !== "" && !state.startsWith("Z");
}

// ---- The installation --------------------------------------------------------------------

class Installation {
  constructor(options, home) {
    this.options = options;
    this.home = home;
    this.bundle = options.bundle;
    this.host = path.join(this.bundle, "Contents/MacOS/ondrake-native-host");
    this.doctor = path.join(options.build, "bin/ondrake-doctor");
    this.support = path.join(home, "Library/Application Support");
    this.socket = path.join(this.support, "OndrakeDownload/ipc/browser.sock");
    this.peerLog = path.join(options.scratch, "application.log");
    this.peerPidFile = path.join(options.scratch, "application.pid");
  }

  manifest(browserDirectory) {
    return path.join(this.support, browserDirectory, "NativeMessagingHosts", `${HOST_NAME}.json`);
  }

  // The bundle as `make bundle` lays it out, completed with what the application's own build
  // adds: an Info.plist naming the main executable, and that executable, which here starts the
  // reference application peer in the background as the real application would start itself.
  layOut() {
    const install = spawnSync(this.options.cmake,
      ["--install", this.options.build, "--component", "bundle", "--prefix", this.bundle],
      { encoding: "utf8", timeout: 60_000 });
    if (install.status !== 0) {
      throw new Error(`cmake --install of the bundle failed:\n${install.stdout}${install.stderr}`);
    }
    writeFileSync(path.join(this.bundle, "Contents/Info.plist"), `<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleExecutable</key>
	<string>${APPLICATION_EXECUTABLE}</string>
	<key>CFBundleIdentifier</key>
	<string>com.ondrake.download</string>
</dict>
</plist>
`);
    const executable = path.join(this.bundle, "Contents/MacOS", APPLICATION_EXECUTABLE);
    const peer = path.join(this.options.build, "bin/app-peer");
    writeFileSync(executable, `#!/bin/sh
${quote(peer)} --socket ${quote(this.socket)} --log ${quote(this.peerLog)} </dev/null >/dev/null 2>&1 &
echo $! >${quote(this.peerPidFile)}
`);
    chmodSync(executable, 0o755);
    return executable;
  }

  environment() {
    const env = { ...process.env, HOME: this.home };
    // The host must start the application through the record registration wrote, and the
    // browsers must keep their state under the throwaway HOME.
    const inherited = ["ONDRAKE_DOWNLOAD_EXE", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"];
    for (const name of inherited) delete env[name];
    return env;
  }

  // Runs the bundled host with a verb, as a user would from Contents/MacOS.
  verb(verb) {
    const run = spawnSync(this.host, [verb],
      { env: this.environment(), encoding: "utf8", stdio: ["ignore", "pipe", "pipe"], timeout: 10_000 });
    return { status: run.status, stdout: run.stdout, stderr: run.stderr };
  }

  doctorReport() {
    const run = spawnSync(this.doctor, ["--host", this.host, "--json"],
      { env: this.environment(), encoding: "utf8", timeout: 10_000 });
    let report = null;
    try {
      report = JSON.parse(run.stdout);
    } catch {
      // reported by the checks
    }
    return { status: run.status, report, stdout: run.stdout };
  }

  // The round trip through one browser's host, as that browser starts it from its manifest.
  doctorRoundTrip(browser) {
    const run = spawnSync(this.doctor, ["--host", this.host, "--round-trip", browser, "--json"],
      { env: this.environment(), encoding: "utf8", timeout: 90_000 });
    let trip = null;
    try {
      trip = JSON.parse(run.stdout).roundTrip?.[0] ?? null;
    } catch {
      // reported by the checks
    }
    return { status: run.status, trip, stdout: run.stdout };
  }

  peerLines() {
    if (!existsSync(this.peerLog)) return [];
    return readFileSync(this.peerLog, "utf8").split("\n").filter(Boolean).map((line) => JSON.parse(line));
  }

  peerPid() {
    if (!existsSync(this.peerPidFile)) return null;
    const pid = Number.parseInt(readFileSync(this.peerPidFile, "utf8"), 10);
    return Number.isInteger(pid) && pid > 0 ? pid : null;
  }

  // Ends the application the host started, so that the next browser's host must start it again.
  // It is not our child: poll until it is gone.
  async stopApplication() {
    const pid = this.peerPid();
    if (pid === null) return;
    try {
      process.kill(pid, "SIGTERM");
    } catch {
      // already gone
    }
    const deadline = Date.now() + 5_000;
    while (isRunning(pid) && Date.now() < deadline) await sleep(50);
    if (isRunning(pid)) process.kill(pid, "SIGKILL");
    rmSync(this.peerPidFile, { force: true });
  }
}

// What the registration verbs report on standard error: the Firefox trust, then per browser what
// became of its manifest (`outcome` gives it for those with a manifest of their own).
const DEVELOPMENT_NOTE = "DEVELOPMENT registration. Run `register` to restore production trust.";
function registrationLines(development, outcome) {
  const trust = development ? `${FIREFOX_ADDON_ID}, ${FIREFOX_DEV_ADDON_ID}` : FIREFOX_ADDON_ID;
  return [
    `firefox trust = ${trust}`,
    ...(development ? [DEVELOPMENT_NOTE] : []),
    ...["chrome", "edge", "firefox", "brave", "chromium"].map((browser) => `${browser} -> ${outcome(browser)}`),
    "opera -> SharesDestination",
    "vivaldi -> Unavailable",
  ].map((line) => `ondrake-native-host: ${line}\n`).join("");
}
const unregisterLines = () => ["chrome", "edge", "firefox", "brave", "chromium", "opera"]
  .map((browser) => `ondrake-native-host: removed ${browser}\n`).join("");

function checkVerb(who, installation, verb, expectedStderr) {
  const run = installation.verb(verb);
  check(who, `${verb} from the bundle in /Applications succeeds and says what it did`,
    run.status === 0 && run.stdout === "" && run.stderr === expectedStderr,
    `exit ${run.status}\nstdout ${JSON.stringify(run.stdout)}\nstderr ${run.stderr}\nexpected stderr ${expectedStderr}`);
}

// ---- Chromium ----------------------------------------------------------------------------

// Registration writes the Chromium manifest for our production extension, whose id no test
// extension can have. The test replaces that one allowed_origins entry with the probe's origin and
// leaves every other byte as registration wrote it.
function admitChromiumProbe(installation, probeOrigin) {
  const file = installation.manifest("Chromium");
  const written = readFileSync(file, "utf8");
  const origins = JSON.parse(written).allowed_origins;
  const entry = Array.isArray(origins) && origins.length === 1 ? JSON.stringify(origins[0]) : null;
  const at = entry ? written.indexOf(entry) : -1;
  const once = at >= 0 && written.indexOf(entry, at + 1) < 0;
  check("chromium", "registration's manifest admits exactly one origin, written once", once, written);
  if (!once) throw new Error("the Chromium manifest cannot be adapted for the probe");
  const adapted = written.slice(0, at) + JSON.stringify(probeOrigin) + written.slice(at + entry.length);
  writeFileSync(file, adapted);
  const reread = readFileSync(file, "utf8");
  const restored = reread.slice(0, at) + entry + reread.slice(at + JSON.stringify(probeOrigin).length);
  check("chromium", "the adapted manifest differs from registration's only in that origin",
    restored === written &&
      JSON.stringify(JSON.parse(reread).allowed_origins) === JSON.stringify([probeOrigin]),
    reread);
}

class Chromium {
  constructor(options, installation, processes) {
    this.options = options;
    this.installation = installation;
    this.processes = processes;
    this.log = path.join(options.scratch, "chromium.stderr");
    const manifest = JSON.parse(readFileSync(path.join(PROBE_DIR, "chromium.json"), "utf8"));
    this.manifest = manifest;
    this.extensionId = extensionIdFromKey(manifest.key);
    this.origin = `chrome-extension://${this.extensionId}/`;
  }

  // Chromium on Linux reads per-user hosts from <user-data-dir>/NativeMessagingHosts; with the
  // user data directory where Chromium keeps it on macOS, it reads the manifest registration wrote.
  async launch(driverUrl) {
    const probe = assembleProbe(path.join(this.options.scratch, "probe-chromium"), this.manifest,
      driverUrl, "chromium");
    writeFileSync(this.log, "");
    this.process = this.processes.start(this.options.chromium, [
      "--headless=new",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-quic",
      "--no-first-run",
      "--no-default-browser-check",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      // Newer Chromium builds may turn --load-extension off; this keeps it on.
      "--disable-features=DisableLoadExtensionCommandLineSwitch",
      `--user-data-dir=${path.join(this.installation.support, "Chromium")}`,
      `--load-extension=${probe}`,
      "about:blank",
    ], this.installation.environment(), this.log);
  }

  // The host's standard error reaches Chromium's.
  hostLog() {
    return readFileSync(this.log, "utf8").split("\n").filter((line) => line.startsWith("ondrake-native-host: "));
  }
}

// ---- Firefox -----------------------------------------------------------------------------

// WebDriver BiDi, spoken directly over the WebSocket Firefox opens for --remote-debugging-port
// (with the ws package: Node.js has a WebSocket client of its own only from version 22 on).
class Bidi {
  async connect(url) {
    this.nextId = 1;
    this.pending = new Map();
    this.socket = new WebSocket(`${url}/session`);
    this.socket.onmessage = (event) => {
      const message = JSON.parse(String(event.data));
      const settle = this.pending.get(message.id);
      if (!settle) return;
      this.pending.delete(message.id);
      settle(message);
    };
    await new Promise((resolve, reject) => {
      this.socket.onopen = resolve;
      this.socket.onerror = () => reject(new Error(`cannot connect to WebDriver BiDi at ${url}`));
    });
  }

  async send(method, params) {
    const id = this.nextId++;
    const answer = await Promise.race([
      new Promise((resolve) => {
        this.pending.set(id, resolve);
        this.socket.send(JSON.stringify({ id, method, params }));
      }),
      sleep(ORDER_LIMIT_MS).then(() => ({ type: "error", error: "timeout", message: `no answer to ${method}` })),
    ]);
    if (answer.type !== "success") throw new Error(`${method}: ${answer.error}: ${answer.message}`);
    return answer.result;
  }

  close() {
    this.socket?.close();
  }
}

// Firefox hands the host's standard error, line by line, to its console service as
// "stderr output from native app NAME: LINE"; the test reads them back there. The service keeps
// only the latest few hundred messages, so a listener in the browser window keeps every one.
const NATIVE_STDERR = `stderr output from native app ${HOST_NAME}: `;
const KEEP_CONSOLE = `(() => {
  const kept = [];
  Services.console.registerListener({ observe: (entry) => kept.push(entry.message) });
  globalThis.ondrakeE2eConsole = kept;
})()`;

class Firefox {
  constructor(options, installation, processes) {
    this.options = options;
    this.installation = installation;
    this.processes = processes;
    this.log = path.join(options.scratch, "firefox.stderr");
    this.profile = path.join(options.scratch, "firefox-profile");
    this.manifest = JSON.parse(readFileSync(path.join(PROBE_DIR, "firefox.json"), "utf8"));
    this.bidi = new Bidi();
  }

  // Firefox on Linux looks for ~/.mozilla/native-messaging-hosts/NAME.json; that directory leads
  // to the one registration wrote for Firefox on macOS.
  linkLookupDirectory() {
    const mozilla = path.join(this.installation.home, ".mozilla");
    mkdirSync(mozilla, { recursive: true });
    symlinkSync(path.join(this.installation.support, "Mozilla/NativeMessagingHosts"),
      path.join(mozilla, "native-messaging-hosts"));
  }

  lookupManifest() {
    return path.join(this.installation.home, ".mozilla/native-messaging-hosts", `${HOST_NAME}.json`);
  }

  async launch(driverUrl) {
    mkdirSync(this.profile, { recursive: true });
    // Quiet: no update checks, no first-run pages, nothing that would reach for the network.
    writeFileSync(path.join(this.profile, "user.js"), [
      'user_pref("app.update.disabledForTesting", true);',
      'user_pref("browser.shell.checkDefaultBrowser", false);',
      'user_pref("browser.startup.homepage_override.mstone", "ignore");',
      'user_pref("datareporting.policy.dataSubmissionEnabled", false);',
      'user_pref("extensions.update.enabled", false);',
      'user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);',
      "",
    ].join("\n"));
    writeFileSync(this.log, "");
    this.process = this.processes.start(this.options.firefox, [
      "--headless", "--no-remote", "--profile", this.profile,
      "--remote-debugging-port=0", "--remote-allow-system-access", "about:blank",
    ], this.installation.environment(), this.log);
    let endpoint = null;
    await waitFor("Firefox to open WebDriver BiDi", () => {
      endpoint = /WebDriver BiDi listening on (ws:\/\/[0-9.:]+)/.exec(readFileSync(this.log, "utf8"))?.[1] ?? null;
      if (endpoint === null && this.process.exitStatus !== null) {
        throw new Error(`Firefox ended at start (${this.process.exitStatus})`);
      }
      return endpoint !== null;
    }, START_LIMIT_MS);
    await this.bidi.connect(endpoint);
    await this.bidi.send("session.new", { capabilities: {} });
    const tree = await this.bidi.send("browsingContext.getTree", { "moz:scope": "chrome" });
    this.chromeContext = tree.contexts[0].context;
    await this.evaluate(KEEP_CONSOLE);

    // Two temporary add-ons: the probe with the development add-on's id, and one with the
    // production add-on's id, which shows that a refusal is Firefox's trust decision.
    const probes = [["firefox-dev", FIREFOX_DEV_ADDON_ID], ["firefox-production", FIREFOX_ADDON_ID]];
    for (const [name, id] of probes) {
      const manifest = structuredClone(this.manifest);
      manifest.browser_specific_settings.gecko.id = id;
      const directory = assembleProbe(path.join(this.options.scratch, `probe-${name}`), manifest,
        driverUrl, name);
      await this.bidi.send("webExtension.install", { extensionData: { type: "path", path: directory } });
    }
  }

  // Evaluates in the browser window itself, where Firefox's own services are at hand.
  async evaluate(expression) {
    const evaluated = await this.bidi.send("script.evaluate", {
      expression, target: { context: this.chromeContext }, awaitPromise: false,
    });
    if (evaluated.type !== "success") throw new Error(`evaluating in Firefox failed: ${JSON.stringify(evaluated)}`);
    return evaluated.result;
  }

  async consoleMessages() {
    return JSON.parse((await this.evaluate("JSON.stringify(globalThis.ondrakeE2eConsole)")).value);
  }

  async hostLog() {
    return (await this.consoleMessages())
      .filter((message) => message.startsWith(NATIVE_STDERR))
      .map((message) => message.slice(NATIVE_STDERR.length));
  }

  async close() {
    this.bidi.close();
  }
}

// ---- The scenario's steps ----------------------------------------------------------------

async function waitForProbe(driver, name) {
  await waitFor(`the ${name} probe to ask the driver for orders`, () => driver.seen.has(name), START_LIMIT_MS);
}

// Simple requests and a capture sequence through the host to the application and back, with
// the application not running at first: the host starts it through the bundle's executable.
async function roundTrip(who, browser, driver, probe, installation, hostLog) {
  await installation.stopApplication();
  const peerBefore = installation.peerLines().length;
  const logBefore = (await hostLog()).length;
  check(who, "the application is not running before the first message", !existsSync(installation.socket));

  // One request, one host: runtime.sendNativeMessage.
  const [single] = await driver.order(probe, {
    kind: "calls", transport: "message", browser, calls: [download("e2e-download", "HTTPS://Example.TEST:443/a#top")],
  });
  checkJson(who, "sendNativeMessage: an accepted download is answered ACCEPTED", single, ACCEPTED("e2e-download"));
  const pid = installation.peerPid();
  check(who, "the host started the application through the bundle's main executable",
    pid !== null && isRunning(pid) && existsSync(installation.socket));

  // Every call at once on one runtime.connectNative port: the client pairs the host's replies
  // with them, and refuses one at the call site.
  const calls = [
    PREPARE,
    send(simple(browser, "e2e-ftp", "ftp://example.test/f")),
    send(simple(browser, "e2e-extra", "https://example.test/", { extra: true })),
    send(simple(browser, "e2e bad id", "https://example.test/")),
    STATUS,
    download("e2e-refused", "ftp://example.test/f"),
  ];
  const results = await driver.order(probe, { kind: "calls", transport: "port", browser, calls });
  check(who, "connectNative: every call gets its result from a reply on one port",
    results.length === calls.length && results.slice(0, 5).every((result) => result.error === undefined),
    JSON.stringify(results));
  const [prepared, ftp, extra, badId, status, refused] = results;
  checkJson(who, "a capture prepare is answered prepared", prepared,
    captureResult("e2e-prepare", "e2e-capture", "prepared", "CAPTURE_PREPARED"));
  checkJson(who, "an ftp URL is refused as UNSUPPORTED_SCHEME", ftp,
    simpleResult("e2e-ftp", "rejected", "UNSUPPORTED_SCHEME"));
  checkJson(who, "an unknown key is refused as INVALID_MESSAGE", extra,
    simpleResult("e2e-extra", "rejected", "INVALID_MESSAGE"));
  checkJson(who, "an id outside the rule is refused as INVALID_MESSAGE, its reply paired by position", badId,
    simpleResult("e2e bad id", "rejected", "INVALID_MESSAGE"));
  checkJson(who, "the application's state of the capture comes back", status,
    captureResult("e2e-status", "e2e-capture", "prepared", "ACCEPTED"));
  checkJson(who, "the client refuses an ftp URL before sending, naming the member", refused, { refused: "url" });

  // The host has answered; its log lines may still be on their way through the browser.
  let logLines = [];
  await waitFor(`${who}'s host log`, async () => {
    logLines = (await hostLog()).slice(logBefore);
    return logLines.length >= HOST_LOG.length;
  }, 5_000).catch(() => {});
  const got = installation.peerLines().slice(peerBefore).map((entry) => JSON.stringify(entry.received));
  const want = received(browser);
  check(who, "the application received exactly the three accepted messages, normalised",
    JSON.stringify(got) === JSON.stringify(want), `got\n${got.join("\n")}\nexpected\n${want.join("\n")}`);
  check(who, "the host logs the application's start and each delivered message once, nothing else",
    JSON.stringify(logLines) === JSON.stringify(HOST_LOG), logLines.join("\n"));
}

// One download on a runtime.connectNative port.
const connectAndSend = (driver, probe, requestId) =>
  driver.order(probe, { kind: "calls", transport: "port", calls: [download(requestId, "https://example.test/")] });

async function expectConnected(who, driver, probe, requestId) {
  const results = await connectAndSend(driver, probe, requestId);
  checkJson(who, `connects and is answered (${requestId})`, results, [ACCEPTED(requestId)]);
}

// The browser refuses the host: the port closes before a reply, and the client says why.
async function expectRefused(who, what, driver, probe, pattern) {
  const [result] = await connectAndSend(driver, probe, "e2e-refused");
  check(who, what, result.status === "indeterminate" && pattern.test(result.error ?? ""), JSON.stringify(result));
}

// ---- Main --------------------------------------------------------------------------------

async function run(options, processes, cleanups) {
  const home = path.join(options.scratch, "home");
  mkdirSync(home, { recursive: true });
  const installation = new Installation(options, home);
  const executable = installation.layOut();
  cleanups.push(() => installation.stopApplication());

  // Install as a user gets it.
  checkVerb("registration", installation, "register-development", registrationLines(true, () => "Written"));
  check("registration", "the application-path record names the bundle's main executable",
    readFileSync(path.join(installation.support, "OndrakeDownload/app-path"), "utf8") === executable);
  for (const [who, directory] of [["chromium", "Chromium"], ["firefox", "Mozilla"]]) {
    const manifest = JSON.parse(readFileSync(installation.manifest(directory), "utf8"));
    check(who, "registration's manifest names the bundled host", manifest.path === installation.host,
      JSON.stringify(manifest));
  }

  const driver = new Driver();
  const driverUrl = await driver.listen();
  cleanups.push(() => driver.close());

  const chromium = new Chromium(options, installation, processes);
  admitChromiumProbe(installation, chromium.origin);
  const firefox = new Firefox(options, installation, processes);
  firefox.linkLookupDirectory();
  cleanups.push(() => firefox.close());

  await chromium.launch(driverUrl);
  await waitForProbe(driver, "chromium");
  const chromiumId = await driver.order("chromium", { kind: "identify" });
  check("chromium", "the probe has the id derived from its key", chromiumId.id === chromium.extensionId,
    JSON.stringify(chromiumId));
  await roundTrip("chromium", "chromium", driver, "chromium", installation, async () => chromium.hostLog());

  await firefox.launch(driverUrl);
  await waitForProbe(driver, "firefox-dev");
  await waitForProbe(driver, "firefox-production");
  const firefoxId = await driver.order("firefox-dev", { kind: "identify" });
  check("firefox", "the probe has the development add-on's id", firefoxId.id === FIREFOX_DEV_ADDON_ID,
    JSON.stringify(firefoxId));
  await roundTrip("firefox", "firefox", driver, "firefox-dev", installation, () => firefox.hostLog());

  // Trust: production registration admits only the production add-on.
  const consoleBefore = (await firefox.consoleMessages()).length;
  // Chromium's manifest was adapted for the probe, Firefox's admitted the development add-on.
  checkVerb("firefox", installation, "register", registrationLines(false, (browser) =>
    browser === "chromium" || browser === "firefox" ? "Repaired" : "AlreadyCurrent"));
  const NO_SUCH_APPLICATION = /No such native application/;
  await expectRefused("firefox", "after register, Firefox refuses the development add-on's connect",
    driver, "firefox-dev", NO_SUCH_APPLICATION);
  const refusal = `This extension does not have permission to use native manifest ${firefox.lookupManifest()}`;
  const messages = (await firefox.consoleMessages()).slice(consoleBefore);
  check("firefox", "Firefox itself names the refusal: the add-on may not use the manifest",
    messages.some((message) => message.includes(refusal)), messages.join("\n"));
  await expectConnected("firefox", driver, "firefox-production", "e2e-production-admitted");
  checkVerb("firefox", installation, "register-development", registrationLines(true, (browser) =>
    browser === "firefox" ? "Repaired" : "AlreadyCurrent"));
  await expectConnected("firefox", driver, "firefox-dev", "e2e-development-admitted");

  // Uninstall, and install again.
  checkVerb("uninstall", installation, "unregister", unregisterLines());
  const [notFound] = await driver.order("chromium",
    { kind: "calls", transport: "message", calls: [download("e2e-gone", "https://example.test/")] });
  check("chromium", "after unregister, Chromium reports the host not found",
    /native messaging host not found/i.test(notFound.error ?? ""), JSON.stringify(notFound));
  await expectRefused("firefox", "after unregister, Firefox reports the host not found",
    driver, "firefox-dev", NO_SUCH_APPLICATION);
  await expectRefused("firefox", "after unregister, Firefox reports it to the production add-on too",
    driver, "firefox-production", NO_SUCH_APPLICATION);

  const missing = installation.doctorReport();
  const problems = missing.report?.problems ?? [];
  check("doctor", "after unregister, ondrake-doctor --json reports problems (exit 1)",
    missing.status === 1 && missing.report?.healthy === false, missing.stdout);
  for (const [browser, directory] of [["chromium", "Chromium"], ["firefox", "Mozilla"]]) {
    const found = problems.find((problem) =>
      problem.problem === "manifest_missing" && problem.browser === browser);
    check(browser, "ondrake-doctor names the missing manifest and that register fixes it",
      found !== undefined && found.subject === installation.manifest(directory) && found.fix === "run_register",
      JSON.stringify(found ?? problems));
  }
  check("doctor", "the register command it gives is the bundled host's",
    typeof missing.report?.registerCommand === "string" && missing.report.registerCommand.includes(installation.host),
    String(missing.report?.registerCommand));

  for (const browser of ["chromium", "firefox"]) {
    const { status, trip, stdout } = installation.doctorRoundTrip(browser);
    check(browser, "after unregister, ondrake-doctor --round-trip starts no host: there is no manifest",
      status === 1 && trip?.browser === browser && trip.start === "no_manifest", stdout);
  }

  checkVerb("uninstall", installation, "register", registrationLines(false, () => "Written"));
  const healthy = installation.doctorReport();
  check("doctor", "after register again, ondrake-doctor --json reports a healthy setup",
    healthy.status === 0 && healthy.report?.healthy === true && healthy.report.problems.length === 0, healthy.stdout);
  for (const browser of ["chromium", "firefox"]) {
    const { status, trip, stdout } = installation.doctorRoundTrip(browser);
    check(browser, "after register, the round trip through the manifest's host passes both legs, " +
      "with the host's standard error shown",
      status === 0 && trip?.start === "started" && trip.host === installation.host &&
        trip.browserToHost.result === "passed" && trip.hostToApplication.result === "passed" &&
        trip.hostStandardError.some((line) => line.startsWith("ondrake-native-host: capture doctor-")),
      stdout);
  }
  admitChromiumProbe(installation, chromium.origin);
  await expectConnected("chromium", driver, "chromium", "e2e-registered-again");
  await expectConnected("firefox", driver, "firefox-production", "e2e-registered-again");
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const processes = new Processes(options.scratch);
  const cleanups = [];
  const started = Date.now();
  let cleaning = null;
  const cleanUp = () => {
    cleaning ??= (async () => {
      for (const cleanup of cleanups.reverse()) await Promise.resolve().then(cleanup).catch(() => {});
      await processes.stopAll();
    })();
    return cleaning;
  };
  // Interrupted: end what was started before leaving; run.sh removes the files.
  for (const signal of ["SIGINT", "SIGTERM", "SIGHUP"]) {
    process.on(signal, () => {
      console.log(`e2e: interrupted by ${signal}`);
      cleanUp().finally(() => process.exit(1));
    });
  }
  let limit;
  try {
    await Promise.race([
      run(options, processes, cleanups),
      new Promise((_, reject) => {
        const late = new Error(`the run did not finish within ${OVERALL_LIMIT_MS / 1000} s`);
        limit = setTimeout(() => reject(late), OVERALL_LIMIT_MS);
      }),
    ]);
  } catch (error) {
    check("e2e", "the run completes", false, String(error && error.stack ? error.stack : error));
  } finally {
    clearTimeout(limit);
    await cleanUp();
  }
  console.log(`e2e: the run took ${((Date.now() - started) / 1000).toFixed(1)} s`);
  console.log(`${results.passed} passed, ${results.failed} failed`);
  process.exit(results.failed === 0 ? 0 : 1);
}

if (process.argv[1] === fileURLToPath(import.meta.url)) main();
