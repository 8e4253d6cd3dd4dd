#include "platform/HttpsTrust.h"

#include <QDir>
#include <QRegularExpression>
#include <QSslCertificate>

#include <openssl/x509.h>

#include <cstdlib>

namespace {

QString FromEnvironmentOr(const char *variable, const char *fallback)
{
    const char *set = std::getenv(variable);
    return QFile::decodeName(set ? set : fallback);
}

// What OpenSSL's default verify paths hold: the certificate file, and in each folder of the
// folder list the certificates it would look up by their subject's hash ("1a2b3c4d.0").
QList<QSslCertificate> TrustedCertificates()
{
    QList<QSslCertificate> trusted = QSslCertificate::fromPath(
        FromEnvironmentOr(X509_get_default_cert_file_env(), X509_get_default_cert_file()), QSsl::Pem);
    static const QRegularExpression hashed(QStringLiteral("^[0-9a-f]{8}\\.[0-9]+$"));
    const QString folders = FromEnvironmentOr(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
    for (const QString &folder : folders.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList(QDir::Files))
            if (hashed.match(name).hasMatch())
                trusted += QSslCertificate::fromPath(dir.filePath(name), QSsl::Pem);
    }
    return trusted;
}

} // namespace

QSslConfiguration HttpsConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(TrustedCertificates());
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
}
