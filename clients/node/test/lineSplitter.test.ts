import assert from "node:assert/strict";
import { describe, it } from "node:test";

import { LineSplitter } from "../src/lineSplitter";

function split(chunks: (string | Buffer)[], max = 16, close = true): (string | number)[] {
  const out: (string | number)[] = [];
  const splitter = new LineSplitter(max, { line: (text) => out.push(text), overlong: (length) => out.push(length) });
  for (const chunk of chunks) splitter.push(typeof chunk === "string" ? Buffer.from(chunk) : chunk);
  if (close) splitter.end();
  return out;
}

describe("LineSplitter", () => {
  const euro = Buffer.from("€\n"); // three bytes and LF
  const cases: { what: string; chunks: (string | Buffer)[]; close?: boolean; lines: (string | number)[] }[] = [
    { what: "several lines in one chunk", chunks: ["a\nb\n"], lines: ["a", "b"] },
    { what: "a line across chunks", chunks: ["ab", "c", "d\ne"], lines: ["abcd", "e"] },
    { what: "CR LF counts as LF", chunks: ["a\r\n", "b\r", "\n"], lines: ["a", "b"] },
    { what: "a UTF-8 character split between chunks", chunks: [euro.subarray(0, 1), euro.subarray(1)], lines: ["€"] },
    { what: "the last line without LF at the end", chunks: ["a\nb"], lines: ["a", "b"] },
    { what: "the last line kept while the stream is open", chunks: ["a\nb"], close: false, lines: ["a"] },
    { what: "an overlong line dropped, its neighbours kept", chunks: ["a\n", "x".repeat(10), "x".repeat(10), "\nb\n"], lines: ["a", 20, "b"] },
    { what: "a line of exactly the bound", chunks: ["x".repeat(16) + "\n"], lines: ["x".repeat(16)] },
    { what: "empty lines", chunks: ["\n\n"], lines: ["", ""] },
  ];
  for (const c of cases) {
    it(c.what, () => assert.deepEqual(split(c.chunks, 16, c.close ?? true), c.lines));
  }

  it("joins a 4 MB line from 64 KiB pieces", () => {
    const line = "y".repeat(4 * 1024 * 1024);
    const pieces: string[] = [];
    for (let at = 0; at < line.length; at += 65536) pieces.push(line.slice(at, at + 65536));
    pieces.push("\n");
    const [out] = split(pieces, 8 * 1024 * 1024);
    assert.equal(out, line);
  });
});
