#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Signatures as this build understands them: a DER CMS SignedData that encapsulates the signed
// bytes and carries the signer's certificate chain, verified up to trust anchors fixed at build
// time. Used for installer packages and for the detached X.sig files of executables.

typedef struct x509_store_st X509_STORE;

namespace brivane::platform::posix {

struct CertificateSummary {
    std::string commonName;
    std::optional<std::string> organizationalUnit;
    std::string sha256Fingerprint; // upper-case hex pairs joined by blanks
    std::int64_t notAfter = 0;     // end of validity, seconds since the epoch
};

struct CmsVerification {
    bool verified = false;
    std::string content;                        // the encapsulated bytes, when verified
    std::vector<CertificateSummary> chain;      // leaf first, anchor last, when verified
    std::vector<std::string> leafExtensionOids; // dotted, when verified
    std::string error;                          // why not, when not verified
};

// The PEM certificates compiled into this build as trust anchors.
std::string_view embeddedTrustAnchorsPem();

// The anchors are read on the first verification: a client that finds its verdict kept starts
// no cryptographic library at all. Thread-safe.
class CmsVerifier {
public:
    // The build's own anchors.
    CmsVerifier();
    // Other anchors, for tests that make their own; no production path reaches this.
    explicit CmsVerifier(std::string_view anchorsPem);

    CmsVerification verify(std::span<const unsigned char> der) const;
    const std::string& anchorsPem() const { return anchorsPem_; }

private:
    std::string anchorsPem_;
    mutable std::once_flag read_;
    mutable std::shared_ptr<X509_STORE> store_;
};

struct CmsSigningRequest {
    std::string certificatePem;
    std::string privateKeyPem;
    std::string chainPem; // intermediates to carry along; may be empty
};

// DER SignedData over content; absent with error set on failure.
std::optional<std::string> cmsSign(std::string_view content, const CmsSigningRequest& request,
                                   std::string& error);

// Text of an executable signature and its parts.
std::string executableSignatureContent(std::string_view identifier, std::string_view sha256Hex);
struct ExecutableSignatureContent {
    std::string identifier;
    std::string executableSha256;
};
std::optional<ExecutableSignatureContent> parseExecutableSignatureContent(std::string_view text);

// An installer certificate names itself so in its common name.
bool isInstallerCertificate(const CertificateSummary& leaf);

} // namespace brivane::platform::posix
