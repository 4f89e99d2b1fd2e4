#include "index/signed_index.h"

#include <sodium.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

#include "index/index_text.h"

namespace signed_index {

namespace {

using version_index::TextLine;

constexpr int64_t kSecondsPerDay = 86400;

bool Ready() {
    // Safe to call again; it only fails when the library cannot start at all.
    return sodium_init() >= 0;
}

std::string ToHex(const unsigned char* bytes, size_t size) {
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

// Exactly `size` bytes from exactly 2*size hex digits.
bool FromHex(const std::string& hex, unsigned char* bytes, size_t size) {
    if (hex.size() != size * 2) {
        return false;
    }
    for (const char c : hex) {
        const bool digit =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!digit) {
            return false;
        }
    }
    size_t written = 0;
    return sodium_hex2bin(bytes, size, hex.data(), hex.size(), nullptr, &written, nullptr) == 0 &&
           written == size;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool ParseUnsigned(const std::string& text, uint64_t* value) {
    const std::optional<uint64_t> parsed = version_index::ParseUnsigned(text);
    *value = parsed.value_or(0);
    return parsed.has_value();
}

using version_index::Fields;

Reading Fail(Verdict verdict, const std::string& reason) {
    Reading reading;
    reading.verdict = verdict;
    reading.reason = reason;
    return reading;
}

// The header and file lines among `lines` (the signature line excluded).
Reading ParseManifest(const std::vector<TextLine>& lines) {
    Reading reading;
    bool header = false;
    for (const TextLine& line : lines) {
        const std::string& text = line.text;
        if (!StartsWith(text, "#brf-")) {
            continue;
        }
        const std::vector<std::string> head = Fields(text, 2);
        if (head[0] == kHeaderTag) {
            if (header) {
                return Fail(Verdict::Malformed, "two header lines");
            }
            header = true;
            const std::vector<std::string> fields = Fields(text, 5);
            if (fields.size() < 3 || fields.size() > 4 || fields[1] != kFormatVersion ||
                !StartsWith(fields[2], "serial=") ||
                !ParseUnsigned(fields[2].substr(7), &reading.manifest.serial)) {
                return Fail(Verdict::Malformed, "header line not understood: " + text);
            }
            if (fields.size() == 4) {
                const std::optional<int64_t> expires = StartsWith(fields[3], "expires=")
                                                           ? ParseUtc(fields[3].substr(8))
                                                           : std::nullopt;
                if (!expires || FormatUtc(*expires) != fields[3].substr(8)) {
                    return Fail(Verdict::Malformed, "expiry not understood: " + text);
                }
                reading.manifest.expires = expires;
            }
        } else if (head[0] == kFileTag) {
            const std::vector<std::string> fields = Fields(text, 4);
            ListedFile file;
            unsigned char hash[crypto_hash_sha256_BYTES];
            if (fields.size() != 4 || !ParseUnsigned(fields[1], &file.size) ||
                !FromHex(fields[2], hash, sizeof hash) || fields[3].empty()) {
                return Fail(Verdict::Malformed, "file line not understood: " + text);
            }
            file.sha256 = ToHex(hash, sizeof hash);
            if (!reading.manifest.files.emplace(fields[3], file).second) {
                return Fail(Verdict::Malformed, "file listed twice: " + fields[3]);
            }
        } else if (head[0] == kSignatureTag) {
            return Fail(Verdict::Malformed, "a signature line that is not the last line");
        } else {
            return Fail(Verdict::Malformed, "unknown signature line: " + text);
        }
    }
    if (!header) {
        return Fail(Verdict::Malformed, "no header line");
    }
    reading.verdict = Verdict::Ok;
    return reading;
}

// The lines of `text` and the signature taken from its last line. Fails
// unless the text ends with the signature line.
Reading SplitSigned(const std::string& text, std::vector<TextLine>* lines, std::string* signedPart,
                    std::string* signatureHex) {
    if (text.find('\0') != std::string::npos) {
        // The index reader stops at a zero byte; what it would not read
        // cannot be what was signed.
        return Fail(Verdict::Malformed, "a zero byte in the index");
    }
    *lines = version_index::SplitTextLines(text);
    bool any = false;
    for (const TextLine& line : *lines) {
        any = any || StartsWith(line.text, "#brf-");
    }
    if (!any) {
        return Fail(Verdict::Unsigned, "the index is not signed");
    }
    const TextLine last = lines->back();
    const std::vector<std::string> fields = Fields(last.text, 2);
    if (fields[0] != kSignatureTag || fields.size() != 2) {
        return Fail(Verdict::Malformed, "the last line is not the signature line");
    }
    // Nothing may follow the signature line but its own line end.
    const std::string rest = text.substr(last.start + last.text.size());
    if (!rest.empty() && rest != "\r\n" && rest != "\n" && rest != "\r") {
        return Fail(Verdict::Malformed, "bytes after the signature line");
    }
    lines->pop_back();
    *signedPart = text.substr(0, last.start);
    *signatureHex = fields[1];
    Reading ok;
    ok.verdict = Verdict::Ok;
    return ok;
}

}  // namespace

Reading Verify(const std::string& text, const std::string& publicKeyHex) {
    unsigned char key[crypto_sign_PUBLICKEYBYTES];
    if (!Ready() || !FromHex(publicKeyHex, key, sizeof key)) {
        return Fail(Verdict::BadSignature, "no usable public key");
    }
    std::vector<TextLine> lines;
    std::string signedPart;
    std::string signatureHex;
    Reading split = SplitSigned(text, &lines, &signedPart, &signatureHex);
    if (split.verdict != Verdict::Ok) {
        return split;
    }
    unsigned char signature[crypto_sign_BYTES];
    if (!FromHex(signatureHex, signature, sizeof signature)) {
        return Fail(Verdict::Malformed, "the signature is not 128 hex digits");
    }
    // Nothing of the signed part is interpreted before the signature holds.
    if (crypto_sign_verify_detached(signature,
                                    reinterpret_cast<const unsigned char*>(signedPart.data()),
                                    signedPart.size(), key) != 0) {
        return Fail(Verdict::BadSignature, "the signature does not match the public key");
    }
    return ParseManifest(lines);
}

Reading ReadUnverified(const std::string& text) {
    std::vector<TextLine> lines;
    std::string signedPart;
    std::string signatureHex;
    Reading split = SplitSigned(text, &lines, &signedPart, &signatureHex);
    if (split.verdict != Verdict::Ok) {
        return split;
    }
    return ParseManifest(lines);
}

base::Result<std::string> Sign(const std::string& text, const Manifest& manifest,
                               const std::string& secretKeyHex) {
    unsigned char key[crypto_sign_SECRETKEYBYTES];
    if (!Ready() || !FromHex(secretKeyHex, key, sizeof key)) {
        return base::Fail("the secret key is not 128 hex digits");
    }
    if (text.find('\0') != std::string::npos) {
        // The index reader stops at a zero byte: nothing after it would be read.
        return base::Fail("the index holds a zero byte");
    }
    for (const TextLine& line : version_index::SplitTextLines(text)) {
        if (StartsWith(line.text, "#brf-")) {
            return base::Fail("the index carries signature lines already");
        }
    }
    std::string out = text;
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
        out += "\r\n";
    }
    out += std::string(kHeaderTag) + " " + kFormatVersion +
           " serial=" + std::to_string(manifest.serial);
    if (manifest.expires) {
        out += " expires=" + FormatUtc(*manifest.expires);
    }
    out += "\r\n";
    for (const auto& [name, file] : manifest.files) {
        if (name.empty() || name.find_first_of("\r\n") != std::string::npos) {
            return base::Fail("a name the signature lines cannot hold: " + name);
        }
        out += std::string(kFileTag) + " " + std::to_string(file.size) + " " + file.sha256 + " " +
               name + "\r\n";
    }
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(out.data()),
                         out.size(), key);
    sodium_memzero(key, sizeof key);
    out += std::string(kSignatureTag) + " " + ToHex(signature, sizeof signature) + "\r\n";
    return out;
}

struct Sha256::State {
    crypto_hash_sha256_state sodium;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    Ready();
    crypto_hash_sha256_init(&state_->sodium);
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, size_t size) {
    crypto_hash_sha256_update(&state_->sodium, static_cast<const unsigned char*>(data), size);
}

std::string Sha256::HexDigest() {
    unsigned char hash[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state_->sodium, hash);
    crypto_hash_sha256_init(&state_->sodium);
    return ToHex(hash, sizeof hash);
}

bool HashFile(const std::string& path, ListedFile* out) {
    std::ifstream in(path, std::ios::binary);
    if (!Ready() || !in) {
        return false;
    }
    Sha256 hasher;
    std::vector<char> buffer(64 * 1024);
    uint64_t size = 0;
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const auto got = static_cast<size_t>(in.gcount());
        hasher.Update(buffer.data(), got);
        size += got;
    }
    if (in.bad()) {
        return false;
    }
    out->size = size;
    out->sha256 = hasher.HexDigest();
    return true;
}

base::Result<> CheckFile(const Manifest& manifest, const std::string& requestPath,
                         const std::string& localPath) {
    const auto listed = manifest.files.find(requestPath);
    if (listed == manifest.files.end()) {
        return base::Fail(requestPath + " is not listed in the signed index");
    }
    ListedFile actual;
    if (!HashFile(localPath, &actual)) {
        return base::Fail(localPath + " cannot be read");
    }
    if (actual.size != listed->second.size) {
        return base::Fail(localPath + " has " + std::to_string(actual.size) +
                          " bytes, the signed index " + std::to_string(listed->second.size));
    }
    if (actual.sha256 != listed->second.sha256) {
        return base::Fail(localPath + " does not have the SHA-256 of the signed index");
    }
    return {};
}

std::string SignDetached(const std::string& bytes, const std::string& secretKeyHex) {
    unsigned char key[crypto_sign_SECRETKEYBYTES];
    if (!Ready() || !FromHex(secretKeyHex, key, sizeof key)) {
        return {};
    }
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()),
                         bytes.size(), key);
    sodium_memzero(key, sizeof key);
    return ToHex(signature, sizeof signature);
}

bool VerifyDetached(const std::string& bytes, const std::string& signatureHex,
                    const std::string& publicKeyHex) {
    unsigned char key[crypto_sign_PUBLICKEYBYTES];
    unsigned char signature[crypto_sign_BYTES];
    return Ready() && FromHex(publicKeyHex, key, sizeof key) &&
           FromHex(signatureHex, signature, sizeof signature) &&
           crypto_sign_verify_detached(signature,
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       bytes.size(), key) == 0;
}

bool MakeKeyPair(std::string* publicKeyHex, std::string* secretKeyHex) {
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    if (!Ready() || crypto_sign_keypair(pk, sk) != 0) {
        return false;
    }
    *publicKeyHex = ToHex(pk, sizeof pk);
    *secretKeyHex = ToHex(sk, sizeof sk);
    sodium_memzero(sk, sizeof sk);
    return true;
}

std::string PublicKeyOf(const std::string& secretKeyHex) {
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    if (!Ready() || !FromHex(secretKeyHex, sk, sizeof sk)) {
        return {};
    }
    // The secret key holds its public half; a key whose halves do not fit
    // would sign what its public key does not verify.
    unsigned char seed[crypto_sign_SEEDBYTES];
    unsigned char derivedSk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_ed25519_sk_to_seed(seed, sk);
    crypto_sign_seed_keypair(pk, derivedSk, seed);
    const bool fits = sodium_memcmp(derivedSk, sk, sizeof sk) == 0;
    sodium_memzero(sk, sizeof sk);
    sodium_memzero(seed, sizeof seed);
    sodium_memzero(derivedSk, sizeof derivedSk);
    return fits ? ToHex(pk, sizeof pk) : std::string();
}

bool ValidPublicKey(const std::string& publicKeyHex) {
    unsigned char key[crypto_sign_PUBLICKEYBYTES];
    return FromHex(publicKeyHex, key, sizeof key);
}

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

std::string FormatUtc(int64_t seconds) {
    const int64_t days = (seconds >= 0 ? seconds : seconds - (kSecondsPerDay - 1)) / kSecondsPerDay;
    const int64_t rest = seconds - days * kSecondsPerDay;
    // Civil date from days (the inverse of DaysFromCivil).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(y),
                  m, d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return text;
}

std::optional<int64_t> ParseUtc(const std::string& text) {
    std::string t = text;
    if (!t.empty() && t.back() == 'Z') {
        t.pop_back();
    }
    if (t.size() != 19 || (t[10] != 'T' && t[10] != ' ')) {
        return std::nullopt;
    }
    for (size_t i = 0; i < t.size(); ++i) {
        const char want = i == 4 || i == 7 ? '-' : i == 10 ? t[10] : i == 13 || i == 16 ? ':' : '#';
        if (want == '#' ? (t[i] < '0' || t[i] > '9') : t[i] != want) {
            return std::nullopt;
        }
    }
    const auto number = [&t](size_t at, size_t length) { return std::stoi(t.substr(at, length)); };
    const int year = number(0, 4);
    const int month = number(5, 2);
    const int day = number(8, 2);
    const int hour = number(11, 2);
    const int minute = number(14, 2);
    const int second = number(17, 2);
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > days[month - 1] || hour > 23 || minute > 59 ||
        second > 59) {
        return std::nullopt;
    }
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
               kSecondsPerDay +
           hour * 3600 + minute * 60 + second;
}

int64_t NowUtc() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace signed_index
