// The probe: takes its orders from the test driver, a small HTTP server on 127.0.0.1, and sends
// the messages it is given through the browser's own native-messaging machinery, so that every
// message travels the way a real extension's does. The driver prepends DRIVER (its address) and
// PROBE (this probe's name) when it assembles the extension.

const api = globalThis.browser ?? globalThis.chrome;
const HOST = "com.ondrake.download";

// Chromium puts a failed call's reason into runtime.lastError, Firefox into the port's error.
const reason = (error) => String(error && error.message ? error.message : error);

// One message through runtime.sendNativeMessage: the browser starts a host for it and stops it
// after the one reply.
async function sendOne(message) {
  try {
    return { reply: await api.runtime.sendNativeMessage(HOST, message) };
  } catch (error) {
    return { error: reason(error) };
  }
}

// Several messages on one runtime.connectNative port: one host process answers them all, in
// order. Resolves with the replies once there is one per message, or with what arrived and the
// reason when the port closes first.
function exchangeOnPort(messages) {
  return new Promise((resolve) => {
    const replies = [];
    let port;
    try {
      port = api.runtime.connectNative(HOST);
    } catch (error) {
      resolve({ replies, error: reason(error) });
      return;
    }
    port.onMessage.addListener((reply) => {
      replies.push(reply);
      if (replies.length === messages.length) {
        port.disconnect();
        resolve({ replies });
      }
    });
    port.onDisconnect.addListener((closed) => {
      const error = (closed && closed.error) || (api.runtime.lastError ?? null);
      resolve({ replies, error: error ? reason(error) : "the host closed the port" });
    });
    for (const message of messages) port.postMessage(message);
  });
}

const ORDERS = {
  identify: async () => ({ id: api.runtime.id }),
  send: (order) => sendOne(order.message),
  exchange: (order) => exchangeOnPort(order.messages),
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
