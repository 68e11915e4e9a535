// The client against the real helper (no desktop needed): round trips, the helper's
// error texts, a refused caller, and every line it wrote checked against the schema.

import assert from "node:assert/strict";
import { after, describe, it } from "node:test";

import { HelperExitedError, HelperRequestError, start, type HelperMessage, type ZobaCaptureClient } from "../src";
import { helperPath, messageErrors, noHelper, within } from "./support";

const seen: HelperMessage[] = [];

async function startHelper(): Promise<ZobaCaptureClient> {
  const client = await start({ binaryPath: helperPath, hotkey: "option" });
  seen.push(client.ready);
  client.on("message", (message) => seen.push(message));
  return client;
}

describe("the real helper", { skip: noHelper }, () => {
  after(() => {
    const invalid = seen.map((m) => [m.type, messageErrors(m)] as const).filter(([, errors]) => errors.length > 0);
    assert.deepEqual(invalid, [], "lines the schema refuses");
  });

  it("is ready with the hotkey it was given and answers status and setHotkey", async () => {
    const client = await startHelper();
    assert.equal(client.ready.version, 1);
    assert.equal(client.ready.hotkey, "option");
    const status = await client.status();
    assert.equal(status.hotkey, "option");
    assert.deepEqual(Object.keys(status.permissions).sort(), ["accessibility", "screenRecording"]);
    assert.deepEqual(await client.setHotkey("command"), { hotkey: "command" });
    assert.equal((await client.status()).hotkey, "command");
    assert.equal((await client.shutdown()).reason, "exited");
  });

  it("rejects what the helper refuses with typed errors", async () => {
    const client = await startHelper();
    const refusals: [Promise<unknown>, string][] = [
      [client.setHotkey("ctrl" as "shift"), "unknownHotkey"],
      [client.requestPermission("camera" as "accessibility"), "unknownPermission"],
    ];
    for (const [promise, code] of refusals) {
      await assert.rejects(promise, (e: unknown) => e instanceof HelperRequestError && e.code === code);
    }
    // A target for a capture that is not running is still answered.
    await client.captureTarget("00000000-0000-0000-0000-000000000000", { x: 0, y: 0, width: 10, height: 10 });
    await client.shutdown();
    await assert.rejects(client.status(), HelperExitedError);
  });

  it("answers 1,000 status requests in flight at once", async () => {
    const client = await startHelper();
    const before = client.listenerCount("message");
    const answers = await within(30_000, "1,000 answers", Promise.all(Array.from({ length: 1000 }, () => client.status())));
    assert.equal(answers.length, 1000);
    assert.equal(client.listenerCount("message"), before);
    await client.shutdown();
  });

  it("rejects with 77 and the helper's words when the service is started without its launcher", async () => {
    await assert.rejects(start({ binaryPath: helperPath, extraArgs: ["--service"] }), (e: unknown) => {
      assert.ok(e instanceof HelperExitedError);
      assert.equal(e.code, 77);
      assert.equal(e.reason, "refused");
      assert.equal(e.stderrLine, "zoba-capture: refusing a caller that is not Zoba");
      return true;
    });
  });

  it("ends the client with the signal's status when the helper is killed", async () => {
    const client = await startHelper();
    const ended = await client.kill("SIGKILL");
    assert.equal(ended.reason, "signal");
    assert.equal(ended.signal, "SIGKILL");
  });
});
