// Splits a byte stream on LF without joining the buffer on every chunk, so a line of
// many megabytes costs one copy. A line longer than the bound is dropped whole and
// reported, never kept growing.

export type LineSink = {
  line(text: string): void;
  overlong(length: number): void;
};

export class LineSplitter {
  private parts: Buffer[] = [];
  private length = 0;
  private dropping = false;

  constructor(
    private readonly maxLineBytes: number,
    private readonly sink: LineSink,
  ) {}

  push(chunk: Buffer): void {
    let start = 0;
    for (;;) {
      const end = chunk.indexOf(0x0a, start);
      if (end < 0) {
        this.keep(chunk.subarray(start));
        return;
      }
      this.keep(chunk.subarray(start, end));
      this.finishLine();
      start = end + 1;
    }
  }

  /** The end of the stream: a last line without LF still counts. */
  end(): void {
    if (this.length > 0 || this.dropping) this.finishLine();
  }

  private keep(piece: Buffer): void {
    if (piece.length === 0) return;
    this.length += piece.length;
    if (this.dropping) return;
    if (this.length > this.maxLineBytes) {
      this.dropping = true;
      this.parts = [];
      return;
    }
    this.parts.push(piece);
  }

  private finishLine(): void {
    if (this.dropping) {
      this.sink.overlong(this.length);
    } else {
      const bytes = this.parts.length === 1 ? this.parts[0]! : Buffer.concat(this.parts, this.length);
      let text = bytes.toString("utf8");
      if (text.endsWith("\r")) text = text.slice(0, -1);
      this.sink.line(text);
    }
    this.parts = [];
    this.length = 0;
    this.dropping = false;
  }
}
