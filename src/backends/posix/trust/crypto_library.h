#pragma once

#include "backends/posix/system/shared_library.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace brivane::platform::posix {

// The functions of OpenSSL's libcrypto that signatures and executable digests need, opened the
// first time one is verified or hashed. Linked, the library's relocations would cost every
// process a millisecond at start, and a client that finds its verdict on the agent kept
// (kept_verdicts.h) needs none of it. Opened by its runtime name (the package every libcrypto
// user has), never the development link; the functions keep OpenSSL's names and types.
struct CryptoLibrary {
// clang-format off
#define BRIVANE_CRYPTO_FUNCTIONS(X)                                                                \
    X(ERR_get_error) X(ERR_clear_error) X(ERR_error_string_n) X(CRYPTO_free)                       \
    X(BIO_new) X(BIO_s_mem) X(BIO_new_mem_buf) X(BIO_ctrl) X(BIO_free_all)                         \
    X(OPENSSL_sk_new_null) X(OPENSSL_sk_push) X(OPENSSL_sk_num) X(OPENSSL_sk_value)                \
    X(OPENSSL_sk_free) X(OPENSSL_sk_pop_free)                                                      \
    X(PEM_read_bio_X509) X(PEM_read_bio_PrivateKey) X(EVP_PKEY_free) X(X509_free)                  \
    X(X509_get_subject_name) X(X509_NAME_get_index_by_NID) X(X509_NAME_get_entry)                  \
    X(X509_NAME_ENTRY_get_data) X(ASN1_STRING_to_UTF8) X(ASN1_TIME_to_tm) X(X509_get0_notAfter)    \
    X(X509_digest) X(X509_check_purpose) X(X509_get_ext_count) X(X509_get_ext)                     \
    X(X509_EXTENSION_get_object) X(OBJ_obj2txt)                                                    \
    X(X509_STORE_new) X(X509_STORE_free) X(X509_STORE_add_cert) X(X509_STORE_set_purpose)          \
    X(X509_STORE_CTX_new) X(X509_STORE_CTX_free) X(X509_STORE_CTX_init) X(X509_verify_cert)        \
    X(X509_STORE_CTX_get1_chain)                                                                   \
    X(d2i_CMS_bio) X(i2d_CMS_bio) X(CMS_verify) X(CMS_sign) X(CMS_get0_signers) X(CMS_get1_certs)  \
    X(CMS_ContentInfo_free)                                                                        \
    X(EVP_sha256) X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) X(EVP_DigestInit_ex) X(EVP_DigestUpdate)    \
    X(EVP_DigestFinal_ex)
    // clang-format on
    BRIVANE_LIBRARY_TABLE(BRIVANE_CRYPTO_FUNCTIONS)
};

// The library, opened on the first call and kept; nullptr when it cannot be opened. Thread-safe.
const CryptoLibrary* cryptoLibrary();

// The library once cryptoLibrary() gave it: for releasing what it made.
const CryptoLibrary& openedCryptoLibrary();

} // namespace brivane::platform::posix
