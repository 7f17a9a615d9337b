// End to end with a real browser: Debian's Chromium, headless, loads our test extension
// (e2e/extension), which talks to the built ondrake-native-host through Chromium's own
// native-messaging machinery, while the reference application peer plays the desktop
// application under a throwaway HOME. Checks the replies the extension receives, what the
// application received, and the host's log lines.
//
// usage: node e2e/run.mjs --host PATH --app-peer PATH [--chromium PATH] [--keep]
// Prints one line per check and "N passed, N failed"; exits 1 when a check failed.

import { spawn } from "node:child_process";
import { createHash } from "node:crypto";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync, chmodSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const HERE = path.dirname(fileURLToPath(import.meta.url));
const EXTENSION_DIR = path.join(HERE, "extension");
const HOST_NAME = "com.ondrake.download";
const OVERALL_LIMIT_MS = 90_000;

function parseArguments(argv) {
  const options = { chromium: "/usr/bin/chromium", keep: false };
  const paths = { "--host": "host", "--app-peer": "appPeer", "--chromium": "chromium" };
  for (let i = 0; i < argv.length; ++i) {
    const name = argv[i];
    if (name === "--keep") options.keep = true;
    else if (paths[name] && i + 1 < argv.length) options[paths[name]] = path.resolve(argv[++i]);
    else throw new Error(`unknown or incomplete argument: ${name}`);
  }
  if (!options.host || !options.appPeer) throw new Error("--host and --app-peer are required");
  return options;
}

// Chromium's id for an extension with a fixed "key": the SHA-256 of the DER public key, its
// first 32 hex digits written with the letters a to p instead of 0 to f.
export function extensionIdFromKey(base64Key) {
  const digest = createHash("sha256").update(Buffer.from(base64Key, "base64")).digest("hex");
  return [...digest.slice(0, 32)].map((digit) => String.fromCharCode(97 + parseInt(digit, 16))).join("");
}

async function waitFor(what, condition, limitMs) {
  const deadline = Date.now() + limitMs;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

// ---- The scenario ------------------------------------------------------------------------

const simple = (requestId, url, extra = {}) => ({
  protocolVersion: 1, requestId, action: "download", source: "context_menu", browser: "chromium", url, ...extra,
});

const PREPARE = {
  protocolVersion: 4, requestId: "e2e-prepare", captureId: "e2e-capture", action: "capture_prepare",
  source: "automatic_download", browser: "chromium", browserDownloadId: 7,
  url: "https://Files.Example.TEST/dir/../file.zip#part",
  observed: { finalUrl: "https://cdn.example.test/file.zip", mime: "application/zip", totalBytes: 1024, etag: null, seenBy: "probe" },
  cookies: [{ name: "sid", value: "v 1", path: "/", secure: true }],
  downloadName: "file.zip",
};
const STATUS = {
  protocolVersion: 4, requestId: "e2e-status", captureId: "e2e-capture", action: "capture_status",
  source: "automatic_download",
};

const hostReply = (requestId, status, code) => ({ protocolVersion: 1, requestId, status, code });
const captureReply = (requestId, captureId, status, code) => ({ protocolVersion: 4, requestId, captureId, status, code });

// What the application must receive, byte for byte: the normalised requests.
const RECEIVED = [
  '{"protocolVersion":1,"requestId":"e2e-download","url":"https://example.test/a"}',
  '{"protocolVersion":4,"requestId":"e2e-prepare","captureId":"e2e-capture","action":"capture_prepare",' +
    '"browser":"chromium","browserDownloadId":7,"url":"https://files.example.test/file.zip",' +
    '"observed":{"finalUrl":"https://cdn.example.test/file.zip","mime":"application/zip","totalBytes":1024,"etag":null},' +
    '"cookies":[{"name":"sid","value":"v 1","path":"/","secure":true}],"downloadName":"file.zip",' +
    '"initiatorOrigin":null,"revalidateResponse":null}',
  '{"protocolVersion":4,"requestId":"e2e-status","captureId":"e2e-capture","action":"capture_status",' +
    '"browser":"undeclared","browserDownloadId":null,"url":null,"observed":null,"cookies":null,' +
    '"downloadName":null,"initiatorOrigin":null,"revalidateResponse":null}',
];

const HOST_LOG = [
  "ondrake-native-host: request e2e-download -> Accepted",
  "ondrake-native-host: capture e2e-capture CapturePrepare -> Prepared/CapturePrepared",
  "ondrake-native-host: capture e2e-capture CaptureStatus -> Prepared/Accepted",
];

// ---- Checks ------------------------------------------------------------------------------

const results = { passed: 0, failed: 0 };
function check(name, ok, detail = "") {
  if (ok) {
    results.passed += 1;
    console.log(`ok - ${name}`);
  } else {
    results.failed += 1;
    console.log(`not ok - ${name}${detail ? `\n    ${detail.replaceAll("\n", "\n    ")}` : ""}`);
  }
}
// Replies are compared as JSON text, so the host's key order counts too.
function checkJson(name, actual, expected) {
  const got = JSON.stringify(actual);
  const want = JSON.stringify(expected);
  check(name, got === want, `got      ${got}\nexpected ${want}`);
}

// ---- Set-up ------------------------------------------------------------------------------

function writeHostManifest(profile, wrapper, extensionId) {
  // Chromium on Linux looks for per-profile hosts in <user-data-dir>/NativeMessagingHosts.
  const directory = path.join(profile, "NativeMessagingHosts");
  mkdirSync(directory, { recursive: true });
  const manifest = {
    name: HOST_NAME,
    description: "Ondrake Download native messaging host",
    path: wrapper,
    type: "stdio",
    allowed_origins: [`chrome-extension://${extensionId}/`],
  };
  writeFileSync(path.join(directory, `${HOST_NAME}.json`), JSON.stringify(manifest, null, 2) + "\n");
}

// A manifest names a program and nothing else: the test's HOME and the host's log file are set
// by this wrapper, which Chromium starts in the host's place.
function writeWrapper(directory, host, home, log) {
  const quote = (text) => `'${text.replaceAll("'", "'\\''")}'`;
  const wrapper = path.join(directory, "host-wrapper.sh");
  writeFileSync(wrapper, `#!/bin/sh\nHOME=${quote(home)} exec ${quote(host)} "$@" 2>>${quote(log)}\n`);
  chmodSync(wrapper, 0o755);
  return wrapper;
}

async function startAppPeer(appPeer, home, scratch) {
  const socket = path.join(home, "Library/Application Support/OndrakeDownload/ipc/browser.sock");
  const log = path.join(scratch, "app-peer.log");
  const ready = path.join(scratch, "app-peer.ready");
  const peer = spawn(appPeer, ["--socket", socket, "--log", log, "--ready-file", ready], { stdio: ["ignore", "ignore", "inherit"] });
  let exited = null;
  peer.on("exit", (code, signal) => { exited = signal ?? code; });
  await waitFor("app-peer to listen", () => existsSync(ready) || exited !== null, 10_000);
  if (exited !== null) throw new Error(`app-peer ended at start (${exited})`);
  return { peer, log };
}

async function stopAppPeer(peer) {
  if (peer.exitCode !== null || peer.signalCode !== null) return;
  const ended = new Promise((resolve) => peer.once("exit", resolve));
  peer.kill("SIGTERM");
  await ended;
}

async function launchChromium(executable, profile) {
  return chromium.launchPersistentContext(profile, {
    executablePath: executable,
    headless: false,  // --headless=new is passed below, as the flag Chromium itself documents
    // Playwright's defaults include --disable-extensions, which would keep the probe out.
    ignoreDefaultArgs: ["--disable-extensions"],
    args: [
      "--headless=new",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-quic",
      "--no-first-run",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      `--load-extension=${EXTENSION_DIR}`,
    ],
    timeout: 30_000,
  });
}

async function extensionWorker(context, extensionId) {
  const prefix = `chrome-extension://${extensionId}/`;
  const find = () => context.serviceWorkers().find((worker) => worker.url().startsWith(prefix));
  let worker = find();
  const deadline = Date.now() + 20_000;
  while (!worker && Date.now() < deadline) {
    await context.waitForEvent("serviceworker", { timeout: Math.max(1, deadline - Date.now()) }).catch(() => {});
    worker = find();
  }
  if (!worker) {
    const seen = context.serviceWorkers().map((w) => w.url()).join(", ") || "none";
    throw new Error(`the probe extension's service worker did not start (workers: ${seen})`);
  }
  return worker;
}

// ---- Main --------------------------------------------------------------------------------

async function run(options, scratch) {
  const manifest = JSON.parse(readFileSync(path.join(EXTENSION_DIR, "manifest.json"), "utf8"));
  const extensionId = extensionIdFromKey(manifest.key);
  const home = path.join(scratch, "home");
  const profile = path.join(scratch, "profile");
  mkdirSync(home, { recursive: true });
  const hostLog = path.join(scratch, "host.log");
  writeFileSync(hostLog, "");
  writeHostManifest(profile, writeWrapper(scratch, options.host, home, hostLog), extensionId);

  const { peer, log: peerLog } = await startAppPeer(options.appPeer, home, scratch);
  let context;
  try {
    context = await launchChromium(options.chromium, profile);
    const worker = await extensionWorker(context, extensionId);
    check("Chromium gives the probe the id derived from its key", worker.url().startsWith(`chrome-extension://${extensionId}/`), worker.url());

    // One message, one host process: runtime.sendNativeMessage.
    const single = await worker.evaluate((message) => globalThis.sendOne(message), simple("e2e-download", "HTTPS://Example.TEST:443/a#top"));
    check("sendNativeMessage gets a reply", single.error === undefined, single.error);
    checkJson("an accepted download is answered ACCEPTED", single.reply, hostReply("e2e-download", "accepted", "ACCEPTED"));

    // Several messages on one port, one host process, replies in order: runtime.connectNative.
    const messages = [
      PREPARE,
      simple("e2e-ftp", "ftp://example.test/f"),
      simple("e2e-extra", "https://example.test/", { extra: true }),
      simple("e2e bad id", "https://example.test/"),
      STATUS,
    ];
    const port = await worker.evaluate((list) => globalThis.exchangeOnPort(list), messages);
    check("connectNative answers every message on one port", port.replies.length === messages.length && port.error === undefined,
      `${port.replies.length} replies; ${port.error ?? ""}`);
    const [prepared, ftp, extra, badId, status] = port.replies;
    checkJson("a capture prepare is answered prepared", prepared, captureReply("e2e-prepare", "e2e-capture", "prepared", "CAPTURE_PREPARED"));
    checkJson("an ftp URL is refused as UNSUPPORTED_SCHEME", ftp, hostReply("e2e-ftp", "rejected", "UNSUPPORTED_SCHEME"));
    checkJson("an unknown key is refused as INVALID_MESSAGE", extra, hostReply("e2e-extra", "rejected", "INVALID_MESSAGE"));
    checkJson("an id outside the rule is refused without echoing it", badId, hostReply("", "rejected", "INVALID_MESSAGE"));
    checkJson("the application's state of the capture comes back", status, captureReply("e2e-status", "e2e-capture", "prepared", "ACCEPTED"));
  } finally {
    if (context) await context.close();
    await stopAppPeer(peer);
  }

  const received = readFileSync(peerLog, "utf8").split("\n").filter(Boolean).map((line) => JSON.parse(line));
  check("the application received exactly the three accepted messages", received.length === RECEIVED.length,
    received.map((entry) => JSON.stringify(entry.received)).join("\n"));
  RECEIVED.forEach((expected, index) => {
    const got = received[index] ? JSON.stringify(received[index].received) : "nothing";
    check(`the application received request ${index + 1} normalised`, got === expected, `got      ${got}\nexpected ${expected}`);
  });

  const logLines = readFileSync(hostLog, "utf8").split("\n").filter(Boolean);
  check("the host logs each delivered message once and nothing else",
    JSON.stringify(logLines) === JSON.stringify(HOST_LOG), logLines.join("\n"));
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const scratch = mkdtempSync(path.join(tmpdir(), "ondrake-e2e-"));
  const limit = setTimeout(() => {
    console.log(`not ok - the run did not finish within ${OVERALL_LIMIT_MS / 1000} s`);
    process.exit(1);
  }, OVERALL_LIMIT_MS);
  try {
    await run(options, scratch);
  } catch (error) {
    check("the run completes", false, String(error && error.stack ? error.stack : error));
  } finally {
    clearTimeout(limit);
    if (options.keep) console.log(`scratch directory kept: ${scratch}`);
    else rmSync(scratch, { recursive: true, force: true });
  }
  console.log(`${results.passed} passed, ${results.failed} failed`);
  process.exit(results.failed === 0 ? 0 : 1);
}

if (process.argv[1] === fileURLToPath(import.meta.url)) main();
