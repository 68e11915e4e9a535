// The host's side of the helper: starts it through its launcher, matches responses to
// requests, routes each capture's messages to one Capture object, and reports the end.

import { spawn, type ChildProcessWithoutNullStreams } from "node:child_process";
import { EventEmitter } from "node:events";

import { Capture } from "./capture";
import { HelperExitedError, HelperRequestError, type ExitInfo, type ExitReason } from "./errors";
import { LineSplitter } from "./lineSplitter";
import type {
  CaptureEventMessage,
  CaptureTargetRequest,
  EmptyResult,
  Frame,
  HelperMessage,
  HotkeyMessage,
  HotkeyPreset,
  HotkeyResult,
  PermissionName,
  PermissionsResult,
  ReadyMessage,
  Request,
  ShutdownRequest,
  StatusResult,
} from "./messages";

export interface StartOptions {
  /** The zoba-capture executable (the launcher); "zoba-capture" on PATH, as installed, when absent. */
  binaryPath?: string;
  /** The host's process id, "--host-pid"; this process's when absent. */
  hostPid?: number;
  hotkey?: HotkeyPreset;
  /** The helper's environment; this process's when absent. */
  env?: NodeJS.ProcessEnv;
  /** Arguments after the client's own, e.g. "--service" to run the service without its launcher. */
  extraArgs?: readonly string[];
  /** How long to wait for "ready" before killing the helper (default 15 s). */
  readyTimeoutMs?: number;
  /** The longest line kept (default 256 MiB); a longer one becomes a "garbage" event. */
  maxLineBytes?: number;
}

/** A line that is not one of the helper's messages: not JSON, no "type", or too long. */
export interface GarbageLine {
  reason: "notJson" | "notAMessage" | "tooLong";
  /** The line's first 200 characters ("" when too long). */
  excerpt: string;
  length: number;
}

export interface ClientEvents {
  /** Every message the helper wrote, before it is routed. */
  message: [HelperMessage];
  /** Every "hotkey" line; a capture's also comes as a "capture" event. */
  hotkey: [HotkeyMessage];
  /** A capture started: answer with capture.target() within 1.2 s. */
  capture: [Capture];
  garbage: [GarbageLine];
  /** A message for a capture or request this client does not know (late, or never seen). */
  stray: [HelperMessage];
  stderr: [string];
  /** The helper ended; comes once. */
  exit: [HelperExitedError];
}

type Pending = { type: string; resolve(result: unknown): void; reject(error: Error): void };

const defaultReadyTimeoutMs = 15_000;
const defaultMaxLineBytes = 256 * 1024 * 1024;
const stderrLineLimit = 4096;

export class ZobaCaptureClient extends EventEmitter<ClientEvents> {
  /** The "ready" line. */
  ready!: ReadyMessage;
  private readonly pending = new Map<string, Pending>();
  private readonly captures = new Map<string, Capture>();
  private nextId = 1;
  private ended: HelperExitedError | undefined;
  private lastStderrLine = "";
  // Until "ready": the start() promise's resolver, and whether its time ran out.
  private readyListener: ((message: ReadyMessage) => void) | undefined;
  private readyTimedOut = false;
  private readonly exited: Promise<HelperExitedError>;
  private markExited!: (error: HelperExitedError) => void;

  private constructor(private readonly child: ChildProcessWithoutNullStreams) {
    super();
    this.exited = new Promise((resolve) => (this.markExited = resolve));
  }

  /** Starts the helper and resolves once it said "ready"; rejects with HelperExitedError when it ends first. */
  static start(options: StartOptions): Promise<ZobaCaptureClient> {
    const args = [
      "--host-pid",
      String(options.hostPid ?? process.pid),
      "--hotkey",
      options.hotkey ?? "shift",
      ...(options.extraArgs ?? []),
    ];
    const child = spawn(options.binaryPath ?? "zoba-capture", args, { env: options.env ?? process.env, stdio: "pipe" });
    const client = new ZobaCaptureClient(child);
    return client.attach(options);
  }

  get pid(): number | undefined {
    return this.child.pid;
  }

  /** Set once the helper has ended. */
  get exit(): HelperExitedError | undefined {
    return this.ended;
  }

  status(): Promise<StatusResult> {
    return this.request<StatusResult>({ type: "status" });
  }

  requestPermission(permission: PermissionName): Promise<PermissionsResult> {
    return this.request<PermissionsResult>({ type: "requestPermission", permission });
  }

  setHotkey(hotkey: HotkeyPreset): Promise<HotkeyResult> {
    return this.request<HotkeyResult>({ type: "setHotkey", hotkey });
  }

  captureTarget(captureId: string, frame?: Frame, radius?: number): Promise<void> {
    const request: CaptureTargetRequest = { type: "captureTarget", captureId };
    if (frame) request.frame = frame;
    if (radius !== undefined) request.radius = radius;
    return this.request<EmptyResult>(request).then(() => undefined);
  }

  /**
   * Asks the helper to write what it queued and exit, and resolves with how it ended.
   * After `timeoutMs` (default 5 s) it is sent SIGTERM.
   */
  async shutdown(timeoutMs = 5000): Promise<HelperExitedError> {
    if (this.ended) return this.ended;
    this.write({ type: "shutdown" });
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill("SIGTERM"), timeoutMs);
    try {
      return await this.exited;
    } finally {
      clearTimeout(timer);
    }
  }

  /** Sends SIGTERM (or `signal`), e.g. when the host quits in a hurry; resolves once it ended. */
  kill(signal: NodeJS.Signals = "SIGTERM"): Promise<HelperExitedError> {
    if (!this.ended) this.child.kill(signal);
    return this.exited;
  }

  private request<T>(request: Exclude<Request, ShutdownRequest>): Promise<T> {
    if (this.ended) return Promise.reject(this.ended);
    const id = `r${this.nextId++}`;
    return new Promise<T>((resolve, reject) => {
      this.pending.set(id, { type: request.type, resolve: resolve as (result: unknown) => void, reject });
      this.write({ ...request, id });
    });
  }

  private write(request: Request): void {
    if (this.child.stdin.writable) this.child.stdin.write(`${JSON.stringify(request)}\n`);
  }

  private attach(options: StartOptions): Promise<ZobaCaptureClient> {
    const splitter = new LineSplitter(options.maxLineBytes ?? defaultMaxLineBytes, {
      line: (text) => this.receiveLine(text),
      overlong: (length) => this.emit("garbage", { reason: "tooLong", excerpt: "", length }),
    });
    this.child.stdout.on("data", (chunk: Buffer) => splitter.push(chunk));
    this.child.stdout.on("end", () => splitter.end());
    const stderr = new LineSplitter(stderrLineLimit, {
      line: (text) => {
        if (text.trim() === "") return;
        this.lastStderrLine = text;
        this.emit("stderr", text);
      },
      overlong: () => undefined,
    });
    this.child.stderr.on("data", (chunk: Buffer) => stderr.push(chunk));
    this.child.stderr.on("end", () => stderr.end());
    // A helper that ends while a request is being written: its end is reported by "close".
    this.child.stdin.on("error", () => undefined);

    let spawnError: Error | undefined;
    this.child.on("error", (error) => {
      spawnError = error;
    });
    this.child.on("close", (code, signal) => {
      const info: ExitInfo = { code, signal, stderrLine: this.lastStderrLine };
      let reason: ExitReason | undefined;
      if (spawnError) {
        reason = "spawnFailed";
        info.stderrLine = spawnError.message;
      } else if (this.readyTimedOut) {
        reason = "readyTimeout";
      }
      this.end(new HelperExitedError(info, reason));
    });

    return new Promise<ZobaCaptureClient>((resolve, reject) => {
      const timer = setTimeout(() => {
        this.readyTimedOut = true;
        this.child.kill("SIGKILL");
      }, options.readyTimeoutMs ?? defaultReadyTimeoutMs);
      const onReady = (message: ReadyMessage): void => {
        clearTimeout(timer);
        this.ready = message;
        this.off("exit", onExit);
        resolve(this);
      };
      const onExit = (error: HelperExitedError): void => {
        clearTimeout(timer);
        reject(error);
      };
      this.readyListener = onReady;
      this.once("exit", onExit);
    });
  }

  private receiveLine(text: string): void {
    if (text === "") return;
    let parsed: unknown;
    try {
      parsed = JSON.parse(text);
    } catch {
      this.emit("garbage", { reason: "notJson", excerpt: text.slice(0, 200), length: text.length });
      return;
    }
    if (typeof parsed !== "object" || parsed === null || typeof (parsed as { type?: unknown }).type !== "string") {
      this.emit("garbage", { reason: "notAMessage", excerpt: text.slice(0, 200), length: text.length });
      return;
    }
    this.emit("message", parsed as HelperMessage);
    this.dispatch(parsed as HelperMessage);
  }

  private dispatch(message: HelperMessage): void {
    switch (message.type) {
      case "ready": {
        const listener = this.readyListener;
        this.readyListener = undefined;
        if (listener) listener(message);
        return;
      }
      case "response": {
        const pending = this.pending.get(message.id);
        if (!pending) {
          this.emit("stray", message);
          return;
        }
        this.pending.delete(message.id);
        if (message.ok) pending.resolve(message.result);
        else pending.reject(new HelperRequestError(pending.type, message.error));
        return;
      }
      case "hotkey":
        if (message.target === "capture") {
          const capture = new Capture(message.captureId, message.animated, (id, frame, radius) =>
            this.captureTarget(id, frame, radius),
          );
          this.captures.set(capture.id, capture);
          this.emit("hotkey", message);
          this.emit("capture", capture);
        } else {
          this.emit("hotkey", message);
        }
        return;
      case "captureSnapshot":
      case "capture":
      case "captureFailed":
      case "captureLanded":
        this.routeToCapture(message);
        return;
      default:
        this.emit("stray", message);
    }
  }

  private routeToCapture(message: CaptureEventMessage): void {
    const capture = this.captures.get(message.captureId);
    if (!capture) {
      this.emit("stray", message);
      return;
    }
    capture.receive(message);
    if (capture.finished) this.captures.delete(capture.id);
  }

  private end(error: HelperExitedError): void {
    if (this.ended) return;
    this.ended = error;
    for (const pending of this.pending.values()) pending.reject(error);
    this.pending.clear();
    for (const capture of this.captures.values()) capture.abandon(error);
    this.captures.clear();
    this.markExited(error);
    this.emit("exit", error);
  }
}

export function start(options: StartOptions): Promise<ZobaCaptureClient> {
  return ZobaCaptureClient.start(options);
}
