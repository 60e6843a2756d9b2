// The remote control's shared secret and its challenge-response.
//
// The secret is 32 random bytes, kept as 64 hex digits in one file only its owner may read. A
// client proves it knows the secret by answering the server's fresh nonce with
// HMAC-SHA256(key = the secret's 32 bytes, message = the nonce's 32 bytes), in hex: the secret
// itself never crosses the wire, and an answer is good for one connection only.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vantry::remote {

// Why a secret cannot be read, made or used; the message names the file.
class SecretError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// <config home>/vantry-pro/remote-secret.
std::filesystem::path defaultSecretFile();

// Reads the secret. Refuses (SecretError) a file that is missing, not a regular file (a link
// included), not the user's own, open to the group or others, or not 64 hex digits.
std::string readSecret(const std::filesystem::path& file);

struct Secret {
    std::string hex;
    bool created = false;  // made just now: the window shows it once
};
// The secret in `file`, made first when there is none: the file is written with mode 0600 from
// its first byte on. A file that is there but cannot be used is refused, never replaced.
Secret loadOrCreateSecret(const std::filesystem::path& file);

// `bytes` random bytes from the system's generator, as lower-case hex.
std::string randomHex(int bytes);

// The answer to `nonceHex` under `secretHex` (lower-case hex); empty when either is not hex.
std::string challengeAnswer(std::string_view secretHex, std::string_view nonceHex);

// Compares two answers in time independent of where they differ.
bool sameAnswer(std::string_view a, std::string_view b);

}  // namespace vantry::remote
