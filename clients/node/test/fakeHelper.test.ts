// The client against a scripted stand-in helper: exit statuses, routing of capture
// messages, big and broken lines, and many requests in flight.

import assert from "node:assert/strict";
import type { ChildProcess } from "node:child_process";
import { chmodSync, mkdtempSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { describe, it } from "node:test";

import {
  CaptureFailedError,
  HelperExitedError,
  HelperRequestError,
  start,
  type Capture,
  type ExitReason,
  type GarbageLine,
  type ZobaCaptureClient,
} from "../src";

// The fake runs as an executable, as the real helper would: a shell script around node.
const fakePath = (() => {
  const dir = mkdtempSync(join(tmpdir(), "zoba-fake-"));
  const path = join(dir, "fake-helper");
  writeFileSync(path, `#!/bin/sh\nexec "${process.execPath}" "${join(__dirname, "fakeHelper.js")}" "$@"\n`);
  chmodSync(path, 0o755);
  return path;
})();

function startFake(scenario: string, readyTimeoutMs?: number): Promise<ZobaCaptureClient> {
  return start({
    binaryPath: fakePath,
    env: { ...process.env, FAKE_SCENARIO: scenario },
    ...(readyTimeoutMs === undefined ? {} : { readyTimeoutMs }),
  });
}

// The fake's own request that plays the scenario; no answer comes.
function play(client: ZobaCaptureClient): void {
  (client as unknown as { write(r: unknown): void }).write({ type: "chord" });
}

async function chord(client: ZobaCaptureClient): Promise<Capture> {
  const capture = new Promise<Capture>((resolve) => client.once("capture", resolve));
  play(client);
  return capture;
}

describe("start", () => {
  const cases: { scenario: string; reason: ExitReason; code: number | null; signal: string | null }[] = [
    { scenario: "exit77", reason: "refused", code: 77, signal: null },
    { scenario: "exit71", reason: "launchFailed", code: 71, signal: null },
    { scenario: "exit70", reason: "executableNotFound", code: 70, signal: null },
    { scenario: "exit137", reason: "signal", code: 137, signal: "SIGKILL" },
    { scenario: "exit3", reason: "failed", code: 3, signal: null },
  ];
  for (const c of cases) {
    it(`rejects with the exit status and the last standard-error line (${c.scenario})`, async () => {
      const error = await startFake(c.scenario).then(
        () => assert.fail("started"),
        (e: unknown) => e,
      );
      assert.ok(error instanceof HelperExitedError);
      assert.equal(error.reason, c.reason);
      assert.equal(error.code, c.code);
      assert.equal(error.signal, c.signal);
      assert.equal(error.stderrLine, "zoba-capture: the last words");
    });
  }

  it("rejects when the executable is missing", async () => {
    await assert.rejects(start({ binaryPath: "/nonexistent/zoba-capture" }), { reason: "spawnFailed" });
  });

  it("kills a helper that never says ready", async () => {
    await assert.rejects(startFake("silent", 300), { reason: "readyTimeout" });
  });

  it("reports lines before ready as garbage and still starts", async () => {
    // Garbage events are emitted before start() resolves, so count them at the client.
    const client = await startFake("garbageFirst");
    const garbage: GarbageLine[] = [];
    client.on("garbage", (line) => garbage.push(line));
    const hostHotkey = new Promise((resolve) => client.once("hotkey", resolve));
    play(client);
    assert.deepEqual(await hostHotkey, { type: "hotkey", target: "host" });
    await client.shutdown();
    assert.deepEqual(
      garbage.map((g) => g.reason),
      ["notAMessage", "notJson"],
    );
  });
});

describe("requests", () => {
  it("matches 1,000 concurrent status responses to their requests without leaking listeners", async () => {
    const client = await startFake("echo");
    const before = client.eventNames().map((name) => client.listenerCount(name));
    const results = await Promise.all(Array.from({ length: 1000 }, () => client.status()));
    assert.equal(results.length, 1000);
    assert.ok(results.every((r) => r.hotkey === "shift" && r.permissions.accessibility));
    assert.deepEqual(
      client.eventNames().map((name) => client.listenerCount(name)),
      before,
    );
    const child = (client as unknown as { child: ChildProcess }).child;
    assert.equal(child.stdout?.listenerCount("data"), 1);
    assert.equal(child.listenerCount("close"), 1);
    await client.shutdown();
  });

  it("turns the helper's error texts into typed rejections", async () => {
    const client = await startFake("echo");
    await assert.rejects(client.requestPermission("accessibility"), (e: unknown) => {
      assert.ok(e instanceof HelperRequestError);
      assert.equal((e as HelperRequestError).code, "unknownRequest");
      assert.equal((e as HelperRequestError).requestType, "requestPermission");
      return true;
    });
    await client.shutdown();
  });

  it("rejects at once once the helper has ended, and shutdown says how it ended", async () => {
    const client = await startFake("echo");
    const ended = await client.shutdown();
    assert.equal(ended.reason, "exited");
    await assert.rejects(client.status(), HelperExitedError);
    assert.equal(await client.shutdown(), ended);
  });
});

describe("captures", () => {
  it("parses a 4 MB capture line and gathers snapshot, capture and landing under one id", async () => {
    const client = await startFake("bigCapture");
    const capture = await chord(client);
    const [snapshot, result, landed] = await Promise.all([capture.snapshot, capture.result, capture.landed]);
    assert.equal(snapshot?.appName, "Fake");
    assert.equal(result.image.base64.length, 4 * 1024 * 1024);
    assert.equal(landed, true);
    await client.shutdown();
  });

  it("takes the landing before the capture, and reports late and unknown ids as strays", async () => {
    const client = await startFake("landedFirst");
    const strays: string[] = [];
    client.on("stray", (m) => strays.push(m.type));
    const capture = await chord(client);
    assert.equal(await capture.landed, true);
    assert.equal((await capture.result).windowTitle, "Fake window");
    assert.equal(await capture.snapshot, undefined);
    await client.status(); // every line before its answer has been read
    assert.deepEqual(strays, ["captureLanded", "captureSnapshot", "response"]);
    await client.shutdown();
  });

  it("rejects a failed capture with its text, and no landing follows", async () => {
    const client = await startFake("failed");
    const capture = await chord(client);
    await assert.rejects(capture.result, (e: unknown) => e instanceof CaptureFailedError && e.message === "No capturable window");
    assert.equal(await capture.landed, false);
    await client.shutdown();
  });

  it("settles the landing of a capture without animation with the result", async () => {
    const client = await startFake("notAnimated");
    const capture = await chord(client);
    assert.equal(capture.animated, false);
    assert.equal(await capture.landed, false);
    assert.equal(await capture.snapshot, undefined);
    await client.shutdown();
  });

  it("rejects what is pending when the helper dies mid-capture, and ends the client once", async () => {
    const client = await startFake("dieMidCapture");
    let exits = 0;
    client.on("exit", () => exits++);
    const capture = await chord(client);
    const status = client.status();
    await assert.rejects(capture.result, { reason: "signal" });
    await assert.rejects(capture.landed, HelperExitedError);
    await assert.rejects(status, HelperExitedError);
    assert.ok((await capture.snapshot) !== undefined);
    await client.kill();
    assert.equal(exits, 1);
  });
});
