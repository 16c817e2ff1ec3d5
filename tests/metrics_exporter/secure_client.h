#pragma once

// A test CA made in the test, and HTTPS requests that may carry a client certificate and a
// password, for the exporter's TLS and authentication.

#include "support/child_process.h"
#include "support/temp_dir.h"

#include <curl/curl.h>
#include <memory>
#include <string>

namespace brivane::testing {

// In folder: ca.pem, server.pem/server.key (for 127.0.0.1, ::1 and localhost), client.pem/
// client.key signed by the CA, and stranger.pem/stranger.key signed by nobody the CA knows.
inline bool makeTestCertificates(const TempDir& folder) {
    const auto run = [&](const std::string& command) {
        return runCommand({"/bin/sh", "-c", "cd \"$0\" && " + command + " 2>&1", folder.path()},
                          pathEnvironment(), folder / "openssl.log")
                   .status == 0;
    };
    const std::string key = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const auto signedBy = [&](const std::string& name, const std::string& extension) {
        return run(key + "-keyout " + name + ".key -out " + name + ".csr -subj /CN=" + name) &&
               run("printf '" + extension + "\\n' > " + name + ".ext && openssl x509 -req -in " +
                   name + ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -out " + name +
                   ".pem -extfile " + name + ".ext");
    };
    return run(key + "-x509 -days 2 -keyout ca.key -out ca.pem -subj /CN=test-ca") &&
           signedBy("server", "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost") &&
           signedBy("client", "extendedKeyUsage=clientAuth") &&
           run(key + "-x509 -days 2 -keyout stranger.key -out stranger.pem -subj /CN=stranger");
}

struct Fetched {
    long status = 0; // 0: no HTTP answer (refused, handshake failed)
    std::string body;
    std::string headers;
};

struct FetchOptions {
    std::string caFile{};
    std::string certificate{}; // client certificate and key: <name>.pem and <name>.key
    std::string credentials{}; // user:password
};

inline Fetched fetch(const std::string& url, const FetchOptions& options = {}) {
    Fetched fetched;
    const std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    auto append = +[](char* data, std::size_t size, std::size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    };
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, append);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &fetched.body);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERFUNCTION, append);
    curl_easy_setopt(curl.get(), CURLOPT_HEADERDATA, &fetched.headers);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
    if (!options.caFile.empty()) {
        curl_easy_setopt(curl.get(), CURLOPT_CAINFO, options.caFile.c_str());
    }
    const std::string certificate = options.certificate + ".pem",
                      key = options.certificate + ".key";
    if (!options.certificate.empty()) {
        curl_easy_setopt(curl.get(), CURLOPT_SSLCERT, certificate.c_str());
        curl_easy_setopt(curl.get(), CURLOPT_SSLKEY, key.c_str());
    }
    if (!options.credentials.empty()) {
        curl_easy_setopt(curl.get(), CURLOPT_USERPWD, options.credentials.c_str());
    }
    if (curl_easy_perform(curl.get()) == CURLE_OK) {
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &fetched.status);
    }
    return fetched;
}

} // namespace brivane::testing
