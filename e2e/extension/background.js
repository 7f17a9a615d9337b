// The test driver calls these functions inside this service worker (Playwright's
// Worker.evaluate), so that every message travels the way a real extension's does: through
// Chromium's native-messaging machinery to the host that the profile's manifest names.

const HOST = "com.ondrake.download";

// One message through runtime.sendNativeMessage: Chromium starts a host for it and stops it
// after the one reply.
globalThis.sendOne = async (message) => {
  try {
    return { reply: await chrome.runtime.sendNativeMessage(HOST, message) };
  } catch (error) {
    return { error: String(error && error.message ? error.message : error) };
  }
};

// Several messages on one runtime.connectNative port: one host process answers them all, in
// order. Resolves with the replies once there is one per message, or with what arrived and the
// reason when the port closes first.
globalThis.exchangeOnPort = (messages) =>
  new Promise((resolve) => {
    const port = chrome.runtime.connectNative(HOST);
    const replies = [];
    port.onMessage.addListener((reply) => {
      replies.push(reply);
      if (replies.length === messages.length) {
        port.disconnect();
        resolve({ replies });
      }
    });
    port.onDisconnect.addListener(() => {
      const error = chrome.runtime.lastError;
      resolve({ replies, error: error ? error.message : "the host closed the port" });
    });
    for (const message of messages) port.postMessage(message);
  });
