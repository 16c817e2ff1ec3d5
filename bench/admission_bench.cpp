// Admission cost of one client: the first connection hashes a 1 MiB executable and verifies
// its CMS signature; a repeated one is answered from the per-executable cache. The process
// lookup through /proc is measured on its own.
#include "backends/posix/trust/cms_signature.h"
#include "backends/posix/trust/exe_signature_source.h"
#include "base/sha256_hex.h"
#include "identity/code_requirement.h"
#include "identity/sensor_companion_identity.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

namespace {

using namespace brivane::platform;
using brivane::identity::CodeRequirement;
using namespace brivane::platform::posix;

std::string pemOf(X509* certificate) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    PEM_write_bio_X509(bio.get(), certificate);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

std::string pemOf(EVP_PKEY* key) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

// A self-signed certificate with the team as organisational unit serves as anchor and leaf.
struct Fixture {
    std::filesystem::path executable;
    std::shared_ptr<const CmsVerifier> verifier;
    CodeRequirement requirement =
        *CodeRequirement::parse(brivane::identity::SensorCompanionIdentity::clientRequirement(
            "dev.qorva.brivane", "BENCHTEAM1"));

    Fixture() {
        const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"),
                                                                      &EVP_PKEY_free);
        const std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), &X509_free);
        X509_set_version(certificate.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
        X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400);
        X509_NAME* name = X509_get_subject_name(certificate.get());
        X509_NAME_add_entry_by_txt(name, "OU", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("BENCHTEAM1"), -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Bench"), -1, -1, 0);
        X509_set_issuer_name(certificate.get(), name);
        X509_set_pubkey(certificate.get(), key.get());
        X509_sign(certificate.get(), key.get(), EVP_sha256());

        executable = std::filesystem::temp_directory_path() /
                     ("brivane-admission-bench-" + std::to_string(::getpid()));
        std::string program(1u << 20, '\0');
        for (std::size_t i = 0; i < program.size(); ++i) {
            program[i] = static_cast<char>(i * 131);
        }
        std::ofstream(executable, std::ios::binary) << program;
        std::string error;
        const auto signature = brivane::platform::posix::cmsSign(
            brivane::platform::posix::executableSignatureContent(
                "dev.qorva.brivane",
                brivane::base::sha256Hex(
                    {reinterpret_cast<const unsigned char*>(program.data()), program.size()})),
            {pemOf(certificate.get()), pemOf(key.get()), ""}, error);
        std::ofstream(executable.string() + ".sig", std::ios::binary) << signature.value_or("");
        verifier = std::make_shared<const CmsVerifier>(pemOf(certificate.get()));
    }
    ~Fixture() {
        std::filesystem::remove(executable);
        std::filesystem::remove(executable.string() + ".sig");
    }
};

void FirstConnectionHashesAndVerifies(benchmark::State& state) {
    const Fixture fixture;
    for (auto _ : state) {
        brivane::platform::posix::ExeSignatureSource source(fixture.verifier);
        const auto signature = source.signatureOfFile(fixture.executable.string());
        if (!signature || !fixture.requirement.isSatisfiedBy(*signature)) {
            state.SkipWithError("the bench client was not admitted");
            break;
        }
    }
}
BENCHMARK(FirstConnectionHashesAndVerifies)->Unit(benchmark::kMicrosecond);

void RepeatedConnectionHitsTheCache(benchmark::State& state) {
    const Fixture fixture;
    brivane::platform::posix::ExeSignatureSource source(fixture.verifier);
    source.signatureOfFile(fixture.executable.string());
    for (auto _ : state) {
        const auto signature = source.signatureOfFile(fixture.executable.string());
        if (!signature || !fixture.requirement.isSatisfiedBy(*signature)) {
            state.SkipWithError("the bench client was not admitted");
            break;
        }
    }
}
BENCHMARK(RepeatedConnectionHitsTheCache)->Unit(benchmark::kMicrosecond);

// The pid pinning, start-time reads and executable lookup of a live peer (this process, which
// has no signature, so no hashing follows).
void ProcessLookupOfALivePeer(benchmark::State& state) {
    brivane::platform::posix::ExeSignatureSource source(std::make_shared<const CmsVerifier>(""));
    const PeerInfo self{::getpid(), ::getuid(), ::getgid(), std::nullopt};
    for (auto _ : state) {
        benchmark::DoNotOptimize(source.signatureOf(self));
    }
}
BENCHMARK(ProcessLookupOfALivePeer)->Unit(benchmark::kMicrosecond);

} // namespace
