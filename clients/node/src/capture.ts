// One capture as the host sees it: everything the helper sends under one capture id,
// gathered in one object with promises, and the way to steer its overlay.

import { CaptureFailedError } from "./errors";
import type { CaptureData, CaptureEventMessage, Frame, Snapshot } from "./messages";

type Settle<T> = { promise: Promise<T>; resolve(value: T): void; reject(error: Error): void };

function deferred<T>(): Settle<T> {
  let resolve!: (value: T) => void;
  let reject!: (error: Error) => void;
  const promise = new Promise<T>((yes, no) => {
    resolve = yes;
    reject = no;
  });
  // A host may never look at one of them (a landing it doesn't animate): its rejection
  // must not become an unhandled one that ends the host.
  promise.catch(() => undefined);
  return { promise, resolve, reject };
}

export type SendTarget = (captureId: string, frame: Frame | undefined, radius: number | undefined) => Promise<void>;

export class Capture {
  /** Resolves with the preview, or undefined when the capture ended without one (not animated, or failed first). */
  readonly snapshot: Promise<Snapshot | undefined>;
  /** Resolves with the capture, rejects with CaptureFailedError (or HelperExitedError). */
  readonly result: Promise<CaptureData>;
  /** True once the overlay's card landed (or faded); false when no landing will come. */
  readonly landed: Promise<boolean>;

  private readonly snapshotState = deferred<Snapshot | undefined>();
  private readonly resultState = deferred<CaptureData>();
  private readonly landedState = deferred<boolean>();
  private resultSettled = false;
  private landedSettled = false;
  private snapshotSettled = false;

  constructor(
    readonly id: string,
    readonly animated: boolean,
    private readonly sendTarget: SendTarget,
  ) {
    this.snapshot = this.snapshotState.promise;
    this.result = this.resultState.promise;
    this.landed = this.landedState.promise;
  }

  /**
   * Flies the overlay's card into the host's card at `frame` (screen points, origin at
   * the primary screen's top-left corner, y down), or fades it where it is without one.
   * Only the first call counts; the helper waits 1.2 s for it.
   */
  target(frame?: Frame, radius?: number): Promise<void> {
    return this.sendTarget(this.id, frame, radius);
  }

  /** True once nothing more will come for this capture. */
  get finished(): boolean {
    return this.resultSettled && this.landedSettled;
  }

  /** Takes one of this capture's messages (the client routes them). @internal */
  receive(message: CaptureEventMessage): void {
    switch (message.type) {
      case "captureSnapshot":
        this.settleSnapshot(message.snapshot);
        break;
      case "capture":
        this.settleSnapshot(undefined);
        this.settleResult(() => this.resultState.resolve(message.capture));
        if (!this.animated) this.settleLanded(false);
        break;
      case "captureFailed":
        this.settleSnapshot(undefined);
        this.settleResult(() => this.resultState.reject(new CaptureFailedError(this.id, message.error)));
        // A failed capture's overlay is cancelled: no landing follows.
        this.settleLanded(false);
        break;
      case "captureLanded":
        this.settleLanded(true);
        break;
    }
  }

  /** The helper ended: whatever is still pending rejects with `error`. @internal */
  abandon(error: Error): void {
    this.settleSnapshot(undefined);
    this.settleResult(() => this.resultState.reject(error));
    if (!this.landedSettled) {
      this.landedSettled = true;
      this.landedState.reject(error);
    }
  }

  private settleSnapshot(snapshot: Snapshot | undefined): void {
    if (this.snapshotSettled) return;
    this.snapshotSettled = true;
    this.snapshotState.resolve(snapshot);
  }

  private settleResult(settle: () => void): void {
    if (this.resultSettled) return;
    this.resultSettled = true;
    settle();
  }

  private settleLanded(landed: boolean): void {
    if (this.landedSettled) return;
    this.landedSettled = true;
    this.landedState.resolve(landed);
  }
}
