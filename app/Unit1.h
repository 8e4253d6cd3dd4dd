#pragma once

#include "settings/SettingsStore.h"

#include <QDialog>
#include <QImage>
#include <QMainWindow>

#include <functional>
#include <memory>

namespace Ui {
class TfrmMain;
}
class QProgressBar;

// The product's home page: opened by the web command, and named in the mail footer.
inline const QString HomePageAddress = QStringLiteral("https://kelvo.example.jp/");

// The main window. It owns every piece of state of a run: the settings in memory,
// the held picture and the SMTP client.
//
// In tests: construct it, set the dialogs with SetDialogs (any QDialog will do), and
// show() it; the first showing step (FormShow) runs from the event loop right after
// the window is shown, so process events (QTest::qWait) before looking at its effects.
class TfrmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    void SetDialogs(QDialog *settei, QDialog *address);

    // The first showing: settings loading or the first-run dialog, and the launch
    // counter with its question.
    void FormShow();

    // Text of the destination box; the dialogs set it through this.
    void SetDestinationText(const QString &text);
    QString DestinationText() const;

    void SetStatusText(const QString &text);
    QString StatusText() const;

    // The held picture: the graphic of the picture control PicData.
    bool PicturePresent() const { return !Picture.isNull(); }
    const QImage &HeldPicture() const { return Picture; }

    // Takes dropped files in their order: the first with the extension ".JPG",
    // ".JPEG" or ".BMP" (any case) is loaded and fitted to DotSize.
    void DropFiles(const QStringList &paths);

    // Asks where the save command writes; the save dialog unless a test replaces it.
    std::function<QString()> AskSavePath;

    QString VersionText;
    MainSettings Settings;
    QDialog *frmSettei = nullptr;
    QDialog *frmAddress = nullptr;
    QProgressBar *ProgressBar = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void SetPicture(const QImage &picture);
    void ClearPicture();
    void acGrayExecute();
    void acSaveExecute();

    void acWebExecute();
    void ShowVersion();
    void ShowSettings();
    void ShowAddressBook();

    std::unique_ptr<Ui::TfrmMain> ui;
    bool shownOnce = false;
    QImage Picture;
};

// Program start: the main window, then the settings dialog, then the address book;
// runs the event loop until the main window closes.
int RunKelvo();
