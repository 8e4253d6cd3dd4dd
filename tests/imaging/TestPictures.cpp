#include "TestPictures.h"

#include <QRandomGenerator>
#include <QTransform>

QImage RandomPicture(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage picture(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3 * width; ++x)
            picture.scanLine(y)[x] = uchar(random.bounded(256));
    return picture;
}

QImage TurnedByQt(const QImage &picture, int exif, bool back)
{
    if (back && (exif == 6 || exif == 8))
        exif = 14 - exif; // a quarter turn undoes the other; the rest undo themselves
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    const QImage mirrored = exif == 2 || exif == 5 || exif == 7 ? rgb.mirrored(true, false) : rgb;
    const int degrees[] = {0, 0, 0, 180, 0, 270, 90, 90, 270};
    const QImage turned = mirrored.transformed(QTransform().rotate(degrees[exif]));
    return (exif == 4 ? turned.mirrored(false, true) : turned).convertToFormat(QImage::Format_BGR888);
}
