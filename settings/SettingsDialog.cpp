#include "settings/SettingsDialog.h"

#include "platform/Accessibility.h"
#include "platform/CodePage.h"
#include "platform/Command.h"
#include "platform/Exception.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"
#include "platform/PasswordStore.h"
#include "platform/RegularFile.h"

#include "ui_SettingsDialog.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QFile>
#include <QFocusEvent>
#include <QLineEdit>
#include <QShortcut>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabBar>
#include <QValidator>

#include <algorithm>

namespace {

// The port box takes at most this many typed characters. A QLineEdit's maxLength
// would also cut a longer value put in from the settings file (a hand-edited
// "123456" would come back cut on the next OK); this limit only refuses typing.
class TypedLengthLimit : public QValidator
{
public:
    TypedLengthLimit(int limit, QObject *parent) : QValidator(parent), limit(limit) {}

    State validate(QString &input, int &) const override { return input.size() <= limit ? Acceptable : Invalid; }

private:
    int limit;
};

// The page selector: a tab bar whose tabs share the dialog's fixed width. Where their texts
// with the style's margins are wider than the bar, each tab gives up an equal part of its
// margins, so that every tab shows whole without scroll arrows.
class PageTabBar : public QTabBar
{
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override
    {
        QSize hint = QTabBar::tabSizeHint(index);
        int total = 0;
        for (int i = 0; i < count(); ++i)
            total += QTabBar::tabSizeHint(i).width();
        if (total > width())
            hint.rwidth() -= (total - width() + count() - 1) / count();
        return hint;
    }
};

// Choosing an option by index the way the stored index is taken: below the first
// option no option is chosen, past the last one the last is.
void SetOptionIndex(QButtonGroup *group, int index)
{
    const QList<QAbstractButton *> buttons = group->buttons();
    index = std::clamp(index, -1, int(buttons.size()) - 1);
    if (index >= 0) {
        group->button(index)->setChecked(true);
        return;
    }
    group->setExclusive(false);
    for (QAbstractButton *button : buttons)
        button->setChecked(false);
    group->setExclusive(true);
}

QButtonGroup *OptionGroup(QObject *owner, std::initializer_list<QAbstractButton *> buttons)
{
    auto *group = new QButtonGroup(owner);
    int id = 0;
    for (QAbstractButton *button : buttons)
        group->addButton(button, id++);
    return group;
}

// The local part of a mail address: the text before the first "@", empty without one.
QString LocalPart(const QString &address)
{
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    return at < 0 ? QString() : address.left(at);
}

} // namespace

QStringList SplitModelLines(const QByteArray &bytes, bool complete)
{
    QStringList lines;
    qsizetype start = 0;
    while (start < bytes.size() && lines.size() < ModelListMaxLines) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) {
            if (!complete)
                break;
            end = bytes.size();
        }
        qsizetype length = end - start;
        if (length > 0 && bytes[start + length - 1] == '\r')
            --length;
        lines.append(FromCP932(CutCP932(bytes.mid(start, length), ModelLineMaxBytes)));
        start = end + 1;
    }
    return lines;
}

QStringList ReadModelList(const QString &path)
{
    // The list is optional: one that is missing, not a regular file (a FIFO would hold the
    // start up) or refused is no list.
    QFile file(path);
    if (OpenRegularFile(file) != OpenRefusal::None)
        return {};
    QByteArray bytes = file.read(ModelFileMaxBytes + 1);
    const bool complete = bytes.size() <= ModelFileMaxBytes;
    if (!complete)
        bytes.truncate(ModelFileMaxBytes);
    return SplitModelLines(bytes, complete);
}

void SortModelLines(QStringList &lines)
{
    std::stable_sort(lines.begin(), lines.end(), [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
}

SettingsDialog::SettingsDialog(MainSettings &settings, DestinationSetter setDestination, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::SettingsDialog>()), settings(settings),
      setDestination(std::move(setDestination))
{
    OnTerminate = [] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    };

    ui->setupUi(this);
    // Escape and the window manager's close are Cancel (reject()).
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // Placed by coordinates, at the size and position the dialog has always had.
    setFixedSize(380, 301);
    move(198, 137);
    setFont(WindowFont());
    ui->sizeLimitGroup->setFont(FixedFont());

    ui->senderAddressEdit->setAttribute(Qt::WA_InputMethodEnabled, false);
    ui->portEdit->setValidator(new TypedLengthLimit(5, ui->portEdit));
    for (QSpinBox *spin : {ui->ownSizeSpin, ui->ownLimitSpin})
        if (auto *edit = spin->findChild<QLineEdit *>())
            edit->setMaxLength(4);

    pictureSizeOptions = OptionGroup(this, {ui->recommendedSizeOption, ui->modelSizeOption, ui->ownSizeOption});
    pictureSizeOptions->setObjectName(QStringLiteral("pictureSizeOptions"));
    sizeLimitOptions =
        OptionGroup(this, {ui->longMailLimitOption, ui->superMailLimitOption, ui->auLimitOption, ui->ownLimitOption});
    sizeLimitOptions->setObjectName(QStringLiteral("sizeLimitOptions"));

    SetUpPageTabs();
    SetUpKeyboardAndNames();
    ConnectBoxes();
    FillModelList();
}

void SettingsDialog::SetUpPageTabs()
{
    // A real tab bar, so that a screen reader announces page tabs whose action shows the page.
    pageTabs = new PageTabBar(this);
    pageTabs->setObjectName(QStringLiteral("pageTabs"));
    pageTabs->setGeometry(4, 4, 372, 24);
    pageTabs->setDrawBase(false);
    pageTabs->setUsesScrollButtons(false);
    pageTabs->setElideMode(Qt::ElideNone);
    for (const QString &page : {tr("SMTPの設定"), tr("受信携帯電話の設定"), tr("Option"), tr("暗号化と認証")})
        pageTabs->addTab(page);
    connect(pageTabs, &QTabBar::currentChanged, ui->pages, &QStackedWidget::setCurrentIndex);
    connect(ui->pages, &QStackedWidget::currentChanged, pageTabs, &QTabBar::setCurrentIndex);
    // Ctrl+Tab and Ctrl+PgDn show the next page, Ctrl+Shift+Tab and Ctrl+PgUp the one before,
    // wherever the focus is, round from the last page to the first.
    const std::pair<QKeySequence, int> steps[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
    };
    for (const auto &[keys, step] : steps)
        connect(new QShortcut(keys, this), &QShortcut::activated, this, [this, step = step] {
            pageTabs->setCurrentIndex((pageTabs->currentIndex() + step + pageTabs->count()) % pageTabs->count());
        });
}

void SettingsDialog::SetUpKeyboardAndNames()
{
    // The tab bar comes first in reading order, before the boxes of the page it shows; the
    // .ui file orders the rest, down to OK and キャンセル.
    setTabOrder(ui->cancelButton, pageTabs);
    setTabOrder(pageTabs, ui->senderNameEdit);
    // First among the dialog's children, as a screen reader walks them.
    pageTabs->lower();
    // The boxes that stand in an option's line are named by it.
    LabelForScreenReaders(ui->modelCombo, WithoutMnemonic(ui->modelSizeOption->text()));
    LabelForScreenReaders(ui->ownSizeSpin, WithoutMnemonic(ui->ownSizeOption->text()));
    LabelForScreenReaders(ui->ownLimitSpin, tr("その他のファイルサイズ（KB）"));
    NameControlsByTheirLabels(this);
}

void SettingsDialog::ConnectBoxes()
{
    connect(ui->okButton, &QPushButton::clicked, this, [this] { RunCommand([this] { AcceptSettings(); }); });
    connect(ui->cancelButton, &QPushButton::clicked, this, &SettingsDialog::reject);
    // Like the edit's change event, this runs for the showing's own filling too.
    connect(ui->senderAddressEdit, &QLineEdit::textChanged, this,
            [this] { RunCommand([this] { SenderAddressEdited(); }); });
    connect(ui->advancedCheck, &QCheckBox::clicked, this, [this] { RunCommand([this] { EnableAdvancedBoxes(); }); });
    connect(pictureSizeOptions, &QButtonGroup::idClicked, this,
            [this] { RunCommand([this] { EnablePictureSizeBoxes(); }); });
    connect(sizeLimitOptions, &QButtonGroup::idClicked, this, [this] { RunCommand([this] { EnableOwnLimitBox(); }); });
    // Only the user's choice proposes a port, not the showing's own filling.
    connect(ui->securityCombo, &QComboBox::activated, this,
            [this] { RunCommand([this] { ProposePortForSecurity(); }); });
    ConnectSignInBoxes();
    ui->serverEdit->installEventFilter(this);
}

void SettingsDialog::FillModelList()
{
    // The list keeps its one built-in line unless there is a keitai.txt; the built-in line is
    // then sorted in with the file's.
    const QString path = ModelListPath();
    if (path.isEmpty())
        return;
    QStringList lines = ReadModelList(path);
    lines.prepend(ui->modelCombo->itemText(0));
    SortModelLines(lines);
    const QString text = ui->modelCombo->currentText();
    ui->modelCombo->clear();
    ui->modelCombo->addItems(lines);
    ui->modelCombo->setCurrentIndex(ui->modelCombo->findText(text));
    ui->modelCombo->setEditText(text);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::reject()
{
    // Escape, the window manager's close and キャンセル alike.
    RunCommand([this] { CancelSettings(); });
}

void SettingsDialog::CloseByButton(int result)
{
    done(result);
}

void SettingsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Restoring a minimised dialog is no new showing.
    if (event->spontaneous())
        return;
    RunCommand([this] { ShowStoredSettings(); });
    // The sender's name is typed over, not appended to (the first run's "kelvo").
    if (ui->pages->currentWidget() == ui->smtpPage) {
        ui->senderNameEdit->setFocus(Qt::OtherFocusReason);
        ui->senderNameEdit->selectAll();
    }
}

bool SettingsDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        // Focus that comes back with the window (after a message box, say) is no entry.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && watched == ui->serverEdit)
            RunCommand([this] { ProposeServer(); });
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsDialog::ShowStoredSettings()
{
    // The box never shows a password, a stored one or one typed before a Cancel; nor do
    // the other submission boxes keep a change that was cancelled: they show the file, or
    // the built-in values where it says nothing.
    ui->passwordEdit->clear();
    ShowSecurity(SmtpSecurity::None);
    signInOverrides = {};
    ShowLoginMethod(SmtpLogin::None, {});
    ui->loginNameEdit->clear();
    EnableLoginBoxes();
    AskDesktopAccounts();
    if (!SettingsFileExists()) {
        ui->adFooterCheck->setChecked(true);
        return;
    }
    // However far the reading gets, the boxes that depend on an option follow the
    // options as they stand then.
    struct EnabledStates
    {
        SettingsDialog *dialog;
        ~EnabledStates()
        {
            dialog->EnablePictureSizeBoxes();
            dialog->EnableOwnLimitBox();
            dialog->EnableLoginBoxes();
        }
    } enabledStates{this};
    ReadSubmissionKeysToo([this] { ShowOlderKeys(); }, [this] { ShowSubmissionKeys(); });
}

void SettingsDialog::ShowOlderKeys()
{
    // In this order; a number that does not convert stops the showing at its key.
    ui->serverEdit->setText(ReadSetting(Setting::Server));
    ui->senderAddressEdit->setText(ReadSetting(Setting::SenderAddress));
    ui->senderNameEdit->setText(ReadSetting(Setting::SenderName));
    ui->defaultDestinationEdit->setText(ReadSetting(Setting::Destination));
    ui->portEdit->setText(ReadSetting(Setting::ServerPort));
    ui->heloNameEdit->setText(ReadSetting(Setting::HeloName));
    SetOptionIndex(pictureSizeOptions, ReadNumber(Setting::PictureSizeChoice));
    const QString modelLine = ReadSetting(Setting::ModelLine);
    ui->modelCombo->setCurrentIndex(ui->modelCombo->findText(modelLine));
    ui->modelCombo->setEditText(modelLine);
    ui->ownSizeSpin->setValue(ReadNumber(Setting::OwnPictureSize));
    SetOptionIndex(sizeLimitOptions, ReadNumber(Setting::SizeLimitChoice));
    ui->ownLimitSpin->setValue(ReadNumber(Setting::OwnSizeLimit));
    ui->adFooterCheck->setChecked(ReadFlag(Setting::AdFooter));
}

void SettingsDialog::ShowSubmissionKeys()
{
    // A Security kelvo does not know shows no choice, so that OK cannot turn it into none
    // unseen.
    ShowSecurity(SecurityFromText(ReadSetting(Setting::Security)));
    ui->loginNameEdit->setText(ReadSetting(Setting::LoginName));
    signInOverrides = {ReadSetting(Setting::OAuthClientId), ReadSetting(Setting::OAuthClientSecret),
                       ReadSetting(Setting::OAuthAuthorizeUrl), ReadSetting(Setting::OAuthTokenUrl),
                       ReadSetting(Setting::OAuthScope)};
    ShowLoginMethod(LoginFromNumber(ReadNumber(Setting::Auth)), ReadSetting(Setting::OAuthProvider));
}

void SettingsDialog::ShowSecurity(std::optional<SmtpSecurity> security)
{
    // The choices are listed in the order of SmtpSecurity's numbers.
    ui->securityCombo->setCurrentIndex(security ? static_cast<int>(*security) : -1);
    // With nothing chosen, the port box is measured against a plain connection's port.
    shownSecurity = security.value_or(SmtpSecurity::None);
}

std::optional<SmtpSecurity> SettingsDialog::ChosenSecurity() const
{
    const int index = ui->securityCombo->currentIndex();
    return index < 0 ? std::nullopt : std::optional(static_cast<SmtpSecurity>(index));
}

void SettingsDialog::SenderAddressEdited()
{
    const QString address = ui->senderAddressEdit->text();
    if (!address.contains(QLatin1Char('@')))
        return;
    if (ui->heloNameEdit->text() == QLatin1String("default"))
        ui->heloNameEdit->setText(LocalPart(address));
    if (address.contains(QLatin1Char('.'))) {
        ui->serverEdit->setEnabled(true);
        ui->serverLabel->setEnabled(true);
    }
    ShowDesktopChoice();
}

void SettingsDialog::ProposeServer()
{
    if (!ui->serverEdit->text().isEmpty())
        return;
    const QString address = ui->senderAddressEdit->text();
    if (!address.contains(QLatin1Char('.'))) {
        PlainBox(tr("正しいメールアドレスを最初に入力してください。"));
        return;
    }
    // The domain; the whole address when it has no "@".
    ui->serverEdit->setText(address.mid(address.indexOf(QLatin1Char('@')) + 1));
}

void SettingsDialog::EnableAdvancedBoxes()
{
    const bool on = ui->advancedCheck->isChecked();
    ui->advancedGroup->setEnabled(on);
    // The boxes and labels inside carry their own state as well.
    ui->heloNameEdit->setEnabled(on);
    ui->portEdit->setEnabled(on);
    ui->portLabel->setEnabled(on);
    ui->heloNameLabel->setEnabled(on);
}

void SettingsDialog::EnablePictureSizeBoxes()
{
    const int option = pictureSizeOptions->checkedId();
    ui->modelCombo->setEnabled(option == PictureSizeOption::FromModel);
    // Also when no option is chosen: a stored option past the list.
    ui->ownSizeSpin->setEnabled(option != PictureSizeOption::Recommended && option != PictureSizeOption::FromModel);
}

void SettingsDialog::EnableOwnLimitBox()
{
    ui->ownLimitSpin->setEnabled(sizeLimitOptions->checkedId() == SizeLimitOption::Own);
}

void SettingsDialog::ProposePortForSecurity()
{
    // A port the user set stays; the previous mode's default gives way to the new one's.
    const SmtpSecurity chosen = ChosenSecurity().value_or(SmtpSecurity::None);
    if (ui->portEdit->text() == QString::number(DefaultSmtpPort(shownSecurity)))
        ui->portEdit->setText(QString::number(DefaultSmtpPort(chosen)));
    shownSecurity = chosen;
}

void SettingsDialog::AcceptSettings()
{
    TakeTypedSpinValues();
    // Every value is checked before anything is written or taken: a wrong one leaves the
    // file, the settings in memory and the dialog as they were, and is shown.
    const std::optional<SmtpSecurity> security = CheckBeforeSaving();
    if (!security)
        return;
    const std::optional<int> dotSize = CheckedDotSize();
    if (!dotSize)
        return;
    const int port = CompleteHeloNameAndPort(*security);
    const bool firstRun = !SettingsFileExists();
    WriteSettings(BoxValues(*security, firstRun));
    if (firstRun)
        settings.LaunchCount = 0;
    ForgetSignInOfAnotherClient();
    ApplyServerBoxes(*security, port);
    settings.DotSize = *dotSize;
    DeriveSizeLimit(
        sizeLimitOptions->checkedId(), [this] { return ui->ownLimitSpin->value(); }, settings.SizeLimit);
    settings.AdFooter = ui->adFooterCheck->isChecked();
    SavePassword();
    CloseByButton(QDialog::Accepted);
}

void SettingsDialog::TakeTypedSpinValues()
{
    // What a spin box shows is what is saved: a number typed but not yet taken (OK does
    // not take the focus from the box) counts, brought into the box's range.
    for (QSpinBox *box : {ui->ownSizeSpin, ui->ownLimitSpin}) {
        bool number = false;
        const int typed = box->cleanText().toInt(&number);
        if (number)
            box->setValue(typed);
    }
}

std::optional<SmtpSecurity> SettingsDialog::CheckBeforeSaving()
{
    if (ui->serverEdit->text().isEmpty()) {
        PlainBox(tr("SMTPサーバを入力してください。"));
        ShowField(ui->serverEdit);
        return std::nullopt;
    }
    if (ui->senderAddressEdit->text().isEmpty()) {
        PlainBox(tr("メールアドレスを入力してください。"));
        ShowField(ui->senderAddressEdit);
        return std::nullopt;
    }
    const std::optional<SmtpSecurity> security = ChosenSecurity();
    if (!security) {
        WarningBox(tr("接続の保護（なし、STARTTLS、SSL/TLS）を選んでください。"));
        return std::nullopt;
    }
    const std::optional<SmtpLogin> login = ChosenLogin();
    if (!login) {
        WarningBox(tr("ログイン方法を選んでください。"));
        return std::nullopt;
    }
    if (*login != SmtpLogin::None && !ProtectsLogin(*security)) {
        WarningBox(tr("SMTP認証を使うときは、接続の保護に STARTTLS か SSL/TLS を選んでください。"));
        return std::nullopt;
    }
    if (!SignInCanBeSaved(*login))
        return std::nullopt;
    return security;
}

std::optional<int> SettingsDialog::CheckedDotSize()
{
    int dotSize = settings.DotSize;
    const QString modelLine = ui->modelCombo->currentText();
    try {
        DeriveDotSize(
            pictureSizeOptions->checkedId(), modelLine, [this] { return ui->ownSizeSpin->value(); }, dotSize);
    } catch (const Exception &) {
        dotSize = 0;
    }
    if (dotSize >= 1)
        return dotSize;
    WarningBox(tr("機種「%1」の「:」の後に、画像サイズのドット数（1 以上の数）がありません。").arg(modelLine));
    ShowField(ui->modelCombo);
    return std::nullopt;
}

void SettingsDialog::ShowField(QWidget *field)
{
    for (int page = 0; page < ui->pages->count(); ++page)
        if (ui->pages->widget(page)->isAncestorOf(field))
            ui->pages->setCurrentIndex(page);
    field->setFocus(Qt::OtherFocusReason);
}

int SettingsDialog::CompleteHeloNameAndPort(SmtpSecurity security)
{
    if (ui->heloNameEdit->text().isEmpty())
        ui->heloNameEdit->setText(LocalPart(ui->senderAddressEdit->text()));
    // Not a number, or no port at all: the chosen security's default (25 without one).
    int port = DefaultSmtpPort(security);
    try {
        const int typed = StrictNumber(ui->portEdit->text());
        if (typed >= 1 && typed <= 65535)
            port = typed;
    } catch (const Exception &) {
    }
    ui->portEdit->setText(QString::number(port));
    return port;
}

void SettingsDialog::ApplyServerBoxes(SmtpSecurity security, int port)
{
    settings.FromName = ui->senderNameEdit->text();
    settings.FromAddress = ui->senderAddressEdit->text();
    settings.SmtpPort = port;
    settings.SmtpHost = ui->serverEdit->text();
    settings.HeloName = ui->heloNameEdit->text();
    settings.Security = security;
    settings.UnknownSecurity.clear();
    settings.Auth = ChosenLogin().value_or(SmtpLogin::None);
    settings.AuthUser = ui->loginNameEdit->text();
    settings.OAuthProvider = ChosenProvider();
    settings.OAuth = signInOverrides;
    if (setDestination)
        setDestination(ui->defaultDestinationEdit->text());
}

QList<SettingValue> SettingsDialog::BoxValues(SmtpSecurity security, bool firstRun) const
{
    // In the order the keys have always been written, so that a new file reads as before.
    QList<SettingValue> values;
    if (firstRun)
        values.append({Setting::LaunchCount, NumberText(0)});
    values += {
        {Setting::SenderName, ui->senderNameEdit->text()},
        {Setting::SenderAddress, ui->senderAddressEdit->text()},
        {Setting::ServerPort, ui->portEdit->text()},
        {Setting::Server, ui->serverEdit->text()},
        {Setting::HeloName, ui->heloNameEdit->text()},
        {Setting::Destination, ui->defaultDestinationEdit->text()},
        {Setting::Security, NumberText(static_cast<int>(security))},
        {Setting::Auth, NumberText(static_cast<int>(ChosenLogin().value_or(SmtpLogin::None)))},
        {Setting::LoginName, ui->loginNameEdit->text()},
        {Setting::PictureSizeChoice, NumberText(pictureSizeOptions->checkedId())},
        {Setting::ModelLine, ui->modelCombo->currentText()},
        {Setting::OwnPictureSize, NumberText(ui->ownSizeSpin->value())},
        {Setting::SizeLimitChoice, NumberText(sizeLimitOptions->checkedId())},
        {Setting::OwnSizeLimit, NumberText(ui->ownLimitSpin->value())},
        {Setting::AdFooter, FlagText(Setting::AdFooter, ui->adFooterCheck->isChecked())},
    };
    values += SignInKeyValues(ChosenLogin().value_or(SmtpLogin::None), ChosenProvider(), signInOverrides);
    return values;
}

void SettingsDialog::SavePassword()
{
    const QString password = ui->passwordEdit->text();
    // An empty box keeps the password stored before.
    if (ChosenLogin() != SmtpLogin::Password || password.isEmpty())
        return;
    ui->passwordEdit->clear();
    // The settings in memory already hold what OK took from the boxes.
    if (!PasswordStore::Save(PasswordStore::Account(settings.SmtpHost, LoginName(settings)), password))
        InformationBox(tr("パスワードをキーリングに保存できませんでした。kelvoを終了するまでの間だけ覚えておきます。"));
}

void SettingsDialog::CancelSettings()
{
    if (!SettingsFileExists()) {
        const MsgResult answer =
            PlainBox(tr("kelvoを使うには設定を行う必要があります。設定しますか？"), MsgButtons::YesNo);
        if (answer == MsgResult::Yes)
            return;
        if (OnTerminate)
            OnTerminate();
    }
    CloseByButton(QDialog::Rejected);
}
