#pragma once

#include <QSslConfiguration>

// The TLS settings of kelvo's HTTPS requests: the certificates trusted are exactly those the
// SMTP connections trust (see TlsSession): the file and the hashed folder OpenSSL uses by
// default, or SSL_CERT_FILE and SSL_CERT_DIR where they are set. The peer is always
// verified, its host name included; nothing older than TLS 1.2.
QSslConfiguration HttpsConfiguration();
