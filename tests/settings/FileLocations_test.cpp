#include "settings/FileLocations.h"

#include "platform/MsgBox.h"
#include "settings/AddressBookDialog.h"
#include "settings/SettingsDialog.h"

#include "support/InstalledLayout.h"
#include "support/Printers.h"
#include "support/TestFolder.h"

#include <QAbstractButton>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

// The first writes make the XDG folders for the user alone; one that cannot be made (a file in its place)
// is named, and the settings dialog stays open, nothing applied (the address book closes; its list, unchanged, is
// written at the next close). A kelvo.ini beside the program keeps every file there; without one, each has its XDG
// folder, the model list the user's, else the system's first.
TEST(FileLocations, FoldersAreMadeOnTheFirstWriteAndTheLayoutFollowsAKelvoIniBesideTheProgram)
{
    TestFolder program;
    InstalledLayout installed;
    MessageRecorder boxes;
    installed.Write("config/kelvo", "in the way");
    installed.Write("data", "in the way");
    MainSettings settings;
    SettingsDialog settingsDialog(settings, nullptr);
    settingsDialog.findChild<QLineEdit *>("senderAddressEdit")->setText("taro@mail.example.jp");
    settingsDialog.findChild<QLineEdit *>("serverEdit")->setText("mail.example.jp");
    AddressBookDialog addressBook(nullptr);
    // Each dialog's button with a file where the folder goes, then without.
    const std::tuple<QDialog *, const char *, const char *> rows[] = {{&addressBook, "closeButton", "data"},
                                                                      {&settingsDialog, "okButton", "config/kelvo"}};
    for (const auto &[dialog, button, inTheWay] : rows) {
        dialog->show();
        dialog->findChild<QAbstractButton *>(button)->click();
        EXPECT_EQ(dialog->isVisible(), dialog == &settingsDialog);
        EXPECT_EQ(settings.FromAddress, MainSettings().FromAddress);
        QFile::remove(installed.Path(inTheWay));
        dialog->show();
        dialog->findChild<QAbstractButton *>(button)->click();
        EXPECT_FALSE(dialog->isVisible());
    }
    EXPECT_EQ(settings.FromAddress, "taro@mail.example.jp");
    const QString cannot =
        QStringLiteral("フォルダ %1 を作成できません。同じ名前のファイルがあるか、書き込みが許可されていません。");
    EXPECT_EQ(boxes.Texts().size(), 2);
    EXPECT_EQ(boxes.Texts().value(0),
              cannot.arg(installed.Path("data/kelvo")) + "\nアドレス帳を別の場所に保存しますか？");
    EXPECT_EQ(boxes.Texts().last(), cannot.arg(installed.Path("config/kelvo")));
    for (const char *folder : {"config/kelvo", "data", "data/kelvo"})
        EXPECT_EQ(QFile::permissions(installed.Path(folder)), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                                  QFile::ReadUser | QFile::WriteUser | QFile::ExeUser)
            << folder;
    EXPECT_EQ(QDir(program.Path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());

    EXPECT_EQ(LayoutFoundBesideProgram(), FileLayout::Installed);
    EXPECT_EQ(SettingsFilePath(), installed.Path("config/kelvo/kelvo.ini"));
    EXPECT_EQ(AddressBookPath(), installed.Path("data/kelvo/address.dat"));
    EXPECT_EQ(AttachmentFolder(), installed.Path("cache/kelvo/"));
    EXPECT_EQ(ModelListPath(), "");
    program.Write("keitai.txt", "");
    installed.Write("data/kelvo/keitai.txt", "");
    for (const char *list : {"sys2/kelvo/keitai.txt", "sys1/kelvo/keitai.txt", "config/kelvo/keitai.txt"}) {
        installed.Write(list, "");
        EXPECT_EQ(ModelListPath(), installed.Path(list));
    }

    program.Write("kelvo.ini", "");
    EXPECT_EQ(LayoutFoundBesideProgram(), FileLayout::Portable);
    UseFileLayout(FileLayout::Portable);
    EXPECT_EQ(SettingsFilePath(), program.File("kelvo.ini"));
    EXPECT_EQ(AddressBookPath(), "address.dat");
    EXPECT_EQ(AttachmentFolder(), program.Path() + '/');
    EXPECT_EQ(ModelListPath(), program.File("keitai.txt"));
}

} // namespace
