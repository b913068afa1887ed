// libcrypto's SHA-256 functions of their own, not the EVP interface: EVP
// activates the default provider, whose tables cost every update about
// 1.3 MiB of memory for one digest that never changes. The code that runs
// is the same (the library's assembler for the CPU at hand).
#define OPENSSL_API_COMPAT 10101

#include "platform/digest.h"

#include <openssl/sha.h>

#include <cstdio>
#include <stdexcept>

namespace quillon {

struct Sha256::State {
    SHA256_CTX context;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    // Fails only for a null context: nothing a caller could mend, and a
    // digest silently left out would be worse.
    if (SHA256_Init(&m_state->context) != 1) {
        throw std::runtime_error("SHA-256 is not available from libcrypto");
    }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
    SHA256_Update(&m_state->context, data, size);
}

std::string Sha256::HexDigest() const {
    SHA256_CTX copy = m_state->context;  // so that more may be given after
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256_Final(digest, &copy);
    std::string hex;
    for (unsigned char byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

}  // namespace quillon
