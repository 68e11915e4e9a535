// Typed failures: the helper ended (or never became ready), a request it refused,
// a capture it could not take.

/** Why the helper's process ended, from its exit status (the launcher mirrors the service's). */
export type ExitReason =
  | "exited" // status 0: shutdown or end of input
  | "refused" // 77: the service refused its caller
  | "launchFailed" // 71: the launcher could not start the service
  | "executableNotFound" // 70: the launcher could not find its own executable
  | "signal" // killed, the launcher or (as 128 + N) the service
  | "spawnFailed" // the executable could not be started at all
  | "readyTimeout" // no "ready" line in time; the client killed it
  | "failed"; // any other status

export interface ExitInfo {
  code: number | null;
  signal: NodeJS.Signals | null;
  /** The last line the helper wrote to standard error, "" when none. */
  stderrLine: string;
}

const signalNumbers: Record<number, NodeJS.Signals> = {
  1: "SIGHUP",
  2: "SIGINT",
  6: "SIGABRT",
  9: "SIGKILL",
  11: "SIGSEGV",
  13: "SIGPIPE",
  15: "SIGTERM",
};

export function exitReason(code: number | null, signal: NodeJS.Signals | null): ExitReason {
  if (signal) return "signal";
  switch (code) {
    case 0:
      return "exited";
    case 77:
      return "refused";
    case 71:
      return "launchFailed";
    case 70:
      return "executableNotFound";
  }
  if (code !== null && code > 128 && code < 128 + 65) return "signal";
  return "failed";
}

/** The helper is gone: start() rejects with it, and so does every request and capture left pending. */
export class HelperExitedError extends Error {
  readonly reason: ExitReason;
  readonly code: number | null;
  /** The signal that ended the launcher, or the service's (from 128 + N) when known. */
  readonly signal: NodeJS.Signals | null;
  readonly stderrLine: string;

  constructor(info: ExitInfo, reason: ExitReason = exitReason(info.code, info.signal)) {
    const status = info.signal ?? (info.code === null ? "no status" : `status ${info.code}`);
    super(`zoba-capture ended (${reason}, ${status})${info.stderrLine ? `: ${info.stderrLine}` : ""}`);
    this.name = "HelperExitedError";
    this.reason = reason;
    this.code = info.code;
    this.signal = info.signal ?? (info.code !== null && info.code > 128 ? signalNumbers[info.code - 128] ?? null : null);
    this.stderrLine = info.stderrLine;
  }
}

export type RequestErrorCode = "unknownPermission" | "unknownHotkey" | "missingCapture" | "unknownRequest" | "other";

const requestErrorCodes: Record<string, RequestErrorCode> = {
  "Unknown permission": "unknownPermission",
  "Unknown hotkey": "unknownHotkey",
  "Missing capture": "missingCapture",
  "Unknown request": "unknownRequest",
};

/** The helper answered a request with "ok": false. */
export class HelperRequestError extends Error {
  readonly code: RequestErrorCode;
  readonly requestType: string;

  constructor(requestType: string, helperText: string) {
    super(helperText);
    this.name = "HelperRequestError";
    this.requestType = requestType;
    this.code = requestErrorCodes[helperText] ?? "other";
  }
}

/** The helper's "captureFailed", e.g. "No capturable window". */
export class CaptureFailedError extends Error {
  readonly captureId: string;

  constructor(captureId: string, helperText: string) {
    super(helperText);
    this.name = "CaptureFailedError";
    this.captureId = captureId;
  }
}
