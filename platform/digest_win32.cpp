#include "platform/digest.h"

#include <windows.h>
// windows.h first: bcrypt.h takes its types from it.
#include <bcrypt.h>

#include <cstdio>
#include <stdexcept>

namespace quillon {

namespace {

[[noreturn]] void Unavailable() {
    throw std::runtime_error("SHA-256 is not available from BCrypt");
}

struct Hash {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~Hash() {
        if (handle != nullptr) {
            BCryptDestroyHash(handle);
        }
    }
};

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    Hash hash;
    ~State() {
        if (algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    if (BCryptOpenAlgorithmProvider(&m_state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) !=
            0 ||
        BCryptCreateHash(m_state->algorithm, &m_state->hash.handle, nullptr, 0, nullptr, 0, 0) !=
            0) {
        Unavailable();
    }
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ULONG part = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        BCryptHashData(m_state->hash.handle, const_cast<PUCHAR>(bytes), part, 0);
        bytes += part;
        size -= part;
    }
}

std::string Sha256::HexDigest() const {
    Hash copy;
    if (BCryptDuplicateHash(m_state->hash.handle, &copy.handle, nullptr, 0, 0) != 0) {
        Unavailable();
    }
    unsigned char digest[32];
    BCryptFinishHash(copy.handle, digest, sizeof digest, 0);
    std::string hex;
    for (unsigned char byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

}  // namespace quillon
