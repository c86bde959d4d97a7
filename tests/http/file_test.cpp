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

class FileFetchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QTemporaryDir dir;
    CurlHttpClient client;
};

TEST_F(FileFetchTest, LocalPathWithBlanksAndUmlautsIsRead) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Meine Bücher")));
    QFile f(dir.path() + QStringLiteral("/Meine Bücher/Märchen & Sagen.txt"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Es war einmal\r\n");
    f.close();
    const HttpResult r = client.get("file://" + f.fileName());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.body, "Es war einmal\r\n");
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

TEST_F(FileFetchTest, MissingFilesDevicesAndFoldersAreRefused) {
    for (const QString &address : {"file://" + dir.path() + "/fehlt.txt", QStringLiteral("file:///dev/zero"),
                                   QStringLiteral("file:///dev/random"), "file://" + dir.path(),
                                   "file://" + dir.path() + "/"}) {
        const auto start = std::chrono::steady_clock::now();
        const HttpResult r = client.get(address);
        EXPECT_FALSE(r.ok) << address.toStdString();
        EXPECT_TRUE(r.body.isEmpty()) << address.toStdString();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << address.toStdString();
    }
}

} // namespace
