// Stand-ins for what each browser family gives a background script for native messaging, with the
// test playing the host (or Safari's handler): chrome.runtime and browser.runtime of the Chrome
// family and Firefox (connectNative ports, sendNativeMessage), and Safari's browser.runtime.
import { STATUS_FOR } from "../index.js";

function event() {
  const listeners = [];
  return { addListener: (listener) => listeners.push(listener), fire: (...args) => listeners.forEach((listener) => listener(...args)) };
}

// A runtime whose connectNative ports the test answers. `family` decides where a port's
// disconnection reason goes: Chrome sets runtime.lastError while its listeners run, Firefox sets
// the port's error.
export function portRuntime(family) {
  const runtime = {
    ports: [],
    lastError: undefined,
    connectNative(application) {
      const onMessage = event();
      const onDisconnect = event();
      const port = {
        application, posted: [], disconnected: false, error: null, onMessage, onDisconnect,
        postMessage(message) {
          if (port.disconnected) throw new Error("Attempting to use a disconnected port object");
          port.posted.push(structuredClone(message));
        },
        disconnect() {
          port.disconnected = true;
        },
        // The host writes these replies; the browser hands them over one after the other.
        reply(...replies) {
          for (const reply of replies) onMessage.fire(structuredClone(reply));
        },
        // The host exits: the browser disconnects the port with `reason`.
        exit(reason) {
          port.disconnected = true;
          if (family === "firefox") port.error = new Error(reason);
          else runtime.lastError = { message: reason };
          onDisconnect.fire(port);
          runtime.lastError = undefined;
        },
      };
      runtime.ports.push(port);
      return port;
    },
  };
  return runtime;
}

// A runtime whose sendNativeMessage answers with `answer(message)`: a value or a promise, or it
// throws.
export function messageRuntime(answer) {
  const runtime = {
    sent: [],
    sendNativeMessage(application, message) {
      runtime.sent.push({ application, message: structuredClone(message) });
      return answer(message);
    },
  };
  return runtime;
}

// The host's reply to `request` with `code`, in the form of its family.
export function hostReply(request, code, captureStatus) {
  if (request.protocolVersion === 4) {
    return { protocolVersion: 4, requestId: request.requestId, captureId: request.captureId, status: captureStatus, code };
  }
  return { protocolVersion: 1, requestId: request.requestId, status: STATUS_FOR[code], code };
}

export const flush = () => new Promise((resolve) => setImmediate(resolve));

// The state of a promise without waiting for it: "pending" or its value.
export async function peek(promise) {
  const pending = Symbol("pending");
  const value = await Promise.race([promise, flush().then(() => pending)]);
  return value === pending ? "pending" : value;
}
