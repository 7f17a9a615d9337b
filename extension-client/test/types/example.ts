// Every call of the client as an author writes it, for each browser family, through the package's
// own name: the declarations must accept all of it, and refuse the mistakes marked below.
import {
  createClient, newId, InvalidMessageError, CAPTURE_ACTIONS, LIMITS, RETRY_SAFE, STATUS_FOR,
  type CaptureRequest, type CaptureResult, type Client, type HostResponse, type NativeRuntime, type SafariReply,
  type SimpleResult,
} from "ondrake-extension-client";

declare const chrome: { runtime: NativeRuntime };
declare const browser: { runtime: NativeRuntime };

const url = "https://files.example.test/f.zip";

async function everyCall(client: Client): Promise<string[]> {
  const simple: SimpleResult = await client.download("https://example.test/", { requestId: newId() });
  const prepared: CaptureResult = await client.prepare(url, {
    browserDownloadId: 7,
    observed: { finalUrl: url, mime: "application/zip", totalBytes: 1024, etag: null, seenBy: "example" },
    cookies: [{ name: "sid", value: "v", path: "/", secure: true }],
    downloadName: "f.zip",
    initiatorOrigin: "https://example.test",
    revalidateResponse: false,
  });
  const { captureId } = prepared;
  const steps: CaptureResult[] = [
    await client.commit(url, { captureId, cookies: null }),
    await client.abort({ captureId, observed: { mime: "text/plain" } }),
    await client.status({ captureId, requestId: "status-1" }),
    await client.revokeCredentials({ captureId, browserDownloadId: 7 }),
    await client.preflight(url, { observed: { totalBytes: 1 } }),
  ];
  const raw = await client.send({ protocolVersion: 1, requestId: "r", action: "download", source: "context_menu", url });
  client.close();

  const notes: string[] = [simple.status, simple.code, raw.code];
  for (const step of steps) {
    if (step.status === "indeterminate") notes.push(`ask again with status for ${step.captureId}`);
    else if (step.retrySafe) notes.push(step.error ?? step.code);
    if (step.preflight !== null) notes.push(`${step.preflight.ok} ${step.preflight.status} ${step.preflight.contentType ?? ""}`);
  }
  return notes;
}

export async function run(): Promise<void> {
  const clients = [
    createClient({ runtime: chrome.runtime, transport: "port", browser: "chrome" }),
    createClient({ runtime: browser.runtime, transport: "message", browser: "firefox", timeoutMs: 90_000 }),
    createClient({ runtime: browser.runtime, transport: "safari", browser: "safari", application: "com.ondrake.download" }),
  ];
  for (const client of clients) {
    try {
      await everyCall(client);
    } catch (error) {
      if (error instanceof InvalidMessageError) console.log(error.member);
    }
  }
  const limit: number = LIMITS.frameBytes;
  const safe: boolean = RETRY_SAFE.capture.unknown && RETRY_SAFE.simple.unavailable;
  const action: CaptureRequest["action"] = CAPTURE_ACTIONS.revokeCredentials.action;
  const reply: HostResponse = { protocolVersion: 1, requestId: "", status: STATUS_FOR.APP_UNAVAILABLE, code: "APP_UNAVAILABLE" };
  const handler: SafariReply = { status: "unknown", code: "APP_UNAVAILABLE", requestId: "r" };
  console.log(limit, safe, action, reply, handler);
}

export function mistakes(client: Client): void {
  // @ts-expect-error a commit continues a capture: its captureId is required
  void client.commit(url, {});
  // @ts-expect-error a revocation carries no cookies
  void client.revokeCredentials({ captureId: "c", cookies: [] });
  // @ts-expect-error a preflight carries no cookies
  void client.preflight(url, { cookies: null });
  // @ts-expect-error abort takes no URL
  void client.abort(url, { captureId: "c" });
  // @ts-expect-error the client sets the action
  void client.download(url, { action: "download" });
  // @ts-expect-error a cookie has all four members
  void client.prepare(url, { cookies: [{ name: "a", value: "b", path: "/" }] });
  // @ts-expect-error browsers are named in lower case
  createClient({ runtime: chrome.runtime, transport: "port", browser: "Chrome" });
  // @ts-expect-error a simple reply has no capture states
  const status: SimpleResult["status"] = "prepared";
  // @ts-expect-error no such code
  const code: CaptureResult["code"] = "OK";
  console.log(status, code);
}
