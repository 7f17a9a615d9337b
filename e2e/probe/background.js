// The probe: takes its orders from the test driver, a small HTTP server on 127.0.0.1, and makes the
// calls it is given with the extension client (extension-client/, which the driver copies beside
// this script), so that every message travels the way a real extension's does: built and checked
// by the client, through the browser's own native-messaging machinery. The driver prepends DRIVER
// (its address) and PROBE (this probe's name) when it assembles the extension.
import { InvalidMessageError, createClient } from "./extension-client/index.js";

const api = globalThis.browser ?? globalThis.chrome;

// Makes every call of the order at once on one client and waits for all their results: on a port
// they are in flight together and the client pairs the replies. A call the client refuses before
// sending gives the member it names instead.
async function calls(order) {
  const client = createClient({ runtime: api.runtime, transport: order.transport, browser: order.browser });
  const results = order.calls.map(({ call, args }) => {
    try {
      return client[call](...args);
    } catch (error) {
      return error instanceof InvalidMessageError ? { refused: error.member } : { failed: String(error) };
    }
  });
  try {
    return await Promise.all(results);
  } finally {
    client.close();
  }
}

const ORDERS = {
  identify: async () => ({ id: api.runtime.id }),
  calls,
};

// Asks for the next order until the driver says the run is over (410). The driver holds each
// request open for a moment when it has nothing to do. Each round also calls an extension API,
// which keeps Chromium from stopping an idle service worker between orders.
async function serve() {
  for (;;) {
    try {
      await api.runtime.getPlatformInfo();
      const response = await fetch(`${DRIVER}/next?probe=${PROBE}`, { cache: "no-store" });
      if (response.status === 410) return;
      if (response.status !== 200) continue;
      const order = await response.json();
      const result = await ORDERS[order.kind](order);
      await fetch(`${DRIVER}/result?probe=${PROBE}&order=${order.id}`, { method: "POST", body: JSON.stringify(result) });
    } catch (error) {
      await new Promise((resolve) => setTimeout(resolve, 200));
    }
  }
}

serve();
