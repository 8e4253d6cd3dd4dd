#include "settings/OAuthDetailsDialog.h"

#include "ui_OAuthDetailsDialog.h"

#include "platform/Accessibility.h"
#include "platform/Fonts.h"

OAuthDetailsDialog::OAuthDetailsDialog(const QString &provider, const OAuthOverrides &overrides, QWidget *parent)
    : QDialog(parent), ui(std::make_unique<Ui::OAuthDetailsDialog>())
{
    ui->setupUi(this);
    setFont(WindowFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const OAuthClient builtIn = ClientFor(provider, {});
    ui->detailsNote->setText(
        provider == QLatin1String("custom")
            ? tr("プロバイダに登録したデスクトップ用クライアントの値を入力してください。戻り先（リダイレクトURI）は "
                 "http://127.0.0.1 です。シークレットはないなら空欄のままにします。")
            : tr("空欄の項目は %1 の既定の値を使います。自分で登録したクライアントIDを使うときに入力してください"
                 "（README の「サインイン用のクライアントID」）。")
                  .arg(builtIn.Name));
    const std::pair<QLineEdit *, QString> boxes[] = {{ui->clientIdEdit, overrides.ClientId},
                                                     {ui->clientSecretEdit, overrides.ClientSecret},
                                                     {ui->authorizeUrlEdit, overrides.AuthorizeUrl},
                                                     {ui->tokenUrlEdit, overrides.TokenUrl},
                                                     {ui->scopeEdit, overrides.Scope}};
    for (const auto &[box, value] : boxes) {
        box->setText(value);
        box->setMinimumWidth(390); // room for the built-in URLs the empty boxes show
    }
    ui->clientIdEdit->setPlaceholderText(builtIn.ClientId);
    ui->authorizeUrlEdit->setPlaceholderText(builtIn.AuthorizeUrl.toString());
    ui->tokenUrlEdit->setPlaceholderText(builtIn.TokenUrl.toString());
    ui->scopeEdit->setPlaceholderText(builtIn.Scope);
    ui->clientSecretEdit->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    NameControlsByTheirLabels(this);
    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

OAuthDetailsDialog::~OAuthDetailsDialog() = default;

OAuthOverrides OAuthDetailsDialog::Values() const
{
    return {ui->clientIdEdit->text().trimmed(), ui->clientSecretEdit->text().trimmed(),
            ui->authorizeUrlEdit->text().trimmed(), ui->tokenUrlEdit->text().trimmed(),
            ui->scopeEdit->text().trimmed()};
}

std::optional<OAuthOverrides> OAuthDetailsDialog::Edit(const QString &provider, const OAuthOverrides &overrides,
                                                       QWidget *parent)
{
    OAuthDetailsDialog dialog(provider, overrides, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Values();
}
