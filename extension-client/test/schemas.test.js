// What the client sends for every call, with every member its step may carry, is valid under the
// published JSON Schemas (docs/schema), checked with ajv as tools/protocol-doc/validate.mjs checks
// the host's own verdicts; and so is Safari's wrapping of it.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";
import Ajv2020 from "ajv/dist/2020.js";

import { CAPTURE_ACTIONS, createClient } from "../index.js";
import { messageRuntime, portRuntime } from "./fakes.js";

const ajv = new Ajv2020({ strict: true, allErrors: true });
const schema = (name) => ajv.compile(JSON.parse(readFileSync(new URL(`../../docs/schema/${name}.schema.json`, import.meta.url), "utf8")));
const FILE = "https://files.example.test/f.zip";

// Every member a capture may carry besides those the client sets.
const EVERYTHING = {
  browserDownloadId: 17,
  observed: { finalUrl: FILE, mime: "application/zip", totalBytes: 1024, etag: "\"e\"", seenBy: { probe: [1, 2] } },
  cookies: [{ name: "sid", value: "é", path: "/", secure: true }],
  downloadName: "f.zip",
  initiatorOrigin: "https://example.test",
  revalidateResponse: false,
};

function everyCall(client) {
  client.download("https://example.test/a", { requestId: "r-1" });
  for (const [call, step] of Object.entries(CAPTURE_ACTIONS)) {
    const { cookies, observed, ...rest } = EVERYTHING;
    const options = { ...rest, ...(step.cookies ? { cookies } : {}), ...(step.observed ? { observed } : {}) };
    if (!step.startsCapture) options.captureId = "c-1";
    if (step.url) client[call](FILE, options);
    else client[call](options);
  }
}

test("every call's message is valid under the published schema of its kind", () => {
  const runtime = portRuntime("firefox");
  const client = createClient({ runtime, transport: "port", browser: "firefox" });
  everyCall(client);
  client.close();
  const [simple, ...captures] = runtime.ports[0].posted;
  const checks = [[schema("host-request"), simple], ...captures.map((message) => [schema("capture-request"), message])];
  assert.deepEqual(captures.map((message) => message.action), Object.values(CAPTURE_ACTIONS).map((step) => step.action));
  for (const [validate, message] of checks) {
    assert.ok(validate(message), `${JSON.stringify(message)}: ${ajv.errorsText(validate.errors)}`);
  }
});

test("Safari's wrapping of every call is valid under the Safari message schema", () => {
  const runtime = messageRuntime(() => ({ status: "unknown", code: "APP_UNAVAILABLE" }));
  everyCall(createClient({ runtime, transport: "safari", browser: "safari" }));
  const validate = schema("safari-message");
  assert.equal(runtime.sent.length, 1 + Object.keys(CAPTURE_ACTIONS).length);
  for (const { message } of runtime.sent) assert.ok(validate(message), ajv.errorsText(validate.errors));
});
