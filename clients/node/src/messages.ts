// The helper's JSON-line protocol as TypeScript types. protocol/zoba-capture.schema.json
// at the repository root is the source of truth; test/schema.test.ts checks these
// types' fixtures and the real helper's lines against it.

export type HotkeyPreset = "shift" | "option" | "command";
export type PermissionName = "screenRecording" | "accessibility";

export interface Permissions {
  screenRecording: boolean;
  accessibility: boolean;
}

export type SessionPiece = "screenshot" | "overlay" | "hotkey" | "frontmostWindow";

export interface Session {
  type: "x11" | "wayland" | "none";
  desktop: string;
  unavailable: SessionPiece[];
}

/** A rectangle in screen points, origin at the primary screen's top-left corner, y down. */
export interface Frame {
  x: number;
  y: number;
  width: number;
  height: number;
}

// ---- Requests (host → helper) ----

export interface StatusRequest {
  type: "status";
  id?: string;
}
export interface RequestPermissionRequest {
  type: "requestPermission";
  id?: string;
  permission: PermissionName;
}
export interface SetHotkeyRequest {
  type: "setHotkey";
  id?: string;
  hotkey: HotkeyPreset;
}
export interface CaptureTargetRequest {
  type: "captureTarget";
  id?: string;
  captureId: string;
  frame?: Frame;
  radius?: number;
}
export interface ShutdownRequest {
  type: "shutdown";
}
export type Request = StatusRequest | RequestPermissionRequest | SetHotkeyRequest | CaptureTargetRequest | ShutdownRequest;

// ---- Results of the answered requests ----

export interface StatusResult {
  permissions: Permissions;
  hotkey: HotkeyPreset;
  session?: Session;
}
export interface PermissionsResult {
  permissions: Permissions;
}
export interface HotkeyResult {
  hotkey: HotkeyPreset;
}
export type EmptyResult = Record<string, never>;

// ---- Messages (helper → host) ----

export interface ReadyMessage {
  type: "ready";
  version: number;
  hotkey: HotkeyPreset;
  permissions: Permissions;
  session?: Session;
}

export interface ResponseOk {
  type: "response";
  id: string;
  ok: true;
  result: Record<string, unknown>;
}
export interface ResponseError {
  type: "response";
  id: string;
  ok: false;
  error: string;
}
export type ResponseMessage = ResponseOk | ResponseError;

export interface HostHotkeyMessage {
  type: "hotkey";
  target: "host";
}
export interface SetupHotkeyMessage {
  type: "hotkey";
  target: "setup";
  permissions: Permissions;
}
export interface CaptureHotkeyMessage {
  type: "hotkey";
  target: "capture";
  captureId: string;
  animated: boolean;
}
export type HotkeyMessage = HostHotkeyMessage | SetupHotkeyMessage | CaptureHotkeyMessage;

export interface Snapshot {
  /** A JPEG data URL, longer edge at most 640 pixels. */
  dataUrl: string;
  appName: string;
  windowTitle: string;
  iconBase64?: string;
}
export interface CaptureSnapshotMessage {
  type: "captureSnapshot";
  captureId: string;
  snapshot: Snapshot;
}

export interface CapturedApp {
  name: string;
  bundleId: string;
  iconBase64?: string;
}
export interface CapturedImage {
  mimeType: "image/png";
  width: number;
  height: number;
  base64: string;
}
export interface CaptureData {
  app: CapturedApp;
  windowTitle: string;
  text: string;
  textTruncated: boolean;
  image: CapturedImage;
  url?: string;
}
export interface CaptureMessage {
  type: "capture";
  captureId: string;
  capture: CaptureData;
}
export interface CaptureFailedMessage {
  type: "captureFailed";
  captureId: string;
  error: string;
}
export interface CaptureLandedMessage {
  type: "captureLanded";
  captureId: string;
}

// The debug capture mode's lines ("--debug-capture"); a host never sees them.
export interface DebugCaptureMessage {
  type: "debugCapture";
  permissions: Permissions;
  session?: Session;
  capture?: CaptureData & { textLength: number };
  error?: string;
}
export interface DebugLandedMessage {
  type: "debugLanded";
}

export type CaptureEventMessage = CaptureSnapshotMessage | CaptureMessage | CaptureFailedMessage | CaptureLandedMessage;
export type HelperMessage = ReadyMessage | ResponseMessage | HotkeyMessage | CaptureEventMessage;
export type Message = HelperMessage | DebugCaptureMessage | DebugLandedMessage;
