#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace quillon {

// SHA-256 from the system's own well-kept library (OpenSSL's libcrypto on
// POSIX, BCrypt on Windows): what identifies a series is never a digest of
// our own making.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    // The digest of all that was given so far, as 64 lower-case hexadecimal
    // digits; more may be given after.
    std::string HexDigest() const;

private:
    struct State;

    std::unique_ptr<State> m_state;
};

}  // namespace quillon
