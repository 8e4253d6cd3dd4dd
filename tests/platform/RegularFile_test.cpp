#include "platform/FileName.h"
#include "platform/RegularFile.h"

#include "support/InChild.h"
#include "support/TestFolder.h"

#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// A FIFO nobody writes to, a folder and a device are refused before anything waits (a blocking open of the FIFO
// would hang the child until the alarm kills it); a regular file opens, also one named in CP932 bytes.
TEST(RegularFile, OpensOnlyRegularFilesAndNeverWaits)
{
    QTemporaryDir dir;
    const QByteArray cp932 = QFile::encodeName(dir.path()) + "/\x8e\xca\x90^.jpg"; // 写真.jpg
    ASSERT_TRUE(mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0 &&
                fclose(fopen(cp932.constData(), "w")) == 0);
    WriteFile(dir.filePath("plain"), "bytes");
    const std::tuple<QString, OpenRefusal, QByteArray> rows[] = {
        {dir.filePath("fifo"), OpenRefusal::NotRegular, ""}, {dir.path(), OpenRefusal::NotRegular, ""},
        {"/dev/zero", OpenRefusal::NotRegular, ""},          {dir.filePath("none/plain"), OpenRefusal::Missing, ""},
        {dir.filePath("plain"), OpenRefusal::None, "bytes"}, {FileNameFromBytes(cp932), OpenRefusal::None, ""}};
    for (const auto &[path, refusal, content] : rows)
        EXPECT_EQ(RunInChild([&, path = path, refusal = refusal, content = content] {
                      alarm(5);
                      QFile file(path);
                      return OpenRegularFile(file) == refusal && file.readAll() == content ? 0 : 1;
                  }).first,
                  0)
            << path.toStdString();
}

// A name that is not UTF-8 keeps its bytes (any bytes do: the hand-over fuzz target), also from a drop's URL.
TEST(RegularFile, FileNamesKeepBytesThatAreNotUtf8)
{
    EXPECT_EQ(FileNameFromBytes("写真\xF0\x9F\x98\x80.jpg"), "写真\U0001F600.jpg");
    for (const QByteArray bytes : {"\x8e\xca\x90^.jpg", "\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80", "\xF0\x90\x82\x80\x80"})
        EXPECT_EQ(FileNameToBytes(FileNameFromBytes(bytes)), bytes); // CP932; overlong, surrogate, too high; U+10080
    EXPECT_EQ(FileNameToBytes(FileNameOfUrl(QUrl("file:///tmp/%8E%CA%90%5E.jpg"))), "/tmp/\x8e\xca\x90^.jpg");
    EXPECT_EQ(FileNameOfUrl(QUrl("file:///tmp/%E5%86%99%20a.jpg")), "/tmp/写 a.jpg");
}

} // namespace
