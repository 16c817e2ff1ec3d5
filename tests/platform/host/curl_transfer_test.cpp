#include "platform/host/curl_transfer.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "update/companion_updater.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace brivane {
namespace {

using namespace brivane::testing;
using namespace std::chrono_literals;
using platform::host::CurlTestRouting;
using platform::host::CurlTransfer;

const std::string host = "https://brivane.qorva.dev";

std::vector<std::string> pathEnvironment() {
    const char* path = std::getenv("PATH");
    return {std::string("PATH=") + (path ? path : "")};
}

// A self-signed certificate for the download host, and a server using it.
class LocalHttpsServer {
public:
    LocalHttpsServer() {
        const auto made =
            runCommand({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:P-256", "-nodes", "-days", "2", "-subj",
                        "/CN=brivane.qorva.dev", "-addext", "subjectAltName=DNS:brivane.qorva.dev",
                        "-keyout", temp_ / "key.pem", "-out", temp_ / "cert.pem"},
                       pathEnvironment(), temp_ / "openssl.out");
        EXPECT_EQ(made.status, 0);
        server_.emplace(std::vector<std::string>{"python3",
                                                 BRIVANE_TEST_SOURCE_DIR "/https_test_server.py",
                                                 temp_ / "cert.pem", temp_ / "key.pem"},
                        pathEnvironment(), temp_ / "port");
        for (int i = 0; i < 1000 && !(std::ifstream(temp_ / "port") >> port_); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_NE(port_, 0) << "server did not start";
    }

    CurlTestRouting routing() const {
        return {temp_ / "cert.pem", {"brivane.qorva.dev:443:127.0.0.1:" + std::to_string(port_)}};
    }

private:
    const TempDir temp_{"brivane-https"};
    std::optional<ChildProcess> server_;
    int port_ = 0;
};

// Transfers go through the delegate queue, as the updater makes them.
class CurlTransferTest : public ::testing::Test {
public:
    static void SetUpTestSuite() { server_ = std::make_unique<LocalHttpsServer>(); }
    static void TearDownTestSuite() { server_.reset(); }

    CurlTransfer transfer(platform::TransferConfiguration configuration = {}) {
        configuration.downloadDirectory = downloads_.path();
        return CurlTransfer(queue_, configuration, server_->routing());
    }

    // Each waits for the queue to pass the transfer, clean-up after its completion included.
    platform::DataTransferResult fetch(CurlTransfer& curl, const std::string& path) {
        platform::DataTransferResult result;
        curl.fetch(host + path, 16384, [&](auto answer) { result = std::move(answer); });
        queue_->sync([] {});
        return result;
    }

    // content: what the file held while the completion ran.
    platform::DownloadTransferResult download(CurlTransfer& curl, const std::string& path,
                                              std::optional<std::string>& content) {
        platform::DownloadTransferResult result;
        curl.download(host + path, &CompanionUpdater::shouldContinueDownload, [&](auto answer) {
            if (answer.file) {
                std::ifstream in(*answer.file, std::ios::binary);
                content.emplace(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
            }
            result = std::move(answer);
        });
        queue_->sync([] {});
        return result;
    }

    static inline std::unique_ptr<LocalHttpsServer> server_;
    std::shared_ptr<platform::SerialQueue> queue_ =
        std::make_shared<platform::SerialQueue>("test.curl");
    const TempDir downloads_{"brivane-downloads"};
};

TEST_F(CurlTransferTest, FetchReportsStatusFinalAddressAndAtMostOneBytePastTheLimit) {
    struct Case {
        std::string path;
        long status;
        std::string finalPath;
        std::string body;
    };
    const std::string limit(16384, 'a');
    const Case cases[] = {
        {"/small", 200, "/small", "hello"},         {"/redirect", 200, "/small", "hello"},
        {"/missing", 404, "/missing", "not found"}, {"/exact", 200, "/exact", limit},
        {"/over", 200, "/over", limit + "a"}, // the server sends 64 KiB
    };
    auto curl = transfer();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto result = fetch(curl, c.path);
        ASSERT_TRUE(result.response) << result.error.value_or("");
        EXPECT_FALSE(result.error);
        EXPECT_EQ(result.response->statusCode, c.status);
        EXPECT_EQ(result.response->finalURL, host + c.finalPath);
        EXPECT_EQ(result.body, c.body);
    }
    EXPECT_TRUE(fetch(curl, "/plain-http-redirect").error);
}

TEST_F(CurlTransferTest, RefusedUntrustedAndStalledConnectionsAreErrors) {
    // Nothing listens on port 1; the server's certificate is trusted only when named.
    const std::vector<std::string> nobody = {"brivane.qorva.dev:443:127.0.0.1:1"};
    for (const auto& routing :
         {CurlTestRouting{{}, nobody}, CurlTestRouting{{}, server_->routing().connectTo}}) {
        CurlTransfer curl(queue_, {}, routing);
        const auto result = fetch(curl, "/small");
        EXPECT_TRUE(result.error);
        EXPECT_FALSE(result.response);
    }

    auto curl = transfer({1.0, 60.0, std::nullopt});
    const auto started = std::chrono::steady_clock::now();
    const auto stalled = fetch(curl, "/stall");
    ASSERT_TRUE(stalled.error);
    EXPECT_NE(stalled.error->find("imeout"), std::string::npos) << *stalled.error;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST_F(CurlTransferTest, DownloadsIntoATemporaryFileAndCancelsOversizedOnes) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/small", "hello"},
        {"/announced-huge", std::nullopt},
        {"/unannounced-huge", std::nullopt}};
    auto curl = transfer();
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        const auto started = std::chrono::steady_clock::now();
        std::optional<std::string> content;
        const auto result = download(curl, path, content);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
        EXPECT_EQ(content, expected);
        EXPECT_EQ(result.error.has_value(), !expected);
        if (result.file) {
            EXPECT_EQ(std::filesystem::path(*result.file).parent_path().parent_path(),
                      downloads_.path());
            EXPECT_FALSE(std::filesystem::exists(*result.file));
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(downloads_.path()));
}

} // namespace
} // namespace brivane
