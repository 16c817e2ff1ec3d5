#include "backends/posix/trust/cms_signature.h"

#include "backends/posix/trust/crypto_library.h"

#include <array>
#include <ctime>

namespace brivane::platform::posix {
namespace {

// Releases what the library made, through the library.
template <typename T, auto Free> struct Freer {
    void operator()(T* object) const { (openedCryptoLibrary().*Free)(object); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO, &CryptoLibrary::BIO_free_all>>;
using Cms =
    std::unique_ptr<CMS_ContentInfo, Freer<CMS_ContentInfo, &CryptoLibrary::CMS_ContentInfo_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, &CryptoLibrary::X509_free>>;
using PrivateKey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, &CryptoLibrary::EVP_PKEY_free>>;
using StoreContext =
    std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX, &CryptoLibrary::X509_STORE_CTX_free>>;

// OpenSSL's typed stack macros call the library's own functions; these go through ours.
OPENSSL_STACK* untyped(STACK_OF(X509) * certificates) {
    return reinterpret_cast<OPENSSL_STACK*>(certificates);
}
int countOf(STACK_OF(X509) * certificates) {
    return openedCryptoLibrary().OPENSSL_sk_num(untyped(certificates));
}
X509* certificateAt(STACK_OF(X509) * certificates, int index) {
    return static_cast<X509*>(openedCryptoLibrary().OPENSSL_sk_value(untyped(certificates), index));
}

struct FreeCertificates {
    void operator()(STACK_OF(X509) * certificates) const {
        openedCryptoLibrary().OPENSSL_sk_pop_free(untyped(certificates), [](void* certificate) {
            openedCryptoLibrary().X509_free(static_cast<X509*>(certificate));
        });
    }
};
using Certificates = std::unique_ptr<STACK_OF(X509), FreeCertificates>;
// A stack that borrows its certificates.
struct FreeStackOnly {
    void operator()(STACK_OF(X509) * certificates) const {
        openedCryptoLibrary().OPENSSL_sk_free(untyped(certificates));
    }
};
using BorrowedCertificates = std::unique_ptr<STACK_OF(X509), FreeStackOnly>;

Bio memoryOf(const CryptoLibrary& crypto, std::string_view bytes) {
    return Bio(crypto.BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string memoryContent(const CryptoLibrary& crypto, BIO* memory) {
    char* bytes = nullptr;
    const long length = crypto.BIO_ctrl(memory, BIO_CTRL_INFO, 0, &bytes);
    return std::string(bytes, static_cast<std::size_t>(length));
}

std::string lastOpenSSLError(const CryptoLibrary& crypto) {
    const unsigned long code = crypto.ERR_get_error();
    crypto.ERR_clear_error();
    if (code == 0) {
        return "unknown error";
    }
    std::array<char, 256> text{};
    crypto.ERR_error_string_n(code, text.data(), text.size());
    return text.data();
}

Certificates readCertificates(const CryptoLibrary& crypto, std::string_view pem) {
    Certificates certificates(reinterpret_cast<STACK_OF(X509)*>(crypto.OPENSSL_sk_new_null()));
    if (pem.empty()) {
        return certificates;
    }
    const Bio input = memoryOf(crypto, pem);
    while (X509* certificate = crypto.PEM_read_bio_X509(input.get(), nullptr, nullptr, nullptr)) {
        crypto.OPENSSL_sk_push(untyped(certificates.get()), certificate);
    }
    crypto.ERR_clear_error(); // the end of the PEM text reads as an error
    return certificates;
}

std::optional<std::string> nameEntry(const CryptoLibrary& crypto, X509* certificate, int nid) {
    X509_NAME* name = crypto.X509_get_subject_name(certificate);
    const int index = crypto.X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return std::nullopt;
    }
    unsigned char* utf8 = nullptr;
    const int length = crypto.ASN1_STRING_to_UTF8(
        &utf8, crypto.X509_NAME_ENTRY_get_data(crypto.X509_NAME_get_entry(name, index)));
    if (length < 0) {
        return std::nullopt;
    }
    std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    crypto.CRYPTO_free(utf8, OPENSSL_FILE, OPENSSL_LINE);
    return text;
}

CertificateSummary summarize(const CryptoLibrary& crypto, X509* certificate) {
    CertificateSummary summary;
    summary.commonName = nameEntry(crypto, certificate, NID_commonName).value_or("");
    summary.organizationalUnit = nameEntry(crypto, certificate, NID_organizationalUnitName);
    std::tm end{};
    if (crypto.ASN1_TIME_to_tm(crypto.X509_get0_notAfter(certificate), &end) == 1) {
        summary.notAfter = ::timegm(&end);
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (crypto.X509_digest(certificate, crypto.EVP_sha256(), digest.data(), &length) == 1) {
        static constexpr char digits[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < length; ++i) {
            if (i > 0) {
                summary.sha256Fingerprint.push_back(' ');
            }
            summary.sha256Fingerprint.push_back(digits[digest[i] >> 4]);
            summary.sha256Fingerprint.push_back(digits[digest[i] & 0x0F]);
        }
    }
    return summary;
}

std::shared_ptr<X509_STORE> storeOf(const CryptoLibrary& crypto, std::string_view anchorsPem) {
    std::shared_ptr<X509_STORE> store(crypto.X509_STORE_new(), crypto.X509_STORE_free);
    if (!store) {
        return store;
    }
    const auto anchors = readCertificates(crypto, anchorsPem);
    for (int i = 0; i < countOf(anchors.get()); ++i) {
        X509* anchor = certificateAt(anchors.get(), i);
        // Fills the anchor's lazily cached extensions now: admission workers verify against
        // the same anchors at once, and the first verifications would otherwise write them.
        crypto.X509_check_purpose(anchor, -1, 0);
        crypto.X509_STORE_add_cert(store.get(), anchor);
    }
    // Our certificates are not e-mail certificates; trust comes from the anchors alone.
    crypto.X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
    return store;
}

} // namespace

CmsVerifier::CmsVerifier() : CmsVerifier(embeddedTrustAnchorsPem()) {}

CmsVerifier::CmsVerifier(std::string_view anchorsPem) : anchorsPem_(anchorsPem) {}

CmsVerification CmsVerifier::verify(std::span<const unsigned char> der) const {
    CmsVerification result;
    const CryptoLibrary* library = cryptoLibrary();
    if (!library) {
        result.error = "the cryptography library (libcrypto) cannot be opened";
        return result;
    }
    const CryptoLibrary& crypto = *library;
    std::call_once(read_, [&] { store_ = storeOf(crypto, anchorsPem_); });
    if (!store_ || der.size() > static_cast<std::size_t>(INT32_MAX)) {
        result.error = "no trust anchors";
        return result;
    }
    const Bio input = memoryOf(crypto, {reinterpret_cast<const char*>(der.data()), der.size()});
    const Cms cms(crypto.d2i_CMS_bio(input.get(), nullptr));
    if (!cms) {
        result.error = "not a signature: " + lastOpenSSLError(crypto);
        return result;
    }
    const Bio output(crypto.BIO_new(crypto.BIO_s_mem()));
    if (crypto.CMS_verify(cms.get(), nullptr, store_.get(), nullptr, output.get(), CMS_BINARY) !=
        1) {
        result.error = "signature does not verify: " + lastOpenSSLError(crypto);
        return result;
    }
    // The verified signer, and its chain as the anchors order it.
    const BorrowedCertificates signers(crypto.CMS_get0_signers(cms.get()));
    const Certificates carried(crypto.CMS_get1_certs(cms.get()));
    if (!signers || countOf(signers.get()) != 1) {
        result.error = "expected exactly one signer";
        return result;
    }
    X509* leaf = certificateAt(signers.get(), 0);
    const StoreContext context(crypto.X509_STORE_CTX_new());
    if (!context ||
        crypto.X509_STORE_CTX_init(context.get(), store_.get(), leaf, carried.get()) != 1 ||
        crypto.X509_verify_cert(context.get()) != 1) {
        result.error = "certificate chain does not verify: " + lastOpenSSLError(crypto);
        return result;
    }
    const Certificates chain(crypto.X509_STORE_CTX_get1_chain(context.get()));
    for (int i = 0; i < countOf(chain.get()); ++i) {
        result.chain.push_back(summarize(crypto, certificateAt(chain.get(), i)));
    }
    for (int i = 0; i < crypto.X509_get_ext_count(leaf); ++i) {
        char oid[128];
        const auto* object = crypto.X509_EXTENSION_get_object(crypto.X509_get_ext(leaf, i));
        const int oidLength = crypto.OBJ_obj2txt(oid, sizeof oid, object, 1);
        if (oidLength > 0 && static_cast<std::size_t>(oidLength) < sizeof oid) {
            result.leafExtensionOids.emplace_back(oid, static_cast<std::size_t>(oidLength));
        }
    }
    result.content = memoryContent(crypto, output.get());
    result.verified = true;
    return result;
}

std::optional<std::string> cmsSign(std::string_view content, const CmsSigningRequest& request,
                                   std::string& error) {
    const CryptoLibrary* library = cryptoLibrary();
    if (!library) {
        error = "the cryptography library (libcrypto) cannot be opened";
        return std::nullopt;
    }
    const CryptoLibrary& crypto = *library;
    const Bio certificateInput = memoryOf(crypto, request.certificatePem);
    const Certificate certificate(
        crypto.PEM_read_bio_X509(certificateInput.get(), nullptr, nullptr, nullptr));
    const Bio keyInput = memoryOf(crypto, request.privateKeyPem);
    const PrivateKey key(crypto.PEM_read_bio_PrivateKey(keyInput.get(), nullptr, nullptr, nullptr));
    if (!certificate || !key) {
        error = "cannot read the certificate or key: " + lastOpenSSLError(crypto);
        return std::nullopt;
    }
    const auto chain = readCertificates(crypto, request.chainPem);
    const Bio data = memoryOf(crypto, content);
    const Cms cms(
        crypto.CMS_sign(certificate.get(), key.get(), chain.get(), data.get(), CMS_BINARY));
    if (!cms) {
        error = "cannot sign: " + lastOpenSSLError(crypto);
        return std::nullopt;
    }
    const Bio output(crypto.BIO_new(crypto.BIO_s_mem()));
    if (crypto.i2d_CMS_bio(output.get(), cms.get()) != 1) {
        error = "cannot encode the signature: " + lastOpenSSLError(crypto);
        return std::nullopt;
    }
    return memoryContent(crypto, output.get());
}

std::string executableSignatureContent(std::string_view identifier, std::string_view sha256Hex) {
    return "identifier=" + std::string(identifier) +
           "\nexecutable-sha256=" + std::string(sha256Hex) + "\n";
}

std::optional<ExecutableSignatureContent> parseExecutableSignatureContent(std::string_view text) {
    constexpr std::string_view identifierKey = "identifier=";
    constexpr std::string_view digestKey = "\nexecutable-sha256=";
    if (!text.starts_with(identifierKey) || !text.ends_with("\n")) {
        return std::nullopt;
    }
    const auto digestAt = text.find(digestKey);
    if (digestAt == std::string_view::npos) {
        return std::nullopt;
    }
    ExecutableSignatureContent parsed;
    parsed.identifier = text.substr(identifierKey.size(), digestAt - identifierKey.size());
    const auto digestStart = digestAt + digestKey.size();
    parsed.executableSha256 = text.substr(digestStart, text.size() - 1 - digestStart);
    if (parsed.identifier.empty() || parsed.identifier.find('\n') != std::string::npos ||
        parsed.executableSha256.size() != 64) {
        return std::nullopt;
    }
    return parsed;
}

bool isInstallerCertificate(const CertificateSummary& leaf) {
    return leaf.commonName.starts_with("Developer ID Installer: ") && leaf.organizationalUnit;
}

} // namespace brivane::platform::posix
