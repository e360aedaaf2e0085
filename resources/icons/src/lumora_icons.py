"""Drawing code of every picture of Lumora's user interface.

Each picture is a function that returns one SVG document whose user units are
the picture's pixels (viewBox 0 0 width height), so stroke widths below are in
pixels. scripts/make-icons.py renders them to the PNG and GIF files under
resources/icons/ and lists those in resources/icons.qrc.

One palette and one line style serve every picture:
- strokes have round caps and joins, and are 1.5 px wide on pictures up to
  20 px, 2 px on the 32 to 42 px pictures and 2.5 px on the 48 px pictures;
  glyphs inside a ring or on a filled disc (arrows, marks, checks) are half
  a pixel bolder than the outlines of their size, to hold their own, and the
  spinners' rings bolder still (2.25 px at 14 px, 4.5 px at 48 px), so that
  the turning arc shows;
- the motif of the product is a folded map of three panels; a small round
  badge in its lower right corner tells the map's or the device's state;
- texts (the logotype, the region codes) are outlines of the font
  "Arvel Sans" (resources/fonts), so that no renderer needs the font.

Sizes that the windows fix are noted at each picture; where the windows fix
none, the chosen size is explained there.
"""

import functools
import math
import pathlib

from fontTools.pens.svgPathPen import SVGPathPen
from fontTools.pens.transformPen import TransformPen
from fontTools.ttLib import TTFont

FONT_DIR = pathlib.Path(__file__).resolve().parents[2] / "fonts"

# The palette of the style sheets.
BLUE = "#005691"  # normal and selected
HOVER = "#7FC6E7"  # hovered
PRESSED = "#008ECF"  # pressed
GREY = "#BFC0C2"  # disabled, borders, the empty part of a gauge
RED = "#EA0016"  # warning and error
GREEN = "#78BE20"  # connected, done
TEXT2 = "#606061"  # secondary text
TEXT3 = "#7D8790"  # secondary text of the pages
PALE = "#DFDFE0"  # disabled header text
BANNER = "#FFF3DD"  # the notification banner's background
WHITE = "#FFFFFF"
TINT = "#D9ECF7"  # the folded map's middle panel: the hover blue, lightened

STROKE_S = 1.5
STROKE_M = 2.0
STROKE_L = 2.5

REGIONS = ("EUR", "NAM")


# --------------------------------------------------------------------------
# SVG vocabulary


def n(value):
    """A number as SVG text: at most three decimals, no trailing zeros."""
    text = f"{value:.3f}".rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def svg(width, height, *body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
            f'viewBox="0 0 {width} {height}">\n' + "\n".join(b for b in body if b) + "\n</svg>\n")


def line_style(color, width):
    return (f'fill="none" stroke="{color}" stroke-width="{n(width)}" '
            f'stroke-linecap="round" stroke-linejoin="round"')


def path(d, color, width):
    return f'<path d="{d}" {line_style(color, width)}/>'


def filled(d, color):
    return f'<path d="{d}" fill="{color}"/>'


def polyline(points, color, width, closed=False):
    d = "M" + " L".join(f"{n(x)} {n(y)}" for x, y in points) + (" Z" if closed else "")
    return path(d, color, width)


def circle(cx, cy, r, fill="none", stroke=None, width=0):
    stroke_part = f' stroke="{stroke}" stroke-width="{n(width)}"' if stroke else ""
    return f'<circle cx="{n(cx)}" cy="{n(cy)}" r="{n(r)}" fill="{fill}"{stroke_part}/>'


def polar(cx, cy, r, degrees):
    """The point at `degrees` clockwise from the top of a circle."""
    a = math.radians(degrees)
    return cx + r * math.sin(a), cy - r * math.cos(a)


def sector(cx, cy, r, degrees):
    """A pie sector from the top, growing clockwise by `degrees` (0 to 360)."""
    if degrees <= 0:
        return ""
    if degrees >= 360:
        return circle(cx, cy, r, fill=BLUE)
    x, y = polar(cx, cy, r, degrees)
    large = 1 if degrees > 180 else 0
    return filled(f"M{n(cx)} {n(cy)} L{n(cx)} {n(cy - r)} A{n(r)} {n(r)} 0 {large} 1 {n(x)} {n(y)} Z", BLUE)


def arc(cx, cy, r, start, end):
    """The path of a circular arc, clockwise from `start` to `end` degrees."""
    x0, y0 = polar(cx, cy, r, start)
    x1, y1 = polar(cx, cy, r, end)
    large = 1 if (end - start) % 360 > 180 else 0
    return f"M{n(x0)} {n(y0)} A{n(r)} {n(r)} 0 {large} 1 {n(x1)} {n(y1)}"


@functools.lru_cache(maxsize=None)
def font(weight):
    return TTFont(str(FONT_DIR / f"ArvelSans-{weight}.ttf"), lazy=False)


def text_width(text, size, weight="Bold"):
    f = font(weight)
    cmap = f.getBestCmap()
    return sum(f["hmtx"][cmap[ord(c)]][0] for c in text) * size / f["head"].unitsPerEm


def text(text_, size, x, baseline, color, weight="Bold", anchor="start", halo=None):
    """The outlines of `text_` in Arvel Sans, as one filled path.

    anchor "middle" centres the text on x. A halo colour draws a 2 px outline
    of that colour under the letters, to lift them off a busy ground."""
    f = font(weight)
    cmap = f.getBestCmap()
    glyphs = f.getGlyphSet()
    scale = size / f["head"].unitsPerEm
    if anchor == "middle":
        x -= text_width(text_, size, weight) / 2
    pen = SVGPathPen(glyphs, ntos=n)
    cursor = 0
    for c in text_:
        name = cmap[ord(c)]
        glyphs[name].draw(TransformPen(pen, (scale, 0, 0, -scale, x + cursor * scale, baseline)))
        cursor += f["hmtx"][name][0]
    d = pen.getCommands()
    under = f'<path d="{d}" {line_style(halo, 2)}/>' if halo else ""
    return under + filled(d, color)


# --------------------------------------------------------------------------
# Glyphs, drawn around (0, 0) in a box of +-1 and scaled by the caller


def glyph(kind, cx, cy, scale, color, width):
    """A line glyph centred on (cx, cy); `scale` is half its height in px."""

    def pts(*points):
        return [(cx + x * scale, cy + y * scale) for x, y in points]

    if kind == "arrow-down":
        return (polyline(pts((0, -0.9), (0, 0.8)), color, width) +
                polyline(pts((-0.6, 0.2), (0, 0.8), (0.6, 0.2)), color, width))
    if kind == "arrow-up":
        return (polyline(pts((0, 0.9), (0, -0.8)), color, width) +
                polyline(pts((-0.6, -0.2), (0, -0.8), (0.6, -0.2)), color, width))
    if kind == "check":
        return polyline(pts((-0.75, 0.02), (-0.22, 0.55), (0.75, -0.5)), color, width)
    if kind == "plus":
        return (polyline(pts((0, -0.75), (0, 0.75)), color, width) +
                polyline(pts((-0.75, 0), (0.75, 0)), color, width))
    if kind == "exclamation":
        # A bar and a dot over 1.9 * scale, with a gap of at least a pixel
        # between them, so that the two stay apart on the smallest badges.
        top, bottom = cy - 0.95 * scale, cy + 0.95 * scale
        dot = width * 1.1
        gap = max(1.0, 0.15 * scale)
        bar_end = bottom - dot - gap - width / 2
        return (polyline([(cx, top + width / 2), (cx, bar_end)], color, width) +
                circle(cx, bottom - dot / 2, dot / 2, fill=color))
    if kind == "clock":
        return polyline(pts((0, -0.7), (0, 0), (0.55, 0.3)), color, width)
    if kind == "cross":
        return (polyline(pts((-0.6, -0.6), (0.6, 0.6)), color, width) +
                polyline(pts((0.6, -0.6), (-0.6, 0.6)), color, width))
    raise ValueError(kind)


def badge(cx, cy, r, color, kind, ring=WHITE, ring_width=2.0, glyph_width=None):
    """A filled disc with a white glyph, set off from what lies under it by a
    ring of the ground's colour."""
    glyph_width = glyph_width or max(1.5, r / 4)
    return (circle(cx, cy, r + ring_width / 2, fill=ring) + circle(cx, cy, r, fill=color) +
            glyph(kind, cx, cy, r * 0.55, WHITE, glyph_width))


def folded_map(x, y, w, h, width, line=BLUE, left=WHITE, middle=TINT, right=WHITE, folds=True):
    """The folded map: three panels whose upper and lower edges zigzag."""
    a = h * 0.1
    p = [(x, y + a), (x + w / 3, y), (x + 2 * w / 3, y + a), (x + w, y),
         (x + w, y + h - a), (x + 2 * w / 3, y + h), (x + w / 3, y + h - a), (x, y + h)]
    # The whole sheet in the left panel's colour first, then the other panels
    # where they differ, so that no seam shows between panels of one colour.
    panels = [
        (left, p),
        (middle, [p[1], p[2], p[5], p[6]]),
        (right, [p[2], p[3], p[4], p[5]]),
    ]
    out = []
    for colour, corners in panels:
        if colour == left and corners is not p:
            continue
        d = "M" + " L".join(f"{n(px)} {n(py)}" for px, py in corners) + " Z"
        out.append(filled(d, colour))
    out.append(polyline(p, line, width, closed=True))
    if folds:
        out.append(polyline([p[1], p[6]], line, width))
        out.append(polyline([p[2], p[5]], line, width))
    return "".join(out)


# --------------------------------------------------------------------------
# Header and window


def gear(cx, cy, outer, color, width):
    """A gear of eight teeth with a round hole."""
    inner = outer * 0.74
    points = []
    for i in range(8):
        c = i * 45
        points += [polar(cx, cy, inner, c - 14), polar(cx, cy, outer, c - 8),
                   polar(cx, cy, outer, c + 8), polar(cx, cy, inner, c + 14)]
    return polyline(points, color, width, closed=True) + circle(cx, cy, outer * 0.32, stroke=color, width=width)


def question_mark(cx, cy, s, color, width):
    """A question mark of height about 2.2 * s, centred on (cx, cy)."""
    d = (f"M{n(cx - 0.5 * s)} {n(cy - 0.45 * s)} "
         f"C{n(cx - 0.5 * s)} {n(cy - 1.1 * s)} {n(cx + 0.55 * s)} {n(cy - 1.15 * s)} "
         f"{n(cx + 0.55 * s)} {n(cy - 0.45 * s)} "
         f"C{n(cx + 0.55 * s)} {n(cy - 0.02 * s)} {n(cx)} {n(cy + 0.05 * s)} {n(cx)} {n(cy + 0.42 * s)}")
    return path(d, color, width) + circle(cx, cy + 0.95 * s, width * 0.62, fill=color)


# The header's icon buttons are 38 x 38 and show their picture as the
# background: grey at rest, the hover blue under the pointer, the selected
# blue while pressed or (settings) while its page is shown, the pale grey of
# the disabled header texts when disabled.
HEADER_LOOKS = {"": TEXT2, "_hover": HOVER, "_active": BLUE, "_disabled": PALE}


def settings_button(color):
    return svg(38, 38, gear(19, 19, 11, color, STROKE_M))


def help_button(color):
    return svg(38, 38, circle(19, 19, 11, stroke=color, width=STROKE_M), question_mark(19, 17.6, 4.3, color, STROKE_M))


def app_mark(x, y, size):
    """The application's mark: the folded map in the two blues."""
    return folded_map(x, y + size * 0.1, size, size * 0.8, max(1.0, size / 16), line=BLUE,
                      left=BLUE, middle=PRESSED, right=BLUE, folds=False)


def window_icon():
    """The 256 x 256 window icon: the folded map in white on a blue tile,
    with the download badge of a fresh map."""
    s = 256
    tile = f'<rect x="8" y="8" width="240" height="240" rx="52" fill="{BLUE}"/>'
    body = folded_map(44, 62, 168, 132, 10, line=WHITE, left=WHITE, middle=HOVER, right=WHITE, folds=False)
    folds = polyline([(100, 62), (100, 181.2)], BLUE, 6) + polyline([(156, 75.2), (156, 194)], BLUE, 6)
    return svg(s, s, tile, body, folds, badge(192, 186, 38, GREEN, "arrow-down", ring=BLUE, ring_width=12,
                                              glyph_width=10))


def logotype(width, height, size, mark):
    """The logotype: the mark, then "Lumora" in Arvel Sans Bold, centred."""
    gap = size * 0.3
    words = text_width("Lumora", size)
    x = (width - (mark + gap + words)) / 2
    baseline = height / 2 + size * 1456 / 2048 / 2
    cap = size * 1456 / 2048
    return svg(width, height,
               app_mark(x, baseline - cap / 2 - mark / 2, mark),
               text("Lumora", size, x + mark + gap, baseline, BLUE))


# --------------------------------------------------------------------------
# Footer


def dropdown_arrow(direction, color):
    """12 x 7: the drop-down button's icon size in the footer; the settings
    screen's language list uses the same arrows."""
    points = [(1.25, 1.25), (6, 5.75), (10.75, 1.25)]
    if direction == "up":
        points = [(x, 7 - y) for x, y in points]
    return svg(12, 7, polyline(points, color, STROKE_S + 0.25))


def footer_head_unit():
    """17 x 18, the footer's icon label: the vehicle's navigation display,
    a screen with a road on its stand."""
    screen = f'<rect x="1.25" y="2.25" width="14.5" height="10.5" rx="1.5" {line_style(BLUE, STROKE_S)}/>'
    road = polyline([(4.5, 10), (7, 7.5), (9.5, 8.5), (12.5, 5)], BLUE, STROKE_S)
    stand = polyline([(8.5, 12.75), (8.5, 15.75)], BLUE, STROKE_S) + polyline([(5.25, 16.25), (11.75, 16.25)], BLUE, STROKE_S)
    return svg(17, 18, screen, road, stand)


def footer_usb():
    """17 x 18, the footer's icon label: a USB stick standing upright."""
    body = f'<rect x="4.25" y="6.75" width="8.5" height="10.5" rx="1.5" {line_style(BLUE, STROKE_S)}/>'
    plug = f'<rect x="5.75" y="1" width="5.5" height="5.75" {line_style(BLUE, STROKE_S)}/>'
    pins = filled("M7 2.75 h1 v1.5 h-1 Z M9 2.75 h1 v1.5 h-1 Z", BLUE)
    return svg(17, 18, plug, pins, body)


# --------------------------------------------------------------------------
# Banner


def banner(kind):
    """42 x 42, the banner's icon label; drawn for the banner's cream ground."""
    if kind == "downloading":
        g = glyph("arrow-down", 21, 19.5, 9.5, WHITE, STROKE_M + 0.5) + polyline([(13, 29.5), (29, 29.5)], WHITE, STROKE_M + 0.5)
    else:
        g = circle(21, 21, 11, stroke=WHITE, width=STROKE_M + 0.5) + polyline([(21, 14), (21, 21), (26, 24)], WHITE, STROKE_M + 0.5)
    return svg(42, 42, circle(21, 21, 19, fill=BLUE), g)


# --------------------------------------------------------------------------
# Map rows: 42 x 38 RGBA (fixed by the map row), one per state and region

MAP_BADGES = {
    "root": (BLUE, "arrow-down"),  # a map to download
    "optional": (PRESSED, "arrow-up"),  # an update of the installed map
    "uptodate": (GREEN, "check"),  # the installed map is current
    "pending": (TEXT3, "clock"),  # downloaded, waiting for the vehicle
}


def map_row(state, region):
    colour, kind = MAP_BADGES[state]
    sheet = folded_map(1.5, 3, 32, 26, STROKE_M, folds=False, middle=WHITE)
    label = text(region, 10, 17.5, 20.5, BLUE, anchor="middle")
    return svg(42, 38, sheet, label, badge(32, 27.5, 8.5, colour, kind, glyph_width=STROKE_M + 0.5))


# --------------------------------------------------------------------------
# Message screen: 48 x 48 (fixed by the message screen)


def ring_icon(ring, mark, mark_color):
    return svg(48, 48, circle(24, 24, 20.5, stroke=ring, width=STROKE_L), glyph(mark, 24, 23.5, 13, mark_color, STROKE_L + 0.5))


def progress_frame(frame, arrow):
    """Frame 0 to 32 of the download (with arrow) or the removal set: a grey
    disc whose blue sector covers frame/32 of it, clockwise from the top."""
    body = [circle(24, 24, 22, fill=GREY), sector(24, 24, 22, frame * 360 / 32)]
    if arrow:
        body.append(glyph("arrow-down", 24, 23, 11, WHITE, STROKE_L + 0.5))
        body.append(polyline([(16.5, 34), (31.5, 34)], WHITE, STROKE_L + 0.5))
    return svg(48, 48, *body)


# --------------------------------------------------------------------------
# Spinners


# The stick check's spinner beside the popup's status text is 14 x 14 with
# frames numbered 1 to 18, each turned 20 degrees on from the one before.
SPINNER_FRAMES = 18
GIF_FRAMES = 20  # the GIF turns once a second, 50 ms a frame


def spinner(size, step, steps, width, on_white=False):
    """A pale track with a blue arc of a third of a turn, turned by step/steps."""
    c = size / 2
    r = c - width / 2 - 0.5
    start = step * 360 / steps
    ground = f'<rect width="{size}" height="{size}" fill="{WHITE}"/>' if on_white else ""
    return svg(size, size, ground, circle(c, c, r, stroke=PALE, width=width), path(arc(c, c, r, start, start + 120), BLUE, width))


# --------------------------------------------------------------------------
# Popup


def status_icon(color, kind):
    """14 x 14, the size of the stick check's spinner, which takes the same
    place beside the popup's stick status text."""
    return svg(14, 14, circle(7, 7, 6.5, fill=color), glyph(kind, 7, 7, 3.6, WHITE, STROKE_S + 0.5))


def content_map(colour, kind):
    """48 x 48 like the other popup content pictures (the content icon is
    50 px high): the folded map with a state badge."""
    return svg(48, 48, folded_map(3, 7, 36, 30, STROKE_L), badge(36, 35, 10.5, colour, kind, glyph_width=STROKE_L + 0.5))


def connect_usb():
    """48 x 48: the globe of the internet with the red badge of a missing
    connection."""
    c, r = 21, 17
    globe = (circle(c, c, r, fill=WHITE, stroke=BLUE, width=STROKE_L) +
             f'<ellipse cx="{c}" cy="{c}" rx="7.5" ry="{r}" {line_style(BLUE, STROKE_L)}/>' +
             polyline([(c, c - r), (c, c + r)], BLUE, STROKE_L) +
             polyline([(c - r, c), (c + r, c)], BLUE, STROKE_L) +
             path(f"M{c - 14.5} {c - 8.5} Q{c} {c - 4} {c + 14.5} {c - 8.5}", BLUE, STROKE_L) +
             path(f"M{c - 14.5} {c + 8.5} Q{c} {c + 4} {c + 14.5} {c + 8.5}", BLUE, STROKE_L))
    return svg(48, 48, globe, badge(36, 35, 10.5, RED, "cross", glyph_width=STROKE_L + 0.5))


def chevron_forward():
    """20 x 20, the link button's icon size: a chevron in the link colour."""
    return svg(20, 20, polyline([(8, 5.5), (12.5, 10), (8, 14.5)], BLUE, STROKE_M))


def checkbox_filled():
    """16 x 16, the check box indicator; the style sheet paints the blue."""
    return svg(16, 16, polyline([(3.5, 8.25), (6.5, 11.25), (12.5, 5)], WHITE, STROKE_M))


# --------------------------------------------------------------------------
# Tray: 32 x 32 RGBA (fixed by the tray icon)


def tray(kind):
    """The mark with a white outline, so that it reads on light and dark
    panels alike, and a badge for the state."""
    outline = folded_map(3, 6.5, 26, 20, 5, line=WHITE, left=WHITE, middle=WHITE, right=WHITE, folds=False)
    mark = folded_map(3, 6.5, 26, 20, 1.5, line=BLUE, left=BLUE, middle=PRESSED, right=BLUE, folds=False)
    extra = {
        "default": "",
        "attention": badge(23.5, 23.5, 7, RED, "exclamation", ring_width=2.5, glyph_width=2.25),
        "progress": badge(23.5, 23.5, 7, PRESSED, "arrow-down", ring_width=2.5, glyph_width=2.25),
        "finished": badge(23.5, 23.5, 7, GREEN, "check", ring_width=2.5, glyph_width=2.25),
    }[kind]
    return svg(32, 32, outline, mark, extra)


# --------------------------------------------------------------------------
# The catalogue


def catalogue():
    """Every picture as (resource path below :/icons/, width, height, SVG)."""
    out = []

    def add(name, w, h, doc):
        out.append((name, w, h, doc))

    add("PNG/256.png", 256, 256, window_icon())
    # The header logo is the background of a 106 x 70 label, the footer logo
    # the picture of a 118 x 54 label; the popup's 240 x 52 label has a 1 px
    # border (2 px at the top), so its picture is 236 x 48.
    add("logo_header.png", 106, 70, logotype(106, 70, 20, 22))
    add("logo_footer.png", 118, 54, logotype(118, 54, 22, 24))
    add("logo_popup.png", 236, 48, logotype(236, 48, 20, 22))

    for suffix, colour in HEADER_LOOKS.items():
        add(f"ic_settings{suffix}.png", 38, 38, settings_button(colour))
    for suffix in ("", "_hover", "_active"):
        add(f"ic_help{suffix}.png", 38, 38, help_button(HEADER_LOOKS[suffix]))

    for direction in ("down", "up"):
        for suffix, colour in (("", BLUE), ("_hover", HOVER), ("_pressed", PRESSED)):
            add(f"ic_dropdown_arrow_{direction}{suffix}.png", 12, 7, dropdown_arrow(direction, colour))
    add("ic_footer_head-unit.png", 17, 18, footer_head_unit())
    add("ic_footer_usb.png", 17, 18, footer_usb())

    add("notification-downloading.png", 42, 42, banner("downloading"))
    add("notification-pending.png", 42, 42, banner("pending"))

    for state in MAP_BADGES:
        for region in REGIONS:
            add(f"ic_map_{state}_{region}.png", 42, 38, map_row(state, region))

    add("ic_warning_big.png", 48, 48, ring_icon(GREY, "exclamation", BLUE))
    for frame in range(33):
        add(f"ic_progress_72/ic_progress_{frame}.png", 48, 48, progress_frame(frame, True))
    for frame in range(33):
        add(f"ic_delete_72/ic_delete_{frame}.png", 48, 48, progress_frame(frame, False))

    for frame in range(1, SPINNER_FRAMES + 1):
        add(f"ic_spinner_1414/ic_spinner_{frame}.png", 14, 14, spinner(14, frame - 1, SPINNER_FRAMES, 2.25))

    add("ic_connected.png", 14, 14, status_icon(GREEN, "check"))
    add("ic_device_notification.png", 14, 14, status_icon(RED, "exclamation"))
    add("ic_full_update_required.png", 48, 48, content_map(RED, "exclamation"))
    add("ic_full_update_available.png", 48, 48, content_map(PRESSED, "arrow-up"))
    add("ic_full_update_updated.png", 48, 48, content_map(GREEN, "check"))
    add("ic_map_expired.png", 48, 48, content_map(RED, "clock"))
    add("ic_error_big.png", 48, 48, ring_icon(RED, "exclamation", RED))
    add("ic_connect_usb.png", 48, 48, connect_usb())
    add("chevron-forward.png", 20, 20, chevron_forward())
    add("ic_checkbox_filled.png", 16, 16, checkbox_filled())

    for kind in ("default", "attention", "progress", "finished"):
        add(f"ic_osx_{kind}.png", 32, 32, tray(kind))
    return out


def gif_frames():
    """The frames of ":/icons/ic_spinner.gif", 48 x 48 like the popup's other
    content pictures, on the popup's white ground (a GIF has no partial
    transparency)."""
    return [spinner(GIF_SIZE, step, GIF_FRAMES, 4.5, on_white=True) for step in range(GIF_FRAMES)]


GIF_NAME = "ic_spinner.gif"
GIF_SIZE = 48
GIF_FRAME_MS = 1000 // GIF_FRAMES
