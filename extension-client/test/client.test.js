// The client against fake runtimes of each browser family: replies paired with requests on a port,
// a host that exits, time limits, sendNativeMessage, Safari's handler, and the call-site checks.
import assert from "node:assert/strict";
import { test } from "node:test";

import { DELIVERY, ID_PATTERN, InvalidMessageError, LIMITS, SAFARI, createClient } from "../index.js";
import { flush, hostReply, messageRuntime, peek, portRuntime } from "./fakes.js";

const URL_A = "https://example.test/a";
const FILE = "https://files.example.test/f.zip";

// The host's longest time for one request, by the timing table of the protocol reference: every
// connection attempt up to its limit, the waits between them, then the whole write and reply.
const HOST_WORST_CASE_MS = (DELIVERY.retryDelaysMs.length + 1) * DELIVERY.connectMs +
  DELIVERY.retryDelaysMs.reduce((sum, wait) => sum + wait, 0) + DELIVERY.writeMs + DELIVERY.replyMs;
// What the client may add on top for the browser's part.
const MARGIN_AT_MOST_MS = 10_000;

const indeterminate = (request, error) => ({
  status: "indeterminate", code: "DELIVERY_INDETERMINATE", retrySafe: false, requestId: request.requestId,
  ...(request.protocolVersion === 4 ? { captureId: request.captureId, preflight: null } : {}), error,
});

test("a port pairs replies with requests by position, also when they arrive together", async () => {
  const runtime = portRuntime("chrome");
  const client = createClient({ runtime, transport: "port", browser: "chrome" });
  const results = [
    client.download(URL_A),
    client.prepare(FILE, { observed: { mime: "application/zip", totalBytes: 1024 } }),
    client.status({ captureId: "c-1" }),
  ];
  assert.equal(runtime.ports.length, 1, "one port for every request");
  const [port] = runtime.ports;
  const [download, prepare, status] = port.posted;
  assert.ok([download, prepare, status].every((message) => ID_PATTERN.test(message.requestId)));
  assert.equal(new Set(port.posted.map((message) => message.requestId)).size, 3);
  assert.ok(ID_PATTERN.test(prepare.captureId));
  // The third is answered with empty ids, as the host answers a request whose ids it cannot echo.
  port.reply(hostReply(download, "ACCEPTED"), hostReply(prepare, "CAPTURE_PREPARED", "prepared"),
    { ...hostReply(status, "APP_UNAVAILABLE", "unknown"), requestId: "", captureId: "" });
  assert.deepEqual(await Promise.all(results), [
    { status: "accepted", code: "ACCEPTED", retrySafe: false, requestId: download.requestId },
    { status: "prepared", code: "CAPTURE_PREPARED", retrySafe: false, requestId: prepare.requestId,
      captureId: prepare.captureId, preflight: null },
    { status: "unknown", code: "APP_UNAVAILABLE", retrySafe: true, requestId: status.requestId, captureId: "c-1",
      preflight: null },
  ]);
  assert.equal(port.disconnected, false);
});

test("a reply that answers another request ends the port: no reply pairs any more", async () => {
  const runtime = portRuntime("chrome");
  const client = createClient({ runtime, transport: "port" });
  const first = client.download(URL_A);
  const second = client.download(URL_A);
  const [port] = runtime.ports;
  port.reply(hostReply(port.posted[1], "ACCEPTED"));
  const error = /no reply to this request: it answers another request/;
  assert.match((await first).error, error);
  assert.deepEqual(await second, indeterminate(port.posted[1], "the host's replies no longer pair with the requests"));
  assert.equal(port.disconnected, true);
});

for (const family of ["chrome", "firefox"]) {
  test(`${family}: every request still waiting fails when the host exits, and the next call reconnects`, async () => {
    const runtime = portRuntime(family);
    const client = createClient({ runtime, transport: "port" });
    const answered = client.download(URL_A);
    const cut = [client.prepare(FILE), client.abort({ captureId: "c-2" })];
    const [port] = runtime.ports;
    port.reply(hostReply(port.posted[0], "ACCEPTED"));
    port.exit("Native host has exited.");
    assert.equal((await answered).code, "ACCEPTED");
    assert.deepEqual(await Promise.all(cut), port.posted.slice(1).map((request) => indeterminate(request, "Native host has exited.")));

    const again = client.download(URL_A);
    assert.equal(runtime.ports.length, 2);
    const [request] = runtime.ports[1].posted;
    runtime.ports[1].reply(hostReply(request, "ACCEPTED"));
    assert.equal((await again).code, "ACCEPTED");
  });
}

test("a port that cannot be used sends nothing: safe to retry; close fails what still waits", async () => {
  const runtime = portRuntime("chrome");
  const client = createClient({ runtime, transport: "port" });
  const waiting = client.download(URL_A);
  const [port] = runtime.ports;
  port.disconnected = true; // closed, and the browser has not said so yet
  const refused = await client.prepare(FILE);
  assert.deepEqual(refused, {
    status: "unknown", code: "APP_UNAVAILABLE", retrySafe: true, requestId: refused.requestId,
    captureId: refused.captureId, preflight: null, error: "Attempting to use a disconnected port object",
  });
  assert.equal((await waiting).status, "indeterminate");

  const later = client.download(URL_A);
  client.close();
  assert.deepEqual(await later, indeterminate(runtime.ports[1].posted[0], "the client closed the port"));
  assert.equal(runtime.ports[1].disconnected, true);
});

test("a port request's time runs from the reply before it; one past its limit ends the port", async (t) => {
  t.mock.timers.enable({ apis: ["setTimeout"] });
  const runtime = portRuntime("chrome");
  const client = createClient({ runtime, transport: "port" });
  const first = client.download(URL_A);
  const second = client.download(URL_A);
  const [port] = runtime.ports;
  t.mock.timers.tick(HOST_WORST_CASE_MS);
  assert.equal(await peek(first), "pending");
  port.reply(hostReply(port.posted[0], "ACCEPTED"));
  assert.equal((await first).code, "ACCEPTED");
  t.mock.timers.tick(HOST_WORST_CASE_MS);
  assert.equal(await peek(second), "pending", "the host began the second request only when it answered the first");
  t.mock.timers.tick(MARGIN_AT_MOST_MS);
  const late = await peek(second);
  assert.equal(late.status, "indeterminate");
  assert.match(late.error, /^no reply within \d+ ms$/);
  assert.equal(port.disconnected, true);
});

test("sendNativeMessage and Safari requests are limited too: above the host's or the handler's own limit", async (t) => {
  t.mock.timers.enable({ apis: ["setTimeout"] });
  const never = () => new Promise(() => {});
  const rows = [
    { transport: "message", above: HOST_WORST_CASE_MS },
    { transport: "safari", above: SAFARI.exchangeBudgetMs },
    { transport: "message", timeoutMs: 1500, above: 1499 },
  ];
  for (const { transport, timeoutMs, above } of rows) {
    const client = createClient({ runtime: messageRuntime(never), transport, timeoutMs });
    const result = client.download(URL_A);
    t.mock.timers.tick(above);
    assert.equal(await peek(result), "pending", `${transport} after ${above} ms`);
    t.mock.timers.tick(timeoutMs ? 1 : MARGIN_AT_MOST_MS);
    const late = await peek(result);
    assert.equal(late.code, "DELIVERY_INDETERMINATE", transport);
    assert.equal(late.retrySafe, false);
  }
});

test("sendNativeMessage: a reply, a failed exchange, and a call the browser refuses", async () => {
  const rows = [
    { answer: (message) => hostReply(message, "APP_UNAVAILABLE"), status: "unavailable", code: "APP_UNAVAILABLE", retrySafe: true },
    { answer: () => Promise.reject(new Error("Specified native messaging host not found.")), status: "indeterminate",
      code: "DELIVERY_INDETERMINATE", retrySafe: false, error: "Specified native messaging host not found." },
    { answer: () => { throw new Error("no permission"); }, status: "unavailable", code: "APP_UNAVAILABLE", retrySafe: true,
      error: "no permission" },
    { answer: () => ({ protocolVersion: 1, requestId: "other", status: "accepted", code: "ACCEPTED" }),
      status: "indeterminate", code: "DELIVERY_INDETERMINATE", retrySafe: false,
      error: "the host's reply is no reply to this request: it answers another request" },
  ];
  for (const { answer, ...expected } of rows) {
    const runtime = messageRuntime(answer);
    const result = await createClient({ runtime, transport: "message" }).download(URL_A, { requestId: "r-1" });
    assert.deepEqual(result, { requestId: "r-1", ...expected });
    assert.deepEqual(runtime.sent[0].message.requestId, "r-1");
  }
});

// Safari's handler answers {payload: the application's reply text} or a status document of its own.
test("Safari: the handler's wrapping, and its status documents read as host replies", async () => {
  const appReply = (fields) => (message) => ({ payload: JSON.stringify({ ...JSON.parse(message.payload), ...fields }) });
  const preflight = { ok: true, status: 200, contentType: "application/zip", seenBy: "app" };
  const rows = [
    { call: "download", reply: (message) => ({ payload: JSON.stringify({ protocolVersion: 1, requestId: message.requestId, code: "APP_REJECTED" }) }),
      result: { status: "rejected", code: "APP_REJECTED", retrySafe: false } },
    { call: "preflight", reply: (message) => ({ payload: JSON.stringify({ protocolVersion: 4, requestId: message.requestId,
      captureId: message.captureId, status: "unknown", code: "ACCEPTED", preflight }) }),
      result: { status: "unknown", code: "ACCEPTED", retrySafe: true, preflight } },
    { call: "download", reply: () => ({ status: "unknown", code: "APP_UNAVAILABLE" }),
      result: { status: "unavailable", code: "APP_UNAVAILABLE", retrySafe: true } },
    { call: "prepare", reply: (message) => ({ status: "unknown", code: "APP_UNAVAILABLE", requestId: message.requestId }),
      result: { status: "unknown", code: "APP_UNAVAILABLE", retrySafe: true } },
    { call: "download", reply: () => ({ status: "unknown", code: "INVALID_MESSAGE" }),
      result: { status: "rejected", code: "INVALID_MESSAGE", retrySafe: false } },
    { call: "prepare", reply: () => ({ status: "unknown", code: "INVALID_MESSAGE" }),
      result: { status: "unknown", code: "INVALID_MESSAGE", retrySafe: true } },
    { call: "download", reply: () => ({ status: "indeterminate", code: "DELIVERY_INDETERMINATE" }),
      result: { status: "indeterminate", code: "DELIVERY_INDETERMINATE", retrySafe: false } },
    { call: "prepare", reply: () => ({ status: "indeterminate", code: "INTERNAL_ERROR" }),
      result: { status: "indeterminate", code: "INTERNAL_ERROR", retrySafe: false } },
    // The host's reply form is no reply of the application: the handler relays the latter.
    { call: "download", reply: appReply({ status: "accepted", code: "ACCEPTED" }), madeUp: true,
      result: { status: "indeterminate", code: "DELIVERY_INDETERMINATE", retrySafe: false } },
    { call: "download", reply: () => ({ payload: "not json" }), madeUp: true,
      result: { status: "indeterminate", code: "DELIVERY_INDETERMINATE", retrySafe: false } },
    { call: "prepare", reply: () => undefined, madeUp: true,
      result: { status: "indeterminate", code: "DELIVERY_INDETERMINATE", retrySafe: false } },
  ];
  for (const { call, reply, result, madeUp } of rows) {
    const runtime = messageRuntime(reply);
    const client = createClient({ runtime, transport: "safari", browser: "safari" });
    const got = await (call === "download" ? client.download(URL_A) : client[call](FILE));
    const { message } = runtime.sent[0];
    const request = JSON.parse(message.payload);
    const capture = call !== "download";
    assert.deepEqual(message, { payload: JSON.stringify(request), requestId: request.requestId,
      ...(capture ? { captureId: request.captureId } : {}) });
    assert.equal(request.browser, "safari");
    const { error, ...rest } = got;
    assert.equal(error !== undefined, Boolean(madeUp), `${call}: ${JSON.stringify(got)}`);
    assert.deepEqual(rest, { requestId: request.requestId, ...(capture ? { captureId: request.captureId, preflight: null } : {}), ...result },
      `${call} answered ${JSON.stringify(reply(message))}`);
  }
});

// Each row breaks one rule the host checks; the call throws, naming the member, and opens no port.
test("the call site refuses a message that breaks a rule the host checks, naming the member", () => {
  const cookie = { name: "sid", value: "v", path: "/", secure: true };
  const nested = (levels) => Array.from({ length: levels }).reduce((inner) => [inner], 0);
  const rows = [
    ["an id outside the id rule", (c) => c.download(URL_A, { requestId: "r 1" }), "requestId"],
    ["an id of 129 bytes", (c) => c.commit(FILE, { captureId: "c".repeat(129) }), "captureId"],
    ["a step of a capture without its id", (c) => c.status({}), "captureId"],
    ["a URL of another scheme", (c) => c.download("ftp://example.test/f"), "url"],
    ["a URL with credentials", (c) => c.prepare("https://user@example.test/f"), "url"],
    ["no URL at all", (c) => c.download("not a url"), "url"],
    ["a URL that is no string", (c) => c.preflight(7), "url"],
    ["a step that needs a URL without one", (c) => c.prepare(undefined), "url"],
    ["a member the message does not list", (c) => c.download(URL_A, { extra: true }), "extra"],
    ["a member the client sets", (c) => c.prepare(FILE, { action: "capture_commit" }), "action"],
    ["a URL among a step's options", (c) => c.abort({ captureId: "c", url: FILE }), "url"],
    ["cookies with a preflight", (c) => c.preflight(FILE, { cookies: [cookie] }), "cookies"],
    ["observed with a revocation", (c) => c.revokeCredentials({ captureId: "c", observed: {} }), "observed"],
    ["an empty list of cookies", (c) => c.prepare(FILE, { cookies: [] }), "cookies"],
    ["65 cookies", (c) => c.prepare(FILE, { cookies: Array(65).fill(cookie) }), "cookies"],
    ["a cookie without its path", (c) => c.prepare(FILE, { cookies: [{ name: "a", value: "", secure: false }] }), "cookies[0].path"],
    ["a cookie with a member more", (c) => c.commit(FILE, { captureId: "c", cookies: [{ ...cookie, domain: "x" }] }), "cookies[0].domain"],
    ["a cookie name of 129 two-byte characters", (c) => c.prepare(FILE, { cookies: [cookie, { ...cookie, name: "é".repeat(129) }] }), "cookies[1].name"],
    ["an empty cookie name", (c) => c.prepare(FILE, { cookies: [{ ...cookie, name: "" }] }), "cookies[0].name"],
    ["a MIME type over its limit", (c) => c.prepare(FILE, { observed: { mime: "m".repeat(LIMITS.observedTextBytes + 1) } }), "observed.mime"],
    ["a download name over its limit", (c) => c.prepare(FILE, { downloadName: "n".repeat(LIMITS.downloadNameBytes + 1) }), "downloadName"],
    ["an origin over its limit", (c) => c.prepare(FILE, { initiatorOrigin: "o".repeat(LIMITS.initiatorOriginBytes + 1) }), "initiatorOrigin"],
    ["a negative size", (c) => c.prepare(FILE, { observed: { totalBytes: -1 } }), "observed.totalBytes"],
    ["a size with a fraction", (c) => c.prepare(FILE, { observed: { totalBytes: 1.5 } }), "observed.totalBytes"],
    ["a download id beyond 2^53", (c) => c.prepare(FILE, { browserDownloadId: 2 ** 60 }), "browserDownloadId"],
    ["a download id as text", (c) => c.prepare(FILE, { browserDownloadId: "7" }), "browserDownloadId"],
    ["a flag that is no boolean", (c) => c.commit(FILE, { captureId: "c", revalidateResponse: "yes" }), "revalidateResponse"],
    ["a lone surrogate in a listed text", (c) => c.prepare(FILE, { downloadName: "a\uD800b" }), "downloadName"],
    ["a skipped member that is no JSON", (c) => c.prepare(FILE, { observed: { seen: 1n } }), "observed.seen"],
    ["a skipped member nested too deep", (c) => c.prepare(FILE, { observed: { deep: nested(LIMITS.nesting - 1) } }), "observed.deep"],
    ["a message over one frame", (c) => c.prepare(FILE, {
      cookies: Array.from({ length: 20 }, (_, i) => ({ ...cookie, name: `c${i}`, value: "v".repeat(LIMITS.cookieValueBytes) })),
    }), "cookies"],
    ["options that are no object", (c) => c.download(URL_A, "r-1"), "options"],
  ];
  const runtime = portRuntime("chrome");
  const client = createClient({ runtime, transport: "port" });
  for (const [name, call, member] of rows) {
    assert.throws(() => call(client), (error) => error instanceof InvalidMessageError && error.member === member &&
      error.message.startsWith(`${member}: `), name);
  }
  assert.equal(runtime.ports.length, 0, "nothing was sent");
  assert.throws(() => createClient({ runtime, transport: "port", browser: "Chrome" }), { name: "InvalidMessageError", member: "browser" });
});

test("messages at the edge of every limit are sent", async () => {
  const runtime = portRuntime("chrome");
  const client = createClient({ runtime, transport: "port" });
  const nested = (levels) => Array.from({ length: levels }).reduce((inner) => [inner], 0);
  const cookies = Array.from({ length: LIMITS.maxCookies }, (_, i) => ({
    name: i === 0 ? "é".repeat(LIMITS.cookieNameBytes / 2) : `c${i}`, value: "", path: "/", secure: false,
  }));
  client.download(`\u3000${URL_A}\u00a0`, { requestId: "r".repeat(LIMITS.idBytes) });
  client.prepare(FILE, {
    cookies, browserDownloadId: -(2 ** 53 - 1), downloadName: "ü".repeat(LIMITS.downloadNameBytes / 2),
    observed: { totalBytes: 0, mime: "m".repeat(LIMITS.observedTextBytes), skipped: "\uD800", deep: nested(LIMITS.nesting - 2) },
  });
  client.revokeCredentials({ captureId: "c", browserDownloadId: null, cookies: null, observed: undefined });
  await flush();
  assert.equal(runtime.ports[0].posted.length, 3);
  client.close();
});
