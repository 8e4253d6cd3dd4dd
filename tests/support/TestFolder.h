#pragma once

#include "platform/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The file's bytes; empty when it cannot be read.
inline QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the file, making the folders on the way.
inline void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
}

// A picture of w x h dots in one colour: a bitmap for a .bmp name, else a JPEG. Gives the path.
inline QString WritePicture(const QString &path, int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(qRgb(w % 256, h % 256, 120));
    EXPECT_TRUE(image.save(path, path.endsWith(".bmp") ? "BMP" : "JPEG"));
    return path;
}

// A fresh temporary folder that serves as the program's folder (kelvo.ini and the attachment file, in the portable
// layout that tests have unless they choose another) and as the working folder (keitai.txt, address.dat) while it
// lives; both are put back when it goes.
class TestFolder
{
public:
    TestFolder() : oldWorking(QDir::currentPath())
    {
        SetProgramFolder(dir.path());
        QDir::setCurrent(dir.path());
    }
    ~TestFolder()
    {
        QDir::setCurrent(oldWorking);
        SetProgramFolder(QString());
    }

    QString Path() const { return dir.path(); }
    QString File(const QString &name) const { return dir.filePath(name); }
    void Write(const QString &name, const QByteArray &bytes) const { WriteFile(File(name), bytes); }
    QByteArray Read(const QString &name) const { return ReadFile(File(name)); }

private:
    QTemporaryDir dir;
    QString oldWorking;
};
