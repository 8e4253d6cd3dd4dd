#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "app/BusyCursor.h"
#include "app/HeaderEncoding.h"
#include "app/LaunchFeedback.h"
#include "app/PasswordDialog.h"
#include "imaging/Pipeline.h"
#include "platform/Command.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLayout>
#include <QMimeData>
#include <QProgressBar>
#include <QStyle>
#include <QTimer>
#include <QUrl>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    setFont(WindowFont());
    setObjectName(QStringLiteral("mainWindow"));
    FixFrame();
    SetUpMenusAndBoxes();
    SetUpPreview();
    SetUpSmtpClient();
    VersionText = QStringLiteral("kelvo Ver. 0.32 beta");
    smtpClient->Mail.Mailer = VersionText.toUtf8(); // the X-Mailer
    setWindowTitle(VersionText);
    ui->subjectEdit->setText(QStringLiteral("Message from ") + VersionText);
    TakeDropsOnTheWindow();
    SetUpProgressBar();
    SetUpAskers();
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
    ui->openPictureItem->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
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
    // The preview box's background is the system's grey-text colour; the picture is
    // drawn over the hint label.
    ui->previewScroll->setBackgroundRole(QPalette::Dark);
    QPalette grey = ui->previewScroll->palette();
    grey.setColor(QPalette::Window, palette().color(QPalette::Disabled, QPalette::WindowText));
    ui->previewContents->setAutoFillBackground(true);
    ui->previewContents->setPalette(grey);
    ui->previewPicture->raise();
    ui->dropHintLabel->setText(
        tr("ここに画像ファイル\n[bmp,jpeg,jpg,png,\nwebp,heic,heif]を\nドラッグ＆ドロップ\nしてください。"));
    ui->dropHintLabel->adjustSize();
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
}

void MainWindow::ConnectCommands()
{
    // New mail, help and open picture stand on the menus where users have always found
    // them, with nothing behind them yet; open picture is greyed.
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
    QDesktopServices::openUrl(QUrl(HomePageAddress));
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
    // The box scrolls when the picture is larger than it; the grey fills the rest.
    ui->previewContents->resize(Picture.size().expandedTo(ui->previewScroll->viewport()->size()));
}

void MainWindow::ClearPicture()
{
    Picture = QImage();
    ui->previewPicture->clear();
    ui->previewPicture->resize(0, 0);
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
            paths.append(url.toLocalFile());
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
        return;
    }
    WarningBox(tr("このファイルタイプには対応しておりません。"));
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
