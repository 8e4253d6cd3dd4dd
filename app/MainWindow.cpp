#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "KelvoVersion.h"

#include "app/BusyCursor.h"
#include "app/HeaderEncoding.h"
#include "app/LaunchFeedback.h"
#include "app/PasswordDialog.h"
#include "imaging/Pipeline.h"
#include "platform/Accessibility.h"
#include "platform/Command.h"
#include "platform/FileName.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"
#include "platform/ProgramFolder.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMimeData>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QUrl>

namespace {

// The picture types kelvo reads, for the open dialog: lower and upper case, as a desktop's own
// dialog may tell them apart.
QStringList PicturePatterns()
{
    QStringList patterns;
    for (const char *extension : {"jpg", "jpeg", "png", "webp", "heic", "heif", "bmp"})
        patterns << QStringLiteral("*.") + QLatin1String(extension)
                 << QStringLiteral("*.") + QLatin1String(extension).toString().toUpper();
    return patterns;
}

// The README the package installs as kelvo's help: under the prefix kelvo was installed to,
// in the system's data folders, or beside a portable kelvo. Empty when there is none.
QString HelpFile()
{
    const QString name = QStringLiteral("doc/kelvo/README.md");
    for (const QString &path : {ProgramFolder() + QStringLiteral("/../share/") + name,
                                QStandardPaths::locate(QStandardPaths::GenericDataLocation, name),
                                ProgramFolder() + QStringLiteral("/README.md")})
        if (!path.isEmpty() && QFileInfo(path).isFile())
            return QFileInfo(path).canonicalFilePath();
    return {};
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    setFont(WindowFont());
    setObjectName(QStringLiteral("mainWindow"));
    FixFrame();
    SetUpMenusAndBoxes();
    SetUpPreview();
    SetUpSmtpClient();
    VersionText = QLatin1String(KelvoVersionText);
    smtpClient->Mail.Mailer = VersionText.toUtf8(); // the X-Mailer
    setWindowTitle(VersionText);
    ui->subjectEdit->setText(QStringLiteral("Message from ") + VersionText);
    sentTexts = Texts();
    TakeDropsOnTheWindow();
    SetUpProgressBar();
    SetUpAskers();
    SetUpKeyboardAndNames();
    ConnectCommands();
}

void MainWindow::FixFrame()
{
    // A fixed single border with a minimise box only: the boxes inside are placed by
    // coordinates, at the size and position the window has always had.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    ui->contentArea->setFixedSize(421, 324);
    setCentralWidget(ui->contentArea);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    move(247, 121);
}

void MainWindow::SetUpMenusAndBoxes()
{
    ui->newMailAction->setIcon(style()->standardIcon(QStyle::SP_FileIcon));
    ui->openPictureAction->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    ui->savePictureAction->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    ui->homePageAction->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    ui->sendButton->setDefaultAction(ui->sendAction);
    ui->pictureNameEdit->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->destinationCombo->setAttribute(Qt::WA_InputMethodEnabled, false);
    if (ui->destinationCombo->lineEdit())
        ui->destinationCombo->lineEdit()->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->bodyEdit->MaxLength = 1000;
}

void MainWindow::SetUpPreview()
{
    ui->previewContents->setAutoFillBackground(true);
    ui->previewPicture->raise();
    ui->dropHintLabel->setText(
        tr("ここに画像ファイル\n[bmp,jpeg,jpg,png,\nwebp,heic,heif]を\nドラッグ＆ドロップ\nしてください。"));
    ui->dropHintLabel->adjustSize();
    ColourPreview();
}

void MainWindow::ColourPreview()
{
    // A grey box, as the preview has always been, where the theme's text reads on its grey;
    // the window's own background where it would not (a dark theme's grey). The hint takes
    // the theme's text colour either way.
    const QPalette colours = palette();
    const bool greyReads = ContrastRatio(colours.color(QPalette::WindowText), colours.color(QPalette::Mid)) >= 4.5;
    ui->previewScroll->setBackgroundRole(greyReads ? QPalette::Mid : QPalette::Window);
    ui->previewContents->setBackgroundRole(greyReads ? QPalette::Mid : QPalette::Window);
    ui->dropHintLabel->setForegroundRole(QPalette::WindowText);
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        ColourPreview();
}

void MainWindow::SetUpSmtpClient()
{
    // The header line put in FinalHeader here is never sent: composition clears the list
    // first.
    smtpClient = new SmtpClient(this);
    smtpClient->setObjectName(QStringLiteral("smtpClient"));
    smtpClient->Port = 25;
    smtpClient->ReportLevel = 0;
    smtpClient->AttachmentEncoding = EncodingMethod::Base64;
    smtpClient->ClearRecipientsAfterSend = true;
    smtpClient->TimeOut = SmtpTimeOut;
    smtpClient->FinalHeader = HeaderList({QByteArray("Content-Type: text/plain; charset=iso-2022-jp")});
    // A picture's name outside ASCII: encoded words as in the headers, for mail programs that
    // read no other form. The word stands after ' filename="' on a line of its own.
    smtpClient->EncodeAttachmentName = [](const QString &name) { return EncodeWords(name, 11).toLatin1(); };
    BindSmtpEvents();
}

void MainWindow::TakeDropsOnTheWindow()
{
    // Dropped files are taken by the window, wherever they land: the edit boxes would
    // otherwise take a dropped file as the text of its address.
    setAcceptDrops(true);
    for (QWidget *box :
         {static_cast<QWidget *>(ui->subjectEdit), static_cast<QWidget *>(ui->pictureNameEdit),
          static_cast<QWidget *>(ui->destinationCombo), static_cast<QWidget *>(ui->bodyEdit), ui->bodyEdit->viewport()})
        box->setAcceptDrops(false);
    if (ui->destinationCombo->lineEdit())
        ui->destinationCombo->lineEdit()->setAcceptDrops(false);
}

void MainWindow::SetUpProgressBar()
{
    // Over the status bar's second panel.
    ProgressBar = new QProgressBar(ui->statusArea);
    ProgressBar->setObjectName(QStringLiteral("progressBar"));
    ProgressBar->setGeometry(302, 2, 98, 22);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
}

void MainWindow::SetUpAskers()
{
    AskSavePath = [this] {
        QFileDialog dialog(this, tr("画像の保存"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("jpeg"));
        dialog.setNameFilters({QStringLiteral("JPEG (*.jpg *.jpeg)")});
        dialog.selectFile(QStringLiteral("kelvo"));
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
    AskPassword = [this](const QString &host, const QString &user) { return PasswordDialog::Ask(host, user, this); };
    AskPicturePath = [this](const QString &folder) {
        // The desktop's own dialog where it has one (through its portal, say).
        QFileDialog dialog(this, tr("画像を開く"), folder);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(
            {tr("画像 (%1)").arg(PicturePatterns().join(QLatin1Char(' '))), tr("すべてのファイル (*)")});
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
    OpenUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
}

void MainWindow::SetUpKeyboardAndNames()
{
    // Tab leaves the body box: a box that keeps Tab traps a user without a mouse, and a tab
    // inside a mail to a phone is rare (it can still be pasted).
    ui->bodyEdit->setTabChangesFocus(true);
    ui->helpAction->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_H), QKeySequence(Qt::Key_F1)});
    // The flat "画像名" button is the picture name box's label.
    connect(ui->pictureNameLabel, &QToolButton::clicked, this,
            [this] { ui->pictureNameEdit->setFocus(Qt::ShortcutFocusReason); });
    // The buttons beside the picture name and the destination are their labels; the body has none.
    LabelForScreenReaders(ui->pictureNameEdit, WithoutMnemonic(ui->pictureNameLabel->text()));
    LabelForScreenReaders(ui->destinationCombo, WithoutMnemonic(ui->addressBookButton->text()));
    LabelForScreenReaders(ui->bodyEdit, tr("本文"));
    NameControlsByTheirLabels(this);
    ProgressBar->setAccessibleName(tr("送信の進み具合"));
    ui->previewScroll->setAccessibleName(tr("画像のプレビュー"));
}

void MainWindow::ConnectCommands()
{
    connect(ui->newMailAction, &QAction::triggered, this, [this] { RunCommand([this] { StartNewMail(); }); });
    connect(ui->openPictureAction, &QAction::triggered, this, [this] { RunCommand([this] { OpenPictureFile(); }); });
    connect(ui->quitAction, &QAction::triggered, this, &QWidget::close);
    connect(ui->helpAction, &QAction::triggered, this, [this] { RunCommand([this] { OpenHelp(); }); });
    connect(ui->sendAction, &QAction::triggered, this, [this] { RunSend(); });
    connect(ui->greyAction, &QAction::triggered, this, [this] { RunCommand([this] { MakeGrey(); }); });
    connect(ui->savePictureAction, &QAction::triggered, this, [this] { RunCommand([this] { SavePicture(); }); });
    connect(ui->homePageAction, &QAction::triggered, this, [this] { RunCommand([this] { OpenHomePage(); }); });
    connect(ui->versionAction, &QAction::triggered, this, [this] { RunCommand([this] { ShowVersion(); }); });
    connect(ui->settingsAction, &QAction::triggered, this, [this] { RunCommand([this] { ShowSettings(); }); });
    connect(ui->addressBookAction, &QAction::triggered, this, [this] { RunCommand([this] { ShowAddressBook(); }); });
    connect(ui->addressBookButton, &QToolButton::clicked, this, [this] { RunCommand([this] { ShowAddressBook(); }); });
}

MainWindow::~MainWindow() = default;

void MainWindow::SetDialogs(QDialog *settings, QDialog *addressBook)
{
    settingsDialog = settings;
    addressBookDialog = addressBook;
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (shownOnce)
        return;
    shownOnce = true;
    // Runs once the window is on screen, from the event loop, so that a dialog it
    // opens is modal over a visible main window.
    QTimer::singleShot(0, this, [this] {
        RunCommand([this] { StartUp(); });
        OpenPictureAfterStartUp();
    });
}

void MainWindow::StartUp()
{
    if (!SettingsFileExists()) {
        // First run: the settings dialog instead of the loading; the counter is left alone.
        ShowSettings();
        return;
    }
    LoadSettings(Settings, [this](const QString &text) { SetDestinationText(text); });
    // A kelvo started beside one that does not answer writes nothing of that one's.
    if (!FilesLeftAlone())
        CountLaunch();
}

void MainWindow::CountLaunch()
{
    // The fifth start asks, and the count starts again at 1: the question comes back at
    // every fourth start after that. A count of 5 or more written by hand never asks again.
    constexpr int AskAt = 5;
    const qint64 next = qint64(ReadNumber(Setting::LaunchCount)) + 1;
    Settings.LaunchCount = static_cast<int>(std::min<qint64>(next, std::numeric_limits<int>::max()));
    if (Settings.LaunchCount != AskAt) {
        WriteNumber(Setting::LaunchCount, Settings.LaunchCount);
        return;
    }
    WriteNumber(Setting::LaunchCount, 1);
    if (PlainBox(tr("kelvoの最新版探しに行きますか？"), MsgButtons::YesNo) == MsgResult::Yes)
        OpenHomePage();
}

void MainWindow::OpenPictureAfterStartUp()
{
    startedUp = true;
    // A first run the user refused ends kelvo: no picture then.
    if (!pictureAfterStartUp.isEmpty() && SettingsFileExists())
        OpenPicture(std::exchange(pictureAfterStartUp, QString()));
}

void MainWindow::OpenPicture(const QString &path)
{
    if (!startedUp) {
        pictureAfterStartUp = path;
        return;
    }
    RunCommand([this, path] { DropFiles({path}); });
}

void MainWindow::BringToFront(const QByteArray &launchToken)
{
    if (isMinimized())
        showNormal();
    // A dialog open over the window is what the user has to answer first.
    QWidget *front = QApplication::activeModalWidget();
    if (!front)
        front = this;
    front->raise();
    ActivateForLaunch(front, launchToken);
}

void MainWindow::SetDestinationText(const QString &text)
{
    ui->destinationCombo->setEditText(text);
}

QString MainWindow::DestinationText() const
{
    return ui->destinationCombo->currentText();
}

void MainWindow::SetStatusText(const QString &text)
{
    ui->statusText->setText(text);
    emit StatusChanged(text);
}

QString MainWindow::StatusText() const
{
    return ui->statusText->text();
}

void MainWindow::OpenHomePage()
{
    // Whether a browser opened is not reported.
    OpenUrl(QUrl(HomePageAddress));
}

void MainWindow::OpenHelp()
{
    const QString help = HelpFile();
    if (help.isEmpty())
        InformationBox(tr("ヘルプ（README.md）が見つかりません。"));
    else if (!OpenUrl(QUrl::fromLocalFile(help)))
        WarningBox(tr("ヘルプ %1 を開けませんでした。").arg(help));
}

void MainWindow::ShowVersion()
{
    InformationBox(VersionText);
}

void MainWindow::ShowSettings()
{
    if (settingsDialog)
        settingsDialog->exec();
}

void MainWindow::ShowAddressBook()
{
    if (addressBookDialog)
        addressBookDialog->exec();
}

void MainWindow::SetPicture(const QImage &picture)
{
    Picture = picture;
    ui->previewPicture->setPixmap(QPixmap::fromImage(Picture));
    ui->previewPicture->resize(Picture.size());
    ui->previewPicture->setAccessibleName(
        tr("画像のプレビュー（%1×%2ドット）").arg(Picture.width()).arg(Picture.height()));
    ui->dropHintLabel->setVisible(Picture.isNull());
    // The box scrolls when the picture is larger than it; the grey fills the rest.
    ui->previewContents->resize(Picture.size().expandedTo(ui->previewScroll->viewport()->size()));
}

void MainWindow::ClearPicture()
{
    Picture = QImage();
    ui->previewPicture->clear();
    ui->previewPicture->resize(0, 0);
    ui->previewPicture->setAccessibleName(QString());
    ui->dropHintLabel->show();
    ui->previewContents->resize(ui->previewScroll->viewport()->size());
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths.append(FileNameOfUrl(url)); // a name that is not UTF-8 (from Windows) keeps its bytes
    event->acceptProposedAction();
    RunCommand([this, paths] { DropFiles(paths); });
}

void MainWindow::DropFiles(const QStringList &paths)
{
    for (const QString &path : paths) {
        // The whole path is used, however long. A folder is never a picture, whatever
        // its name.
        if (QFileInfo(path).isDir())
            continue;
        const PictureType type = PictureTypeOf(path);
        if (type.Format == PictureFormat::None)
            continue;
        // Fitted before it is shown, so a huge photo is never drawn at full size; a file
        // that cannot be read, of any kind, leaves the picture held before.
        const QImage loaded = WhileBusy([&] { return LoadPicture(path, type.Format, Settings.DotSize); });
        ClearPicture();
        SetPicture(loaded);
        lastPictureFolder = QFileInfo(path).absolutePath();
        return;
    }
    WarningBox(tr("このファイルタイプには対応しておりません。"));
}

void MainWindow::OpenPictureFile()
{
    // The chosen file is taken exactly as a drop of it.
    const QString folder = lastPictureFolder.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)
                               : lastPictureFolder;
    const QString path = AskPicturePath ? AskPicturePath(folder) : QString();
    if (!path.isEmpty())
        DropFiles({path});
}

MainWindow::MailTexts MainWindow::Texts() const
{
    return {ui->subjectEdit->text(), ui->bodyEdit->toPlainText()};
}

void MainWindow::StartNewMail()
{
    // Empty boxes hold nothing to lose, whatever was sent before.
    if (Texts() != sentTexts && Texts() != MailTexts() &&
        ConfirmBox(tr("送信していない件名か本文があります。消して新しいメールを作りますか？"), MsgButtons::YesNo) !=
            MsgResult::Yes)
        return;
    ui->subjectEdit->clear();
    ui->bodyEdit->clear();
    ClearPicture();
    sentTexts = Texts();
    ui->subjectEdit->setFocus(Qt::OtherFocusReason);
}

void MainWindow::MakeGrey()
{
    if (!PicturePresent()) {
        InformationBox(tr("画像が読み込まれていないのでグレースケール化できません。"));
        return;
    }
    QImage grey;
    ConvertToGrey(Picture, grey);
    SetPicture(grey);
}

void MainWindow::SavePicture()
{
    if (!PicturePresent()) {
        InformationBox(tr("画像が読み込まれていないので保存できません。"));
        return;
    }
    // The picture as it would be mailed now: the JPEG at the quality that fits the
    // current size limit.
    const QString path = AskSavePath ? AskSavePath() : QString();
    if (path.isEmpty())
        return;
    WhileBusy([&] { return EncodeUnderLimit(Picture, path, Settings.SizeLimit); });
}
