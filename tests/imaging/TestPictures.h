#pragma once

#include "platform/Exception.h"
#include "support/Failure.h"
#include "support/Printers.h"

#include <QImage>

// Pictures made on the spot for the imaging tests, so that no picture files are kept.
QImage RandomPicture(int width, int height, quint32 seed);

// The picture of EXIF orientation 1..8 turned upright by Qt, as the tag's meaning says;
// with back, the picture a camera stores for that orientation of an upright one.
QImage TurnedByQt(const QImage &picture, int exif, bool back = false);
