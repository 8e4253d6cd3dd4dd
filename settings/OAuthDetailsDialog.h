#pragma once

#include "platform/OAuthProviders.h"

#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class OAuthDetailsDialog;
}

// The values of a sign-in that stand in for the provider's own ([oauth] ClientId,
// ClientSecret, AuthorizeUrl, TokenUrl, Scope): each box shows the built-in value greyed
// while it is empty. A custom provider needs them all but the secret.
class OAuthDetailsDialog : public QDialog
{
    Q_OBJECT
public:
    OAuthDetailsDialog(const QString &provider, const OAuthOverrides &overrides, QWidget *parent = nullptr);
    ~OAuthDetailsDialog() override;

    // The values as OK left them; nothing after Cancel.
    static std::optional<OAuthOverrides> Edit(const QString &provider, const OAuthOverrides &overrides,
                                              QWidget *parent);

    OAuthOverrides Values() const;

private:
    std::unique_ptr<Ui::OAuthDetailsDialog> ui;
};
