#include "index/trust.h"

#include <algorithm>
#include <cctype>

#include "index/index_text.h"

namespace trust {

namespace {

using version_index::TextLine;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The tag of a line: its text up to the first blank.
std::string TagOf(const std::string& line) {
    return line.substr(0, line.find(' '));
}

using version_index::Fields;

std::optional<uint64_t> Number(const std::string& text) {
    return version_index::ParseUnsigned(text);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A header line of `tag`, format version 1, and its "name=value" fields;
// nothing when the line is not one, or names a field twice.
std::optional<std::map<std::string, std::string>> HeaderFields(const std::string& line,
                                                               const std::string& tag) {
    std::vector<std::string> words = Fields(line, 16);
    if (words.size() < 2 || words[0] != tag || words[1] != "1") {
        return std::nullopt;
    }
    std::map<std::string, std::string> fields;
    for (size_t i = 2; i < words.size(); ++i) {
        const size_t equals = words[i].find('=');
        if (equals == std::string::npos ||
            !fields.emplace(words[i].substr(0, equals), words[i].substr(equals + 1)).second) {
            return std::nullopt;
        }
    }
    return fields;
}

std::optional<int64_t> Time(const std::map<std::string, std::string>& fields,
                            const std::string& name) {
    const auto it = fields.find(name);
    if (it == fields.end()) {
        return std::nullopt;
    }
    const std::optional<int64_t> time = signed_index::ParseUtc(it->second);
    if (!time || signed_index::FormatUtc(*time) != it->second) {
        return std::nullopt;
    }
    return time;
}

// The number in field `name`; `missing` when there is none.
uint64_t Count(const std::map<std::string, std::string>& fields, const std::string& name,
               uint64_t missing) {
    const auto it = fields.find(name);
    return it == fields.end() ? missing : Number(it->second).value_or(missing);
}

constexpr uint64_t kNone = UINT64_MAX;

// A document split at its signatures: the signed part (every byte before
// the first signature line), its lines, and each signature (key, hex).
struct Signed {
    std::string part;
    std::vector<TextLine> lines;
    std::vector<std::pair<std::string, std::string>> signatures;
};

// The signature lines must close the document; an index may end with the
// signature of updaters built with one key after them.
base::Result<Signed> SplitSignatures(const std::string& text, bool legacyTail) {
    if (text.find('\0') != std::string::npos) {
        return base::Fail("a zero byte in the document");
    }
    std::vector<TextLine> lines = version_index::SplitTextLines(text);
    const auto first = std::find_if(lines.begin(), lines.end(), [](const TextLine& line) {
        return TagOf(line.text) == kSignatureTag;
    });
    if (first == lines.end()) {
        return base::Fail("no trust signature");
    }
    Signed split;
    auto at = first;
    for (; at != lines.end() && TagOf(at->text) == kSignatureTag; ++at) {
        const std::vector<std::string> words = Fields(at->text, 3);
        if (words.size() != 3 || !signed_index::ValidPublicKey(words[1])) {
            return base::Fail("signature line not understood: " + at->text);
        }
        split.signatures.emplace_back(Lower(words[1]), words[2]);
    }
    if (at != lines.end() && legacyTail && TagOf(at->text) == signed_index::kSignatureTag) {
        ++at;
    }
    if (at != lines.end()) {
        return base::Fail("a line after the trust signatures: " + at->text);
    }
    const TextLine& last = lines.back();
    const std::string rest = text.substr(last.start + last.text.size());
    if (!rest.empty() && rest != "\r\n" && rest != "\n" && rest != "\r") {
        return base::Fail("bytes after the last signature line");
    }
    split.part = text.substr(0, first->start);
    split.lines.assign(lines.begin(), first);
    return split;
}

// How many of `allowed` signed `split`: each key once, however often it
// signed or is listed.
size_t Signers(const Signed& split, const std::set<std::string>& allowed) {
    std::set<std::string> valid;
    for (const auto& [key, signature] : split.signatures) {
        if (allowed.count(key) != 0 && valid.count(key) == 0 &&
            signed_index::VerifyDetached(split.part, signature, key)) {
            valid.insert(key);
        }
    }
    return valid.size();
}

base::Result<Root> ParseRoot(const Signed& split) {
    Root root;
    bool header = false;
    for (const TextLine& line : split.lines) {
        const std::string tag = TagOf(line.text);
        if (tag == kRootTag) {
            const auto fields = HeaderFields(line.text, kRootTag);
            if (header || !fields || fields->size() != 4) {
                return base::Fail("root header not understood: " + line.text);
            }
            const uint64_t version = Count(*fields, "version", 0);
            const uint64_t threshold = Count(*fields, "threshold", 0);
            const uint64_t indexThreshold = Count(*fields, "index-threshold", 0);
            root.expires = Time(*fields, "expires");
            if (version == 0 || version > UINT32_MAX || !root.expires) {
                return base::Fail("root header not understood: " + line.text);
            }
            header = true;
            root.version = static_cast<uint32_t>(version);
            root.threshold = static_cast<uint32_t>(std::min<uint64_t>(threshold, UINT32_MAX));
            root.indexThreshold =
                static_cast<uint32_t>(std::min<uint64_t>(indexThreshold, UINT32_MAX));
        } else if (tag == kRootKeyTag || tag == kIndexKeyTag) {
            const std::vector<std::string> words = Fields(line.text, 2);
            if (words.size() != 2 || !signed_index::ValidPublicKey(words[1])) {
                return base::Fail("key line not understood: " + line.text);
            }
            (tag == kRootKeyTag ? root.rootKeys : root.indexKeys).insert(Lower(words[1]));
        } else if (!line.text.empty()) {
            return base::Fail("a line a root document does not hold: " + line.text);
        }
    }
    if (!header) {
        return base::Fail("no root header");
    }
    if (root.threshold == 0 || root.threshold > root.rootKeys.size() || root.indexThreshold == 0 ||
        root.indexThreshold > root.indexKeys.size()) {
        return base::Fail("root " + std::to_string(root.version) +
                          " asks for more signatures than it has distinct keys, or none");
    }
    return root;
}

base::Result<Listing> ParseListing(const Signed& split) {
    Listing listing;
    bool header = false;
    for (const TextLine& line : split.lines) {
        const std::string tag = TagOf(line.text);
        if (tag == kIndexTag) {
            const auto fields = HeaderFields(line.text, kIndexTag);
            if (header || !fields) {
                return base::Fail("index header not understood: " + line.text);
            }
            const std::optional<uint64_t> serial =
                fields->count("serial") != 0 ? Number(fields->at("serial")) : std::nullopt;
            const uint64_t root = Count(*fields, "root", kNone);
            const std::optional<int64_t> signedAt = Time(*fields, "signed");
            if (!serial || root > UINT32_MAX || !signedAt) {
                return base::Fail("index header not understood: " + line.text);
            }
            if (fields->count("expires") != 0) {
                listing.manifest.expires = Time(*fields, "expires");
                if (!listing.manifest.expires) {
                    return base::Fail("expiry not understood: " + line.text);
                }
            }
            if (fields->size() != (listing.manifest.expires ? 4u : 3u)) {
                return base::Fail("index header not understood: " + line.text);
            }
            header = true;
            listing.manifest.serial = *serial;
            listing.signedAt = *signedAt;
            listing.root = static_cast<uint32_t>(root);
        } else if (tag == kFileTag || tag == signed_index::kFileTag) {
            const std::vector<std::string> words = Fields(line.text, 4);
            const std::optional<uint64_t> size =
                words.size() == 4 ? Number(words[1]) : std::nullopt;
            if (!size || !signed_index::ValidPublicKey(words[2]) || words[3].empty()) {
                return base::Fail("file line not understood: " + line.text);
            }
            const signed_index::ListedFile file{*size, Lower(words[2])};
            if (!listing.manifest.files.emplace(words[3], file).second) {
                return base::Fail("file listed twice: " + words[3]);
            }
        } else if (StartsWith(tag, "#trust-") ||
                   (StartsWith(tag, "#brf-") && tag != signed_index::kHeaderTag)) {
            return base::Fail("a signature line out of place: " + line.text);
        }
    }
    if (!header) {
        return base::Fail("the index is not signed under a root");
    }
    return listing;
}

bool IsSignatureLine(const std::string& line) {
    return StartsWith(line, "#brf-") || StartsWith(line, "#trust-");
}

std::string Day(int64_t seconds) {
    return signed_index::FormatUtc(seconds).substr(0, 10);
}

}  // namespace

Root Anchor(const std::vector<std::string>& keys, uint32_t threshold) {
    Root anchor;
    for (const std::string& key : keys) {
        anchor.rootKeys.insert(Lower(key));
    }
    anchor.threshold = threshold;
    anchor.indexThreshold = 0;
    return anchor;
}

std::string FormatRoot(const Root& root) {
    std::string text = std::string(kRootTag) + " 1 version=" + std::to_string(root.version) +
                       " expires=" + signed_index::FormatUtc(root.expires.value_or(0)) +
                       " threshold=" + std::to_string(root.threshold) +
                       " index-threshold=" + std::to_string(root.indexThreshold) + "\r\n";
    for (const std::string& key : root.rootKeys) {
        text += std::string(kRootKeyTag) + " " + key + "\r\n";
    }
    for (const std::string& key : root.indexKeys) {
        text += std::string(kIndexKeyTag) + " " + key + "\r\n";
    }
    return text;
}

base::Result<std::string> SignLines(const std::string& body,
                                    const std::vector<std::string>& secretKeys) {
    std::string text = body;
    for (const std::string& secret : secretKeys) {
        const std::string signature = signed_index::SignDetached(body, secret);
        if (signature.empty()) {
            return base::Fail("a secret key that is not one");
        }
        text += std::string(kSignatureTag) + " " + signed_index::PublicKeyOf(secret) + " " +
                signature + "\r\n";
    }
    return text;
}

base::Result<Root> ReadRoot(const std::string& text) {
    const base::Result<Signed> split = SplitSignatures(text, false);
    if (!split) {
        return split.failure();
    }
    base::Result<Root> root = ParseRoot(*split);
    if (root) {
        root->text = text;
    }
    return root;
}

base::Result<Root> FollowRoot(const Root& trusted, const std::string& text) {
    const base::Result<Signed> split = SplitSignatures(text, false);
    if (!split) {
        return split.failure();
    }
    base::Result<Root> next = ParseRoot(*split);
    if (!next) {
        return next;
    }
    const std::string name = "root " + std::to_string(trusted.version + 1);
    if (next->version != trusted.version + 1) {
        return base::Fail(name + " says it is root " + std::to_string(next->version));
    }
    if (Signers(*split, trusted.rootKeys) < trusted.threshold) {
        return base::Fail(name + " lacks " + std::to_string(trusted.threshold) +
                          " signatures of root " + std::to_string(trusted.version) + "'s keys");
    }
    if (Signers(*split, next->rootKeys) < next->threshold) {
        return base::Fail(name + " lacks " + std::to_string(next->threshold) +
                          " signatures of its own keys");
    }
    next->text = text;
    return next;
}

base::Result<uint32_t> RootOfIndex(const std::string& text) {
    for (const std::string& line : version_index::SplitLines(text)) {
        if (TagOf(line) == kIndexTag) {
            const auto fields = HeaderFields(line, kIndexTag);
            const uint64_t root = fields ? Count(*fields, "root", kNone) : kNone;
            if (root > UINT32_MAX) {
                return base::Fail("index header not understood: " + line);
            }
            return static_cast<uint32_t>(root);
        }
    }
    return base::Fail("the index is not signed under a root");
}

base::Result<std::string> SignIndex(const std::string& body, const Listing& listing,
                                    const std::vector<std::string>& indexKeys,
                                    const std::string& legacyKey) {
    if (body.find('\0') != std::string::npos) {
        return base::Fail("the index holds a zero byte");
    }
    std::string text;
    for (const std::string& line : version_index::SplitLines(body)) {
        if (IsSignatureLine(line)) {
            return base::Fail("the index carries signature lines already");
        }
        text += line + "\r\n";
    }
    const std::string expires =
        listing.manifest.expires ? " expires=" + signed_index::FormatUtc(*listing.manifest.expires)
                                 : std::string();
    const std::string serial = " serial=" + std::to_string(listing.manifest.serial);
    if (!legacyKey.empty()) {
        text += std::string(signed_index::kHeaderTag) + " " + signed_index::kFormatVersion +
                serial + expires + "\r\n";
    }
    text += std::string(kIndexTag) + " 1" + serial +
            " signed=" + signed_index::FormatUtc(listing.signedAt) + expires +
            " root=" + std::to_string(listing.root) + "\r\n";
    for (const auto& [name, file] : listing.manifest.files) {
        if (name.empty() || name.find_first_of("\r\n") != std::string::npos) {
            return base::Fail("a name the signature lines cannot hold: " + name);
        }
        text += std::string(legacyKey.empty() ? kFileTag : signed_index::kFileTag) + " " +
                std::to_string(file.size) + " " + file.sha256 + " " + name + "\r\n";
    }
    base::Result<std::string> signedText = SignLines(text, indexKeys);
    if (!signedText || legacyKey.empty()) {
        return signedText;
    }
    const std::string legacy = signed_index::SignDetached(*signedText, legacyKey);
    if (legacy.empty()) {
        return base::Fail("the key for updaters built with one key is not a secret key");
    }
    return *signedText + signed_index::kSignatureTag + " " + legacy + "\r\n";
}

std::string WithoutSignatures(const std::string& text) {
    std::string body;
    for (const std::string& line : version_index::SplitLines(text)) {
        if (!IsSignatureLine(line)) {
            body += line + "\r\n";
        }
    }
    return body;
}

base::Result<Listing> ReadUnverified(const std::string& text) {
    const base::Result<Signed> split = SplitSignatures(text, true);
    if (!split) {
        return split.failure();
    }
    return ParseListing(*split);
}

std::string FormatState(const State& state) {
    return std::string(kStateTag) + " 1 serial=" + std::to_string(state.serial) + "\r\n" +
           state.root.text;
}

base::Result<State> ReadState(const std::string& text) {
    const size_t end = text.find("\r\n");
    const auto fields =
        end == std::string::npos ? std::nullopt : HeaderFields(text.substr(0, end), kStateTag);
    const std::optional<uint64_t> serial = fields && fields->size() == 1 && fields->count("serial")
                                               ? Number(fields->at("serial"))
                                               : std::nullopt;
    if (!serial) {
        return base::Fail("not a trust state");
    }
    State state;
    state.serial = serial.value_or(0);
    const std::string rootText = text.substr(end + 2);
    if (rootText.empty()) {
        return state;  // no root yet: the anchor's
    }
    const base::Result<Signed> split = SplitSignatures(rootText, false);
    base::Result<Root> root = split ? ParseRoot(*split) : base::Result<Root>(split.failure());
    if (!root) {
        return root.failure();
    }
    if (Signers(*split, root->rootKeys) < root->threshold) {
        return base::Fail("its root lacks the signatures of its own keys");
    }
    root->text = rootText;
    state.root = std::move(*root);
    return state;
}

std::vector<uint32_t> RootsToFetch(const State& local, uint32_t indexRoot) {
    std::vector<uint32_t> versions;
    for (uint32_t v = local.root.version + 1; v <= indexRoot && versions.size() < kMaxRootsPerRun;
         ++v) {
        versions.push_back(v);
    }
    return versions;
}

Outcome Evaluate(const State& local, const std::string& text,
                 const std::map<uint32_t, std::string>& fetched, int64_t now) {
    Outcome outcome;
    outcome.state = local;
    const auto refuse = [&outcome](Check check, std::string reason) {
        outcome.check = check;
        outcome.reason = std::move(reason);
        return outcome;
    };
    const base::Result<uint32_t> indexRoot = RootOfIndex(text);
    if (!indexRoot) {
        return refuse(Check::Refused, indexRoot.reason());
    }
    Root& root = outcome.state.root;
    uint32_t walked = 0;
    while (root.version < *indexRoot) {
        const uint32_t next = root.version + 1;
        if (walked == kMaxRootsPerRun) {
            return refuse(Check::Refused, "the index needs root " + std::to_string(*indexRoot) +
                                              "; this run walked to root " +
                                              std::to_string(root.version) +
                                              ", the next goes on from there");
        }
        const auto published = fetched.find(next);
        if (published == fetched.end()) {
            return refuse(Check::Refused, "root " + std::to_string(next) + " is not published");
        }
        base::Result<Root> followed = FollowRoot(root, published->second);
        if (!followed) {
            return refuse(Check::Refused, followed.reason());
        }
        root = std::move(*followed);
        ++walked;
    }
    if (root.indexKeys != local.root.indexKeys) {
        // New index keys: a serial the old ones fast-forwarded does not bind.
        outcome.state.serial = 0;
    }
    if (root.expires && now > *root.expires + kSlack) {
        return refuse(Check::Expired, "root " + std::to_string(root.version) + " expired at " +
                                          signed_index::FormatUtc(*root.expires));
    }
    const base::Result<Signed> split = SplitSignatures(text, true);
    if (!split) {
        return refuse(Check::Refused, split.reason());
    }
    if (root.indexKeys.empty() || Signers(*split, root.indexKeys) < root.indexThreshold) {
        return refuse(Check::Refused, "the index lacks " + std::to_string(root.indexThreshold) +
                                          " signatures of the index keys root " +
                                          std::to_string(root.version) + " allows");
    }
    base::Result<Listing> listing = ParseListing(*split);
    if (!listing) {
        return refuse(Check::Refused, listing.reason());
    }
    outcome.listing = *listing;
    const signed_index::Manifest& manifest = listing->manifest;
    if (!manifest.expires) {
        return refuse(Check::Refused, "the index does not expire; under a root it must");
    }
    if (listing->signedAt > now + kSlack) {
        return refuse(Check::FutureDated, "signed on " + Day(listing->signedAt) +
                                              ", after the computer's date " + Day(now));
    }
    if (now > *manifest.expires + kSlack) {
        return refuse(Check::Expired,
                      "it expired at " + signed_index::FormatUtc(*manifest.expires));
    }
    if (manifest.serial < outcome.state.serial) {
        return refuse(Check::Refused,
                      "serial " + std::to_string(manifest.serial) + " is below " +
                          std::to_string(outcome.state.serial) +
                          ", the last one accepted here: an older index was replayed");
    }
    outcome.state.serial = manifest.serial;
    outcome.check = Check::Accepted;
    return outcome;
}

}  // namespace trust
