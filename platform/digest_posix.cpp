#include "platform/digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

namespace quillon {

namespace {

// Only a library without SHA-256 or without memory fails here: nothing a
// caller could mend, and a digest silently left out would be worse.
[[noreturn]] void Unavailable() {
    throw std::runtime_error("SHA-256 is not available from libcrypto");
}

}  // namespace

struct Sha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    // The system's openssl.cnf is not read: it costs memory, and could put
    // another provider behind the digest.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
    if (m_state->context == nullptr ||
        EVP_DigestInit_ex(m_state->context, EVP_sha256(), nullptr) != 1) {
        Unavailable();
    }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
    EVP_DigestUpdate(m_state->context, data, size);
}

std::string Sha256::HexDigest() const {
    State copy;
    if (copy.context == nullptr || EVP_MD_CTX_copy_ex(copy.context, m_state->context) != 1) {
        Unavailable();
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(copy.context, digest, &size);
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

}  // namespace quillon
