#!/usr/bin/env node
// Runs the reference web extension's background script (an ES module, with the extension client it
// imports) against a stand-in for Safari's `browser` object, clicks its context-menu entry once for
// each link given on the command line, and prints every native message the script sends, one JSON
// line each (web_extension_test.cpp hands their payloads to the host's checks). The stand-in
// answers each as the application would, accepting it.
//
// usage: web_extension_messages.js BACKGROUND_SCRIPT LINK...
"use strict";

const fs = require("fs");
const os = require("os");
const path = require("path");
const { pathToFileURL } = require("url");

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
        const { requestId } = JSON.parse(message.payload);
        return { payload: JSON.stringify({ protocolVersion: 1, requestId, code: "ACCEPTED" }) };
      },
    },
    contextMenus: { create: (item) => menus.push(item), onClicked: event() },
  };
  globalThis.browser = browser;
  // Node reads a .js file as an ES module only below a package.json that says so; the extension's
  // directory has none, so the script runs from a copy of the directory that has one.
  const copy = fs.mkdtempSync(path.join(os.tmpdir(), "web-extension-"));
  try {
    fs.cpSync(path.dirname(script), copy, { recursive: true });
    fs.writeFileSync(path.join(copy, "package.json"), '{"type":"module"}\n');
    await import(pathToFileURL(path.join(copy, path.basename(script))).href);
  } finally {
    fs.rmSync(copy, { recursive: true, force: true });
  }

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
