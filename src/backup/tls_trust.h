#pragma once
// Trusting the certificate of a share that no public authority vouches for (a home NAS with a
// certificate of its own making): the fingerprint the user compares, the key pin the client
// checks from then on, the question, and where the trusted keys are kept.
//
// The pin is the SHA-256 of the certificate's public key, checked by libcurl during the TLS
// handshake, so a server with another key is refused before the credentials or the package
// are sent to it; a certificate renewed with the same key stays trusted. The trusted keys are
// kept in this computer's settings ("trusted_keys/<host:port>"), not in the notes database:
// trust is a decision about this computer's way to the server, and a database that comes down
// from the share must not bring along which servers this computer trusts.
#include "backup/http_client.h"

#include <QByteArray>
#include <QString>

namespace yunshan {

class SettingsStore;

// The SHA-256 of the certificate as upper-case hexadecimal pairs joined by ":".
QString certificate_fingerprint(const QByteArray &der);

// "sha256//" + Base64 of the SHA-256 of the certificate's SubjectPublicKeyInfo; empty when the
// certificate cannot be read.
QByteArray public_key_pin(const QByteArray &der);

// The question whether to trust `certificate`; `changed`: another key was trusted before.
QString trust_question(const ServerCertificate &certificate, bool changed);

// The key trusted for an https server ("host:port"); empty when none.
QByteArray trusted_key(const SettingsStore &settings, const QString &origin);
void store_trusted_key(SettingsStore &settings, const QString &origin, const QByteArray &pin);

} // namespace yunshan
