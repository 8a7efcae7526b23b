#!/usr/bin/python3
"""Puts an operator's own artwork into the launcher's resources.

    tools/import_artwork.py --background PICTURE [--icon SQUARE_PICTURE] [--out DIR]

PICTURE (any format ImageMagick reads) is scaled to cover 780 x 440 and
centre-cropped, then written as resources/background.bmp in the exact form
the launcher loads (24-bit, uncompressed, bottom-up, 96 dpi). The icon
picture, ideally square with transparency, becomes resources/orvel.ico with
its seven PNG sizes from 16 to 256 pixels. Rebuild the launcher afterwards.
Keep the upper-left area for your logo, the left middle calm for the news and
the bottom 94 rows plain: the launcher draws its panel there.
"""

import argparse
import os
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_artwork  # noqa: E402  (shares the exact BMP and PNG writers)

CONVERT = "/usr/bin/convert"


def rawPixels(picture, geometry, channels):
    """The picture scaled to cover geometry and centre-cropped, as raw bytes."""
    args = [CONVERT, picture, "-resize", geometry + "^", "-gravity", "center", "-extent", geometry,
            "-depth", "8", channels + ":-"]
    if channels == "rgba":
        args[2:2] = ["-background", "none"]
    return subprocess.run(args, check=True, capture_output=True).stdout


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--background", required=True)
    parser.add_argument("--icon")
    parser.add_argument("--out", default=make_artwork.RESOURCES)
    options = parser.parse_args()

    width, height = make_artwork.WIDTH, make_artwork.HEIGHT
    rgb = rawPixels(options.background, "%dx%d" % (width, height), "rgb")
    make_artwork.writeFile(os.path.join(options.out, "background.bmp"), make_artwork.bmpBytes(rgb))

    if options.icon:
        images = [make_artwork.pngBytes(size, size, rawPixels(options.icon, "%dx%d" % (size, size), "rgba"))
                  for size in make_artwork.ICON_SIZES]
        make_artwork.writeFile(os.path.join(options.out, "orvel.ico"), make_artwork.icoFile(images))
    return 0


if __name__ == "__main__":
    sys.exit(main())
