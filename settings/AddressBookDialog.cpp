#include "settings/AddressBookDialog.h"

#include "platform/Accessibility.h"
#include "platform/Command.h"
#include "platform/Fonts.h"
#include "platform/MsgBox.h"
#include "ui_AddressBookDialog.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QTreeWidgetItem>

Q_DECLARE_METATYPE(AddressEntry)

namespace {

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
    : QDialog(parent), ui(std::make_unique<Ui::AddressBookDialog>()), setDestination(std::move(setDestination))
{
    ui->setupUi(this);
    setFont(WindowFont());
    setFixedSize(400, 393);
    // No close button in the title bar: the dialog is left only through its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    ui->addressList->header()->setSectionResizeMode(QHeaderView::Stretch);
    ui->addressList->header()->setSectionsMovable(false);

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
    const QString path = AddressBookPath();
    if (!QFileInfo(path).isFile())
        return;
    try {
        ShowEntries(ReadAddressFile(path));
    } catch (const EAddressReadError &e) {
        ShowEntries(e.Entries);
        throw;
    }
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
{}

void AddressBookDialog::closeEvent(QCloseEvent *event)
{
    event->ignore();
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
    // A failed write throws before the dialog closes, so the user can try again.
    const QString path = AddressBookPath();
    MakeFolderFor(path);
    WriteAddressFile(path, Entries());
    accept();
}
