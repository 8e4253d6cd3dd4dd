#include "settings/AddressBookDialog.h"

#include "platform/Accessibility.h"
#include "platform/Command.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"
#include "ui_AddressBookDialog.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidgetItem>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

Q_DECLARE_METATYPE(AddressEntry)

namespace {

// The list's height, and where it ends while the read-only notice shows under it.
constexpr int ListHeight = 241;
constexpr int NoticeTop = 210;

// Renames without replacing a file of the new name, and without Qt's fallback of copying the
// file, which would wait on a FIFO.
bool RenameWithoutReplacing(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from), target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) // a file system that cannot rename so
        return false;
    return ::link(source.constData(), target.constData()) == 0 && ::unlink(source.constData()) == 0;
}

// The whole entry rides on its row, so index and data fields read from the file and
// sub-items beyond the first go back into the file unchanged.
constexpr int EntryRole = Qt::UserRole;

bool NeedsQuotes(const QString &item)
{
    for (const QChar c : item) {
        if (c.unicode() <= 32 || c == u'"' || c == u',')
            return true;
    }
    return item.isEmpty();
}

} // namespace

QString CommaText(const QStringList &items)
{
    QStringList parts;
    for (const QString &item : items) {
        if (NeedsQuotes(item)) {
            QString inner = item;
            inner.replace(u'"', QStringLiteral("\"\""));
            parts.append(u'"' + inner + u'"');
        } else {
            parts.append(item);
        }
    }
    return parts.join(u',');
}

AddressBookDialog::AddressBookDialog(DestinationSetter setDestination, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::AddressBookDialog>()), readOnlyNotice(new QLabel(this)),
      setDestination(std::move(setDestination))
{
    ui->setupUi(this);
    setFont(WindowFont());
    setFixedSize(400, 393);
    // The window manager's close box closes the book as its own button does.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ui->addressList->header()->setSectionResizeMode(QHeaderView::Stretch);
    ui->addressList->header()->setSectionsMovable(false);
    // Under the list, which makes room for it when it shows.
    readOnlyNotice->setObjectName(QStringLiteral("readOnlyNotice"));
    readOnlyNotice->setGeometry(6, NoticeTop, 388, ListHeight - NoticeTop);
    readOnlyNotice->setWordWrap(true);
    readOnlyNotice->hide();

    connect(ui->pasteButton, &QAbstractButton::clicked, this, [this] { RunCommand([this] { PasteSelected(); }); });
    connect(ui->addButton, &QAbstractButton::clicked, this, [this] { RunCommand([this] { AddTyped(); }); });
    connect(ui->closeButton, &QAbstractButton::clicked, this, [this] { RunCommand([this] { SaveAndClose(); }); });
    connect(ui->deleteButton, &QAbstractButton::clicked, this, [this] { RunCommand([this] { DeleteSelected(); }); });
    // Return in either box adds what they hold, as the add button does.
    for (QLineEdit *box : {ui->nameEdit, ui->addressEdit})
        connect(box, &QLineEdit::returnPressed, this, [this] { RunCommand([this] { AddTyped(); }); });
    NameControlsByTheirLabels(this);
    // The address box has no label of its own: the list's column names it.
    ui->addressEdit->setAccessibleName(ui->addressList->headerItem()->text(1));
    ui->addressList->setAccessibleName(windowTitle());

    RunCommand([this] { ReadBook(); });
}

AddressBookDialog::~AddressBookDialog() = default;

void AddressBookDialog::ReadBook()
{
    if (FilesLeftAlone()) {
        ShowReadOnly(tr("応答しない別の kelvo がアドレス帳を使っているため、読み取り専用で開いています。"));
        ui->addButton->setEnabled(false);
        ui->deleteButton->setEnabled(false);
    }
    try {
        savedEntries = ReadAddressFile(AddressBookPath());
        ShowEntries(savedEntries);
    } catch (const EAddressReadError &e) {
        savedEntries = e.Entries;
        ShowEntries(e.Entries);
        if (!FilesLeftAlone()) {
            damagedFileKept = true;
            ShowReadOnly(tr("address.dat を最後まで読めなかったため、読み取り専用で開いています。\n"
                            "閉じてもファイルには書き込みません。"));
        }
        throw;
    }
}

void AddressBookDialog::ShowReadOnly(const QString &notice)
{
    readOnlyNotice->setText(notice);
    readOnlyNotice->show();
    ui->addressList->resize(ui->addressList->width(), NoticeTop);
}

void AddressBookDialog::AllowEdit()
{
    if (FilesLeftAlone())
        throw Exception(readOnlyNotice->text());
    if (damagedFileKept)
        MoveDamagedFileAside();
}

void AddressBookDialog::MoveDamagedFileAside()
{
    const QString path = QFileInfo(AddressBookPath()).absoluteFilePath();
    const QString stamped =
        path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = stamped;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = stamped + u'-' + QString::number(n);
    if (!RenameWithoutReplacing(path, aside)) {
        const QString reason = qt_error_string(errno);
        throw Exception(tr("読めなかった %1 を %2 に移せませんでした（%3）。アドレス帳は読み取り専用のままです。")
                            .arg(path, aside, reason));
    }
    damagedFileKept = false;
    readOnlyNotice->hide();
    ui->addressList->resize(ui->addressList->width(), ListHeight);
    InformationBox(
        tr("読めなかった %1 を %2 に移しました。アドレス帳は閉じるときに新しく書き込みます。").arg(path, aside));
}

QList<AddressEntry> AddressBookDialog::Entries() const
{
    QList<AddressEntry> entries;
    for (int i = 0; i < ui->addressList->topLevelItemCount(); ++i)
        entries.append(ui->addressList->topLevelItem(i)->data(0, EntryRole).value<AddressEntry>());
    return entries;
}

void AddressBookDialog::ShowEntries(const QList<AddressEntry> &entries)
{
    ui->addressList->clear();
    for (const AddressEntry &entry : entries)
        AppendEntry(entry);
}

void AddressBookDialog::AppendEntry(const AddressEntry &entry)
{
    auto *item = new QTreeWidgetItem(ui->addressList);
    item->setText(0, entry.Caption);
    item->setText(1, entry.SubItems.value(0));
    item->setData(0, EntryRole, QVariant::fromValue(entry));
}

void AddressBookDialog::reject()
{
    RunCommand([this] { SaveAndClose(); });
}

void AddressBookDialog::AddTyped()
{
    const QString name = ui->nameEdit->text();
    const QString address = ui->addressEdit->text();
    if (name.isEmpty() || address.isEmpty())
        return;
    if (!address.contains(u'@')) {
        PlainBox(tr("不適切なメールアドレスの形式です。"));
        return;
    }
    AllowEdit();
    AddressEntry entry;
    entry.Caption = name;
    entry.SubItems = {address};
    AppendEntry(entry);
}

void AddressBookDialog::DeleteSelected()
{
    const QList<QTreeWidgetItem *> selected = ui->addressList->selectedItems();
    if (selected.isEmpty()) {
        PlainBox(tr("削除したいアドレスを選択してください。"));
        return;
    }
    AllowEdit();
    delete selected.first();
    // The selection does not move on to a neighbour: a second click must not delete
    // an entry the user never chose.
    ui->addressList->clearSelection();
}

void AddressBookDialog::PasteSelected()
{
    if (ui->addressList->topLevelItemCount() == 0) {
        PlainBox(tr("メールアドレスが登録されていません。"));
        return;
    }
    const QList<QTreeWidgetItem *> selected = ui->addressList->selectedItems();
    if (selected.isEmpty()) {
        PlainBox(tr("アドレスを選択してください。"));
        return;
    }
    const AddressEntry entry = selected.first()->data(0, EntryRole).value<AddressEntry>();
    if (setDestination)
        setDestination(CommaText(entry.SubItems));
    SaveAndClose();
}

void AddressBookDialog::SaveAndClose()
{
    if (!damagedFileKept && !FilesLeftAlone()) {
        const QList<AddressEntry> entries = Entries();
        try {
            const QString path = AddressBookPath();
            MakeFolderFor(path);
            WriteAddressFile(path, entries);
            savedEntries = entries;
        } catch (const Exception &e) {
            OfferToSaveElsewhere(e.Message);
        }
    }
    QDialog::done(QDialog::Accepted);
}

void AddressBookDialog::OfferToSaveElsewhere(const QString &failure)
{
    if (ConfirmBox(tr("%1\nアドレス帳を別の場所に保存しますか？").arg(failure), MsgButtons::YesNo) == MsgResult::Yes &&
        SaveElsewhere())
        return;
    if (Entries() == savedEntries)
        return; // nothing unsaved to keep or drop
    // Keeping is the answer a hurried Return gives: the changes go only on the user's word.
    const QString question = tr("アドレス帳の変更を kelvo を終えるまで残し、次に閉じるときにもう一度保存しますか？\n"
                                "「いいえ」なら保存していない変更を捨てます。");
    if (ConfirmBox(question, MsgButtons::YesNo) == MsgResult::No)
        ShowEntries(savedEntries);
}

bool AddressBookDialog::SaveElsewhere()
{
    const QString path = AskSavePath ? AskSavePath()
                                     : QFileDialog::getSaveFileName(this, tr("アドレス帳の保存"),
                                                                    QDir::homePath() + u'/' + AddressFileName);
    if (path.isEmpty())
        return false;
    try {
        WriteAddressFile(path, Entries());
    } catch (const Exception &e) {
        ErrorBox(e.Message);
        return false;
    }
    InformationBox(tr("アドレス帳を %1 に保存しました。").arg(path));
    return true;
}
