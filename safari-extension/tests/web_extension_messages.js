#!/usr/bin/env node
// Runs the reference web extension's background script against a stand-in for Safari's `browser`
// object, clicks its context-menu entry once for each link given on the command line, and prints
// every native message the script sends, one JSON line each (web_extension_test.cpp hands their
// payloads to the host's checks).
//
// usage: web_extension_messages.js BACKGROUND_SCRIPT LINK...
"use strict";

const fs = require("fs");
const vm = require("vm");

function event() {
  const listeners = [];
  return {
    addListener: (listener) => listeners.push(listener),
    fire: (...args) => listeners.forEach((listener) => listener(...args)),
  };
}

async function main() {
  const [script, ...links] = process.argv.slice(2);
  const menus = [];
  const sent = [];
  const browser = {
    runtime: {
      onInstalled: event(),
      sendNativeMessage: async (application, message) => {
        sent.push(message);
        return { payload: '{"protocolVersion":1,"requestId":"r","code":"ACCEPTED"}' };
      },
    },
    contextMenus: { create: (item) => menus.push(item), onClicked: event() },
  };
  vm.runInNewContext(fs.readFileSync(script, "utf8"), { browser, console, Date }, { filename: script });

  browser.runtime.onInstalled.fire({ reason: "install" });
  const linkItems = menus.filter((item) => (item.contexts || []).includes("link"));
  if (linkItems.length !== 1) throw new Error(`expected one context-menu entry for links, got ${JSON.stringify(menus)}`);
  for (const link of links) {
    const before = sent.length;
    browser.contextMenus.onClicked.fire({ menuItemId: linkItems[0].id, linkUrl: link });
    await new Promise((resolve) => setImmediate(resolve));
    if (sent.length !== before + 1) throw new Error(`a click on ${link} sent ${sent.length - before} messages`);
  }
  for (const message of sent) console.log(JSON.stringify(message));
}

main().catch((error) => {
  console.error(`web_extension_messages: ${error.message}`);
  process.exit(1);
});
