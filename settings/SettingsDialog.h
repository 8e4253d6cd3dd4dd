#pragma once

#include "platform/OnlineAccounts.h"
#include "settings/SettingsStore.h"

#include <QByteArray>
#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;
class QShowEvent;
class QTabBar;

namespace Ui {
class SettingsDialog;
}

// The phone model list, keitai.txt. Only so much of it is taken that a broken or
// huge file cannot stall the dialog's creation: the first ModelFileMaxBytes bytes,
// at most ModelListMaxLines lines, each line cut to ModelLineMaxBytes bytes (at a
// character boundary). Model lines are a few dozen bytes; a list of more lines than
// this could not be used from a drop-down anyway.
inline constexpr qint64 ModelFileMaxBytes = 1024 * 1024;
inline constexpr int ModelListMaxLines = 10000;
inline constexpr int ModelLineMaxBytes = 256;

// CP932 text split into lines at LF, a CR before the LF dropped, empty lines kept as
// empty entries; no entry for the end of the text after a last LF. With `complete`
// false the text was cut short and its unfinished last line is dropped.
QStringList SplitModelLines(const QByteArray &bytes, bool complete = true);

// The lines of the model list file at `path`, within the bounds above; none when it
// cannot be read.
QStringList ReadModelList(const QString &path);

// Sorts model lines the way the drop-down shows them: without regard to case. The
// comparison is the plain case-insensitive one rather than the locale's, so the order
// does not depend on the machine's locale; equal lines keep their order.
void SortModelLines(QStringList &lines);

// The settings dialog. It edits every lasting setting, writes kelvo.ini on OK and
// puts the new settings straight into the main window's `MainSettings` (and its
// destination box through `setDestination`). Escape and the window manager's close are Cancel.
class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    SettingsDialog(MainSettings &settings, DestinationSetter setDestination, QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // Asked to end the program when the user refuses the settings on the first run.
    // By default it posts a quit to the application's event loop, so it takes effect
    // even when the first run comes before the loop has started.
    std::function<void()> OnTerminate;

    // Cancel: キャンセル, Escape and the window manager's close.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SetUpPageTabs();
    void SetUpKeyboardAndNames();
    void ConnectBoxes();
    void FillModelList();

    // Each showing: the boxes as kelvo.ini has them, or the first run's.
    void ShowStoredSettings();
    void ShowOlderKeys();
    void ShowSubmissionKeys();
    void ShowSecurity(std::optional<SmtpSecurity> security);
    std::optional<SmtpSecurity> ChosenSecurity() const;

    // OK: checks every box, then writes them all to kelvo.ini in one go and puts them into
    // the settings in memory.
    void AcceptSettings();
    void TakeTypedSpinValues();
    // The security chosen, or nothing when a box is missing or wrong (the user was told).
    std::optional<SmtpSecurity> CheckBeforeSaving();
    // The dot size the picture size boxes give, or nothing when the chosen model line has
    // none (the user was told).
    std::optional<int> CheckedDotSize();
    // Brings the page of a box that is wrong to the front and puts the focus in it.
    void ShowField(QWidget *field);
    // Fills an empty HELO name box and settles the port box; the port it holds then.
    int CompleteHeloNameAndPort(SmtpSecurity security);
    void ApplyServerBoxes(SmtpSecurity security, int port);
    // Every key OK writes, with the launch counter first on the first run.
    QList<SettingValue> BoxValues(SmtpSecurity security, bool firstRun) const;
    void SavePassword();
    // Cancel: on the first run, the user may end kelvo instead.
    void CancelSettings();

    void SenderAddressEdited();
    void ProposeServer();
    void ProposePortForSecurity();
    void EnableAdvancedBoxes();
    void EnablePictureSizeBoxes();
    void EnableOwnLimitBox();
    void EnableLoginBoxes();

    // The login method and the sign-in (SettingsDialogSignIn.cpp). The methods are listed in
    // the order of LoginMethods; a stored sign-in of a provider kelvo does not know shows
    // none, so that OK waits for a choice.
    void ConnectSignInBoxes();
    void ShowLoginMethod(SmtpLogin login, const QString &provider);
    std::optional<SmtpLogin> ChosenLogin() const;
    // The provider of the sign-in chosen; for another method, the one kelvo.ini holds.
    QString ChosenProvider() const;
    // The user chose a method: Microsoft's and Google's fill in their server.
    void FillProviderServer();
    void AskDesktopAccounts();
    void ShowDesktopChoice();
    void ShowSignInState();
    void ShowSignInNote();
    void SignInNow();
    void SignOutNow();
    void ForgetSignInOfAnotherClient();
    void EditSignInDetails();
    // The keyring's name for the sign-in the boxes describe.
    QString SignInAccount() const;
    // OK's check of the login method; false when the user was told what is missing.
    bool SignInCanBeSaved(SmtpLogin login);
    void CloseByButton(int result);

    std::unique_ptr<Ui::SettingsDialog> ui;
    MainSettings &settings;
    DestinationSetter setDestination;
    QButtonGroup *pictureSizeOptions;
    QButtonGroup *sizeLimitOptions;
    QTabBar *pageTabs = nullptr;
    // The security whose default port the port box was last measured against.
    SmtpSecurity shownSecurity = SmtpSecurity::None;
    // [oauth] as the boxes have it: the provider stored, and the values of the details dialog.
    QString storedProvider;
    OAuthOverrides signInOverrides;
    // The desktop's mail accounts, once it answered; the reason when it has none to give.
    std::optional<QList<OnlineMailAccount>> desktopAccounts;
    QString desktopReason;
};
