#include "metrics-exporter/web_config.h"

#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

TEST(WebConfig, ReadsTheExporterToolkitsKeys) {
    const auto loaded = parseWebConfig(R"(
tls_server_config:
  cert_file: server.pem
  key_file: /etc/keys/server.key
  client_auth_type: RequireAndVerifyClientCert
  client_ca_file: ca.pem
  min_version: TLS13
  cipher_suites: [TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256, TLS_AES_128_GCM_SHA256]
  curve_preferences: [X25519, CurveP256]
http_server_config:
  http2: false
  headers:
    X-Frame-Options: deny
basic_auth_users:
  prometheus: $2y$10$abc
)",
                                       "/etc/brivane");
    ASSERT_TRUE(loaded.config) << loaded.problem;
    const auto& tls = *loaded.config->tls;
    EXPECT_EQ(tls.certFile, "/etc/brivane/server.pem");
    EXPECT_EQ(tls.keyFile, "/etc/keys/server.key");
    EXPECT_EQ(tls.clientCaFile, "/etc/brivane/ca.pem");
    EXPECT_EQ(tls.clientAuth, WebConfig::ClientAuth::requireAndVerify);
    EXPECT_EQ(tls.minVersion, 0x0304);
    EXPECT_EQ(tls.cipherList, "ECDHE-RSA-AES128-GCM-SHA256");
    EXPECT_EQ(tls.curveList, "X25519:P-256");
    EXPECT_EQ(loaded.config->headers.at(0).second, "deny");
    EXPECT_EQ(loaded.config->users.at("prometheus"), "$2y$10$abc");
    EXPECT_TRUE(loaded.config->authenticates());

    for (const char* empty : {"", "tls_server_config: {}\n", "basic_auth_users:\n"}) {
        const auto plain = parseWebConfig(empty, "/");
        ASSERT_TRUE(plain.config) << empty;
        EXPECT_FALSE(plain.config->tls || plain.config->authenticates()) << empty;
    }
}

// A file that another exporter refuses is refused here too, with where and why.
TEST(WebConfig, RefusesWhatItDoesNotKnowOrCannotMean) {
    const std::pair<const char*, const char*> cases[] = {
        {"tls_server_config:\n  cert_file: a\n  key_file: b\n  certfile: c\n",
         "unknown key certfile"},
        {"basic_auth_user:\n  a: b\n", "unknown key basic_auth_user"},
        {"tls_server_config:\n  cert_file: a\n", "missing key_file"},
        {"tls_server_config:\n  client_auth_type: RequireAndVerifyClientCert\n",
         "missing cert_file"},
        {"tls_server_config: {cert_file: a, key_file: b, client_auth_type: Always}\n",
         "client_auth_type Always"},
        {"tls_server_config: {cert_file: a, key_file: b, client_ca_file: c}\n", "client_ca_file"},
        {"tls_server_config: {cert_file: a, key_file: b, min_version: TLS14}\n", "TLS14"},
        {"tls_server_config: {cert_file: a, key_file: b, cipher_suites: [RC5]}\n", "RC5"},
        {"tls_server_config: {cert_file: [a], key_file: b}\n", "line 1: cert_file must be"},
        {"http_server_config:\n  headers:\n    Set-Cookie: a\n", "Set-Cookie cannot be set"},
        {"http_server_config:\n  headers:\n    X-Frame-Options: allow\n", "cannot be allow"},
        {"http_server_config: {http2: maybe}\n", "http2 must be true or false"},
        {"basic_auth_users:\n  a: x\n  a: y\n", "a is given twice"},
        {"basic_auth_users: [a]\n", "must be a mapping"},
        {"tls_server_config: {cert_file: a\n", ""}, // the YAML parser's own words
    };
    for (const auto& [text, problem] : cases) {
        const auto loaded = parseWebConfig(text, "/");
        EXPECT_FALSE(loaded.config) << text;
        EXPECT_NE(loaded.problem.find(problem), std::string::npos) << loaded.problem;
        EXPECT_EQ(loaded.problem.find('\n'), std::string::npos) << loaded.problem;
    }
    EXPECT_NE(loadWebConfig("/nonexistent/web.yml").problem.find("cannot read"), std::string::npos);
}

} // namespace
} // namespace brivane::cli
