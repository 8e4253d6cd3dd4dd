#include "support/TestFolder.h"

#include "platform/ProgramFolder.h"

#include <QFile>

#include <gtest/gtest.h>

TestFolder::TestFolder() : oldWorking(QDir::currentPath())
{
    EXPECT_TRUE(dir.isValid());
    SetProgramFolder(dir.path());
    QDir::setCurrent(dir.path());
}

TestFolder::~TestFolder()
{
    QDir::setCurrent(oldWorking);
    SetProgramFolder(QString());
}

void TestFolder::Write(const QString &name, const QByteArray &bytes) const
{
    QFile f(File(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray TestFolder::Read(const QString &name) const
{
    QFile f(File(name));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}
