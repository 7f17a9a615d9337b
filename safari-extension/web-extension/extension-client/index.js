// A copy of extension-client/index.js, kept current by tools/protocol-doc (`make docs`): edit that
// file.
// The Ondrake Download bridge for extension background scripts (Chrome family, Firefox, Safari).
// It builds every request of the protocol, checks it as the host will before anything is sent,
// sends it through the browser's native messaging and turns whatever comes back, or does not, into
// one result: status, code, retrySafe and, for a capture, the preflight. protocol.js holds the
// constants and schemas it works from, generated from the host's own message tables.
import {
  BROWSERS, CAPTURE_ACTIONS, CAPTURE_PROTOCOL_VERSION, CAPTURE_SOURCE, CLIENT_MEMBERS, DELIVERY, LIMITS,
  MAYBE_DELIVERED, NATIVE_HOST_NAME, NOT_DELIVERED, RETRY_SAFE, SAFARI, SCHEMAS, SIMPLE_ACTION,
  SIMPLE_PROTOCOL_VERSION, SIMPLE_SOURCE, STATUS_FOR,
} from "./protocol.js";

export * from "./protocol.js";

// The longest the host takes over one request: every connection attempt it may make up to its
// limit, with the waits after starting the application between them, then the whole write and the
// whole reply of the attempt that connected.
const HOST_WORST_CASE_MS = (DELIVERY.retryDelaysMs.length + 1) * DELIVERY.connectMs +
  DELIVERY.retryDelaysMs.reduce((sum, wait) => sum + wait, 0) + DELIVERY.writeMs + DELIVERY.replyMs;
// Beyond the host's or the Safari handler's own limit: the browser starting it and passing the
// messages through.
const MARGIN_MS = 5_000;

const TRANSPORTS = ["port", "message", "safari"];

// A request refused before anything was sent; `member` names what breaks the rule.
export class InvalidMessageError extends TypeError {
  constructor(member, problem) {
    super(`${member}: ${problem}`);
    this.name = "InvalidMessageError";
    this.member = member;
  }
}

// 32 hexadecimal digits: within the id rule, and unique without any state kept here.
export function newId() {
  const bytes = new Uint8Array(16);
  globalThis.crypto.getRandomValues(bytes);
  return Array.from(bytes, (byte) => byte.toString(16).padStart(2, "0")).join("");
}

// ---- Checking a message as the host does --------------------------------------------------

const encoder = new TextEncoder();
const utf8Length = (text) => encoder.encode(text).length;
// JSON.stringify writes a lone surrogate as a \u escape, which the host refuses in listed members.
const LONE_SURROGATE = /\p{Cs}/u;
const WHITE_SPACE_AROUND = /^\p{White_Space}+|\p{White_Space}+$/gu;
const hasOwn = (object, key) => Object.prototype.hasOwnProperty.call(object, key);

// The JSON type a value is written as. Numbers beyond 2^53 have lost their digits already, and
// JSON.stringify would write some of them with an exponent, which the host refuses.
function kindOf(value) {
  if (value === null) return "null";
  if (Array.isArray(value)) return "array";
  if (typeof value === "number") return Number.isSafeInteger(value) ? "integer" : "number";
  if (typeof value === "object") {
    const prototype = Object.getPrototypeOf(value);
    return prototype === Object.prototype || prototype === null ? "object" : "other object";
  }
  return typeof value;
}

const KIND_NAMES = {
  null: "null", array: "an array", integer: "an integer", number: "a number other than a safe integer",
  object: "an object", "other object": "an object other than a plain one", string: "a string",
  boolean: "a boolean", undefined: "undefined", bigint: "a bigint", function: "a function", symbol: "a symbol",
};
const TYPE_NAMES = { ...KIND_NAMES, integer: "a safe integer", number: "a number" };

const at = (member, problem) => ({ member: member || "message", problem });
const memberPath = (path, key) => (path ? `${path}.${key}` : key);

// "when action is "capture_abort"": the condition of a rule that holds for some messages only.
function condition(schema) {
  const parts = Object.entries(schema.properties ?? {}).map(([key, rule]) => `${key} is ${JSON.stringify(rule.const)}`);
  return `when ${parts.join(" and ")}`;
}

function nesting(value) {
  if (value === null || typeof value !== "object") return 0;
  return 1 + Math.max(0, ...Object.values(value).map(nesting));
}

// A value in a member the message does not list: the host skips it, but must still read it as
// JSON within its nesting limit. `depth` is the nesting of the object that holds it.
function skippedProblem(value, path, depth) {
  let text;
  try {
    text = JSON.stringify(value);
  } catch (error) {
    return at(path, `cannot be written as JSON (${error.message})`);
  }
  if (text !== undefined && depth + nesting(JSON.parse(text)) > LIMITS.nesting) {
    return at(path, `nests deeper than the ${LIMITS.nesting} levels a message may have`);
  }
  return null;
}

function stringProblem(schema, value) {
  if (LONE_SURROGATE.test(value)) return "holds a lone surrogate, which is no Unicode text";
  if (schema.maxLength !== undefined || schema.minLength !== undefined) {
    const bytes = utf8Length(value);
    if (schema.maxLength !== undefined && bytes > schema.maxLength) {
      return `must be at most ${schema.maxLength} bytes of UTF-8 (got ${bytes})`;
    }
    if (schema.minLength !== undefined && bytes < schema.minLength) {
      return schema.minLength === 1 ? "must not be empty" : `must be at least ${schema.minLength} bytes of UTF-8`;
    }
  }
  if (schema.pattern !== undefined && !new RegExp(schema.pattern, "u").test(value)) {
    return `must match ${schema.pattern}`;
  }
  return null;
}

// The first rule of `schema` (one of protocol.js's SCHEMAS, read with lengths in UTF-8 bytes) that
// `value` breaks, as { member, problem }, or null. `depth` is the nesting of `value` itself.
function problemIn(schema, value, path, depth) {
  const kind = kindOf(value);
  if (schema.type !== undefined) {
    const types = Array.isArray(schema.type) ? schema.type : [schema.type];
    if (!types.includes(kind) && !(kind === "integer" && types.includes("number"))) {
      const wanted = types.length === 1 && types[0] === "null" ? "absent or null"
        : types.map((type) => TYPE_NAMES[type]).join(" or ");
      return at(path, `must be ${wanted} (got ${KIND_NAMES[kind]})`);
    }
  }
  if (hasOwn(schema, "const") && value !== schema.const) return at(path, `must be ${JSON.stringify(schema.const)}`);
  if (schema.enum && !schema.enum.includes(value)) {
    return at(path, `must be one of ${schema.enum.map((text) => JSON.stringify(text)).join(", ")}`);
  }
  if (kind === "string") {
    const problem = stringProblem(schema, value);
    if (problem) return at(path, problem);
  }
  if ((kind === "integer" || kind === "number") &&
      ((schema.minimum !== undefined && value < schema.minimum) || (schema.maximum !== undefined && value > schema.maximum))) {
    return at(path, `must be from ${schema.minimum} to ${schema.maximum}`);
  }
  if (kind === "array") {
    const count = value.length;
    if ((schema.minItems !== undefined && count < schema.minItems) || (schema.maxItems !== undefined && count > schema.maxItems)) {
      return at(path, `must have ${schema.minItems ?? 0} to ${schema.maxItems ?? "any number of"} entries (got ${count})`);
    }
    for (let i = 0; schema.items && i < count; ++i) {
      const problem = problemIn(schema.items, value[i], `${path}[${i}]`, depth + 1);
      if (problem) return problem;
    }
  }
  if (kind === "object") {
    for (const key of schema.required ?? []) {
      if (!hasOwn(value, key)) return at(memberPath(path, key), "is required");
    }
    for (const [key, member] of Object.entries(value)) {
      const property = schema.properties?.[key];
      let problem = null;
      if (property) problem = problemIn(property, member, memberPath(path, key), depth + 1);
      else if (schema.additionalProperties === false) problem = at(memberPath(path, key), "is no member of this message");
      else if (schema.properties) problem = skippedProblem(member, memberPath(path, key), depth);
      if (problem) return problem;
    }
  }
  for (const branch of schema.allOf ?? []) {
    if (branch.if && problemIn(branch.if, value, path, depth) !== null) continue;
    const problem = problemIn(branch.if ? branch.then : branch, value, path, depth);
    if (problem) return branch.if ? { ...problem, problem: `${problem.problem} ${condition(branch.if)}` } : problem;
  }
  if (schema.oneOf) {
    const problems = schema.oneOf.map((branch) => problemIn(branch, value, path, depth));
    const matching = problems.filter((problem) => problem === null).length;
    if (matching !== 1) return problems.find((problem) => problem !== null) ?? at(path, "matches more than one form");
  }
  return null;
}

// The URL policy of the host, as far as the browser's own WHATWG URL parser can tell it.
function urlProblem(url) {
  let parsed;
  try {
    parsed = new URL(url.replace(WHITE_SPACE_AROUND, ""));
  } catch {
    return "is no absolute URL";
  }
  if (parsed.protocol !== "http:" && parsed.protocol !== "https:") {
    return `must be an http or https URL (its scheme is ${parsed.protocol.slice(0, -1)})`;
  }
  if (parsed.hostname === "") return "has no host";
  if (parsed.username !== "" || parsed.password !== "") return "must carry no user name or password";
  return null;
}

// The whole message must fit one frame; the error names its largest member.
function frameProblem(message) {
  const bytes = utf8Length(JSON.stringify(message));
  if (bytes <= LIMITS.frameBytes) return null;
  const sizes = Object.entries(message).map(([key, value]) => [key, utf8Length(JSON.stringify(value))]);
  const [largest] = sizes.sort((a, b) => b[1] - a[1])[0];
  return at(largest, `makes the message ${bytes} bytes of JSON, over the ${LIMITS.frameBytes} bytes of one frame`);
}

function checked(message, schemaName) {
  const urlRule = typeof message.url === "string" ? urlProblem(message.url) : null;
  const problem = problemIn(SCHEMAS[schemaName], message, "", 1) ?? (urlRule && at("url", urlRule)) ??
    frameProblem(message);
  if (problem) throw new InvalidMessageError(problem.member, problem.problem);
  return message;
}

// ---- Building requests ---------------------------------------------------------------------

function callOptions(given) {
  if (given === undefined) return {};
  if (kindOf(given) !== "object") throw new InvalidMessageError("options", "must be an object");
  for (const key of CLIENT_MEMBERS) {
    if (given[key] !== undefined) throw new InvalidMessageError(key, "is set by the client, not by a call's options");
  }
  return given;
}

// Members left undefined are absent, as JSON.stringify leaves them out.
const defined = (object) => Object.fromEntries(Object.entries(object).filter(([, value]) => value !== undefined));

function simpleRequest(url, given, browser) {
  const { requestId = newId(), ...rest } = callOptions(given);
  return checked(defined({
    protocolVersion: SIMPLE_PROTOCOL_VERSION, requestId, action: SIMPLE_ACTION, source: SIMPLE_SOURCE,
    browser, url, ...rest,
  }), "host-request");
}

function captureRequest(call, url, given, browser) {
  const step = CAPTURE_ACTIONS[call];
  const { requestId = newId(), captureId = step.startsCapture ? newId() : undefined, ...rest } = callOptions(given);
  return checked(defined({
    protocolVersion: CAPTURE_PROTOCOL_VERSION, requestId, captureId, action: step.action, source: CAPTURE_SOURCE,
    browser, url, ...rest,
  }), "capture-request");
}

// ---- Reading replies -----------------------------------------------------------------------

// The host tells the two families apart this way, and answers each in its own form.
const isCapture = (message) => message.protocolVersion === CAPTURE_PROTOCOL_VERSION ||
  (typeof message.captureId === "string" && message.captureId !== "");
const idOf = (message, key) => (typeof message[key] === "string" ? message[key] : "");

function outcome(request, status, code, { preflight = null, error } = {}) {
  const capture = isCapture(request);
  const result = {
    status, code, retrySafe: RETRY_SAFE[capture ? "capture" : "simple"][status] === true, requestId: idOf(request, "requestId"),
  };
  if (capture) Object.assign(result, { captureId: idOf(request, "captureId"), preflight });
  if (error !== undefined) result.error = error;
  return result;
}

// Results without a reply: the request surely never left the browser, or it may have been delivered.
const notDelivered = (request, error) =>
  outcome(request, NOT_DELIVERED[isCapture(request) ? "capture" : "simple"], NOT_DELIVERED.code, { error });
const maybeDelivered = (request, error) =>
  outcome(request, MAYBE_DELIVERED[isCapture(request) ? "capture" : "simple"], MAYBE_DELIVERED.code, { error });

const reasonOf = (error) => String(error && error.message ? error.message : error);

// A reply of the host. `paired` is false when it is no reply to `request` at all: on a port, the
// replies no longer pair with the requests then. An id echoed empty is the host's for a request
// whose ids it could not echo.
function fromHostReply(request, reply) {
  const capture = isCapture(request);
  const problem = problemIn(SCHEMAS[capture ? "capture-response" : "host-response"], reply, "", 1);
  const echoes = (key) => reply[key] === "" || reply[key] === request[key];
  if (problem !== null || !echoes("requestId") || (capture && !echoes("captureId"))) {
    const why = problem ? `${problem.member} ${problem.problem}` : "it answers another request";
    return { result: maybeDelivered(request, `the host's reply is no reply to this request: ${why}`), paired: false };
  }
  return { result: outcome(request, reply.status, reply.code, { preflight: reply.preflight ?? null }), paired: true };
}

// The application's reply text the Safari handler relays, judged as the host judges it: anything
// but a reply to this very request counts as no answer.
function fromApplicationReply(request, text) {
  const capture = isCapture(request);
  let reply = null;
  try {
    reply = JSON.parse(text);
  } catch {
    // judged below
  }
  const problem = reply === null ? at("payload", "is no JSON")
    : problemIn(SCHEMAS[capture ? "ipc-capture-response" : "ipc-response"], reply, "", 1);
  if (problem !== null || reply.requestId !== request.requestId || (capture && reply.captureId !== request.captureId)) {
    const why = problem ? `${problem.member} ${problem.problem}` : "it answers another request";
    return maybeDelivered(request, `the application's reply is no reply to this request: ${why}`);
  }
  const status = capture ? reply.status : STATUS_FOR[reply.code];
  return outcome(request, status, reply.code, { preflight: reply.preflight ?? null });
}

// The Safari handler answers {payload: the application's reply text} or a status document of its
// own, whose status says whether the request reached the application. A simple request's result
// takes the status the host would give the same code.
function fromSafariReply(request, reply) {
  if (reply !== null && typeof reply === "object" && typeof reply.payload === "string") {
    return fromApplicationReply(request, reply.payload);
  }
  const problem = problemIn(SCHEMAS["safari-reply"], reply, "", 1);
  if (problem !== null) {
    return maybeDelivered(request, `the Safari handler's reply is neither a reply nor a status: ${problem.member} ${problem.problem}`);
  }
  return outcome(request, isCapture(request) ? reply.status : STATUS_FOR[reply.code], reply.code);
}

// What the Safari handler expects: the request as text, with its ids beside it for its own replies.
function safariMessage(request) {
  const message = { payload: JSON.stringify(request) };
  if (typeof request.requestId === "string") message.requestId = request.requestId;
  if (typeof request.captureId === "string") message.captureId = request.captureId;
  return message;
}

// ---- Transports ----------------------------------------------------------------------------

// One runtime.connectNative port, opened when a request comes and none is open. The host answers
// in order and reads the next message only once it has answered the one before, so replies pair
// with requests by position, and the oldest waiting request's time runs from the reply before it.
function portTransport(runtime, application, limitMs) {
  let port = null;
  let waiting = []; // { request, settle, timer }, oldest first

  // Closes the port. The host may have begun any request still waiting, so each gets a result
  // that says it may have been delivered. The next request opens a new port.
  function end(error) {
    const ended = port;
    const pending = waiting;
    port = null;
    waiting = [];
    try {
      ended?.disconnect();
    } catch {
      // closed already
    }
    for (const entry of pending) {
      clearTimeout(entry.timer);
      entry.settle(maybeDelivered(entry.request, error));
    }
  }

  function startClock() {
    const [oldest] = waiting;
    if (oldest && oldest.timer === undefined) {
      oldest.timer = setTimeout(() => end(`no reply within ${limitMs} ms`), limitMs);
    }
  }

  function open() {
    const opened = runtime.connectNative(application);
    opened.onMessage.addListener((reply) => {
      if (opened !== port) return;
      const entry = waiting.shift();
      if (!entry) {
        end("the host sent a reply that no request waits for");
        return;
      }
      clearTimeout(entry.timer);
      const { result, paired } = fromHostReply(entry.request, reply);
      entry.settle(result);
      if (paired) startClock();
      else end("the host's replies no longer pair with the requests");
    });
    // Chrome gives the reason in runtime.lastError, Firefox in the port's error.
    opened.onDisconnect.addListener((closed) => {
      if (opened !== port) return;
      const error = closed?.error ?? opened.error ?? runtime.lastError;
      end(error ? reasonOf(error) : "the host closed the port");
    });
    return opened;
  }

  return {
    send(request) {
      return new Promise((settle) => {
        try {
          port ??= open();
          port.postMessage(request);
        } catch (error) {
          // Nothing went out; whatever the port had sent before may have been delivered.
          end(reasonOf(error));
          settle(notDelivered(request, reasonOf(error)));
          return;
        }
        waiting.push({ request, settle, timer: undefined });
        startClock();
      });
    },
    close() {
      end("the client closed the port");
    },
  };
}

// runtime.sendNativeMessage: one exchange per request, `wrap` making the message of a request and
// `read` the result of a reply.
function messageTransport(runtime, application, limitMs, wrap, read) {
  return {
    send(request) {
      return new Promise((settle) => {
        const timer = setTimeout(() => settle(maybeDelivered(request, `no reply within ${limitMs} ms`)), limitMs);
        const done = (result) => {
          clearTimeout(timer);
          settle(result);
        };
        let answer;
        try {
          answer = runtime.sendNativeMessage(application, wrap(request));
        } catch (error) {
          done(notDelivered(request, reasonOf(error)));
          return;
        }
        Promise.resolve(answer).then((reply) => done(read(request, reply)),
          (error) => done(maybeDelivered(request, reasonOf(error))));
      });
    },
    close() {},
  };
}

// ---- The client ----------------------------------------------------------------------------

export function createClient(options) {
  if (kindOf(options) !== "object") throw new TypeError("options: must be an object");
  const { runtime, transport, application = NATIVE_HOST_NAME, browser, timeoutMs } = options;
  if (!TRANSPORTS.includes(transport)) throw new TypeError(`transport: must be one of ${TRANSPORTS.map((name) => JSON.stringify(name)).join(", ")}`);
  const needed = transport === "port" ? "connectNative" : "sendNativeMessage";
  if (typeof runtime?.[needed] !== "function") {
    throw new TypeError(`runtime: has no ${needed} (the "nativeMessaging" permission grants it)`);
  }
  if (typeof application !== "string" || application === "") throw new TypeError("application: must be a non-empty string");
  if (browser !== undefined && !BROWSERS.includes(browser)) {
    throw new InvalidMessageError("browser", `must be one of ${BROWSERS.map((name) => JSON.stringify(name)).join(", ")}`);
  }
  if (timeoutMs !== undefined && !(Number.isFinite(timeoutMs) && timeoutMs > 0)) {
    throw new TypeError("timeoutMs: must be a positive number of milliseconds");
  }
  const limitMs = timeoutMs ?? (transport === "safari" ? SAFARI.exchangeBudgetMs : HOST_WORST_CASE_MS) + MARGIN_MS;
  let channel;
  if (transport === "port") channel = portTransport(runtime, application, limitMs);
  else if (transport === "message") {
    channel = messageTransport(runtime, application, limitMs, (request) => request,
      (request, reply) => fromHostReply(request, reply).result);
  } else channel = messageTransport(runtime, application, limitMs, safariMessage, fromSafariReply);

  const client = {
    download: (url, given) => channel.send(simpleRequest(url, given, browser)),
    send(message) {
      if (kindOf(message) !== "object") throw new InvalidMessageError("message", "must be an object");
      return channel.send(message);
    },
    close: () => channel.close(),
  };
  for (const [call, step] of Object.entries(CAPTURE_ACTIONS)) {
    client[call] = step.url ? (url, given) => channel.send(captureRequest(call, url, given, browser))
      : (given) => channel.send(captureRequest(call, undefined, given, browser));
  }
  return Object.freeze(client);
}
