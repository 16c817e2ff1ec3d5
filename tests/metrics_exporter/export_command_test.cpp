// The exporter as a process: its web configuration read at start and again on SIGHUP, and
// OpenSSL's TLS library opened only once a configuration asks for TLS.

#include "e2e/http_get.h"
#include "secure_client.h"

#include <crypt.h>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

using namespace std::chrono_literals;
using namespace brivane::testing;

bool mapsTlsLibrary(pid_t pid) {
    return readFile("/proc/" + std::to_string(pid) + "/maps").find("/libssl.so") !=
           std::string::npos;
}

TEST(ExportCommand, ReadsItsWebConfigurationAgainOnHangUpAndKeepsItWhenTheNewOneIsBad) {
    TempDir folder;
    ASSERT_TRUE(makeTestCertificates(folder));
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_data state{};
    crypt_gensalt_rn("$2b$", 4, nullptr, 0, setting, sizeof setting);
    const std::string users =
        std::string("basic_auth_users:\n  prometheus: ") + crypt_r("right", setting, &state) + "\n";
    const auto config = folder / "web.yml";
    std::ofstream(config) << users;
    const auto listen = freeLoopbackAddress();
    ChildProcess exporter({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", BRIVANE_EXPORTER, "export",
                           "--endpoint", folder / "none", "--web.config.file", config, "--listen",
                           listen, "--listen", "0.0.0.0:0"},
                          {}, folder / "output");
    const auto url = "http://" + listen + "/metrics";
    const auto status = [&](const std::string& address, const std::string& credentials) {
        return fetch(address, {folder / "ca.pem", "", credentials}).status;
    };
    ASSERT_TRUE(pollUntil(5s, [&] { return status(url, "prometheus:right") == 200; }));
    EXPECT_EQ(status(url, "prometheus:wrong"), 401);
    EXPECT_FALSE(mapsTlsLibrary(exporter.pid()));
    // Served on a wildcard address without TLS: one line says which file to write.
    const auto output = [&] { return readFile(folder / "output"); };
    EXPECT_NE(output().find("sensor readings, without TLS (passwords in clear): write "),
              std::string::npos)
        << output();

    std::ofstream(config) << users << "tls_server_config:\n  cert_file: server.pem\n"
                          << "  key_file: server.key\n  client_auth: none\n";
    exporter.kill(SIGHUP);
    ASSERT_TRUE(pollUntil(5s, [&] { return output().find("kept") != std::string::npos; }));
    EXPECT_NE(output().find("kept the web configuration in use: " + config +
                            ": line 6: unknown key client_auth in tls_server_config\n"),
              std::string::npos)
        << output();
    EXPECT_EQ(status(url, "prometheus:right"), 200);

    std::ofstream(config) << users << "tls_server_config:\n  cert_file: server.pem\n"
                          << "  key_file: server.key\n";
    exporter.kill(SIGHUP);
    const auto secure = "https://" + listen + "/metrics";
    ASSERT_TRUE(pollUntil(5s, [&] { return status(secure, "prometheus:right") == 200; }));
    EXPECT_EQ(status(secure, "prometheus:wrong"), 401);
    EXPECT_TRUE(mapsTlsLibrary(exporter.pid()));
}

} // namespace
} // namespace brivane::cli
