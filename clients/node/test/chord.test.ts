// A real chord on the desktop: a GTK window in front, both Shift keys pressed
// through XTEST, the capture gathered by the client. Needs $DISPLAY with the
// accessibility bus (scripts/headless-desktop.sh run -- npm test).

import assert from "node:assert/strict";
import { spawn, spawnSync, type ChildProcessWithoutNullStreams } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, symlinkSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { createInterface } from "node:readline";
import { after, before, describe, it } from "node:test";

import {
  HelperExitedError,
  start,
  type Capture,
  type HelperMessage,
  type HotkeyMessage,
  type StartOptions,
  type ZobaCaptureClient,
} from "../src";
import { chordPresserPath, helperPath, messageErrors, noHelper, repositoryRoot, within } from "./support";

const skip =
  noHelper ||
  (!process.env["DISPLAY"] && "no DISPLAY") ||
  (!existsSync(chordPresserPath) && `no chord presser at ${chordPresserPath}`);

const windowTitle = "Zoba Node client window";
const seen: HelperMessage[] = [];

function openWindow(): Promise<ChildProcessWithoutNullStreams> {
  const window = spawn("/usr/bin/python3", [
    join(repositoryRoot, "tests/support/apps/gtk_window.py"),
    "--title",
    windowTitle,
    "--size",
    "400x300",
  ]);
  // The window prints its pid once it is mapped and focused.
  const focused = new Promise<ChildProcessWithoutNullStreams>((resolve, reject) => {
    createInterface({ input: window.stdout }).once("line", () => resolve(window));
    window.once("exit", (code) => reject(new Error(`the GTK window ended (${code})`)));
  });
  return within(20_000, "focused GTK window", focused);
}

function pressChord(): void {
  const pressed = spawnSync(chordPresserPath, { timeout: 10_000 });
  assert.equal(pressed.status, 0, "the chord could not be pressed");
}

async function chordCapture(client: ZobaCaptureClient): Promise<Capture> {
  const capture = new Promise<Capture>((resolve) => client.once("capture", resolve));
  pressChord();
  return within(10_000, "capture hotkey", capture);
}

// The service the launcher started: its only child.
async function serviceOf(launcher: number): Promise<number> {
  const deadline = Date.now() + 5000;
  while (Date.now() < deadline) {
    const children = readFileSync(`/proc/${launcher}/task/${launcher}/children`, "utf8").trim();
    if (children) return Number(children.split(" ")[0]);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
  throw new Error("no service process");
}

// One helper at a time: two would both take the chord.
async function startHelper(): Promise<ZobaCaptureClient> {
  const client = await start({ binaryPath: helperPath });
  client.on("message", (message) => seen.push(message));
  return client;
}

describe("a chord on the desktop", { skip }, () => {
  let window: ChildProcessWithoutNullStreams;

  before(async () => {
    window = await openWindow();
  });
  after(() => {
    window?.stdin.end();
    const invalid = seen.map((m) => [m.type, messageErrors(m)] as const).filter(([, errors]) => errors.length > 0);
    assert.deepEqual(invalid, [], "lines the schema refuses");
  });

  it("gives one capture object with its snapshot, capture and landing, steered by target()", async () => {
    const client = await startHelper();
    const strays: HelperMessage[] = [];
    client.on("stray", (message) => strays.push(message));
    const capture = await chordCapture(client);
    assert.equal(capture.animated, true);
    await capture.target({ x: 1700, y: 60, width: 160, height: 96 }, 12);
    const [snapshot, result, landed] = await within(
      15_000,
      "the whole capture",
      Promise.all([capture.snapshot, capture.result, capture.landed]),
    );
    assert.match(snapshot?.dataUrl ?? "", /^data:image\/jpeg;base64,/);
    assert.equal(snapshot?.windowTitle, windowTitle);
    assert.equal(result.windowTitle, windowTitle);
    assert.equal(result.image.mimeType, "image/png");
    assert.ok(result.image.width >= 400 && result.image.height >= 300, `${result.image.width}x${result.image.height}`);
    assert.match(result.text, /Hello from GTK/);
    assert.equal(landed, true);
    assert.deepEqual(
      seen.filter((m) => "captureId" in m).map((m) => ("captureId" in m ? m.captureId : "")),
      Array(4).fill(capture.id),
    );
    assert.deepEqual(strays, []);
    await client.shutdown();
  });

  const otherTargets: { target: "host" | "setup"; options: () => Partial<StartOptions> }[] = [
    // The window in front is the host's own.
    { target: "host", options: () => ({ hostPid: window.pid ?? 0 }) },
    // Without the session bus there is no accessibility: the chord asks for setup.
    { target: "setup", options: () => ({ env: { ...process.env, DBUS_SESSION_BUS_ADDRESS: "unix:path=/nonexistent" } }) },
  ];
  for (const { target, options } of otherTargets) {
    it(`gives a "${target}" hotkey and no capture when the chord is the ${target}'s`, async () => {
      const client = await start({ binaryPath: helperPath, ...options() });
      client.on("message", (message) => seen.push(message));
      let captures = 0;
      client.on("capture", () => captures++);
      const hotkey = new Promise<HotkeyMessage>((resolve) => client.once("hotkey", resolve));
      pressChord();
      assert.equal((await within(10_000, "hotkey", hotkey)).target, target);
      await client.shutdown();
      assert.equal(captures, 0);
    });
  }

  it("writes a debug capture line the schema accepts", () => {
    const dir = mkdtempSync(join(tmpdir(), "zoba-debug-"));
    const run = spawnSync(helperPath, ["--debug-capture", join(dir, "shot.png"), "--delay", "0"], {
      timeout: 30_000,
      encoding: "utf8",
    });
    assert.equal(run.status, 0, run.stderr);
    const line = JSON.parse(run.stdout.trim()) as HelperMessage;
    assert.deepEqual(messageErrors(line), []);
    assert.ok("capture" in line, run.stdout.slice(0, 300));
  });

  it("runs the README's host example as written", async () => {
    const readme = readFileSync(join(repositoryRoot, "README.md"), "utf8");
    const example = [...readme.matchAll(/^```js\n([\s\S]*?)^```$/gm)]
      .map((match) => match[1] ?? "")
      .find((code) => code.includes('require("zoba-capture")'));
    assert.ok(example, "no host example in README.md");
    // require("zoba-capture") finds this package through NODE_PATH.
    const dir = mkdtempSync(join(tmpdir(), "zoba-example-"));
    mkdirSync(join(dir, "modules"));
    symlinkSync(resolve(__dirname, "../.."), join(dir, "modules/zoba-capture"));
    writeFileSync(join(dir, "host.js"), example);
    const host = spawn(process.execPath, [join(dir, "host.js")], {
      env: { ...process.env, NODE_PATH: join(dir, "modules"), ZOBA_CAPTURE: helperPath },
    });
    let output = "";
    host.stdout.on("data", (chunk: Buffer) => (output += chunk.toString()));
    host.stderr.on("data", (chunk: Buffer) => (output += chunk.toString()));
    const ended = new Promise<number | null>((resolve) => host.once("close", resolve));
    await within(
      15_000,
      "the example's prompt",
      new Promise<void>((resolve) => host.stdout.on("data", () => output.includes("hold both Shift keys") && resolve())),
    );
    pressChord();
    const status = await within(20_000, "the example's end", ended).finally(() => host.kill());
    assert.equal(status, 0, output);
    assert.match(output, new RegExp(`captured "${windowTitle}"`));
    assert.match(output, /Hello from GTK/);
    assert.match(output, /landed: true/);
  });

  it("rejects the pending capture and request when the helper is killed mid-capture, and ends once", async () => {
    const client = await startHelper();
    let exits = 0;
    client.on("exit", () => exits++);
    const capture = await chordCapture(client);
    const status = client.status();
    process.kill(await serviceOf(client.pid ?? 0), "SIGKILL");
    await assert.rejects(within(10_000, "the rejection", capture.result), (e: unknown) => {
      assert.ok(e instanceof HelperExitedError);
      assert.equal(e.code, 128 + 9);
      assert.equal(e.signal, "SIGKILL");
      return true;
    });
    await assert.rejects(capture.landed, HelperExitedError);
    // The status may have been answered before the kill; either way it settled.
    await status.catch(() => undefined);
    await assert.rejects(client.status(), HelperExitedError);
    assert.equal(exits, 1);
  });

  it("lets the reference host fly a capture into its card", async () => {
    const run = spawn("bash", [join(repositoryRoot, "examples/reference-host/headless-run.sh")], {
      env: { ...process.env, ZOBA_CAPTURE: helperPath, ZOBA_BUILD_DIR: resolve(helperPath, "../..") },
    });
    let output = "";
    run.stdout.on("data", (chunk: Buffer) => (output += chunk.toString()));
    run.stderr.on("data", (chunk: Buffer) => (output += chunk.toString()));
    const status = await within(60_000, "the reference host's run", new Promise((done) => run.once("close", done)));
    assert.equal(status, 0, output);
    assert.match(output, /"captured":"A window to capture"/);
    assert.match(output, /landed: true/);
  });
});
