#include "crypto/text_cipher.h"

#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <QBuffer>

using namespace yunshan;

namespace {

QByteArray key_bytes(const QString &password)
{
    const AesKey key = key_block(password);
    return QByteArray(reinterpret_cast<const char *>(key.data()), 16);
}

QByteArray utf16le(const QString &text)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xff));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

// Stored values computed once with the openssl command from the stored-format rules (key block,
// IV "3092817405293018", zero fill), independently of this code.
struct Known {
    const char16_t *password;
    const char *hex;
};
const Known kTitleVectors[] = {
    // "@*crypt*笔记"
    {u"a", "32CA85B7AF4AFBE837094F0FE00C81E77856C5339822C764D5A96015EE8C7754"},
    {u"abc", "B99B20CCD4CFC255C709BA2613A65D62036BA6F8B35F81E53C5E0659533DEA04"},
    {u"密码", "B6139FC65F23FD5A74EA5E5BE620D2341DBE5F446BCB02160CCEF25DB62BD3CB"},
    {u"0123456789abcdefXYZ", "DF44B0B2C733C4E1AF6330A0683262E63B90C6A05B66DEB1F66165CDDC3E6DE1"},
    {u"", "C6F2BAEA30CF02A13E6653861BFEB1335A93A725E0865F448E8426A58275E17C"},
};

const QString kMarker = QStringLiteral("@*crypt*");

} // namespace

TEST(TextCipher, KnownTitlesEncryptAndDecryptExactly)
{
    const QString title = QStringLiteral("@*crypt*笔记");
    for (const Known &k : kTitleVectors) {
        const QString password = QString::fromUtf16(k.password);
        const QString hex = QString::fromLatin1(k.hex);
        EXPECT_EQ(encrypt_text(title, password), hex) << hex.toStdString();
        EXPECT_EQ(decrypt_text(hex, password, TextForm::Utf16Le), title);
        EXPECT_EQ(decrypt_text(hex.toLower(), password, TextForm::Utf16Le), title);
    }
    // The marker alone is the first block of any title that starts with it.
    EXPECT_EQ(encrypt_text(kMarker, QStringLiteral("abc")), QStringLiteral("B99B20CCD4CFC255C709BA2613A65D62"));
}

TEST(TextCipher, KeyBlockCopiesBytesCountedInCodeUnits)
{
    struct Case {
        const char16_t *password;
        const char *key;
    };
    const Case cases[] = {
        {u"", "00000000000000000000000000000000"},
        {u"a", "61000000000000000000000000000000"},
        {u"abcde", "61006200630000000000000000000000"},  // two units and the low byte of the third
        {u"abcdef", "61006200630000000000000000000000"}, // three units
        {u"密码", "c65b0000000000000000000000000000"},   // 2 units: 2 bytes, 密 only
        {u"abcdefghijklmno", "610062006300640065006600670068"
                             "00"}, // 15 units: 7 units and a low byte
        {u"0123456789abcdef", "30003100320033003400350036003700"},
        {u"0123456789abcdefXYZ", "30003100320033003400350036003700"},
    };
    for (const Case &c : cases) {
        const QString password = QString::fromUtf16(c.password);
        EXPECT_EQ(key_bytes(password).toHex(), QByteArray(c.key)) << password.toStdString();
    }

    // What the key ignores does not change the ciphertext.
    const QString title = QStringLiteral("标题");
    EXPECT_EQ(encrypt_text(title, QStringLiteral("abcdef")), encrypt_text(title, QStringLiteral("abcXYZ")));
    EXPECT_EQ(encrypt_text(title, QStringLiteral("abcde")),
              encrypt_text(title, QString::fromUtf16(u"ab\u4e63xy"))); // only the low byte 63 of the third
    EXPECT_EQ(encrypt_text(title, QStringLiteral("0123456789abcdef")),
              encrypt_text(title, QStringLiteral("01234567zzzzzzzzzzzz")));
    EXPECT_NE(encrypt_text(title, QStringLiteral("abcdef")), encrypt_text(title, QStringLiteral("abXdef")));
}

TEST(TextCipher, LengthsOfTheHexForm)
{
    EXPECT_EQ(encrypt_text(kMarker, QStringLiteral("pw")).size(), 32);
    EXPECT_EQ(encrypt_text(kMarker + QLatin1Char('x'), QStringLiteral("pw")).size(), 64);
    EXPECT_TRUE(encrypt_text(QString(), QStringLiteral("pw")).isEmpty());
    EXPECT_TRUE(decrypt_text(QString(), QStringLiteral("pw"), TextForm::Utf16Le).isEmpty());
    EXPECT_TRUE(decrypt_text(QString(), QStringLiteral("pw"), TextForm::Legacy8Bit).isEmpty());

    const QString hex = encrypt_text(QStringLiteral("任何文字"), QStringLiteral("pw"));
    for (QChar c : hex)
        EXPECT_TRUE((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                    (c >= QLatin1Char('A') && c <= QLatin1Char('F')));
}

TEST(TextCipher, RoundTripTrimsOnlyTheEnds)
{
    const QString text = QStringLiteral("\r\n \t标题  with\r\ninner\tspace \x01\x1f ");
    const QString password = QStringLiteral("密码123");
    EXPECT_EQ(decrypt_text(encrypt_text(text, password), password, TextForm::Utf16Le),
              QStringLiteral("标题  with\r\ninner\tspace"));
    // A wrong password is not an error: it just gives another text.
    EXPECT_NE(decrypt_text(encrypt_text(text, password), QStringLiteral("other"), TextForm::Utf16Le),
              QStringLiteral("标题  with\r\ninner\tspace"));
}

TEST(TextCipher, IncompleteCiphertextRaisesAesError)
{
    const QString hex = encrypt_text(QStringLiteral("abcdefghij"), QStringLiteral("pw")); // 64 digits
    for (const QString &bad : {hex.left(33), hex.left(30), hex.left(34)}) {
        try {
            decrypt_text(bad, QStringLiteral("pw"), TextForm::Utf16Le);
            ADD_FAILURE() << bad.size() << " digits decrypted";
        } catch (const EAESError &e) {
            EXPECT_STREQ(e.what(), "Invalid buffer size for decryption");
        }
    }
}

TEST(TextCipher, HexConversion)
{
    EXPECT_EQ(bytes_to_hex(QByteArray("\x0a\xff\x00\x7f", 4)), QStringLiteral("0AFF007F"));
    EXPECT_TRUE(bytes_to_hex(QByteArray()).isEmpty());

    struct Case {
        const char *text;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"", QByteArray()},
        {"0AFF", QByteArray("\x0a\xff", 2)},
        {"0aff", QByteArray("\x0a\xff", 2)},
        {"ABC", QByteArray("\xab\x0c", 2)}, // odd length: the last digit alone
        {"7", QByteArray("\x07", 1)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hex_to_bytes(QString::fromLatin1(c.text)), c.bytes) << c.text;

    struct Bad {
        const char16_t *text;
        const char16_t *message;
    };
    const Bad bad[] = {
        {u"ZZ", u"'0xZZ' is not a valid integer value"}, {u"AB0G", u"'0x0G' is not a valid integer value"},
        {u"ABG", u"'0xG' is not a valid integer value"}, {u"笔记", u"'0x笔记' is not a valid integer value"},
        {u" 1", u"'0x 1' is not a valid integer value"}, {u"-1", u"'0x-1' is not a valid integer value"},
    };
    for (const Bad &b : bad) {
        try {
            hex_to_bytes(QString::fromUtf16(b.text));
            ADD_FAILURE() << "no error";
        } catch (const IntegerConversionError &e) {
            EXPECT_EQ(QString::fromUtf8(e.what()), QString::fromUtf16(b.message));
        }
    }
    // A stored title that is not ciphertext.
    EXPECT_THROW(decrypt_text(QStringLiteral("普通标题"), QStringLiteral("pw"), TextForm::Utf16Le),
                 IntegerConversionError);
}

TEST(TextCipher, LegacyFormReadsCodePageText)
{
    // "@*crypt*旧版笔记镕堃" as code page 936 bytes under "密码", computed with the openssl command.
    const QString stored = QStringLiteral("5CC92D6EAB232FA8DBF007CC4AFB8A8B3A29C08AF2BDC3D9B43C959DD1267E92");
    const QString expected = QStringLiteral("@*crypt*旧版笔记镕堃");
    const QString password = QStringLiteral("密码");
    EXPECT_EQ(decrypt_text(stored, password, TextForm::Legacy8Bit), expected);
    EXPECT_FALSE(decrypt_text(stored, password, TextForm::Utf16Le).contains(kMarker));

    // The same through the stream routine and the code-page function.
    QByteArray gbk = unicode_to_ansi(expected);
    QBuffer source(&gbk);
    source.open(QIODevice::ReadOnly);
    QByteArray cipher;
    QBuffer destination(&cipher);
    destination.open(QIODevice::WriteOnly);
    ASSERT_TRUE(encrypt_stream(source, password, destination));
    EXPECT_EQ(bytes_to_hex(cipher), stored);
}

TEST(TextCipher, PlainTextBodyThroughHexStream)
{
    // The plain-text copy of a body: FF FE and UTF-16LE, encrypted to hex digits.
    const QString body = QStringLiteral("第一行\r\n  second line\r\n");
    QByteArray plain = QByteArray("\xff\xfe", 2) + utf16le(body);
    QBuffer source(&plain);
    source.open(QIODevice::ReadOnly);
    source.seek(plain.size()); // the whole source is taken whatever its position
    QByteArray out;
    QBuffer destination(&out);
    destination.open(QIODevice::ReadWrite);
    ASSERT_TRUE(encrypt_stream_to_hex(source, QStringLiteral("a"), destination));
    EXPECT_EQ(destination.pos(), 0);
    EXPECT_EQ(out, QByteArray("C704B17A5807194297F9590408D332D6B4A3903EED81807923C2A8EEF54E3184"
                              "75AF2546F2EBEE67F7F257339ADC577F"));
    // Read back with the text routine: the byte-order mark and the trailing line break go.
    EXPECT_EQ(decrypt_text(QString::fromLatin1(out), QStringLiteral("a"), TextForm::Utf16Le),
              QStringLiteral("第一行\r\n  second line"));
    // Removing only the zero fill keeps the body as typed.
    const QString indented = QStringLiteral("  缩进\r\n\t第二行\r\n");
    for (TextForm form : {TextForm::Utf16Le, TextForm::Legacy8Bit}) {
        QByteArray bytes =
            form == TextForm::Utf16Le ? QByteArray("\xff\xfe", 2) + utf16le(indented) : unicode_to_ansi(indented);
        QBuffer typed(&bytes);
        typed.open(QIODevice::ReadOnly);
        QByteArray hex;
        QBuffer hex_out(&hex);
        hex_out.open(QIODevice::WriteOnly);
        encrypt_stream_to_hex(typed, QStringLiteral("pw"), hex_out);
        EXPECT_EQ(decrypt_text(QString::fromLatin1(hex), QStringLiteral("pw"), form, TextTrim::ZeroFillOnly), indented);
    }
}

TEST(TextCipher, RtfBodyStreamsKeepTheZeroFill)
{
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg936 \\'c4\\'da\\'c8\\'dd}"; // 40 bytes
    ASSERT_EQ(rtf.size(), 40);
    QBuffer source(&rtf);
    source.open(QIODevice::ReadOnly);
    source.seek(7);
    QByteArray cipher;
    QBuffer encrypted(&cipher);
    encrypted.open(QIODevice::ReadWrite);
    ASSERT_TRUE(encrypt_stream(source, QStringLiteral("pw"), encrypted));
    EXPECT_EQ(encrypted.pos(), 0);
    EXPECT_EQ(cipher.size(), 48);

    QByteArray plain;
    QBuffer decrypted(&plain);
    decrypted.open(QIODevice::ReadWrite);
    ASSERT_TRUE(decrypt_stream(encrypted, QStringLiteral("pw"), decrypted));
    EXPECT_EQ(decrypted.pos(), 0);
    EXPECT_EQ(plain, rtf + QByteArray(8, '\0'));

    QByteArray broken = cipher.left(33);
    QBuffer broken_source(&broken);
    broken_source.open(QIODevice::ReadOnly);
    QByteArray unused;
    QBuffer unused_destination(&unused);
    unused_destination.open(QIODevice::WriteOnly);
    EXPECT_THROW(decrypt_stream(broken_source, QStringLiteral("pw"), unused_destination), EAESError);
}
