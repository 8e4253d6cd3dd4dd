#pragma once

#include <QByteArray>
#include <QString>

// Why a JPEG file cannot be read, in the sentence the user reads: libjpeg's message codes
// come to a handful of reasons (not a JPEG at all, empty, cut short, damaged, a form of
// JPEG kelvo does not read, too large, out of memory), told once, in one table.

// The code a file of too many scans fails with, beside libjpeg's own (which are never
// negative); its parameter is the most scans read.
constexpr int JpegTooManyScans = -1;

// The sentence for a file that is not a JPEG picture, showing how it starts (start holds
// its first 16 bytes, or all of a shorter file): as text when they read as text, else the
// first eight in hexadecimal.
QString NotJpegText(const QString &path, const QByteArray &start);

// The sentence for libjpeg's message code and the first number of its message, on the
// file at path, which starts with start.
QString JpegFailureText(const QString &path, const QByteArray &start, int code, int parameter);
