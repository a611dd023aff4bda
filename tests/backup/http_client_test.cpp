// The HTTP client against a real httpd: bodies from memory and files, answers into files,
// transport errors, servers that stop talking, certificates of a server's own making.
#include "backup/http_client.h"
#include "backup/tls_trust.h"
#include "backup/transfer_errors.h"
#include "backup/webdav.h"
#include "support/temp_folder.h"
#include "support/update_server.h"
#include "support/webdav_server.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTest>

namespace yunshan {
namespace {

using test::TempFolder;

TEST(HttpClient, BodiesFromMemoryAndFileAnswersIntoMemoryAndFile)
{
    test::ApacheDav server(QStringLiteral("u"), QStringLiteral("p"));
    ASSERT_TRUE(server.started()) << server.error().toStdString();
    HttpClient client;
    client.set_header("Authorization", basic_credentials(QStringLiteral("u"), QStringLiteral("p")));

    HttpRequest put;
    put.method = "PUT";
    put.url = server.url() + QStringLiteral("a.txt");
    put.body = "from memory";
    EXPECT_EQ(client.send(put).status, 201);
    EXPECT_EQ(TempFolder::read(server.share() + QStringLiteral("/a.txt")), QByteArray("from memory"));

    TempFolder dir;
    const QByteArray big(3 * 1024 * 1024 + 3, 'z');
    TempFolder::write(dir.file(QStringLiteral("body")), big);
    put.body.clear();
    put.body_file = dir.file(QStringLiteral("body"));
    qint64 sent = 0;
    EXPECT_EQ(client
                  .send(put,
                        [&](TransferDirection d, qint64, qint64 done) {
                            if (d == TransferDirection::Send)
                                sent = done;
                        })
                  .status,
              204);
    EXPECT_EQ(sent, big.size());

    HttpRequest get;
    get.url = put.url;
    const HttpResponse in_memory = client.send(get);
    EXPECT_EQ(in_memory.status, 200);
    EXPECT_EQ(in_memory.body, big);
    get.response_file = dir.file(QStringLiteral("answer"));
    const HttpResponse in_file = client.send(get);
    EXPECT_TRUE(in_file.body.isEmpty());
    EXPECT_EQ(in_file.body_size, big.size());
    EXPECT_EQ(TempFolder::read(get.response_file), big);
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    EXPECT_EQ(QFile::permissions(get.response_file) & others, QFileDevice::Permissions()); // private to the user

    get.url = server.url() + QStringLiteral("missing");
    EXPECT_EQ(client.send(get).status, 404);

    // A command started from a progress callback cannot reuse the running connection.
    get.url = put.url;
    get.response_file.clear();
    bool refused = false;
    client.send(get, [&](TransferDirection, qint64, qint64) {
        if (!refused) {
            EXPECT_THROW(client.send(get), HttpError);
            refused = true;
        }
    });
    EXPECT_TRUE(refused);
}

TEST(HttpClient, ServersThatStopTalkingAreGivenUp)
{
    using Mode = test::StallingServer::Mode;
    using Kind = HttpError::Kind;
    TempFolder dir;
    const QString big = dir.file(QStringLiteral("big"));
    TempFolder::write(big, QByteArray(32 * 1024 * 1024, 'b')); // more than the socket buffers hold
    struct Case {
        const char *name;
        Mode mode;
        QByteArray method;
        int stall_seconds;
        int deadline_seconds; // 0: the quick limit
        Kind kind;
    };
    const Case cases[] = {
        {"a byte every 0.4 s", Mode::Trickle, "PROPFIND", 1, 0, Kind::Stalled},
        {"no answer", Mode::Silent, "PROPFIND", 1, 0, Kind::Stalled},
        {"no answer before the deadline", Mode::Silent, "MKCOL", 30, 1, Kind::Timeout},
        {"stops sending the body", Mode::StopSending, "GET", 1, 0, Kind::Stalled},
        {"stops reading the body", Mode::StopReceiving, "PUT", 1, 0, Kind::Stalled},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        test::StallingServer server(c.mode);
        HttpClient client;
        HttpLimits limits;
        limits.stall_seconds = c.stall_seconds;
        client.set_limits(limits);
        int checks = 0;
        client.set_cancel_check([&checks] {
            ++checks;
            return false;
        });
        HttpRequest r;
        r.method = c.method;
        r.url = server.url() + QStringLiteral("yunshanzhaji/notedb.zip");
        r.deadline_seconds = c.deadline_seconds;
        if (c.method == "PUT")
            r.body_file = big;
        if (c.method == "GET")
            r.response_file = dir.file(QStringLiteral("answer"));
        try {
            client.send(r);
            ADD_FAILURE() << "no error";
        } catch (const HttpError &e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
            EXPECT_EQ(e.url(), r.url);
            if (c.kind == Kind::Stalled)
                EXPECT_EQ(transfer_error_text(TransferStep::Download, server.url(), e),
                          QStringLiteral(
                              "从网盘下载失败：服务器 %1 停止了收发数据，1 秒没有进展，已放弃。本地笔记没有改动。\n"
                              "Less than 1024 bytes moved in 1 seconds")
                              .arg(server_name(server.url())));
            else
                EXPECT_EQ(transfer_error_text(TransferStep::Test, server.url(), e),
                          QStringLiteral("备份网盘测试失败：服务器 %1 在 1 秒内没有完成应答，已放弃。\n"
                                         "No complete answer within 1 seconds")
                              .arg(server_name(server.url())));
        }
        // While the server said nothing, the cancel check (which lets the window's events run)
        // was asked again and again, not once a second.
        EXPECT_GE(checks, 5);
    }
}

TEST(HttpClient, CancelCheckEndsARequestThatWaits)
{
    test::StallingServer server(test::StallingServer::Mode::Silent);
    HttpClient client;
    int checks = 0;
    HttpRequest r;
    r.method = "PROPFIND";
    r.url = server.url();
    r.cancel = [&checks] { return ++checks == 3; };
    try {
        client.send(r);
        FAIL() << "no error";
    } catch (const HttpError &e) {
        EXPECT_EQ(e.kind(), HttpError::Kind::Cancelled);
        EXPECT_TRUE(is_cancellation(e));
        EXPECT_EQ(transfer_error_text(TransferStep::Test, server.url(), e),
                  QStringLiteral("已取消网盘测试。\nThe request to ") + r.url + QStringLiteral(" was cancelled"));
    }
    EXPECT_EQ(checks, 3);
}

namespace {

// What openssl says of a certificate file: the output of `command` with $1 = the file.
QString openssl_says(const QString &command, const QString &certificate)
{
    QProcess p;
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), command, QStringLiteral("sh"), certificate});
    p.waitForFinished(20000);
    return QString::fromLatin1(p.readAllStandardOutput()).trimmed();
}

// The requests httpd has logged, once there are `expected` of them (it logs after answering).
qsizetype logged_requests(const test::ApacheDav &server, qsizetype expected)
{
    (void)QTest::qWaitFor([&] { return server.requests().size() >= expected; }, 2000);
    return server.requests().size();
}

} // namespace

TEST(HttpClient, OwnCertificateIsRefusedUntilItsKeyIsPinned)
{
    test::UpdateServer plain; // an http server elsewhere
    test::ApacheDav::Options options;
    options.tls = true;
    options.extra_config = QStringLiteral("Redirect 302 /down ") + plain.url() + QStringLiteral("/x");
    test::ApacheDav server(QStringLiteral("u"), QStringLiteral("p"), options);
    ASSERT_TRUE(server.started()) << server.error().toStdString();
    HttpClient client;
    client.set_header("Authorization", basic_credentials(QStringLiteral("u"), QStringLiteral("p")));
    HttpRequest propfind;
    propfind.method = "PROPFIND";
    propfind.url = server.url();
    propfind.headers = {{"Depth", "0"}};
    const auto kind_of_failure = [&] {
        try {
            client.send(propfind);
        } catch (const HttpError &e) {
            return e.kind();
        }
        return HttpError::Kind::Network;
    };
    EXPECT_EQ(kind_of_failure(), HttpError::Kind::Certificate);

    // The certificate as openssl sees it: the fingerprint users compare and the key's pin.
    const ServerCertificate certificate = client.fetch_certificate(server.url());
    const QString origin = QStringLiteral("127.0.0.1:%1").arg(server.port());
    EXPECT_EQ(certificate.origin, origin);
    EXPECT_TRUE(certificate.subject.contains(QStringLiteral("yunshan-test-nas"))) << certificate.subject.toStdString();
    EXPECT_EQ(
        QStringLiteral("sha256 Fingerprint=") + certificate_fingerprint(certificate.der),
        openssl_says(QStringLiteral("openssl x509 -in \"$1\" -noout -fingerprint -sha256"), server.certificate_file())
            .replace(QStringLiteral("SHA256"), QStringLiteral("sha256")));
    const QByteArray pin = public_key_pin(certificate.der);
    EXPECT_EQ(
        QString::fromLatin1(pin),
        QStringLiteral("sha256//") +
            openssl_says(QStringLiteral("openssl x509 -in \"$1\" -pubkey -noout | openssl pkey -pubin -outform der"
                                        " | openssl dgst -sha256 -binary | base64"),
                         server.certificate_file()));
    EXPECT_TRUE(server.requests().isEmpty()); // nothing was sent to the untrusted server

    // Pinned, the server is trusted by its key: its name and issuer do not matter.
    QByteArray pinned = pin;
    client.set_pin_lookup([&](const QString &o) { return o == origin ? pinned : QByteArray(); });
    EXPECT_EQ(client.send(propfind).status, 207);
    EXPECT_EQ(logged_requests(server, 1), 1);
    // Another key is refused before the request is sent.
    pinned = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    client.close_connections();
    EXPECT_EQ(kind_of_failure(), HttpError::Kind::PinMismatch);
    EXPECT_EQ(logged_requests(server, 2), 1);

    // A redirect from https to http is not followed, whatever the method.
    pinned = pin;
    HttpRequest get;
    get.url = server.origin() + QStringLiteral("/down");
    const HttpResponse r = client.send(get);
    EXPECT_EQ(r.status, 302);
    EXPECT_EQ(r.redirect, plain.url() + QStringLiteral("/x"));
    EXPECT_TRUE(plain.requests().isEmpty());
}

TEST(HttpClient, TransportFailuresThrow)
{
    HttpClient client;
    HttpRequest r;
    r.url = QStringLiteral("http://127.0.0.1:%1/").arg(test::closed_port());
    EXPECT_THROW(client.send(r), HttpError);
    r.url = QStringLiteral("ftp://127.0.0.1/");
    EXPECT_THROW(client.send(r), HttpError);
    r.url = QStringLiteral("http://127.0.0.1:%1/").arg(test::closed_port());
    r.body_file = QStringLiteral("/nonexistent/file");
    EXPECT_THROW(client.send(r), HttpError);
}

} // namespace
} // namespace yunshan
