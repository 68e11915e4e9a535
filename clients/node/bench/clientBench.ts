// Figures, never pass or fail: requests answered per second by the real helper
// through the client, and how long a big capture line takes to split and parse.
//
//   npm run bench        (ZOBA_BUILD_DIR names the build tree; default build/default)

import { performance } from "node:perf_hooks";

import { start } from "../src";
import { LineSplitter } from "../src/lineSplitter";
import { helperPath } from "../test/support";

async function statusRoundTrips(count: number, inFlight: number): Promise<number> {
  const client = await start({ binaryPath: helperPath });
  const began = performance.now();
  for (let sent = 0; sent < count; sent += inFlight) {
    await Promise.all(Array.from({ length: Math.min(inFlight, count - sent) }, () => client.status()));
  }
  const seconds = (performance.now() - began) / 1000;
  await client.shutdown();
  return count / seconds;
}

function splitAndParse(megabytes: number, chunkBytes: number): number {
  const line = Buffer.from(
    `${JSON.stringify({ type: "capture", captureId: "X", capture: { image: { base64: "A".repeat(megabytes << 20) } } })}\n`,
  );
  let parsed = 0;
  const splitter = new LineSplitter(256 << 20, { line: (text) => (parsed += JSON.parse(text) ? 1 : 0), overlong: () => undefined });
  const began = performance.now();
  for (let at = 0; at < line.length; at += chunkBytes) splitter.push(line.subarray(at, at + chunkBytes));
  const elapsed = performance.now() - began;
  if (parsed !== 1) throw new Error("the line was not parsed");
  return elapsed;
}

async function main(): Promise<void> {
  for (const inFlight of [1, 100]) {
    const rate = await statusRoundTrips(2000, inFlight);
    console.log(`status round trips, ${inFlight} in flight: ${rate.toFixed(0)} per second`);
  }
  for (const megabytes of [4, 32]) {
    const runs = Array.from({ length: 5 }, () => splitAndParse(megabytes, 65536)).sort((a, b) => a - b);
    console.log(`a ${megabytes} MB capture line in 64 KiB chunks: split and parsed in ${runs[2]!.toFixed(1)} ms (median of 5)`);
  }
}

main().catch((error: unknown) => {
  console.error(error);
  process.exit(1);
});
