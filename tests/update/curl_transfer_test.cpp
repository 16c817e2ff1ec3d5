#include "platform/linux/curl_transfer.h"
#include "support/temp_dir.h"
#include "update/signature_fixtures.h"
#include "update/updater_fakes.h"

#include <csignal>
#include <cstdio>

namespace brivane {
namespace {

using namespace brivane::testing;
using platform::linux_backend::CurlTestRouting;
using platform::linux_backend::CurlTransfer;

const std::string host = "https://brivane.qorva.dev";

// A test CA, a server certificate for the download host signed by it, and the server process.
class LocalHttpsServer {
public:
    LocalHttpsServer() {
        const auto dir = folder_.string();
        const int made = runCommand(
            "cd '" + dir +
            "' && "
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 "
            "-subj /CN=TestCA -keyout ca-key.pem -out ca.pem 2>/dev/null && "
            "openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "
            "/CN=brivane.qorva.dev "
            "-keyout key.pem -out server.csr 2>/dev/null && "
            "printf 'subjectAltName=DNS:brivane.qorva.dev\\n' > san.ext && "
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 2 "
            "-extfile san.ext -out cert.pem 2>/dev/null");
        EXPECT_EQ(made, 0);
        std::ofstream(folder_ / "manifest.json") << manifestFor("2.0").dump();
        const std::string command =
            "exec python3 '" BRIVANE_TEST_SOURCE_DIR "/https_test_server.py' '" + dir +
            "/cert.pem' '" + dir + "/key.pem' '" + dir + "/manifest.json' & echo $!";
        pipe_ = ::popen(command.c_str(), "r");
        EXPECT_NE(pipe_, nullptr);
        if (pipe_ && std::fscanf(pipe_, "%d %d", &pid_, &port_) != 2) {
            ADD_FAILURE() << "server did not start";
        }
    }
    ~LocalHttpsServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
        }
        if (pipe_) {
            ::pclose(pipe_);
        }
    }

    CurlTestRouting routing() const {
        return {(folder_ / "ca.pem").string(),
                {"brivane.qorva.dev:443:127.0.0.1:" + std::to_string(port_)}};
    }

private:
    const TempDir temp_{"brivane-https"};
    const std::filesystem::path folder_{temp_.path()};
    FILE* pipe_ = nullptr;
    int pid_ = -1;
    int port_ = 0;
};

class CurlTransferTest : public ::testing::Test {
public:
    static void SetUpTestSuite() { server_ = new LocalHttpsServer(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    CurlTransfer transfer(platform::TransferConfiguration configuration = {}) {
        configuration.downloadDirectory = downloads_.string();
        return CurlTransfer(queue_, configuration, server_->routing());
    }

    platform::DownloadTransferResult download(CurlTransfer& curl, const std::string& path,
                                              std::optional<std::string>* content = nullptr) {
        platform::DownloadTransferResult result;
        curl.downloadNow(host + path, &CompanionUpdater::shouldContinueDownload,
                         [&](platform::DownloadTransferResult answer) {
                             if (content && answer.file) {
                                 *content = readText(*answer.file);
                             }
                             result = std::move(answer);
                         });
        return result;
    }

    static inline LocalHttpsServer* server_ = nullptr;
    std::shared_ptr<platform::SerialQueue> queue_ =
        std::make_shared<platform::SerialQueue>("test.curl");
    const TempDir temp_{"brivane-downloads"};
    const std::filesystem::path downloads_{temp_.path()};
};

TEST_F(CurlTransferTest, FetchReportsStatusFinalAddressAndBody) {
    auto curl = transfer();
    const auto small = curl.fetchNow(host + "/small", 16384);
    ASSERT_FALSE(small.error) << *small.error;
    EXPECT_EQ(small.response->statusCode, 200);
    EXPECT_EQ(small.body, "hello");

    const auto redirected = curl.fetchNow(host + "/redirect", 16384);
    ASSERT_FALSE(redirected.error) << *redirected.error;
    EXPECT_EQ(redirected.response->finalURL, host + "/small");

    const auto missing = curl.fetchNow(host + "/missing", 16384);
    ASSERT_FALSE(missing.error);
    EXPECT_EQ(missing.response->statusCode, 404);

    EXPECT_TRUE(curl.fetchNow(host + "/plain-http-redirect", 16384).error);
}

TEST_F(CurlTransferTest, FetchStopsOneBytePastTheLimit) {
    auto curl = transfer();
    EXPECT_EQ(curl.fetchNow(host + "/exact", 16384).body->size(), 16384u);
    const auto over = curl.fetchNow(host + "/over", 16384);
    ASSERT_FALSE(over.error) << *over.error;
    EXPECT_EQ(over.body->size(), 16385u);
}

TEST_F(CurlTransferTest, ConnectionRefusedAndIdleTimeoutAreErrors) {
    // Nothing listens on port 1 of the loopback address.
    CurlTransfer refused(queue_, {}, {std::nullopt, {"brivane.qorva.dev:443:127.0.0.1:1"}});
    const auto result = refused.fetchNow(host + "/small", 16384);
    ASSERT_TRUE(result.error);
    EXPECT_FALSE(result.response);

    auto curl = transfer({1.0, 60.0, std::nullopt});
    const auto started = std::chrono::steady_clock::now();
    const auto stalled = curl.fetchNow(host + "/stall", 16384);
    ASSERT_TRUE(stalled.error);
    EXPECT_NE(stalled.error->find("imeout"), std::string::npos) << *stalled.error;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST_F(CurlTransferTest, DownloadsIntoATemporaryFileRemovedAfterCompletion) {
    auto curl = transfer();
    std::optional<std::string> content;
    const auto result = download(curl, "/small", &content);
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_EQ(content, "hello");
    ASSERT_TRUE(result.file);
    EXPECT_EQ(std::filesystem::path(*result.file).parent_path().parent_path(), downloads_);
    EXPECT_FALSE(std::filesystem::exists(*result.file));
}

TEST_F(CurlTransferTest, OversizedDownloadsAreCancelled) {
    auto curl = transfer();
    for (const std::string path : {"/announced-huge", "/unannounced-huge"}) {
        const auto started = std::chrono::steady_clock::now();
        const auto result = download(curl, path);
        EXPECT_TRUE(result.error) << path;
        EXPECT_FALSE(result.file) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4)) << path;
    }
    EXPECT_TRUE(std::filesystem::is_empty(downloads_));
}

TEST_F(CurlTransferTest, UpdaterRejectsARedirectedManifest) {
    platform::MainQueue main;
    auto dependencies = fakeDependencies(nullptr, std::make_shared<FakeToolRunner>(),
                                         std::make_shared<FakeWorkspace>(), {}, main);
    dependencies.makeTransfer =
        [routing = server_->routing()](std::shared_ptr<platform::SerialQueue> queue) {
            return std::make_unique<CurlTransfer>(std::move(queue),
                                                  platform::TransferConfiguration{}, routing);
        };
    CompanionUpdater updater(std::move(dependencies));
    ReplyLog log;

    updater.perform(SensorCompanionCommand::checkForUpdates, log.recorder());
    EXPECT_EQ(log.waitFor(1, main), (SensorCompanionUpdate{SensorCompanionUpdate::State::available,
                                                           "2.0", std::nullopt}));

    transfer().fetchNow(host + "/_mode/redirect", 100);
    updater.perform(SensorCompanionCommand::checkForUpdates, log.recorder());
    const auto reply = log.waitFor(2, main);
    transfer().fetchNow(host + "/_mode/plain", 100);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->message, manifestRefusal);
}

} // namespace
} // namespace brivane
