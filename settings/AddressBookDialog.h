#pragma once

#include "settings/AddressFile.h"
#include "settings/SettingsStore.h"

#include <QDialog>

#include <memory>

namespace Ui {
class AddressBookDialog;
}

class QCloseEvent;
class QTreeWidgetItem;

// The sub-items of an entry as one line of comma text: an item holding a blank or other
// character at or below code 32, a double quote or a comma is put in double quotes with
// its inner double quotes doubled; an empty item becomes "".
QString CommaText(const QStringList &items);

// The address book. It is created once at start, reads address.dat then (from where the
// file layout keeps it), and is shown modally from the main window. It can only be left through
// its own buttons, and both of those write address.dat back.
class AddressBookDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddressBookDialog(DestinationSetter setDestination, QWidget *parent = nullptr);
    ~AddressBookDialog() override;

    // The list as it stands, in its order.
    QList<AddressEntry> Entries() const;

    // Escape and the window manager's close do nothing.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // address.dat, as far as it reads.
    void ReadBook();
    void ShowEntries(const QList<AddressEntry> &entries);
    void AppendEntry(const AddressEntry &entry);

    // The buttons.
    void AddTyped(); // the name and address typed below the list, as a new entry
    void DeleteSelected();
    void PasteSelected(); // into the main window's destination box, then closes
    void SaveAndClose();  // writes address.dat first

    std::unique_ptr<Ui::AddressBookDialog> ui;
    DestinationSetter setDestination;
};
