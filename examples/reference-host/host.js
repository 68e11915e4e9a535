#!/usr/bin/env node
// The reference host: the whole road in one window. It starts the helper through the
// Node client and a small GTK card window (card.py) beside it; on a chord it answers
// "captureTarget" at once with the card's real screen frame, so the overlay flies into
// the card, then shows the preview and the capture's image and text there.
//
// A Node script because the client is Node's, as most hosts are; the window is Python
// GTK because a terminal can show no image and cannot know where it is on screen.
//
//   node examples/reference-host/host.js [--once]      (scripts/reference-host.sh builds first)
// ZOBA_CAPTURE names the helper (default: the build tree's). --once ends after one capture
// and prints a summary line, for tests.
"use strict";

const { spawn } = require("node:child_process");
const { join } = require("node:path");
const { createInterface } = require("node:readline");

const { start } = require("../../clients/node/dist/src");

const root = join(__dirname, "../..");
const helperPath = process.env.ZOBA_CAPTURE ?? join(root, "build/default/ZobaCapture/zoba-capture");
const once = process.argv.includes("--once");

function openCard() {
  const card = spawn("/usr/bin/python3", [join(__dirname, "card.py")], { stdio: ["pipe", "pipe", "inherit"] });
  const show = (message) => card.stdin.writable && card.stdin.write(`${JSON.stringify(message)}\n`);
  let frame;
  const firstFrame = new Promise((resolve) => {
    createInterface({ input: card.stdout }).on("line", (line) => {
      const message = JSON.parse(line);
      if (message.type !== "frame") return;
      frame = message.frame;
      resolve();
    });
  });
  return { card, show, frame: () => frame, firstFrame };
}

async function main() {
  const { card, show, frame, firstFrame } = openCard();
  await firstFrame;
  // The card's process is the host: a chord while it is in front is the host's own.
  const helper = await start({ binaryPath: helperPath, hostPid: card.pid });
  const say = (text) => (console.log(text), show({ type: "status", text }));
  card.on("exit", () => helper.shutdown());
  helper.on("exit", (ended) => {
    say(`The helper ended (${ended.reason}) ${ended.stderrLine}`);
    card.stdin.end();
  });
  helper.on("garbage", (line) => console.warn(`ignored a ${line.reason} line of ${line.length} characters`));
  helper.on("hotkey", (hotkey) => {
    if (hotkey.target === "host") say("That was this window: bring another window to the front, then hold both Shift keys.");
    if (hotkey.target === "setup") say(`A permission is missing: ${JSON.stringify(hotkey.permissions)}`);
  });
  helper.on("capture", async (capture) => {
    await capture.target(frame(), 12);
    say("Capturing…");
    const snapshot = await capture.snapshot;
    if (snapshot) show({ type: "preview", ...snapshot });
    try {
      const result = await capture.result;
      show({
        type: "capture",
        pngBase64: result.image.base64,
        text: result.text,
        appName: result.app.name,
        windowTitle: result.windowTitle,
        width: result.image.width,
        height: result.image.height,
      });
      say(`Captured "${result.windowTitle}" of ${result.app.name}; landed: ${await capture.landed}`);
      if (once) {
        console.log(JSON.stringify({ captured: result.windowTitle, frame: frame(), textLength: result.text.length }));
        await helper.shutdown();
      }
    } catch (error) {
      say(`The capture failed: ${error.message}`);
    }
  });
  const { session, permissions } = helper.ready;
  say(`Ready (${session ? session.type : "no session"}; ${JSON.stringify(permissions)}). Bring a window to the front and hold both Shift keys.`);
}

main().catch((error) => {
  console.error(error.message);
  process.exit(1);
});
