#include "backends/posix/trust/cms_signature.h"

#include <array>
#include <ctime>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace brivane::platform::posix {
namespace {

template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* object) const { Free(object); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using Cms = std::unique_ptr<CMS_ContentInfo, Freer<CMS_ContentInfo, CMS_ContentInfo_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using PrivateKey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX, X509_STORE_CTX_free>>;

void freeCertificates(STACK_OF(X509) * certificates) {
    sk_X509_pop_free(certificates, X509_free);
}
using Certificates = std::unique_ptr<STACK_OF(X509), Freer<STACK_OF(X509), freeCertificates>>;
// A stack that borrows its certificates.
void freeStackOnly(STACK_OF(X509) * certificates) {
    sk_X509_free(certificates);
}
using BorrowedCertificates = std::unique_ptr<STACK_OF(X509), Freer<STACK_OF(X509), freeStackOnly>>;

Bio memoryOf(std::string_view bytes) {
    return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string lastOpenSSLError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "unknown error";
    }
    std::array<char, 256> text{};
    ERR_error_string_n(code, text.data(), text.size());
    return text.data();
}

Certificates readCertificates(std::string_view pem) {
    Certificates certificates(sk_X509_new_null());
    if (pem.empty()) {
        return certificates;
    }
    const Bio input = memoryOf(pem);
    while (X509* certificate = PEM_read_bio_X509(input.get(), nullptr, nullptr, nullptr)) {
        sk_X509_push(certificates.get(), certificate);
    }
    ERR_clear_error(); // the end of the PEM text reads as an error
    return certificates;
}

std::optional<std::string> nameEntry(X509* certificate, int nid) {
    X509_NAME* name = X509_get_subject_name(certificate);
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) {
        return std::nullopt;
    }
    unsigned char* utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0) {
        return std::nullopt;
    }
    std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

CertificateSummary summarize(X509* certificate) {
    CertificateSummary summary;
    summary.commonName = nameEntry(certificate, NID_commonName).value_or("");
    summary.organizationalUnit = nameEntry(certificate, NID_organizationalUnitName);
    std::tm end{};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &end) == 1) {
        summary.notAfter = ::timegm(&end);
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest.data(), &length) == 1) {
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

std::shared_ptr<X509_STORE> storeOf(std::string_view anchorsPem) {
    std::shared_ptr<X509_STORE> store(X509_STORE_new(), X509_STORE_free);
    if (!store) {
        return store;
    }
    const auto anchors = readCertificates(anchorsPem);
    for (int i = 0; i < sk_X509_num(anchors.get()); ++i) {
        X509* anchor = sk_X509_value(anchors.get(), i);
        // Fills the anchor's lazily cached extensions now: admission workers verify against
        // the same anchors at once, and the first verifications would otherwise write them.
        X509_check_purpose(anchor, -1, 0);
        X509_STORE_add_cert(store.get(), anchor);
    }
    // Our certificates are not e-mail certificates; trust comes from the anchors alone.
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
    return store;
}

} // namespace

CmsVerifier::CmsVerifier() : CmsVerifier(embeddedTrustAnchorsPem()) {}

CmsVerifier::CmsVerifier(std::string_view anchorsPem) : anchorsPem_(anchorsPem) {}

CmsVerification CmsVerifier::verify(std::span<const unsigned char> der) const {
    std::call_once(read_, [this] { store_ = storeOf(anchorsPem_); });
    CmsVerification result;
    if (!store_ || der.size() > static_cast<std::size_t>(INT32_MAX)) {
        result.error = "no trust anchors";
        return result;
    }
    const Bio input = memoryOf({reinterpret_cast<const char*>(der.data()), der.size()});
    const Cms cms(d2i_CMS_bio(input.get(), nullptr));
    if (!cms) {
        result.error = "not a signature: " + lastOpenSSLError();
        return result;
    }
    const Bio output(BIO_new(BIO_s_mem()));
    if (CMS_verify(cms.get(), nullptr, store_.get(), nullptr, output.get(), CMS_BINARY) != 1) {
        result.error = "signature does not verify: " + lastOpenSSLError();
        return result;
    }
    // The verified signer, and its chain as the anchors order it.
    const BorrowedCertificates signers(CMS_get0_signers(cms.get()));
    const Certificates carried(CMS_get1_certs(cms.get()));
    if (!signers || sk_X509_num(signers.get()) != 1) {
        result.error = "expected exactly one signer";
        return result;
    }
    X509* leaf = sk_X509_value(signers.get(), 0);
    const StoreContext context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store_.get(), leaf, carried.get()) != 1 ||
        X509_verify_cert(context.get()) != 1) {
        result.error = "certificate chain does not verify: " + lastOpenSSLError();
        return result;
    }
    const Certificates chain(X509_STORE_CTX_get1_chain(context.get()));
    for (int i = 0; i < sk_X509_num(chain.get()); ++i) {
        result.chain.push_back(summarize(sk_X509_value(chain.get(), i)));
    }
    for (int i = 0; i < X509_get_ext_count(leaf); ++i) {
        char oid[128];
        const auto* object = X509_EXTENSION_get_object(X509_get_ext(leaf, i));
        const int oidLength = OBJ_obj2txt(oid, sizeof oid, object, 1);
        if (oidLength > 0 && static_cast<std::size_t>(oidLength) < sizeof oid) {
            result.leafExtensionOids.emplace_back(oid, static_cast<std::size_t>(oidLength));
        }
    }
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(output.get(), &bytes);
    result.content.assign(bytes, static_cast<std::size_t>(length));
    result.verified = true;
    return result;
}

std::optional<std::string> cmsSign(std::string_view content, const CmsSigningRequest& request,
                                   std::string& error) {
    const Bio certificateInput = memoryOf(request.certificatePem);
    const Certificate certificate(
        PEM_read_bio_X509(certificateInput.get(), nullptr, nullptr, nullptr));
    const Bio keyInput = memoryOf(request.privateKeyPem);
    const PrivateKey key(PEM_read_bio_PrivateKey(keyInput.get(), nullptr, nullptr, nullptr));
    if (!certificate || !key) {
        error = "cannot read the certificate or key: " + lastOpenSSLError();
        return std::nullopt;
    }
    const auto chain = readCertificates(request.chainPem);
    const Bio data = memoryOf(content);
    const Cms cms(CMS_sign(certificate.get(), key.get(), chain.get(), data.get(), CMS_BINARY));
    if (!cms) {
        error = "cannot sign: " + lastOpenSSLError();
        return std::nullopt;
    }
    const Bio output(BIO_new(BIO_s_mem()));
    if (i2d_CMS_bio(output.get(), cms.get()) != 1) {
        error = "cannot encode the signature: " + lastOpenSSLError();
        return std::nullopt;
    }
    char* bytes = nullptr;
    const long length = BIO_get_mem_data(output.get(), &bytes);
    return std::string(bytes, static_cast<std::size_t>(length));
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
