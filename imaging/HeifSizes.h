#pragma once

#include <QByteArray>

// libheif 1.15 does not size the pictures it decodes by the size a HEIF file gives for its
// image (the ispe box), which is all it lets us see: it makes a grid or an overlay as large
// as the grid's or the overlay's own description says, and an HEVC picture as large as the
// stream's sequence parameter set says. A few hundred bytes can thus ask for gigabytes. These
// sizes are read here from the file itself before libheif decodes anything.

// An HEVC picture is coded in whole blocks of up to 64 x 64 pixels, so its coded size may
// exceed the image it holds by that much on each side.
constexpr int HevcCodingPadding = 64;

// Checks every picture that decoding the primary image would make (the image, its alpha
// image, the canvas of a grid or overlay, and every HEVC picture in them, by the sequence
// parameter sets of their configuration and of their data): one larger than
// MaxPicturePixels throws the "too large" message. Returns false when one is larger than
// the image says it is (by more than HevcCodingPadding), or when the structure cannot be
// read; such a file is refused as unreadable.
bool HeifSizesHold(const QByteArray &file);
