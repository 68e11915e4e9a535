// A stand-in helper for the client's tests: plays the scenario named by
// $FAKE_SCENARIO over the real protocol's lines, so that what the real helper
// rarely or never does (exit 71, a 4 MB line, garbage) can be tested.

import { createInterface } from "node:readline";

const captureId = "11111111-2222-3333-4444-555555555555";
const ready = { type: "ready", version: 1, hotkey: "shift", permissions: { screenRecording: true, accessibility: true } };

function send(message: unknown): void {
  process.stdout.write(`${JSON.stringify(message)}\n`);
}

function capturePayload(base64Length: number): unknown {
  return {
    app: { name: "Fake", bundleId: "fake" },
    windowTitle: "Fake window",
    text: "Window: \"Fake window\", App: Fake.",
    textTruncated: false,
    image: { mimeType: "image/png", width: 1, height: 1, base64: "A".repeat(base64Length) },
  };
}

let dying = false;
const scenario = process.env["FAKE_SCENARIO"] ?? "echo";
const exitMatch = /^exit(\d+)$/.exec(scenario);
if (exitMatch) {
  process.stderr.write("zoba-capture: something first\nzoba-capture: the last words\n");
  process.exit(Number(exitMatch[1]));
}
if (scenario === "silent") {
  setInterval(() => undefined, 1000);
} else {
  if (scenario === "garbageFirst") process.stdout.write("not json\n[1,2]\n");
  send(ready);
  const lines = createInterface({ input: process.stdin });
  lines.on("line", (line) => {
    if (dying) return; // what comes now stays unanswered
    const request = JSON.parse(line) as { type: string; id?: string; captureId?: string };
    switch (request.type) {
      case "status":
        send({ type: "response", id: request.id, ok: true, result: ready });
        break;
      case "chord":
        // Not a real request: makes the fake play one capture, the way the scenario says.
        play();
        break;
      case "captureTarget":
        send({ type: "response", id: request.id, ok: true, result: {} });
        break;
      case "shutdown":
        process.exit(0);
        break;
      default:
        send({ type: "response", id: request.id, ok: false, error: "Unknown request" });
    }
  });
  lines.on("close", () => process.exit(0));
}

function play(): void {
  const snapshot = { dataUrl: "data:image/jpeg;base64,AAAA", appName: "Fake", windowTitle: "Fake window" };
  switch (scenario) {
    case "bigCapture":
      send({ type: "hotkey", target: "capture", captureId, animated: true });
      send({ type: "captureSnapshot", captureId, snapshot });
      // Split across many writes, as a pipe delivers a big line.
      process.stdout.write(JSON.stringify({ type: "capture", captureId, capture: capturePayload(4 * 1024 * 1024) }));
      process.stdout.write("\n");
      send({ type: "captureLanded", captureId });
      break;
    case "landedFirst":
      send({ type: "hotkey", target: "capture", captureId, animated: true });
      send({ type: "captureLanded", captureId });
      send({ type: "capture", captureId, capture: capturePayload(8) });
      send({ type: "captureLanded", captureId }); // late: the capture is over
      send({ type: "captureSnapshot", captureId: "AAAAAAAA-2222-3333-4444-555555555555", snapshot });
      send({ type: "response", id: "never-asked", ok: true, result: {} });
      break;
    case "failed":
      send({ type: "hotkey", target: "capture", captureId, animated: true });
      send({ type: "captureSnapshot", captureId, snapshot });
      send({ type: "captureFailed", captureId, error: "No capturable window" });
      break;
    case "notAnimated":
      send({ type: "hotkey", target: "capture", captureId, animated: false });
      send({ type: "capture", captureId, capture: capturePayload(8) });
      break;
    case "dieMidCapture":
      send({ type: "hotkey", target: "capture", captureId, animated: true });
      send({ type: "captureSnapshot", captureId, snapshot });
      dying = true;
      setTimeout(() => process.kill(process.pid, "SIGKILL"), 50);
      break;
    case "garbageFirst":
      process.stdout.write("{\"no\":\"type\"}\n\u0000\u0001 binary \r\n");
      send({ type: "hotkey", target: "host" });
      break;
  }
}
