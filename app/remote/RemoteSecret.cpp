#include "app/remote/RemoteSecret.h"

#include <sys/random.h>

#include <QByteArray>
#include <QMessageAuthenticationCode>
#include <cerrno>
#include <cstring>

#include "platform/files/RegularFile.h"
#include "platform/files/SafeOutput.h"
#include "platform/files/SettingsFolder.h"

namespace vantry::remote {
namespace {

constexpr std::size_t kSecretHexDigits = 64;
// The digits and a line break; anything much larger is not a secret file.
constexpr std::uintmax_t kMaxSecretFileBytes = 128;

bool isHex(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

SecretError refuse(const std::filesystem::path& file, const std::string& why) {
    return SecretError("the remote-control secret " + file.string() + " " + why);
}

}  // namespace

std::filesystem::path defaultSecretFile() {
    return platform::settingsFolder() / "remote-secret";
}

std::string readSecret(const std::filesystem::path& file) {
    // The checks run on the opened file itself, so it cannot be swapped between check and read.
    const platform::FileContents contents =
        platform::readRegularFile(file, kMaxSecretFileBytes, platform::FileRules::privateToUser);
    if (!contents.ok()) {
        const std::string& why = contents.error;
        throw refuse(file, why.rfind("it ", 0) == 0 ? why.substr(3) : why);
    }
    std::string text = contents.bytes;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.size() != kSecretHexDigits || !isHex(text)) throw refuse(file, "does not hold 64 hex digits");
    return text;
}

Secret loadOrCreateSecret(const std::filesystem::path& file) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(file, ec);
    if (status.type() != std::filesystem::file_type::not_found) return Secret{readSecret(file), false};
    const std::string hex = randomHex(int(kSecretHexDigits / 2));
    try {
        std::filesystem::create_directories(file.parent_path());
        std::filesystem::permissions(file.parent_path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, ec);
        platform::SafeOutput::write(file, hex + "\n", 0600);
    } catch (const std::filesystem::filesystem_error& e) {
        throw refuse(file, "cannot be written: " + platform::describeOutputError(e));
    }
    return Secret{hex, true};
}

std::string randomHex(int bytes) {
    QByteArray raw(bytes, '\0');
    qsizetype filled = 0;
    while (filled < raw.size()) {
        const ssize_t n = ::getrandom(raw.data() + filled, std::size_t(raw.size() - filled), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw SecretError(std::string("no random bytes from the system: ") + std::strerror(errno));
        }
        filled += n;
    }
    return raw.toHex().toStdString();
}

std::string challengeAnswer(std::string_view secretHex, std::string_view nonceHex) {
    if (!isHex(secretHex) || !isHex(nonceHex)) return {};
    const QByteArray key = QByteArray::fromHex(QByteArray(secretHex.data(), qsizetype(secretHex.size())));
    const QByteArray nonce = QByteArray::fromHex(QByteArray(nonceHex.data(), qsizetype(nonceHex.size())));
    return QMessageAuthenticationCode::hash(nonce, key, QCryptographicHash::Sha256).toHex().toStdString();
}

bool sameAnswer(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace vantry::remote
