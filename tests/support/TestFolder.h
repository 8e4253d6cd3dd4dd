#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

// A fresh temporary folder that serves as the program's folder (kelvo.ini and the
// attachment file) and as the working folder (keitai.txt, address.dat) while it
// lives; both are put back when it goes.
class TestFolder
{
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder &) = delete;
    TestFolder &operator=(const TestFolder &) = delete;

    QString Path() const { return dir.path(); }
    QString File(const QString &name) const { return dir.filePath(name); }
    void Write(const QString &name, const QByteArray &bytes) const;
    QByteArray Read(const QString &name) const;

private:
    QTemporaryDir dir;
    QString oldWorking;
};
