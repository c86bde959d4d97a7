// "file://" addresses: read by the client like a web text, strange files
// refused before they can block.
#include "platform/curlhttpclient.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

using lesemund::platform::CurlHttpClient;
using lesemund::platform::HttpResult;

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class FileFetchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString write(const QString &name, const QByteArray &bytes) {
        const QString path = dir.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    QTemporaryDir dir;
    CurlHttpClient client;
};

TEST_F(FileFetchTest, LocalTextIsRead) {
    const QString path = write("brief.txt", "Sehr geehrte Damen und Herren,\r\n");
    const HttpResult r = client.get("file://" + path);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "Sehr geehrte Damen und Herren,\r\n");
}

TEST_F(FileFetchTest, LocalPathWithBlanksAndUmlautsIsRead) {
    QDir(dir.path()).mkdir(QStringLiteral("Meine Bücher"));
    const QString path = write(QStringLiteral("Meine Bücher/Märchen & Sagen.txt"), "Es war einmal");
    const HttpResult r = client.get("file://" + path);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "Es war einmal");
}

TEST_F(FileFetchTest, LargeLocalFileIsCutAtTheLimit) {
    QByteArray big;
    for (int i = 0; big.size() < 200000; ++i)
        big += QByteArray::number(i) + ' ';
    const QString path = write("gross.txt", big);
    const HttpResult r = client.get("file://" + path);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.truncated);
    EXPECT_EQ(r.body, big.left(50000));
}

TEST_F(FileFetchTest, MissingFileGivesAnEmptyResult) {
    const HttpResult r = client.get("file://" + dir.path() + "/fehlt.txt");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.body.isEmpty());
}

TEST_F(FileFetchTest, NamedPipeIsRefusedInsteadOfBlocking) {
    const QString fifo = dir.path() + "/rohr";
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    std::promise<HttpResult> promise;
    std::future<HttpResult> done = promise.get_future();
    std::thread fetcher([&] { promise.set_value(client.get("file://" + fifo)); });
    const bool finished = done.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!finished) {
        // The fetch blocks in opening the pipe: give it a writer so that it
        // ends and the test can report the fault instead of hanging.
        const int fd = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    fetcher.join();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(done.get().ok);
}

TEST_F(FileFetchTest, DevicesAndFoldersAreRefused) {
    for (const QString &address : {QStringLiteral("file:///dev/zero"), QStringLiteral("file:///dev/random"),
                                   "file://" + dir.path(), "file://" + dir.path() + "/"}) {
        const auto start = Clock::now();
        const HttpResult r = client.get(address);
        EXPECT_FALSE(r.ok) << address.toStdString();
        EXPECT_LT(millisecondsSince(start), 1000) << address.toStdString();
    }
}

TEST_F(FileFetchTest, WindowsStyleDrivePathIsNotOpened) {
    write("C:\\brief.txt", "nicht lesen");
    EXPECT_FALSE(client.get(QStringLiteral("C:\\brief.txt")).ok);
    EXPECT_FALSE(client.get(QStringLiteral("C:/brief.txt")).ok);
}

} // namespace
