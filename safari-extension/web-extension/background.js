// The reference web extension of the Safari bundle: a context-menu entry on links that hands the
// link to the desktop application. Safari passes each native message to the extension's handler
// (OndrakeSafariExtension), which relays the text under "payload" to the application unchanged and
// answers with {"payload": the application's reply text}, or with its own status document
// {"status", "code", "requestId"} when the request did not get through.
"use strict";

const MENU_ITEM_ID = "ondrake-download-link";
// Safari routes native messages to the extension's own handler whatever this names.
const NATIVE_APPLICATION = "com.ondrake.download";

let requestsSent = 0;

// A request id: 1 to 128 ASCII letters, digits, "-" and "_".
function nextRequestId() {
  requestsSent += 1;
  return `safari-${Date.now().toString(36)}-${requestsSent}`;
}

// The handler's message for one link: the download request as JSON text under "payload", and its
// id beside it, so that the handler's own failure replies can name the request.
function downloadMessage(url, requestId) {
  const request = {
    protocolVersion: 1,
    requestId,
    action: "download",
    source: "context_menu",
    browser: "safari",
    url,
  };
  return { payload: JSON.stringify(request), requestId };
}

// The result code of a reply: the application's, or the handler's when it could not deliver.
function codeOf(reply) {
  if (reply && typeof reply.payload === "string") {
    try {
      return JSON.parse(reply.payload).code;
    } catch (error) {
      return "INTERNAL_ERROR";
    }
  }
  return reply && typeof reply.code === "string" ? reply.code : "INTERNAL_ERROR";
}

async function sendLink(url) {
  const message = downloadMessage(url, nextRequestId());
  try {
    const reply = await browser.runtime.sendNativeMessage(NATIVE_APPLICATION, message);
    const code = codeOf(reply);
    if (code !== "ACCEPTED") console.warn(`Ondrake Download: request ${message.requestId}: ${code}`);
  } catch (error) {
    console.error(`Ondrake Download: request ${message.requestId} not sent: ${error}`);
  }
}

browser.runtime.onInstalled.addListener(() => {
  browser.contextMenus.create({ id: MENU_ITEM_ID, title: "Download with Ondrake", contexts: ["link"] });
});

browser.contextMenus.onClicked.addListener((info) => {
  if (info.menuItemId === MENU_ITEM_ID && typeof info.linkUrl === "string") sendLink(info.linkUrl);
});
