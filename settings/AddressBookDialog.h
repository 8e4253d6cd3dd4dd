#pragma once

#include "settings/AddressFile.h"
#include "settings/SettingsStore.h"

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class AddressBookDialog;
}

class QLabel;
class QTreeWidgetItem;

// The sub-items of an entry as one line of comma text: an item holding a blank or other
// character at or below code 32, a double quote or a comma is put in double quotes with
// its inner double quotes doubled; an empty item becomes "".
QString CommaText(const QStringList &items);

// The address book. It is created once at start, reads address.dat then (from where the
// file layout keeps it), and is shown modally from the main window. Closing it (its button,
// Escape, the window manager's close, or a paste) writes address.dat back, with two
// exceptions that keep a file kelvo must not overwrite byte for byte:
// - a file that could not be read whole: the book opens read-only with a line saying so, and
//   closing writes nothing; the first edit moves the file aside, to
//   address.dat.damaged-<date and time>, and says where, and from then on closing writes;
// - files left alone for another kelvo (FilesLeftAlone()): nothing can be edited.
// A write that fails never keeps the book open: the failure is shown once, with the offer to
// save the list elsewhere, and the list is dropped only when the user says so.
class AddressBookDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddressBookDialog(DestinationSetter setDestination, QWidget *parent = nullptr);
    ~AddressBookDialog() override;

    // The list as it stands, in its order.
    QList<AddressEntry> Entries() const;

    // Escape and the window manager's close: as the close button.
    void reject() override;

    // Where the list goes when address.dat cannot be written and the user chooses to save it
    // elsewhere; empty: not saved. A file dialog unless set (tests set it).
    std::function<QString()> AskSavePath;

private:
    // address.dat, as far as it reads; a file that does not read whole is kept as it is.
    void ReadBook();
    void ShowReadOnly(const QString &notice);
    // Before the first edit of a book that did not read whole, or no edit at all.
    void AllowEdit();
    void MoveDamagedFileAside();
    void ShowEntries(const QList<AddressEntry> &entries);
    void AppendEntry(const AddressEntry &entry);

    // The buttons.
    void AddTyped(); // the name and address typed below the list, as a new entry
    void DeleteSelected();
    void PasteSelected(); // into the main window's destination box, then closes
    void SaveAndClose();  // writes address.dat first, unless the book is read-only
    // After a failed write: the list saved elsewhere, dropped, or kept in memory for the next
    // close to write, as the user chooses.
    void OfferToSaveElsewhere(const QString &failure);
    bool SaveElsewhere();

    std::unique_ptr<Ui::AddressBookDialog> ui;
    QLabel *readOnlyNotice;
    DestinationSetter setDestination;
    bool damagedFileKept = false;     // address.dat did not read whole and has not been moved aside
    QList<AddressEntry> savedEntries; // the list as last read or written
};
