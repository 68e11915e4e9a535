// What the tests against the real helper share: where the build and the repository
// are, the protocol's schema as a validator, and bounded waits.

import { existsSync, readFileSync } from "node:fs";
import { join, resolve } from "node:path";

import Ajv from "ajv";

export const repositoryRoot = resolve(__dirname, "../../../..");
const buildDir = process.env["ZOBA_BUILD_DIR"] ?? join(repositoryRoot, "build/default");
export const helperPath = join(buildDir, "ZobaCapture/zoba-capture");
export const chordPresserPath = join(buildDir, "tests/support/zoba-press-chord");
/** Why the real helper's tests skip, or false. */
export const noHelper = existsSync(helperPath) ? false : `no helper at ${helperPath} (set ZOBA_BUILD_DIR)`;

const schema = JSON.parse(readFileSync(join(repositoryRoot, "protocol/zoba-capture.schema.json"), "utf8")) as {
  $id: string;
};
const ajv = new Ajv({ allErrors: true, strict: false });
ajv.addSchema(schema);

function validator(definition: string): (value: unknown) => string[] {
  const validate = ajv.getSchema(`${schema.$id}#/definitions/${definition}`);
  if (!validate) throw new Error(`no definition ${definition}`);
  return (value) => (validate(value) ? [] : (validate.errors ?? []).map((e) => `${e.instancePath} ${e.message ?? ""}`));
}
/** The schema's complaints about a helper's line, [] when it is valid. */
export const messageErrors = validator("message");
export const requestErrors = validator("request");

/** Resolves with the first value `take` returns, or rejects after `ms`. */
export function within<T>(ms: number, what: string, promise: Promise<T>): Promise<T> {
  let timer: NodeJS.Timeout | undefined;
  const timeout = new Promise<never>((_, reject) => {
    timer = setTimeout(() => reject(new Error(`no ${what} within ${ms} ms`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}
