#include "TestPictures.h"

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What a drop did before the rows were fitted as they came.
QImage DecodedWholeThenFitted(const QString &path, int n)
{
    Orientation turn;
    QImage picture = LoadJpeg(path, &turn);
    FitToSize(picture, n, turn);
    return picture;
}

// A file cut, or with an end marker, in its rows fails as it did decoded whole. Spans of 1 to 60
// rows across libjpeg's bands of 8 or 16, a row or a column alone, odd widths and enlargements,
// in the forms libjpeg decodes differently and in every orientation, give the same bytes.
TEST(FitWhileDecoding, SameBytesAndFailuresAsTheWholePicture)
{
    TestFolder folder;
    const QString path = "p.jpg";
    const QByteArray jpeg = WriteTestJpeg(RandomPicture(300, 200, 4), JpegForm::Baseline);
    const qsizetype scan = jpeg.indexOf("\xFF\xDA");
    for (int eighth = 1; eighth < 8; ++eighth) {
        const qsizetype at = scan + (jpeg.size() - scan) * eighth / 8;
        for (const QByteArray &bytes : {jpeg.left(at), QByteArray(jpeg).insert(at, "\xFF\xD9")}) {
            folder.Write("p.jpg", bytes);
            const QString message = FailureOf([&] { LoadFittedJpeg(path, 20); });
            EXPECT_TRUE(message.startsWith("JPEG エラー #")) << at << ": " << message.toStdString();
            EXPECT_EQ(message, FailureOf([&] { DecodedWholeThenFitted(path, 20); })) << at;
        }
    }

    const int sizes[][3] = {{64, 50, 3},  {50, 64, 3},  {300, 200, 5}, {101, 67, 95}, {37, 29, 20},
                            {200, 1, 95}, {1, 200, 95}, {333, 17, 95}, {40, 30, 95}};
    for (const auto &[w, h, n] : sizes)
        for (const JpegForm form :
             {JpegForm::Baseline, JpegForm::Full444, JpegForm::Greyscale, JpegForm::AdobeCmyk, JpegForm::Progressive})
            for (int exif = 1; exif <= 8; ++exif) {
                const QImage picture = RandomPicture(w, h, quint32(exif));
                folder.Write("p.jpg", WithApp1(WriteTestJpeg(picture, form), ExifBlock(exif)));
                ASSERT_EQ(LoadFittedJpeg(path, n), DecodedWholeThenFitted(path, n))
                    << w << "x" << h << " at " << n << ", form " << int(form) << ", orientation " << exif;
            }
}

// A 16000 x 2000 photo would take 96 MB decoded whole: dropped in a child process, its peak
// stays far below that. Cut in the middle of its rows, its drop fails and leaves nothing of
// what the fit had taken.
TEST(FitWhileDecoding, TheWholePictureIsNeverHeld)
{
    TestFolder folder;
    const QByteArray jpeg = WriteTestJpeg(SmoothPicture(16000, 16), JpegForm::Baseline, 90, 2000);
    folder.Write("big.jpg", jpeg);
    folder.Write("cut.jpg", jpeg.left(jpeg.size() / 2));

    const qint64 residentKilobytes =
        ReadFile("/proc/self/statm").split(' ').value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
    const pid_t child = fork();
    if (child == 0)
        _exit(LoadPicture("big.jpg", PictureFormat::Jpeg, 95).size() == QSize(95, 11) ? 0 : 1);
    int status = -1;
    rusage usage{};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_EQ(status, 0);
    EXPECT_LT(usage.ru_maxrss, residentKilobytes + 32 * 1024) << "kilobytes at the child's peak";

    const auto dropCut = [] { return FailureOf([] { LoadPicture("cut.jpg", PictureFormat::Jpeg, 95); }); };
    const auto heapBytes = [] { return qint64(mallinfo2().uordblks) + qint64(mallinfo2().hblkhd); };
    EXPECT_FALSE(dropCut().isEmpty());
    const qint64 before = heapBytes();
    for (int round = 0; round < 3; ++round)
        dropCut();
    EXPECT_LT(heapBytes() - before, 256 * 1024);
}

} // namespace
