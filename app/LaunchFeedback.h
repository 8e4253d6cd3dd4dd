#pragma once

#include <QByteArray>
#include <QByteArrayView>

class QWidget;

// A desktop that launches a program hands it a token (DESKTOP_STARTUP_ID on X11,
// XDG_ACTIVATION_TOKEN on Wayland): the program ends the launcher's busy cursor with it, and
// a window manager that keeps windows from stealing the focus lets the launched window come
// to the front. A later kelvo hands its token to the running one, whose window answers the
// launch.

constexpr int MaxLaunchTokenBytes = 512;

// Printable ASCII of at most MaxLaunchTokenBytes; anything else is no token of ours.
bool IsLaunchToken(QByteArrayView token);

// The token this kelvo was launched with; empty when it has none or an unusable one.
QByteArray LaunchTokenOfThisStart();

// Activates `window` (already raised) for the launch that gave `token`. With no token it is
// a plain activation.
void ActivateForLaunch(QWidget *window, const QByteArray &token);
