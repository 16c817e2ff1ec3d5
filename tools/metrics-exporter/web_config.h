#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brivane::cli {

// The web configuration file other Prometheus exporters read (--web.config.file): the same keys
// with the same meaning, and a file with a key it does not know is refused, not half obeyed.
struct WebConfig {
    enum class ClientAuth { none, request, requireAny, verifyIfGiven, requireAndVerify };

    struct Tls {
        std::string certFile; // paths relative to the file's folder made absolute
        std::string keyFile;
        std::string clientCaFile;
        ClientAuth clientAuth = ClientAuth::none;
        int minVersion = 0x0303;  // TLS 1.2, as the protocol numbers it
        int maxVersion = 0x0304;  // TLS 1.3
        std::string cipherList{}; // for TLS 1.2 and below, in OpenSSL's names; empty: default
        std::string curveList{};  // OpenSSL's group names; empty: its default
        bool preferServerCiphers = true;

        bool operator==(const Tls&) const = default;
    };

    std::optional<Tls> tls;
    std::vector<std::pair<std::string, std::string>> headers; // added to every answer
    std::map<std::string, std::string> users;                 // name and bcrypt hash

    // Whether a client must prove who it is: a password or a verified certificate.
    bool authenticates() const;

    bool operator==(const WebConfig&) const = default;
};

struct LoadedWebConfig {
    std::optional<WebConfig> config;
    std::string problem; // one line, when there is no config
};

// The configuration in text; relative paths in it are taken from folder.
LoadedWebConfig parseWebConfig(std::string_view text, const std::filesystem::path& folder);

// The configuration in file, which may hold at most mostBytes.
LoadedWebConfig loadWebConfig(const std::filesystem::path& file);
constexpr std::size_t mostWebConfigBytes = 64 * 1024;

} // namespace brivane::cli
