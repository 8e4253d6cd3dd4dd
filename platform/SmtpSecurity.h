#pragma once

// How the connection to the SMTP server is protected: not at all, by STARTTLS after the
// greeting, or by TLS from the first byte. The numbers are those kelvo.ini keeps under
// [smtp] Security.
enum class SmtpSecurity { None = 0, StartTls = 1, Tls = 2 };

// A login name and password never go over a connection anyone can read. The settings
// dialog refuses such settings, the send command stops before it asks for a password, and
// the SMTP client refuses to log in: all three ask here.
constexpr bool ProtectsLogin(SmtpSecurity security)
{
    return security != SmtpSecurity::None;
}

// How kelvo logs in to the SMTP server: not at all, with a password, or by signing in with
// OAuth2 (a provider's page in the browser, or the desktop's online account). The numbers
// are those kelvo.ini keeps under [smtp] Auth.
enum class SmtpLogin { None = 0, Password = 1, OAuth2 = 2 };
