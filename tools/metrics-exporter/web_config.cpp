#include "web_config.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <yaml-cpp/yaml.h>

namespace brivane::cli {
namespace {

// The cipher suites by the names the file uses, and OpenSSL's for them. TLS 1.3's suites are
// accepted and, as elsewhere, not configurable.
constexpr std::pair<std::string_view, std::string_view> cipherSuites[] = {
    {"TLS_RSA_WITH_RC4_128_SHA", "RC4-SHA"},
    {"TLS_RSA_WITH_3DES_EDE_CBC_SHA", "DES-CBC3-SHA"},
    {"TLS_RSA_WITH_AES_128_CBC_SHA", "AES128-SHA"},
    {"TLS_RSA_WITH_AES_256_CBC_SHA", "AES256-SHA"},
    {"TLS_RSA_WITH_AES_128_CBC_SHA256", "AES128-SHA256"},
    {"TLS_RSA_WITH_AES_128_GCM_SHA256", "AES128-GCM-SHA256"},
    {"TLS_RSA_WITH_AES_256_GCM_SHA384", "AES256-GCM-SHA384"},
    {"TLS_ECDHE_ECDSA_WITH_RC4_128_SHA", "ECDHE-ECDSA-RC4-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA", "ECDHE-ECDSA-AES128-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_CBC_SHA", "ECDHE-ECDSA-AES256-SHA"},
    {"TLS_ECDHE_RSA_WITH_RC4_128_SHA", "ECDHE-RSA-RC4-SHA"},
    {"TLS_ECDHE_RSA_WITH_3DES_EDE_CBC_SHA", "ECDHE-RSA-DES-CBC3-SHA"},
    {"TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA", "ECDHE-RSA-AES128-SHA"},
    {"TLS_ECDHE_RSA_WITH_AES_256_CBC_SHA", "ECDHE-RSA-AES256-SHA"},
    {"TLS_ECDHE_ECDSA_WITH_AES_128_CBC_SHA256", "ECDHE-ECDSA-AES128-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_128_CBC_SHA256", "ECDHE-RSA-AES128-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256", "ECDHE-RSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256", "ECDHE-ECDSA-AES128-GCM-SHA256"},
    {"TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384", "ECDHE-RSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384", "ECDHE-ECDSA-AES256-GCM-SHA384"},
    {"TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-RSA-CHACHA20-POLY1305"},
    {"TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256", "ECDHE-ECDSA-CHACHA20-POLY1305"},
    {"TLS_AES_128_GCM_SHA256", ""},
    {"TLS_AES_256_GCM_SHA384", ""},
    {"TLS_CHACHA20_POLY1305_SHA256", ""},
};

constexpr std::pair<std::string_view, std::string_view> curves[] = {
    {"CurveP256", "P-256"}, {"CurveP384", "P-384"}, {"CurveP521", "P-521"}, {"X25519", "X25519"}};

constexpr std::pair<std::string_view, int> versions[] = {
    {"TLS10", 0x0301}, {"TLS11", 0x0302}, {"TLS12", 0x0303}, {"TLS13", 0x0304}};

constexpr std::pair<std::string_view, WebConfig::ClientAuth> clientAuthTypes[] = {
    {"", WebConfig::ClientAuth::none},
    {"NoClientCert", WebConfig::ClientAuth::none},
    {"RequestClientCert", WebConfig::ClientAuth::request},
    {"RequireAnyClientCert", WebConfig::ClientAuth::requireAny},
    {"RequireClientCert", WebConfig::ClientAuth::requireAny}, // its older name
    {"VerifyClientCertIfGiven", WebConfig::ClientAuth::verifyIfGiven},
    {"RequireAndVerifyClientCert", WebConfig::ClientAuth::requireAndVerify},
};

// The headers an answer may carry from the file, and the values allowed where only some are.
const std::map<std::string_view, std::vector<std::string_view>> allowedHeaders = {
    {"Strict-Transport-Security", {}},
    {"X-Content-Type-Options", {"nosniff"}},
    {"X-Frame-Options", {"deny", "sameorigin"}},
    {"X-XSS-Protection", {}},
    {"Content-Security-Policy", {}},
};

template <class Value, std::size_t size>
const Value* lookUp(const std::pair<std::string_view, Value> (&table)[size],
                    std::string_view name) {
    for (const auto& [key, value] : table) {
        if (key == name) {
            return &value;
        }
    }
    return nullptr;
}

// A mistake in the file, said in one line with where it is.
struct Refusal {
    std::string text;
};

std::string where(const YAML::Node& node) {
    const auto mark = node.Mark();
    return mark.is_null() ? "" : "line " + std::to_string(mark.line + 1) + ": ";
}

std::string scalar(const YAML::Node& node, std::string_view key) {
    if (node.IsNull()) {
        return {};
    }
    if (!node.IsScalar()) {
        throw Refusal{where(node) + std::string(key) + " must be a string"};
    }
    return node.Scalar();
}

bool boolean(const YAML::Node& node, std::string_view key) {
    bool value = false;
    if (!node.IsNull() && !YAML::convert<bool>::decode(node, value)) {
        throw Refusal{where(node) + std::string(key) + " must be true or false"};
    }
    return value;
}

std::vector<std::string> strings(const YAML::Node& node, std::string_view key) {
    if (node.IsNull()) {
        return {};
    }
    if (!node.IsSequence()) {
        throw Refusal{where(node) + std::string(key) + " must be a list"};
    }
    std::vector<std::string> values;
    for (const auto& item : node) {
        values.push_back(scalar(item, key));
    }
    return values;
}

// Calls take(key, value) for each entry of a mapping whose keys are among known (any key when
// known is empty); a key given twice is refused.
template <class Take>
void entries(const YAML::Node& node, std::string_view name,
             std::initializer_list<std::string_view> known, Take take) {
    if (node.IsNull()) {
        return;
    }
    if (!node.IsMap()) {
        throw Refusal{where(node) + std::string(name) + " must be a mapping"};
    }
    std::set<std::string> seen;
    for (const auto& entry : node) {
        const auto key = scalar(entry.first, "a key");
        if (known.size() > 0 && std::find(known.begin(), known.end(), key) == known.end()) {
            throw Refusal{where(entry.first) + "unknown key " + key + " in " + std::string(name)};
        }
        if (!seen.insert(key).second) {
            throw Refusal{where(entry.first) + key + " is given twice in " + std::string(name)};
        }
        take(key, entry.second);
    }
}

std::string absolute(const std::string& path, const std::filesystem::path& folder) {
    return path.empty() ? path : (folder / path).lexically_normal().string();
}

template <std::size_t size>
std::string joined(const std::vector<std::string>& names,
                   const std::pair<std::string_view, std::string_view> (&table)[size],
                   std::string_view what) {
    std::string list;
    for (const auto& name : names) {
        const auto* known = lookUp(table, name);
        if (!known) {
            throw Refusal{"unknown " + std::string(what) + " " + name};
        }
        if (!known->empty()) {
            list += (list.empty() ? "" : ":") + std::string(*known);
        }
    }
    return list;
}

std::optional<WebConfig::Tls> readTls(const YAML::Node& node, const std::filesystem::path& folder) {
    WebConfig::Tls tls;
    std::string clientAuth;
    entries(node, "tls_server_config",
            {"cert_file", "key_file", "client_auth_type", "client_ca_file", "min_version",
             "max_version", "cipher_suites", "curve_preferences", "prefer_server_cipher_suites"},
            [&](const std::string& key, const YAML::Node& value) {
                if (key == "cert_file") {
                    tls.certFile = absolute(scalar(value, key), folder);
                } else if (key == "key_file") {
                    tls.keyFile = absolute(scalar(value, key), folder);
                } else if (key == "client_ca_file") {
                    tls.clientCaFile = absolute(scalar(value, key), folder);
                } else if (key == "client_auth_type") {
                    clientAuth = scalar(value, key);
                } else if (key == "min_version" || key == "max_version") {
                    const auto name = scalar(value, key);
                    const int* version = lookUp(versions, name);
                    if (!version) {
                        throw Refusal{where(value) + "unknown TLS version " + name};
                    }
                    (key == "min_version" ? tls.minVersion : tls.maxVersion) = *version;
                } else if (key == "cipher_suites") {
                    tls.cipherList = joined(strings(value, key), cipherSuites, "cipher suite");
                } else if (key == "curve_preferences") {
                    tls.curveList = joined(strings(value, key), curves, "curve");
                } else {
                    tls.preferServerCiphers = boolean(value, key);
                }
            });
    if (tls.certFile.empty() && tls.keyFile.empty() && clientAuth.empty() &&
        tls.clientCaFile.empty()) {
        return std::nullopt; // served without TLS
    }
    if (tls.certFile.empty() || tls.keyFile.empty()) {
        throw Refusal{tls.certFile.empty() ? "missing cert_file" : "missing key_file"};
    }
    const auto* type = lookUp(clientAuthTypes, clientAuth);
    if (!type) {
        throw Refusal{"invalid client_auth_type " + clientAuth};
    }
    tls.clientAuth = *type;
    if (!tls.clientCaFile.empty() && tls.clientAuth == WebConfig::ClientAuth::none) {
        throw Refusal{"client_ca_file is given without a client_auth_type that asks for one"};
    }
    return tls;
}

void readHttp(const YAML::Node& node, WebConfig& config) {
    entries(
        node, "http_server_config", {"http2", "headers"},
        [&](const std::string& key, const YAML::Node& value) {
            if (key == "http2") {
                boolean(value, key); // HTTP/1.1 only: a client asking for 2 gets 1.1
                return;
            }
            entries(value, "headers", {}, [&](const std::string& name, const YAML::Node& text) {
                const auto found = allowedHeaders.find(name);
                if (found == allowedHeaders.end()) {
                    throw Refusal{where(text) + "the header " + name + " cannot be set"};
                }
                const auto header = scalar(text, name);
                const auto& only = found->second;
                if ((!only.empty() && std::find(only.begin(), only.end(), header) == only.end()) ||
                    header.find_first_of("\r\n") != std::string::npos) {
                    throw Refusal{where(text) + "the header " + name + " cannot be " + header};
                }
                config.headers.emplace_back(name, header);
            });
        });
}

} // namespace

bool WebConfig::authenticates() const {
    return !users.empty() || (tls && (tls->clientAuth == ClientAuth::requireAndVerify));
}

LoadedWebConfig parseWebConfig(std::string_view text, const std::filesystem::path& folder) {
    try {
        const YAML::Node root = YAML::Load(std::string(text));
        WebConfig config;
        entries(root, "the file", {"tls_server_config", "http_server_config", "basic_auth_users"},
                [&](const std::string& key, const YAML::Node& value) {
                    if (key == "tls_server_config") {
                        config.tls = readTls(value, folder);
                    } else if (key == "http_server_config") {
                        readHttp(value, config);
                    } else {
                        entries(value, key, {},
                                [&](const std::string& user, const YAML::Node& hash) {
                                    config.users[user] = scalar(hash, "a password hash");
                                });
                    }
                });
        return {std::move(config), {}};
    } catch (const Refusal& refusal) {
        return {std::nullopt, refusal.text};
    } catch (const YAML::Exception& error) {
        return {std::nullopt, error.what()};
    }
}

LoadedWebConfig loadWebConfig(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text(mostWebConfigBytes + 1, '\0');
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size())) && !in.eof()) {
        return {std::nullopt, "cannot read " + file.string()};
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > mostWebConfigBytes) {
        return {std::nullopt, file.string() + " is larger than 64 KiB"};
    }
    auto loaded = parseWebConfig(text, file.parent_path());
    if (!loaded.config) {
        loaded.problem = file.string() + ": " + loaded.problem;
    }
    return loaded;
}

} // namespace brivane::cli
