#!/usr/bin/python3
"""What LittleCMS makes of a picture through a colour profile, as Pillow's ImageCms converts it:

    lcms_reference.py PICTURE PROFILE OUT

PICTURE is read by Pillow (a CMYK JPEG as its inks, Adobe's inverted ones turned back),
converted to sRGB with the profile's own rendering intent, or perceptual where the profile
has no table for it, and written to OUT as raw bytes: red, green and blue of each pixel.
"""
import sys

from PIL import Image, ImageChops, ImageCms

PERCEPTUAL, INPUT = 0, 0

picture, profile, out = sys.argv[1:]
source = ImageCms.getOpenProfile(profile)
intent = source.profile.rendering_intent
if intent > 3 or ImageCms.isIntentSupported(source, intent, INPUT) != 1:
    intent = PERCEPTUAL
image = Image.open(picture)
# Pillow takes the inks of every CMYK JPEG as inverted, as Adobe's programs write them; a
# file without Adobe's segment holds plain inks, as kelvo reads it.
if image.mode == "CMYK" and "adobe" not in image.info:
    image = ImageChops.invert(image)
converted = ImageCms.profileToProfile(image, source, ImageCms.createProfile("sRGB"),
                                      renderingIntent=intent, outputMode="RGB")
with open(out, "wb") as f:
    f.write(converted.tobytes())
