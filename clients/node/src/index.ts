export { start, ZobaCaptureClient, type ClientEvents, type GarbageLine, type StartOptions } from "./client";
export { Capture } from "./capture";
export { CaptureFailedError, HelperExitedError, HelperRequestError, exitReason } from "./errors";
export type { ExitInfo, ExitReason, RequestErrorCode } from "./errors";
export * from "./messages";
