"""Puts the overlay's debug frames side by side in one PNG, each labelled with its
file name: frames_sheet.py OUTPUT.png FRAME.png..."""
import os
import sys

import cairo

COLUMNS = 4
SCALE = 0.25  # a 1920x1080 frame becomes 480x270
GAP = 8
LABEL = 22


def main():
    output, paths = sys.argv[1], sys.argv[2:]
    if not paths:
        sys.exit("frames_sheet: no frames")
    frames = [cairo.ImageSurface.create_from_png(p) for p in paths]
    width = max(f.get_width() for f in frames) * SCALE
    height = max(f.get_height() for f in frames) * SCALE
    rows = (len(frames) + COLUMNS - 1) // COLUMNS
    sheet = cairo.ImageSurface(cairo.FORMAT_RGB24, int(COLUMNS * (width + GAP) + GAP),
                               int(rows * (height + LABEL + GAP) + GAP))
    cr = cairo.Context(sheet)
    cr.set_source_rgb(1, 1, 1)
    cr.paint()
    cr.select_font_face("sans-serif")
    cr.set_font_size(14)
    for index, (path, frame) in enumerate(zip(paths, frames)):
        x = GAP + (index % COLUMNS) * (width + GAP)
        y = GAP + (index // COLUMNS) * (height + LABEL + GAP)
        cr.set_source_rgb(0.2, 0.2, 0.2)
        cr.move_to(x, y + 15)
        cr.show_text(os.path.basename(path))
        cr.save()
        cr.translate(x, y + LABEL)
        cr.scale(SCALE, SCALE)
        cr.set_source_surface(frame, 0, 0)
        cr.get_source().set_filter(cairo.FILTER_GOOD)
        cr.paint()
        cr.restore()
    sheet.write_to_png(output)


if __name__ == "__main__":
    main()
