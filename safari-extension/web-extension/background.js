// The reference web extension of the Safari bundle: a context-menu entry on links that hands the
// link to the desktop application. Safari passes each native message to the extension's handler
// (OndrakeSafariExtension), which relays the request to the application; the extension client
// (extension-client/, the repository's module, copied here by `make docs`) builds and checks the
// request, wraps it as the handler expects and reads the handler's answer into one result.
import { createClient } from "./extension-client/index.js";

const MENU_ITEM_ID = "ondrake-download-link";

const bridge = createClient({ runtime: browser.runtime, transport: "safari", browser: "safari" });

async function sendLink(url) {
  let result;
  try {
    result = await bridge.download(url);
  } catch (error) {
    // Refused before sending: the link breaks a rule of the protocol (an ftp link, say).
    console.warn(`Ondrake Download: ${url} not sent: ${error.message}`);
    return;
  }
  if (result.code !== "ACCEPTED") {
    const retry = result.retrySafe ? "; safe to try again" : "";
    console.warn(`Ondrake Download: request ${result.requestId}: ${result.status} ${result.code}${retry}`);
  }
}

browser.runtime.onInstalled.addListener(() => {
  browser.contextMenus.create({ id: MENU_ITEM_ID, title: "Download with Ondrake", contexts: ["link"] });
});

browser.contextMenus.onClicked.addListener((info) => {
  if (info.menuItemId === MENU_ITEM_ID && typeof info.linkUrl === "string") sendLink(info.linkUrl);
});
