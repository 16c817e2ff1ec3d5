#include "support/child_process.h"
#include "support/temp_dir.h"
#include "system-tools/transfer/curl_transfer.h"
#include "update/companion_release.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace brivane::system_tools {
namespace {

using namespace brivane::testing;
using namespace std::chrono_literals;

const std::string host = "https://brivane.qorva.dev";

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
        EXPECT_TRUE(pollUntil(10s, [&] { return !!(std::ifstream(temp_ / "port") >> port_); }))
            << "server did not start";
    }

    CurlTestRouting routing() const {
        return {temp_ / "cert.pem", {"brivane.qorva.dev:443:127.0.0.1:" + std::to_string(port_)}};
    }

private:
    const TempDir temp_{"brivane-https"};
    std::optional<ChildProcess> server_;
    int port_ = 0;
};

class CurlTransferTest : public ::testing::Test {
public:
    static void SetUpTestSuite() { server_ = std::make_unique<LocalHttpsServer>(); }
    static void TearDownTestSuite() { server_.reset(); }

    platform::DataTransferResult fetch(const std::string& path,
                                       platform::TransferConfiguration configuration = {}) {
        return curlFetch(host + path, 16384, configuration, server_->routing());
    }

    platform::DownloadTransferResult download(const std::string& path) {
        return curlDownload(host + path, downloads_ / "download", CompanionRelease::maximumSize, {},
                            server_->routing());
    }

    static inline std::unique_ptr<LocalHttpsServer> server_;
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto result = fetch(c.path);
        ASSERT_TRUE(result.response) << result.error.value_or("");
        EXPECT_FALSE(result.error);
        EXPECT_EQ(result.response->statusCode, c.status);
        EXPECT_EQ(result.response->finalURL, host + c.finalPath);
        EXPECT_EQ(result.body, c.body);
    }
    EXPECT_TRUE(fetch("/plain-http-redirect").error);
}

TEST_F(CurlTransferTest, RefusedUntrustedAndStalledConnectionsAreErrors) {
    // Nothing listens on port 1; the server's certificate is trusted only when named.
    const std::vector<std::string> nobody = {"brivane.qorva.dev:443:127.0.0.1:1"};
    for (const auto& routing :
         {CurlTestRouting{{}, nobody}, CurlTestRouting{{}, server_->routing().connectTo}}) {
        const auto result = curlFetch(host + "/small", 16384, {}, routing);
        EXPECT_TRUE(result.error);
        EXPECT_FALSE(result.response);
    }

    const auto started = std::chrono::steady_clock::now();
    const auto stalled = fetch("/stall", {1.0, 60.0, std::nullopt});
    ASSERT_TRUE(stalled.error);
    EXPECT_NE(stalled.error->find("imeout"), std::string::npos) << *stalled.error;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST_F(CurlTransferTest, DownloadsIntoANewFileAndCancelsOversizedOnes) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"/small", "hello"},
        {"/announced-huge", std::nullopt},
        {"/unannounced-huge", std::nullopt}};
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        std::filesystem::remove(downloads_ / "download");
        const auto started = std::chrono::steady_clock::now();
        const auto result = download(path);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
        EXPECT_EQ(result.error.has_value(), !expected);
        if (expected) {
            ASSERT_EQ(result.file, downloads_ / "download");
            EXPECT_EQ(readFile(*result.file), *expected);
        } else { // stopped before a byte past the cap was stored
            EXPECT_LE(std::filesystem::file_size(downloads_ / "download"),
                      std::uintmax_t(CompanionRelease::maximumSize));
        }
    }
    EXPECT_TRUE(download("/small").error); // an existing file is never written into
}

} // namespace
} // namespace brivane::system_tools
