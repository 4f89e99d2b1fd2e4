// The signature lines on their own: what a signed index must look like to be
// believed, checked against byte-level damage and forgeries, and the
// signature checked once more with libsodium directly, so that signer and
// checker cannot agree on a wrong reading of the format.
#include <gtest/gtest.h>
#include <sodium.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "updater/u_signature.h"

namespace {

namespace si = signed_index;

const std::string kIndex =
    "# index of 2004-09-20\r\n1490\r\n1490\r\n1050\r\n0\r\n1040\r\n0\r\n[1040.0]\r\n"
    "readme.txt.upd\r\n17;2004-09-18 21:05:33\r\n\r\n";

struct Keys {
    std::string publicKey;
    std::string secretKey;
    Keys() { EXPECT_TRUE(si::MakeKeyPair(&publicKey, &secretKey)); }
};

si::Manifest SampleManifest() {
    si::Manifest m;
    m.serial = 41;
    m.expires = si::ParseUtc("2031-05-06 07:08:09");
    m.files["patch/_servers.dat"] = {12, std::string(64, 'a')};
    m.files["patch/readme.txt.upd"] = {17, std::string(64, '0')};
    return m;
}

std::string SignedSample(const Keys& keys, const std::string& index = kIndex) {
    std::string out;
    std::string error;
    EXPECT_TRUE(si::Sign(index, SampleManifest(), keys.secretKey, &out, &error)) << error;
    return out;
}

// Replaces the first `from` in `text` by `to`.
std::string Swap(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// `signedPart` with a valid signature line made with libsodium directly: a
// text the signer would never write, signed all the same.
std::string SignRaw(const Keys& keys, const std::string& signedPart) {
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    sodium_hex2bin(sk, sizeof sk, keys.secretKey.data(), keys.secretKey.size(), nullptr, nullptr,
                   nullptr);
    unsigned char sig[crypto_sign_BYTES];
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(signedPart.data()),
                         signedPart.size(), sk);
    char hex[2 * crypto_sign_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, sig, sizeof sig);
    return signedPart + "#brf-signature " + hex + "\r\n";
}

std::string SignedPart(const std::string& text) {
    return text.substr(0, text.rfind("#brf-signature "));
}

struct Damage {
    const char* name;
    std::function<std::string(const Keys&, const std::string&)> change;
    si::Verdict verdict;
};

TEST(SignedIndex, IntactIndexIsBelievedWithItsListing) {
    const Keys keys;
    const si::Reading r = si::Verify(SignedSample(keys), keys.publicKey);
    ASSERT_EQ(r.verdict, si::Verdict::Ok) << r.reason;
    EXPECT_EQ(r.manifest.serial, 41u);
    EXPECT_EQ(r.manifest.expires, si::ParseUtc("2031-05-06T07:08:09Z"));
    ASSERT_EQ(r.manifest.files.size(), 2u);
    EXPECT_EQ(r.manifest.files.at("patch/readme.txt.upd").size, 17u);
    EXPECT_EQ(r.manifest.files.at("patch/_servers.dat").sha256, std::string(64, 'a'));
}

TEST(SignedIndex, SignatureCoversEveryByteBeforeItsLineAsLibsodiumSeesIt) {
    const Keys keys;
    const std::string text = SignedSample(keys);
    const std::string part = SignedPart(text);
    // The old index comes first, unchanged, so updaters without a key read
    // the same lines after comment removal.
    EXPECT_EQ(text.compare(0, kIndex.size(), kIndex), 0);
    const std::string hex = text.substr(part.size() + 15, 128);
    unsigned char sig[crypto_sign_BYTES];
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    ASSERT_EQ(sodium_hex2bin(sig, sizeof sig, hex.data(), hex.size(), nullptr, nullptr, nullptr),
              0);
    ASSERT_EQ(sodium_hex2bin(pk, sizeof pk, keys.publicKey.data(), keys.publicKey.size(), nullptr,
                             nullptr, nullptr),
              0);
    EXPECT_EQ(crypto_sign_verify_detached(sig, reinterpret_cast<const unsigned char*>(part.data()),
                                          part.size(), pk),
              0);
    EXPECT_EQ(text.substr(part.size() + 15 + 128), "\r\n");
}

TEST(SignedIndex, DamagedOrForgedIndexIsRefused) {
    const std::vector<Damage> damages = {
        {"HeaderValueChanged",
         [](const Keys&, const std::string& t) { return Swap(t, "1050", "1060"); },
         si::Verdict::BadSignature},
        {"ListedHashChanged",
         [](const Keys&, const std::string& t) {
             return Swap(t, std::string(64, '0'), "1" + std::string(63, '0'));
         },
         si::Verdict::BadSignature},
        {"SerialRaised",
         [](const Keys&, const std::string& t) { return Swap(t, "serial=41", "serial=99"); },
         si::Verdict::BadSignature},
        {"SignedByAnotherKey", [](const Keys&, const std::string&) { return SignedSample(Keys()); },
         si::Verdict::BadSignature},
        {"EntryAppendedAfterSignature",
         [](const Keys&, const std::string& t) { return t + "[1040.0]\r\nevil.upd\r\n9\r\n"; },
         si::Verdict::Malformed},
        {"BytesAfterSignatureLineEnd", [](const Keys&, const std::string& t) { return t + "\r\n"; },
         si::Verdict::Malformed},
        {"SignatureLineRemoved", [](const Keys&, const std::string& t) { return SignedPart(t); },
         si::Verdict::Malformed},
        {"SignatureShortened",
         [](const Keys&, const std::string& t) { return t.substr(0, t.size() - 3) + "\r\n"; },
         si::Verdict::Malformed},
        {"ZeroByteHidesTheRest",
         [](const Keys& k, const std::string& t) {
             return SignRaw(k, Swap(SignedPart(t), "[1040.0]", std::string("\0[1040.0]", 9)));
         },
         si::Verdict::Malformed},
        {"AllSignatureLinesRemoved", [](const Keys&, const std::string&) { return kIndex; },
         si::Verdict::Unsigned},
        {"SecondHeaderSigned",
         [](const Keys& k, const std::string& t) {
             return SignRaw(k, SignedPart(t) + "#brf-signed-index 1 serial=1\r\n");
         },
         si::Verdict::Malformed},
        {"UnknownSignatureLineSigned",
         [](const Keys& k, const std::string& t) {
             return SignRaw(k, SignedPart(t) + "#brf-trust everything\r\n");
         },
         si::Verdict::Malformed},
        {"FileListedTwiceSigned",
         [](const Keys& k, const std::string& t) {
             return SignRaw(k, SignedPart(t) + "#brf-file 1 " + std::string(64, 'b') +
                                   " patch/_servers.dat\r\n");
         },
         si::Verdict::Malformed},
        {"SerialOverflowSigned",
         [](const Keys& k, const std::string& t) {
             return SignRaw(k, Swap(SignedPart(t), "serial=41", "serial=18446744073709551616"));
         },
         si::Verdict::Malformed},
        {"ExpiryNotADateSigned",
         [](const Keys& k, const std::string& t) {
             return SignRaw(k, Swap(SignedPart(t), "2031-05-06T07:08:09Z", "2031-02-30T07:08:09Z"));
         },
         si::Verdict::Malformed},
        {"NoHeaderSigned",
         [](const Keys& k, const std::string&) {
             return SignRaw(k, kIndex + "#brf-file 1 " + std::string(64, 'b') + " patch/x\r\n");
         },
         si::Verdict::Malformed},
    };
    const Keys keys;
    const std::string intact = SignedSample(keys);
    for (const Damage& d : damages) {
        const si::Reading r = si::Verify(d.change(keys, intact), keys.publicKey);
        EXPECT_EQ(r.verdict, d.verdict) << d.name << ": " << r.reason;
        EXPECT_FALSE(r.reason.empty()) << d.name;
    }
}

TEST(SignedIndex, LineEndsOfAnyKindAndNoExpiryAreFine) {
    const Keys keys;
    std::string lf = kIndex;
    for (size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at)) {
        lf.erase(at, 1);
    }
    si::Manifest m = SampleManifest();
    m.expires.reset();
    for (const std::string& index : {lf, lf.substr(0, lf.size() - 1)}) {
        std::string out;
        std::string error;
        ASSERT_TRUE(si::Sign(index, m, keys.secretKey, &out, &error)) << error;
        const si::Reading r = si::Verify(out, keys.publicKey);
        EXPECT_EQ(r.verdict, si::Verdict::Ok) << r.reason;
        EXPECT_FALSE(r.manifest.expires);
        // An index without a final line end gets one before the signature lines.
        EXPECT_NE(out.find("[1040.0]\nreadme.txt.upd\n17;2004-09-18 21:05:33\n"),
                  std::string::npos);
    }
}

TEST(SignedIndex, SignerRefusesBadKeysAndSignedInput) {
    const Keys keys;
    std::string out;
    std::string error;
    EXPECT_FALSE(si::Sign(kIndex, SampleManifest(), keys.publicKey, &out, &error));
    EXPECT_FALSE(si::Sign(SignedSample(keys), SampleManifest(), keys.secretKey, &out, &error));
    si::Manifest m = SampleManifest();
    m.files["patch/a\r\nb"] = {1, std::string(64, 'c')};
    EXPECT_FALSE(si::Sign(kIndex, m, keys.secretKey, &out, &error));
    // A secret key whose public half was swapped signs for no public key.
    EXPECT_EQ(si::PublicKeyOf(keys.secretKey), keys.publicKey);
    const Keys other;
    EXPECT_EQ(si::PublicKeyOf(keys.secretKey.substr(0, 64) + other.publicKey), "");
    EXPECT_FALSE(si::Verify(SignedSample(keys), "12ab").verdict == si::Verdict::Ok);
}

TEST(SignedIndex, UtcTimesRoundTripAcrossTheirEdges) {
    const struct {
        const char* text;
        std::optional<int64_t> seconds;
    } cases[] = {
        {"1970-01-01T00:00:00Z", 0},           {"1969-12-31 23:59:59", -1},
        {"2000-02-29 12:00:00", 951825600},    {"2038-01-19T03:14:08Z", 2147483648LL},
        {"2106-02-07 06:28:16", 4294967296LL}, {"2023-02-29 00:00:00", std::nullopt},
        {"2100-02-29 00:00:00", std::nullopt}, {"2024-13-01 00:00:00", std::nullopt},
        {"2024-01-01 24:00:00", std::nullopt}, {"2024-01-01", std::nullopt},
        {"2024-01-01X00:00:00", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(si::ParseUtc(c.text), c.seconds) << c.text;
        if (c.seconds) {
            std::string canonical = c.text;
            canonical[10] = 'T';
            if (canonical.back() != 'Z') {
                canonical += 'Z';
            }
            EXPECT_EQ(si::FormatUtc(*c.seconds), canonical);
        }
    }
}

TEST(SignedIndex, ReceivedFileMustHaveTheListedSizeAndHash) {
    brf_test::ScratchDir scratch;
    const std::string path = scratch.File("fleet.dat.upd");
    brf_test::WriteFile(path, "brig Albatross");
    si::ListedFile actual;
    ASSERT_TRUE(si::HashFile(path, &actual));
    // SHA-256 of "brig Albatross", as any other tool computes it.
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>("brig Albatross"), 14);
    char hex[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
    EXPECT_EQ(actual.sha256, hex);
    EXPECT_EQ(actual.size, 14u);

    si::Manifest m;
    m.files["patch/fleet.dat.upd"] = actual;
    EXPECT_EQ(si::CheckFile(m, "patch/fleet.dat.upd", path), "");
    EXPECT_NE(si::CheckFile(m, "patch/other.upd", path), "");
    EXPECT_NE(si::CheckFile(m, "patch/fleet.dat.upd", scratch.File("missing")), "");
    brf_test::WriteFile(path, "brig Albatrosz");  // same size, other bytes
    EXPECT_NE(si::CheckFile(m, "patch/fleet.dat.upd", path).find("SHA-256"), std::string::npos);
    brf_test::WriteFile(path, "brig Albatross!");
    EXPECT_NE(si::CheckFile(m, "patch/fleet.dat.upd", path).find("bytes"), std::string::npos);
}

}  // namespace
