#!/usr/bin/python3
"""Renders the pictures of Lumora's user interface from their drawing code
(resources/icons/src/lumora_icons.py) into resources/icons/, and lists them
in resources/icons.qrc under the prefix /icons.

    scripts/make-icons.py                render the pictures and write the list
    scripts/make-icons.py --check        render into a temporary folder and
                                         report every file that differs from
                                         the one in resources/icons/
    scripts/make-icons.py --sheet DIR    also write a contact sheet (two PNG
                                         pages): every picture at 1:1 and
                                         enlarged, on light and dark ground
    scripts/make-icons.py --svg DIR      also keep the SVG documents in DIR

Needs rsvg-convert (librsvg2-bin), Pillow (python3-pil) and fontTools
(python3-fonttools); scripts/install-deps.sh installs them. The same drawing
code and the same packages give the same bytes: rsvg-convert draws each SVG,
Pillow stores it as an 8-bit RGBA PNG without any time or text chunk, and the
GIF's palette is built from its frames alone.
"""

import argparse
import concurrent.futures
import filecmp
import io
import pathlib
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw, ImageFont

ROOT = pathlib.Path(__file__).resolve().parent.parent
RESOURCES = ROOT / "resources"
ICONS = RESOURCES / "icons"
sys.path.insert(0, str(ICONS / "src"))
sys.dont_write_bytecode = True  # no __pycache__ beside the drawing code

import lumora_icons  # noqa: E402  (found through the path set above)


def render_svg(document, width, height):
    """The SVG document drawn at width x height, as an RGBA image."""
    result = subprocess.run(["rsvg-convert", "--format", "png", "--width", str(width), "--height", str(height)],
                            input=document.encode("utf-8"), capture_output=True, check=True)
    image = Image.open(io.BytesIO(result.stdout))
    image.load()
    if image.size != (width, height):
        raise RuntimeError(f"rsvg-convert drew {image.size}, not {width} x {height}")
    return image.convert("RGBA")


def png_bytes(image):
    out = io.BytesIO()
    image.save(out, format="PNG", optimize=False, compress_level=9)
    return out.getvalue()


def gif_bytes(frames, frame_ms):
    """An endlessly looping GIF of opaque frames that share one palette."""
    rgb = [frame.convert("RGB") for frame in frames]
    strip = Image.new("RGB", (rgb[0].width, rgb[0].height * len(rgb)))
    for i, frame in enumerate(rgb):
        strip.paste(frame, (0, i * frame.height))
    palette = strip.quantize(colors=64, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    indexed = [frame.quantize(palette=palette, dither=Image.Dither.NONE) for frame in rgb]
    out = io.BytesIO()
    indexed[0].save(out, format="GIF", save_all=True, append_images=indexed[1:], duration=frame_ms, loop=0,
                    disposal=1, optimize=False)
    return out.getvalue()


def render_all(target, svg_dir=None):
    """Writes every picture below `target`; returns the written names in
    catalogue order, with the rendered images."""
    pictures = lumora_icons.catalogue()
    gif_docs = lumora_icons.gif_frames()
    if svg_dir:
        for name, _, _, doc in pictures:
            (svg_dir / name).with_suffix(".svg").parent.mkdir(parents=True, exist_ok=True)
            (svg_dir / name).with_suffix(".svg").write_text(doc, encoding="utf-8")
        for i, doc in enumerate(gif_docs):
            (svg_dir / f"ic_spinner_gif_{i}.svg").write_text(doc, encoding="utf-8")

    with concurrent.futures.ThreadPoolExecutor() as pool:
        images = list(pool.map(lambda p: render_svg(p[3], p[1], p[2]), pictures))
        size = lumora_icons.GIF_SIZE
        gif_images = list(pool.map(lambda doc: render_svg(doc, size, size), gif_docs))

    rendered = {}
    for (name, _, _, _), image in zip(pictures, images):
        path = target / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(png_bytes(image))
        rendered[name] = image
    (target / lumora_icons.GIF_NAME).write_bytes(gif_bytes(gif_images, lumora_icons.GIF_FRAME_MS))
    rendered[lumora_icons.GIF_NAME] = gif_images[0].convert("RGBA")
    return rendered


def write_qrc(names):
    lines = ['<!DOCTYPE RCC>', '<RCC version="1.0">',
             '  <!-- Written by scripts/make-icons.py; edit the drawing code, not this list. -->',
             '  <qresource prefix="/icons">']
    lines += [f'    <file alias="{name}">icons/{name}</file>' for name in names]
    lines += ['  </qresource>', '</RCC>', '']
    (RESOURCES / "icons.qrc").write_text("\n".join(lines), encoding="utf-8")


def remove_stale(names):
    """Deletes rendered files that the catalogue no longer names."""
    keep = {ICONS / name for name in names}
    for path in sorted(ICONS.rglob("*")):
        if path.suffix in (".png", ".gif") and "src" not in path.relative_to(ICONS).parts and path not in keep:
            print(f"removing {path.relative_to(ROOT)}")
            path.unlink()


def zoom_for(image):
    """4:1 for icons, 2:1 for the logos, 1:1 for the window icon."""
    return 4 if max(image.size) <= 64 else 2 if max(image.size) <= 128 or image.height <= 70 else 1


def tile(image, zoom, ground):
    big = image.resize((image.width * zoom, image.height * zoom), Image.Resampling.NEAREST)
    cell = Image.new("RGBA", (big.width + 12, big.height + 12), ground)
    cell.alpha_composite(big, (6, 6))
    return cell


def flow(blocks, width, background=(236, 236, 238, 255)):
    """Lays the blocks out left to right in lines no wider than `width`."""
    lines, line, line_width = [], [], 0
    for block in blocks:
        if line and line_width + block.width > width:
            lines.append(line)
            line, line_width = [], 0
        line.append(block)
        line_width += block.width + 10
    lines.append(line)
    height = sum(max(b.height for b in line) + 10 for line in lines)
    page = Image.new("RGBA", (width, height), background)
    y = 0
    for line in lines:
        x = 0
        for block in line:
            page.paste(block, (x, y))
            x += block.width + 10
        y += max(b.height for b in line) + 10
    return page


def contact_sheet(rendered, folder):
    """Writes two pages to `folder`: stills.png, every single picture at 1:1
    and enlarged (pixels kept square) on a white and on a dark ground, and
    frames.png, every frame set at 1:1 and 2:1 on both grounds."""
    folder.mkdir(parents=True, exist_ok=True)
    label_font = ImageFont.truetype(str(RESOURCES / "fonts" / "ArvelSans-Regular.ttf"), 11)
    light, dark = (255, 255, 255, 255), (43, 43, 46, 255)

    def labelled(name, cells):
        width = max(sum(c.width for c in cells), 140)
        block = Image.new("RGBA", (width, max(c.height for c in cells) + 16), (236, 236, 238, 255))
        ImageDraw.Draw(block).text((2, 1), name, fill=(0, 0, 0, 255), font=label_font)
        x = 0
        for cell in cells:
            block.paste(cell, (x, 16))
            x += cell.width
        return block

    sets = {}
    stills = []
    for name, image in rendered.items():
        stem = name.rsplit("_", 1)[0]
        if "/" in name and not name.startswith("PNG/"):
            sets.setdefault(stem, []).append(image)
        else:
            zoom = zoom_for(image)
            stills.append(labelled(name, [tile(image, 1, light), tile(image, zoom, light),
                                          tile(image, 1, dark), tile(image, zoom, dark)]))
    flow(stills, 1900).save(folder / "stills.png")

    strips = []
    for stem, frames in sets.items():
        for zoom in (1, 4 if frames[0].width <= 20 else 2):
            for ground in (light, dark):
                cells = [tile(frame, zoom, ground) for frame in frames]
                strips.append(labelled(f"{stem} {zoom}:1", cells))
    flow(strips, max(s.width for s in strips)).save(folder / "frames.png")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="compare a fresh rendering with resources/icons/")
    parser.add_argument("--sheet", type=pathlib.Path, help="write the contact sheet pages into this folder")
    parser.add_argument("--svg", type=pathlib.Path, help="keep the SVG documents in this folder")
    args = parser.parse_args()

    if args.check:
        with tempfile.TemporaryDirectory() as folder:
            target = pathlib.Path(folder)
            rendered = render_all(target, args.svg)
            differing = [name for name in rendered
                         if not (ICONS / name).exists() or not filecmp.cmp(target / name, ICONS / name, shallow=False)]
        for name in differing:
            print(f"differs: resources/icons/{name}")
        print(f"{len(rendered) - len(differing)} of {len(rendered)} pictures are as committed")
        if args.sheet:
            contact_sheet(rendered, args.sheet)
        return 1 if differing else 0

    rendered = render_all(ICONS, args.svg)
    remove_stale(rendered)
    write_qrc(list(rendered))
    print(f"wrote {len(rendered)} pictures to {ICONS.relative_to(ROOT)} and resources/icons.qrc")
    if args.sheet:
        contact_sheet(rendered, args.sheet)
        print(f"wrote the contact sheet to {args.sheet}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
