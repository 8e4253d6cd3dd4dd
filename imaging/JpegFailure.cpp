#include "imaging/JpegFailure.h"

#include <QCoreApplication>

#include <jerror.h>
#include <jpeglib.h>

namespace {

enum class Reason {
    NotJpeg,
    Empty,
    CutShort,
    Damaged,
    Precision, // 12 or 16 bits a sample
    Process,   // lossless or hierarchical, by the frame's marker
    OtherForm, // a height given after the picture (DNL), or what this libjpeg was built without
    NoPicture, // tables alone
    TooWide,   // a side beyond libjpeg's limit
    NoMemory,
    TooManyScans,
};

struct CodeReason
{
    int Code;
    Reason Why;
};

// Every code libjpeg gives a decoder for a file, and kelvo's own for too many scans, by
// reason; any other code (a fault in the calling sequence, which kelvo does not make)
// counts as damage, with its number.
constexpr CodeReason Reasons[] = {
    {JERR_NO_SOI, Reason::NotJpeg},           {JERR_INPUT_EMPTY, Reason::Empty},
    {JWRN_JPEG_EOF, Reason::CutShort},        {JERR_INPUT_EOF, Reason::CutShort},
    {JERR_BAD_PRECISION, Reason::Precision},  {JERR_SOF_UNSUPPORTED, Reason::Process},
    {JERR_UNKNOWN_MARKER, Reason::Process}, // DHP and EXP of a hierarchical file; others are damage
    {JERR_EMPTY_IMAGE, Reason::OtherForm},    {JERR_ARITH_NOTIMPL, Reason::OtherForm},
    {JERR_NOT_COMPILED, Reason::OtherForm},   {JERR_NO_IMAGE, Reason::NoPicture},
    {JERR_IMAGE_TOO_BIG, Reason::TooWide},    {JERR_WIDTH_OVERFLOW, Reason::TooWide},
    {JERR_OUT_OF_MEMORY, Reason::NoMemory},   {JERR_NO_BACKING_STORE, Reason::NoMemory},
    {JERR_TFILE_CREATE, Reason::NoMemory},    {JERR_TFILE_READ, Reason::NoMemory},
    {JERR_TFILE_SEEK, Reason::NoMemory},      {JERR_TFILE_WRITE, Reason::NoMemory},
    {JpegTooManyScans, Reason::TooManyScans},
};

Reason ReasonOf(int code)
{
    for (const CodeReason &entry : Reasons)
        if (entry.Code == code)
            return entry.Why;
    return Reason::Damaged;
}

// Frame markers: lossless SOF3 and SOF11; the differential frames of a hierarchical file,
// and the markers (DHP, EXP) that only such a file has.
QString ProcessText(const QString &path, int marker, int code)
{
    if (marker == 0xC3 || marker == 0xCB)
        return QCoreApplication::translate(
                   "Picture", "%1 は可逆圧縮 (ロスレス) の JPEG 画像です。この形式は kelvo では読めません。")
            .arg(path);
    if ((marker >= 0xC5 && marker <= 0xC7) || (marker >= 0xCD && marker <= 0xCF) || marker == 0xDE || marker == 0xDF)
        return QCoreApplication::translate(
                   "Picture", "%1 は階層型 (ハイアラーキカル) の JPEG 画像です。この形式は kelvo では読めません。")
            .arg(path);
    if (code == JERR_UNKNOWN_MARKER)
        return QCoreApplication::translate("Picture", "JPEG ファイル %1 は壊れています (JPEG エラー #%2)。")
            .arg(path)
            .arg(code);
    return QCoreApplication::translate("Picture", "%1 は kelvo が読めない形式の JPEG 画像です (JPEG エラー #%2)。")
        .arg(path)
        .arg(code);
}

} // namespace

QString NotJpegText(const QString &path, const QByteArray &start)
{
    // Sixteen characters of text say what a file is; eight bytes of anything else do.
    const QByteArray text = start.left(16);
    bool readable = !text.isEmpty();
    for (const char c : text)
        readable &= (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r';
    const QString shown = readable ? '"' + QString::fromLatin1(text).simplified() + '"'
                                   : QString::fromLatin1(start.left(8).toHex(' ').toUpper());
    return QCoreApplication::translate("Picture", "ファイル %1 は JPEG 画像ではありません (先頭は %2)。")
        .arg(path, shown);
}

QString JpegFailureText(const QString &path, const QByteArray &start, int code, int parameter)
{
    switch (ReasonOf(code)) {
    case Reason::NotJpeg:
        return NotJpegText(path, start);
    case Reason::Empty:
        return QCoreApplication::translate("Picture", "ファイル %1 は空です (0 バイト)。").arg(path);
    case Reason::CutShort:
        return QCoreApplication::translate("Picture", "JPEG ファイル %1 は途中で切れています。").arg(path);
    case Reason::Precision:
        return QCoreApplication::translate(
                   "Picture", "%1 は %2 ビットの JPEG 画像です。kelvo が読めるのは 8 ビットの JPEG 画像だけです。")
            .arg(path)
            .arg(parameter);
    case Reason::Process:
        return ProcessText(path, parameter, code);
    case Reason::OtherForm:
        return QCoreApplication::translate("Picture", "%1 は kelvo が読めない形式の JPEG 画像です (JPEG エラー #%2)。")
            .arg(path)
            .arg(code);
    case Reason::NoPicture:
        return QCoreApplication::translate("Picture", "JPEG ファイル %1 には画像がありません。").arg(path);
    case Reason::TooWide:
        return QCoreApplication::translate(
                   "Picture", "JPEG ファイル %1 の画像は大きすぎます。読めるのは一辺 %2 ドットまでの画像です。")
            .arg(path)
            .arg(JPEG_MAX_DIMENSION);
    case Reason::NoMemory:
        return QCoreApplication::translate("Picture", "JPEG ファイル %1 を読み込むためのメモリを確保できません。")
            .arg(path);
    case Reason::TooManyScans:
        return QCoreApplication::translate("Picture",
                                           "この JPEG は %1 を超えるスキャンに分かれているため、読み込めません。")
            .arg(parameter);
    case Reason::Damaged:
        break;
    }
    return QCoreApplication::translate("Picture", "JPEG ファイル %1 は壊れています (JPEG エラー #%2)。")
        .arg(path)
        .arg(code);
}
