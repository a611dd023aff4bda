// The HTTP client against a real httpd: bodies from memory and files, answers into files,
// transport errors.
#include "backup/http_client.h"
#include "backup/webdav.h"
#include "support/temp_folder.h"
#include "support/webdav_server.h"

#include <gtest/gtest.h>

#include <QFile>

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
