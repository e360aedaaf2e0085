#!/usr/bin/python3
"""Makes the three UI fonts of Lumora, family "Arvel Sans" in the styles
Regular, Medium and Bold, from Debian's fonts-roboto-unhinted (Apache License
2.0) by renaming them. Run it from anywhere; it writes resources/fonts/.

    scripts/make-fonts.py [source-folder]
"""

import pathlib
import sys

from fontTools.ttLib import TTFont

SOURCE = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                      "/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF")
TARGET = pathlib.Path(__file__).resolve().parent.parent / "resources" / "fonts"

FAMILY = "Arvel Sans"
STYLES = ("Regular", "Medium", "Bold")


def rename(font: TTFont, style: str) -> None:
    names = {
        1: FAMILY,                                   # family
        2: style,                                    # subfamily
        3: f"{FAMILY} {style}",                      # unique identifier
        4: f"{FAMILY} {style}",                      # full name
        6: f"ArvelSans-{style}",                     # PostScript name
        16: FAMILY,                                  # typographic family
        17: style,                                   # typographic subfamily
    }
    table = font["name"]
    # Drop every old naming record of these kinds (all platforms and
    # languages) and the trademark notice of the original name.
    table.names = [record for record in table.names if record.nameID not in names and record.nameID != 7]
    for name_id, text in names.items():
        table.setName(text, name_id, 3, 1, 0x409)   # Windows, Unicode BMP, English (US)
        table.setName(text, name_id, 1, 0, 0)       # Macintosh, Roman, English
    # The weight class stays (400, 500, 700); so does everything else.


def main() -> int:
    TARGET.mkdir(parents=True, exist_ok=True)
    for style in STYLES:
        source = SOURCE / f"Roboto-{style}.ttf"
        font = TTFont(str(source), recalcTimestamp=False)
        rename(font, style)
        target = TARGET / f"ArvelSans-{style}.ttf"
        font.save(str(target))
        print(f"{source} -> {target}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
