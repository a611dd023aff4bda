#include "backup/tls_trust.h"

#include "platform/settings_store.h"

#include <QCryptographicHash>

namespace yunshan {

namespace {

// One DER element at `pos`: its tag and where its contents lie.
struct Element {
    unsigned char tag = 0;
    qsizetype start = 0; // of the whole element
    qsizetype body = 0;  // of its contents
    qsizetype end = 0;   // one past the element
};

bool read_element(const QByteArray &der, qsizetype pos, qsizetype limit, Element &e)
{
    if (pos < 0 || pos + 2 > limit)
        return false;
    const auto byte = [&der](qsizetype i) { return static_cast<unsigned char>(der.at(i)); };
    e.tag = byte(pos);
    const unsigned char first = byte(pos + 1);
    qsizetype length = 0;
    qsizetype header = 2;
    if (first < 0x80) {
        length = first;
    } else {
        const int count = first & 0x7f;
        if (count == 0 || count > 4 || pos + 2 + count > limit)
            return false;
        for (int i = 0; i < count; ++i)
            length = (length << 8) | byte(pos + 2 + i);
        header += count;
    }
    if (length > limit - pos - header)
        return false;
    e.start = pos;
    e.body = pos + header;
    e.end = e.body + length;
    return true;
}

constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kVersionTag = 0xA0; // [0] EXPLICIT Version

// Certificate ::= SEQUENCE { tbsCertificate, … }; tbsCertificate ::= SEQUENCE { [0] version
// OPTIONAL, serialNumber, signature, issuer, validity, subject, subjectPublicKeyInfo, … }.
QByteArray subject_public_key_info(const QByteArray &der)
{
    Element certificate, tbs, e;
    if (!read_element(der, 0, der.size(), certificate) || certificate.tag != kSequence)
        return {};
    if (!read_element(der, certificate.body, certificate.end, tbs) || tbs.tag != kSequence)
        return {};
    qsizetype pos = tbs.body;
    if (!read_element(der, pos, tbs.end, e))
        return {};
    if (e.tag == kVersionTag)
        pos = e.end;
    for (int skip = 0; skip < 5; ++skip) { // serial number, signature, issuer, validity, subject
        if (!read_element(der, pos, tbs.end, e))
            return {};
        pos = e.end;
    }
    if (!read_element(der, pos, tbs.end, e) || e.tag != kSequence)
        return {};
    return der.mid(e.start, e.end - e.start);
}

QString settings_key(const QString &origin)
{
    return QStringLiteral("trusted_keys/") + origin;
}

// The fingerprint in two lines of sixteen pairs.
QString fingerprint_lines(const QString &fingerprint)
{
    constexpr qsizetype kHalf = 16 * 3;
    return fingerprint.size() > kHalf ? fingerprint.left(kHalf - 1) + QLatin1Char('\n') + fingerprint.mid(kHalf)
                                      : fingerprint;
}

} // namespace

QString certificate_fingerprint(const QByteArray &der)
{
    const QByteArray hash = QCryptographicHash::hash(der, QCryptographicHash::Sha256);
    return QString::fromLatin1(hash.toHex(':').toUpper());
}

QByteArray public_key_pin(const QByteArray &der)
{
    const QByteArray key = subject_public_key_info(der);
    if (key.isEmpty())
        return {};
    return QByteArrayLiteral("sha256//") + QCryptographicHash::hash(key, QCryptographicHash::Sha256).toBase64();
}

QString trust_question(const ServerCertificate &certificate, bool changed)
{
    const QString details = QStringLiteral("证书颁发给：%1\n证书 SHA-256 指纹：\n%2\n")
                                .arg(certificate.subject, fingerprint_lines(certificate_fingerprint(certificate.der)));
    if (changed)
        return QStringLiteral("注意：网盘服务器 %1 出示的证书和以前信任的不一样，可能有人冒充这台服务器。\n")
                   .arg(certificate.origin) +
               details +
               QStringLiteral("只有在服务器确实换了证书，并且这个指纹和服务器管理页面上显示的一致时，才信任它。"
                              "是否信任这个新证书？");
    return QStringLiteral("网盘服务器 %1 的证书不是公认的证书机构签发的（家用 NAS 常用这种自己签发的证书）。\n")
               .arg(certificate.origin) +
           details +
           QStringLiteral("请和服务器管理页面上显示的指纹核对，一致才信任。是否信任这个证书？"
                          "信任后本机只认这个证书的密钥。");
}

QByteArray trusted_key(const SettingsStore &settings, const QString &origin)
{
    if (origin.isEmpty())
        return {};
    return settings.value(settings_key(origin)).toLatin1();
}

void store_trusted_key(SettingsStore &settings, const QString &origin, const QByteArray &pin)
{
    settings.set_value(settings_key(origin), QString::fromLatin1(pin));
}

} // namespace yunshan
