// JPEG decoding and encoding through libjpeg. The library reports a fatal error by
// calling error_exit, which must not return; ours jumps back into the one narrow
// function that runs the library's call sequence. Those functions keep all of their
// state in a plain struct of the caller and own nothing with a destructor, so the jump
// skips no C++ clean-up; the caller turns the library's message code into an Exception
// after the jump.
#include "imaging/Pipeline.h"

#include "imaging/ColourProfile.h"
#include "imaging/JpegFailure.h"
#include "imaging/Orientation.h"
#include "imaging/Picture.h"
#include "imaging/SmoothStretch.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include <jerror.h>
#include <jpeglib.h>

namespace {

struct JpegErrors
{
    jpeg_error_mgr pub; // first: libjpeg hands us a pointer to it
    std::jmp_buf jump;
    int code;
    int parameter;      // the first number of the code's message
    bool junkBeforeEnd; // bytes were skipped right before the end-of-image marker
};

[[noreturn]] void JumpBack(j_common_ptr cinfo)
{
    auto *errors = reinterpret_cast<JpegErrors *>(cinfo->err);
    errors->code = cinfo->err->msg_code;
    errors->parameter = cinfo->err->msg_parm.i[0];
    std::longjmp(errors->jump, 1);
}

// Warnings are corrupt data that libjpeg papered over. A file cut short is decoded to the
// end with the missing part filled in grey, and a damaged entropy segment leaves wrong
// blocks: mailing such a half picture without a word would be a failure reported as
// success, so these count as errors. Warnings that lose no picture data (junk bytes
// between markers, an unknown JFIF revision or Adobe transform, a bad ICC marker) are
// common in camera files whose picture is perfectly fine, and are let through.
bool LosesPictureData(int code)
{
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_NOT_SEQUENTIAL:
        return true;
    default:
        return false;
    }
}

void OnMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return; // trace messages
    if (LosesPictureData(cinfo->err->msg_code))
        JumpBack(cinfo);
    if (cinfo->err->msg_code == JWRN_EXTRANEOUS_DATA && cinfo->err->msg_parm.i[1] == JPEG_EOI)
        reinterpret_cast<JpegErrors *>(cinfo->err)->junkBeforeEnd = true;
    cinfo->err->num_warnings++;
}

void Silent(j_common_ptr)
{}

void InstallErrors(JpegErrors &errors)
{
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = JumpBack;
    errors.pub.emit_message = OnMessage;
    errors.pub.output_message = Silent;
    errors.code = 0;
    errors.parameter = 0;
    errors.junkBeforeEnd = false;
}

// Rows handed to libjpeg per call: enough for its widest row group.
constexpr int RowBatch = 16;

// Each scan of a file of several scans runs over the whole picture, so their number
// bounds the time a file may take: a progressive file of any encoder has about ten, while
// a few kilobytes of empty scans could hold a 200-megapixel picture for minutes.
constexpr int MostScans = 100;

void CountScans(j_common_ptr cinfo)
{
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MostScans) {
        auto *errors = reinterpret_cast<JpegErrors *>(cinfo->err);
        errors->code = JpegTooManyScans;
        std::longjmp(errors->jump, 1);
    }
}

enum class Outcome { Done, LibraryError, TooLarge, NoMemory };

struct DecodeJob
{
    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    jpeg_progress_mgr progress;
    const unsigned char *data;
    unsigned long size; // the file and an end-of-image marker put after it
    // A picture of inks is held as two: cyan, magenta and yellow in the three bytes of
    // picture's pixels, black in those of black's, so that each goes through the fit as a
    // picture of colours would.
    QImage *picture, *black; // made by Allocate once the size is known, unless the rows are streamed
    int fitTo;               // the dots of the fit that the rows may be streamed into, or 0
    std::unique_ptr<StreamingStretch> *streamed, *streamedBlack; // set up by Allocate when they are
    unsigned width, height;
    double bytesPerPixel; // what decoding holds of the picture, the file aside
    int exifOrientation;
    JOCTET *icc; // the colour profile, malloc'ed by libjpeg; the caller frees it
    unsigned iccSize;
    bool inks, invertedInks, grey;
    bool multipleScans;
    unsigned long consumed; // up to and with the end-of-image marker the decoder stopped at
};

// Runs outside the jump's reach: it returns before libjpeg is called again. A fit that
// shrinks a file of one scan takes its rows as they are decoded. A file of several scans
// (progressive) is not streamed: libjpeg holds every coefficient of the picture until its
// last scan, so streaming would save little, and its rows are only known to be whole once
// the decoder has stopped. A fit that enlarges needs the whole picture.
Outcome Allocate(DecodeJob *job)
{
    const qint64 w = job->width, h = job->height;
    // The picture at 3 bytes a pixel (inks: 6, the colours and the black beside them) and, for several scans, libjpeg's
    // buffer of every coefficient (a block of 64 two-byte ones for each 8 x 8 block of each component).
    qint64 coefficients = 0;
    for (int c = 0; job->multipleScans && c < job->cinfo.num_components; ++c)
        coefficients += qint64(job->cinfo.comp_info[c].width_in_blocks) * job->cinfo.comp_info[c].height_in_blocks *
                        qint64(sizeof(JBLOCK));
    job->bytesPerPixel = (job->inks ? 6 : 3) + (w > 0 && h > 0 ? double(coefficients) / double(w * h) : 0);
    if (w < 1 || h < 1 || w * h > MaxPicturePixels || double(w * h) * job->bytesPerPixel > double(MaxDecodeBytes))
        return Outcome::TooLarge;
    try {
        if (job->fitTo > 0 && !job->multipleScans) {
            const Orientation turn = FromExif(job->exifOrientation);
            const QSize stored{int(w), int(h)};
            const QSize fitted = FittedSize(stored, job->fitTo, turn);
            *job->streamed = StreamingStretch::Start(stored, fitted.width(), fitted.height(), turn);
            if (*job->streamed && job->inks)
                *job->streamedBlack = StreamingStretch::Start(stored, fitted.width(), fitted.height(), turn);
            if (*job->streamed)
                return Outcome::Done;
        }
        *job->picture = QImage(int(w), int(h), QImage::Format_BGR888);
        if (job->inks)
            *job->black = QImage(int(w), int(h), QImage::Format_BGR888);
    } catch (...) {
        return Outcome::NoMemory;
    }
    return job->picture->isNull() || (job->inks && job->black->isNull()) ? Outcome::NoMemory : Outcome::Done;
}

// A row of inks into the two pictures that hold them (DecodeJob).
void SplitInks(const JSAMPLE *inks, uchar *cyanMagentaYellow, uchar *black, unsigned width)
{
    for (unsigned x = 0; x < width; ++x, inks += 4, cyanMagentaYellow += 3, black += 3) {
        std::memcpy(cyanMagentaYellow, inks, 3);
        std::memset(black, inks[3], 3);
    }
}

// Where decoded rows go, top row first: straight into a picture, or a band at a time into
// a buffer of libjpeg's (freed with the decoder, also when it fails) and from there into
// the fit.
struct RowSink
{
    QImage *picture = nullptr;
    StreamingStretch *streamed = nullptr;
    JSAMPARRAY band = nullptr;

    uchar *Row(unsigned y, unsigned k) const { return streamed ? band[k] : picture->scanLine(int(y + k)); }
    void Take(unsigned k) const
    {
        if (streamed)
            streamed->AddRow(band[k]);
    }
};

void ReadRows(DecodeJob *job)
{
    jpeg_decompress_struct &cinfo = job->cinfo;
    const bool cmyk = job->inks;
    const unsigned width = cinfo.output_width;
    const auto rowsOf = [&](unsigned bytes) {
        return (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, bytes, RowBatch);
    };
    const auto sinkOf = [&](QImage *picture, StreamingStretch *streamed) {
        return RowSink{picture, streamed, streamed ? rowsOf(width * 3) : nullptr};
    };
    const RowSink colours = sinkOf(job->picture, job->streamed->get());
    const RowSink black = cmyk ? sinkOf(job->black, job->streamedBlack->get()) : RowSink{};
    const JSAMPARRAY inks = cmyk ? rowsOf(width * 4) : nullptr;
    JSAMPROW rows[RowBatch];
    while (cinfo.output_scanline < cinfo.output_height) {
        const unsigned y = cinfo.output_scanline;
        const unsigned count = std::min<unsigned>(RowBatch, cinfo.output_height - y);
        for (unsigned k = 0; k < count; ++k)
            rows[k] = cmyk ? inks[k] : colours.Row(y, k);
        const unsigned got = jpeg_read_scanlines(&cinfo, rows, count);
        if (got == 0)
            ERREXIT(&cinfo, JERR_BAD_STATE);
        for (unsigned k = 0; k < got; ++k) {
            if (cmyk) {
                SplitInks(inks[k], colours.Row(y, k), black.Row(y, k), width);
                black.Take(k);
            }
            colours.Take(k);
        }
    }
}

Outcome RunDecode(DecodeJob *job)
{
    jpeg_decompress_struct &cinfo = job->cinfo;
    cinfo.err = &job->errors.pub;
    InstallErrors(job->errors);
    if (setjmp(job->errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return Outcome::LibraryError;
    }
    jpeg_create_decompress(&cinfo);
    job->progress.progress_monitor = CountScans;
    cinfo.progress = &job->progress;
    jpeg_mem_src(&cinfo, job->data, job->size);
    // The EXIF block is kept whole (a segment holds at most 64 KB) for its orientation,
    // and the colour profile, which may span several segments.
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);
    job->multipleScans = jpeg_has_multiple_scans(&cinfo);
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
            job->exifOrientation = ReadExifOrientation(m->data, m->data_length);
            break;
        }
    job->inks = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    // Adobe's programs write inks inverted and mark the file with their segment.
    job->invertedInks = cinfo.saw_Adobe_marker;
    job->grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    jpeg_read_icc_profile(&cinfo, &job->icc, &job->iccSize);
    cinfo.out_color_space = job->inks ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_calc_output_dimensions(&cinfo);
    job->width = cinfo.output_width;
    job->height = cinfo.output_height;
    // Refuse an absurd size from the header before libjpeg sets up its own buffers.
    const Outcome allocated = Allocate(job);
    if (allocated != Outcome::Done) {
        jpeg_destroy_decompress(&cinfo);
        return allocated;
    }
    jpeg_start_decompress(&cinfo);
    ReadRows(job);
    jpeg_finish_decompress(&cinfo);
    job->consumed = static_cast<unsigned long>(cinfo.src->next_input_byte - job->data);
    jpeg_destroy_decompress(&cinfo);
    return Outcome::Done;
}

struct EncodeJob
{
    jpeg_compress_struct cinfo;
    JpegErrors errors;
    const uchar *bits;
    qsizetype stride;
    int width, height, quality;
    unsigned char *out; // malloc'ed by libjpeg; the caller frees it
    unsigned long outSize;
};

bool RunEncode(EncodeJob *job)
{
    jpeg_compress_struct &cinfo = job->cinfo;
    cinfo.err = &job->errors.pub;
    InstallErrors(job->errors);
    if (setjmp(job->errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &job->out, &job->outSize);
    cinfo.image_width = job->width;
    cinfo.image_height = job->height;
    // Three-component RGB input whose third byte is red: the B,G,R rows go in unchanged.
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, job->quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[RowBatch];
    while (cinfo.next_scanline < cinfo.image_height) {
        const unsigned y = cinfo.next_scanline;
        const unsigned count = std::min<unsigned>(RowBatch, cinfo.image_height - y);
        for (unsigned k = 0; k < count; ++k)
            rows[k] = const_cast<uchar *>(job->bits + (y + k) * job->stride);
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// The message of an encoder that fails (it runs out of memory, nothing else).
[[noreturn]] void ThrowJpegError(int code)
{
    throw Exception(QCoreApplication::translate("Picture", "JPEG エラー #%1").arg(code));
}

// What a decode writes into, owned here and named by the job.
struct DecodeTargets
{
    QImage picture, black;
    std::unique_ptr<StreamingStretch> streamed, streamedBlack;
};

// The picture of inks (ColourProfile::HoldsInks) of the two that hold them.
QImage JoinedInks(const QImage &cyanMagentaYellow, const QImage &black)
{
    QImage inks = NewPicture(black.width(), black.height(), QImage::Format_RGBA8888);
    for (int y = 0; y < inks.height(); ++y) {
        const uchar *s = cyanMagentaYellow.constScanLine(y), *k = black.constScanLine(y);
        uchar *d = inks.scanLine(y);
        for (int x = 0; x < inks.width(); ++x, s += 3, k += 3, d += 4) {
            std::memcpy(d, s, 3);
            d[3] = k[0];
        }
    }
    return inks;
}

// The picture of a decode that ran to its end: fitted (from the stream, or whole) when a
// fit was asked for, its inks joined into one picture.
QImage Finished(const DecodeJob &job, DecodeTargets &targets, std::optional<int> fitTo)
{
    const Orientation turn = FromExif(job.exifOrientation);
    if (targets.streamed) {
        targets.picture = targets.streamed->Finish();
        if (job.inks)
            targets.black = targets.streamedBlack->Finish();
    } else if (fitTo) {
        FitToSize(targets.picture, *fitTo, turn);
        if (job.inks)
            FitToSize(targets.black, *fitTo, turn);
    }
    return job.inks ? JoinedInks(targets.picture, targets.black) : targets.picture;
}

// The colours the file describes, for a picture of its kind.
ColourProfile ColoursOf(const DecodeJob &job, const QByteArray &icc)
{
    if (job.inks)
        return ColourProfile::ForInks(icc, job.invertedInks);
    if (icc.isEmpty())
        return {};
    return ColourProfile::FromIcc(icc, job.grey ? ColourModel::Grey : ColourModel::Rgb).value_or(ColourProfile());
}

// What a decode is asked for besides the file: where its failures name it (path), the
// turn and colours it reports, and the dots of a fit.
struct DecodeRequest
{
    QString path;
    Orientation *turn = nullptr;
    ColourProfile *colours = nullptr;
    std::optional<int> fitTo;
};

// Some writers leave out the end-of-image marker after complete picture data, and libjpeg
// would report the missing marker as data ending early; so one is always put after the
// file, in the two bytes of room that withRoom has after its fileSize bytes, and where
// the decoder stopped then tells a whole file from one cut short. With fitTo, the picture
// comes fitted to that many dots, upright.
QImage Decode(QByteArray &withRoom, qsizetype fileSize, const DecodeRequest &request)
{
    withRoom[fileSize] = char(0xFF);
    withRoom[fileSize + 1] = char(JPEG_EOI);
    DecodeTargets targets;
    DecodeJob job{};
    job.data = reinterpret_cast<const uchar *>(withRoom.constData());
    job.size = fileSize > 0 ? static_cast<unsigned long>(fileSize + 2) : 0;
    job.picture = &targets.picture;
    job.black = &targets.black;
    job.fitTo = std::max(request.fitTo.value_or(0), 0);
    job.streamed = &targets.streamed;
    job.streamedBlack = &targets.streamedBlack;
    job.exifOrientation = 1;
    const Outcome outcome = RunDecode(&job);
    const QByteArray icc(reinterpret_cast<const char *>(job.icc), job.icc ? job.iccSize : 0);
    std::free(job.icc);
    const QByteArray start = withRoom.left(std::min<qsizetype>(fileSize, 16));
    switch (outcome) {
    case Outcome::Done:
        // A file of one sequential scan is whole when that scan is: it meets the marker
        // put back too soon if it was cut. One of several scans (progressive) cut between
        // two of them decodes as a picture with less detail or with components left grey,
        // so it must end at its own marker: not the one put back, nor one that follows
        // skipped bytes when more of the file comes after it (a cut file with a trailer;
        // a whole one's last scan ends right at its marker, with or without a trailer
        // such as a CR LF, a vendor block or a video after it).
        if (job.multipleScans && (job.consumed > static_cast<unsigned long>(fileSize) ||
                                  (job.consumed < static_cast<unsigned long>(fileSize) && job.errors.junkBeforeEnd)))
            throw Exception(JpegFailureText(request.path, start, JWRN_JPEG_EOF, 0));
        if (request.turn)
            *request.turn = FromExif(job.exifOrientation);
        if (request.colours)
            *request.colours = ColoursOf(job, icc);
        return Finished(job, targets, request.fitTo);
    case Outcome::LibraryError:
        throw Exception(JpegFailureText(request.path, start, job.errors.code,
                                        job.errors.code == JpegTooManyScans ? MostScans : job.errors.parameter));
    case Outcome::TooLarge:
        CheckPictureSize(job.width, job.height, job.bytesPerPixel);
        break;
    case Outcome::NoMemory:
        break;
    }
    ThrowNoMemory(job.width, job.height);
}

// The file followed by the two bytes of room that Decode needs. One that does not start
// with the start-of-image marker and another marker is refused unread, in the sentence
// that says how it starts.
QByteArray ReadWithRoom(const QString &path)
{
    QFile file;
    OpenPicture(file, path);
    const QByteArray start = file.peek(16);
    if (!start.startsWith("\xFF\xD8\xFF"))
        throw Exception(JpegFailureText(path, start, start.isEmpty() ? JERR_INPUT_EMPTY : JERR_NO_SOI, 0));
    const QString unreadable = QCoreApplication::translate("Picture", "ファイル %1 を読み込めません。").arg(path);
    return ReadOpenedPicture(file, unreadable, 2);
}

} // namespace

QImage DecodeJpeg(const QByteArray &bytes, Orientation *turn, ColourProfile *colours)
{
    QByteArray withRoom = bytes + QByteArray(2, '\0');
    return Decode(withRoom, bytes.size(), {QStringLiteral("JPEG"), turn, colours, {}});
}

QImage LoadJpeg(const QString &path, Orientation *turn, ColourProfile *colours)
{
    QByteArray withRoom = ReadWithRoom(path);
    return Decode(withRoom, withRoom.size() - 2, {path, turn, colours, {}});
}

QImage LoadFittedJpeg(const QString &path, int n, ColourProfile *colours)
{
    QByteArray withRoom = ReadWithRoom(path);
    return Decode(withRoom, withRoom.size() - 2, {path, nullptr, colours, n});
}

QByteArray EncodeJpeg(const QImage &picture, int quality)
{
    if (picture.isNull())
        return QByteArray();
    // A grey picture is widened here (red = green = blue = level) and still written as
    // three components.
    const QImage bgr = To24Bit(picture);
    EncodeJob job{};
    job.bits = bgr.constBits();
    job.stride = bgr.bytesPerLine();
    job.width = bgr.width();
    job.height = bgr.height();
    job.quality = quality;
    const bool done = RunEncode(&job);
    if (!done) {
        // No free here: once libjpeg's memory destination has grown its buffer, job.out
        // still names the first one, which it has already freed; the buffer it was
        // growing is lost with the failed encode (an out-of-memory path).
        ThrowJpegError(job.errors.code);
    }
    QByteArray bytes(reinterpret_cast<const char *>(job.out), qsizetype(job.outSize));
    std::free(job.out);
    return bytes;
}
