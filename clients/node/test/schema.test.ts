// The TypeScript types against the schema: typed fixtures of every kind must be
// valid, and what the types forbid must be invalid there too.

import assert from "node:assert/strict";
import { describe, it } from "node:test";

import type { CaptureData, Message, Request, Session } from "../src";
import { messageErrors, requestErrors } from "./support";

const captureId = "757C06E5-6F4D-48BC-BFC1-4C750CAD427D";
const permissions = { screenRecording: true, accessibility: false };
const session: Session = { type: "wayland", desktop: "gnome", unavailable: ["screenshot", "hotkey"] };
const capture: CaptureData = {
  app: { name: "Zoba Demo", bundleId: "zoba-demo", iconBase64: "iVBORw0KGgo=" },
  windowTitle: "ZobaCapture demo",
  text: "Window: \"ZobaCapture demo\"",
  textTruncated: false,
  image: { mimeType: "image/png", width: 640, height: 420, base64: "iVBORw0KGgo=" },
  url: "https://example.org/",
};

const messages: Message[] = [
  { type: "ready", version: 1, hotkey: "shift", permissions, session },
  { type: "ready", version: 1, hotkey: "command", permissions },
  { type: "response", id: "r1", ok: true, result: { permissions, hotkey: "option", session } },
  { type: "response", id: "r2", ok: true, result: {} },
  { type: "response", id: "r3", ok: false, error: "Unknown hotkey" },
  { type: "hotkey", target: "host" },
  { type: "hotkey", target: "setup", permissions },
  { type: "hotkey", target: "capture", captureId, animated: false },
  { type: "captureSnapshot", captureId, snapshot: { dataUrl: "data:image/jpeg;base64,/9j/", appName: "A", windowTitle: "" } },
  { type: "capture", captureId, capture },
  { type: "captureFailed", captureId, error: "No capturable window" },
  { type: "captureLanded", captureId },
  { type: "debugCapture", permissions, session, capture: { ...capture, textLength: 27 } },
  { type: "debugCapture", permissions, error: "No capturable window" },
  { type: "debugLanded" },
];

const requests: Request[] = [
  { type: "status", id: "1" },
  { type: "status" },
  { type: "requestPermission", id: "2", permission: "screenRecording" },
  { type: "setHotkey", id: "3", hotkey: "option" },
  { type: "captureTarget", id: "4", captureId, frame: { x: 1700, y: 60, width: 160, height: 96 }, radius: 12 },
  { type: "captureTarget", captureId },
  { type: "shutdown" },
];

// Each breaks one rule of the protocol that the types also hold.
const invalidMessages: [string, unknown][] = [
  ["unknown type", { type: "hello" }],
  ["ready without permissions", { type: "ready", version: 1, hotkey: "shift" }],
  ["hotkey preset unknown", { type: "ready", version: 1, hotkey: "ctrl", permissions }],
  ["ok response with an error", { type: "response", id: "1", ok: true, error: "x" }],
  ["failed response without text", { type: "response", id: "1", ok: false }],
  ["lower-case capture id", { type: "captureLanded", captureId: captureId.toLowerCase() }],
  ["capture hotkey without animated", { type: "hotkey", target: "capture", captureId }],
  ["snapshot that is no data URL", { type: "captureSnapshot", captureId, snapshot: { dataUrl: "x", appName: "", windowTitle: "" } }],
  ["capture image not PNG", { type: "capture", captureId, capture: { ...capture, image: { ...capture.image, mimeType: "image/jpeg" } } }],
  ["capture with the debug text length", { type: "capture", captureId, capture: { ...capture, textLength: 3 } }],
  ["session type unknown", { type: "ready", version: 1, hotkey: "shift", permissions, session: { ...session, type: "mir" } }],
];
const invalidRequests: [string, unknown][] = [
  ["permission unknown", { type: "requestPermission", permission: "camera" }],
  ["target without capture id", { type: "captureTarget", frame: { x: 0, y: 0, width: 1, height: 1 } }],
  ["frame without height", { type: "captureTarget", captureId, frame: { x: 0, y: 0, width: 1 } }],
];

describe("schema", () => {
  it("accepts a typed fixture of every message", () => {
    for (const message of messages) assert.deepEqual(messageErrors(message), [], JSON.stringify(message));
  });
  it("accepts a typed fixture of every request", () => {
    for (const request of requests) assert.deepEqual(requestErrors(request), [], JSON.stringify(request));
  });
  for (const [what, message] of invalidMessages) {
    it(`refuses a message: ${what}`, () => assert.notDeepEqual(messageErrors(message), []));
  }
  for (const [what, request] of invalidRequests) {
    it(`refuses a request: ${what}`, () => assert.notDeepEqual(requestErrors(request), []));
  }
});
