// The signature lines on their own: damage and forgeries byte by byte, and
// the signature checked once more with libsodium directly, so that signer
// and checker cannot agree on a wrong reading of the format.
#include <gtest/gtest.h>
#include <sodium.h>

#include <functional>
#include <string>
#include <vector>

#include "index/signed_index.h"

namespace {

namespace si = signed_index;

const std::string kIndex =
    "# of 2004-09-20\r\n1490\r\n1490\r\n1050\r\n0\r\n1040\r\n0\r\n[1040.0]\r\n";
const std::string kHash0(64, '0');

struct Keys {
    std::string pub, secret;
    Keys() { EXPECT_TRUE(si::MakeKeyPair(&pub, &secret)); }
};

std::string Signed(const Keys& keys, const std::string& index = kIndex) {
    si::Manifest m;
    m.serial = 41;
    m.expires = si::ParseUtc("2031-05-06 07:08:09");
    m.files["patch/readme.txt.upd"] = {17, kHash0};
    const auto out = si::Sign(index, m, keys.secret);
    EXPECT_TRUE(out) << out.reason();
    return out ? *out : std::string();
}

std::string SignedPart(const std::string& text) {
    return text.substr(0, text.rfind("#brf-signature "));
}

std::string Swap(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    return at == std::string::npos ? "(not found)" : text.replace(at, from.size(), to);
}

// `part` with a signature line made by libsodium itself: a text the signer
// would never write, signed all the same.
std::string SignRaw(const Keys& keys, const std::string& part) {
    unsigned char sk[crypto_sign_SECRETKEYBYTES], sig[crypto_sign_BYTES];
    sodium_hex2bin(sk, sizeof sk, keys.secret.data(), keys.secret.size(), nullptr, nullptr,
                   nullptr);
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(part.data()),
                         part.size(), sk);
    char hex[2 * crypto_sign_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, sig, sizeof sig);
    return part + "#brf-signature " + hex + "\r\n";
}

TEST(SignedIndex, SignatureCoversEveryByteBeforeItsLineAsLibsodiumSeesIt) {
    const Keys keys;
    const std::string text = Signed(keys);
    EXPECT_EQ(text.rfind(kIndex, 0), 0u);  // the index itself is untouched
    const std::string part = SignedPart(text);
    EXPECT_EQ(SignRaw(keys, part), text);  // Ed25519 signatures are deterministic

    const si::Reading r = si::Verify(text, keys.pub);
    ASSERT_EQ(r.verdict, si::Verdict::Ok) << r.reason;
    EXPECT_EQ(r.manifest.serial, 41u);
    EXPECT_EQ(si::FormatUtc(*r.manifest.expires), "2031-05-06T07:08:09Z");
    EXPECT_EQ(r.manifest.files.at("patch/readme.txt.upd").size, 17u);
}

TEST(SignedIndex, DamagedOrForgedIndexIsRefused) {
    using Change = std::function<std::string(const Keys&, const std::string&)>;
    const struct {
        const char* name;
        Change change;
        si::Verdict verdict;
    } damages[] = {
        {"HeaderValue", [](auto&, auto& t) { return Swap(t, "1050", "1060"); },
         si::Verdict::BadSignature},
        {"ListedHash", [](auto&, auto& t) { return Swap(t, kHash0, "1" + kHash0.substr(1)); },
         si::Verdict::BadSignature},
        {"Serial", [](auto&, auto& t) { return Swap(t, "serial=41", "serial=99"); },
         si::Verdict::BadSignature},
        {"OtherKey", [](auto&, auto&) { return Signed(Keys()); }, si::Verdict::BadSignature},
        {"EntryAfterSignature", [](auto&, auto& t) { return t + "evil.upd\r\n9\r\n"; },
         si::Verdict::Malformed},
        {"LineEndAfterSignature", [](auto&, auto& t) { return t + "\r\n"; },
         si::Verdict::Malformed},
        {"NoSignatureLine", [](auto&, auto& t) { return SignedPart(t); }, si::Verdict::Malformed},
        {"ShortSignature", [](auto&, auto& t) { return t.substr(0, t.size() - 3) + "\r\n"; },
         si::Verdict::Malformed},
        {"NoSignatureLines", [](auto&, auto&) { return kIndex; }, si::Verdict::Unsigned},
        {"ZeroByteSigned",
         [](auto& k, auto& t) {
             return SignRaw(k, Swap(SignedPart(t), "[", std::string(1, '\0')));
         },
         si::Verdict::Malformed},
        {"SecondHeaderSigned",
         [](auto& k, auto& t) {
             return SignRaw(k, SignedPart(t) + "#brf-signed-index 1 serial=1\r\n");
         },
         si::Verdict::Malformed},
        {"UnknownLineSigned",
         [](auto& k, auto& t) { return SignRaw(k, SignedPart(t) + "#brf-trust all\r\n"); },
         si::Verdict::Malformed},
        {"FileTwiceSigned",
         [](auto& k, auto& t) {
             return SignRaw(k,
                            SignedPart(t) + "#brf-file 1 " + kHash0 + " patch/readme.txt.upd\r\n");
         },
         si::Verdict::Malformed},
        {"SerialOverflowSigned",
         [](auto& k, auto& t) {
             return SignRaw(k, Swap(SignedPart(t), "serial=41", "serial=18446744073709551616"));
         },
         si::Verdict::Malformed},
        {"February30Signed",
         [](auto& k, auto& t) { return SignRaw(k, Swap(SignedPart(t), "05-06T", "02-30T")); },
         si::Verdict::Malformed},
        {"NoHeaderSigned",
         [](auto& k, auto&) {
             return SignRaw(k, kIndex + "#brf-file 1 " + kHash0 + " patch/x\r\n");
         },
         si::Verdict::Malformed},
    };
    const Keys keys;
    const std::string intact = Signed(keys);
    for (const auto& d : damages) {
        const si::Reading r = si::Verify(d.change(keys, intact), keys.pub);
        EXPECT_EQ(r.verdict, d.verdict) << d.name << ": " << r.reason;
        EXPECT_FALSE(r.reason.empty()) << d.name;
    }
    // The signer refuses a public key, and an index that is signed already.
    EXPECT_FALSE(si::Sign(kIndex, {}, keys.pub));
    EXPECT_FALSE(si::Sign(intact, {}, keys.secret));
}

TEST(SignedIndex, UtcTimesRoundTripAcrossTheirEdges) {
    const struct {
        const char* text;
        std::optional<int64_t> seconds;
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},           {"1969-12-31T23:59:59Z", -1},
        {"2000-02-29T12:00:00Z", 951825600},   {"2038-01-19T03:14:08Z", 2147483648LL},
        {"2023-02-29 00:00:00", std::nullopt}, {"2100-02-29 00:00:00", std::nullopt},
        {"2024-01-01 24:00:00", std::nullopt}, {"2024-01-01", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(si::ParseUtc(c.text), c.seconds) << c.text;
        if (c.seconds) {
            EXPECT_EQ(si::FormatUtc(*c.seconds), c.text);
        }
    }
}

}  // namespace
