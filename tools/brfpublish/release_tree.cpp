#include "brfpublish/release_tree.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

#include "index/version_index.h"
#include "shared/base/s_text.h"

namespace fs = std::filesystem;

namespace brfpublish {

bool ReadTree(const std::string& root, Tree* tree, std::string* error) {
    tree->clear();
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(root, ec)) && !fs::is_directory(root, ec)) {
        *error = root + " is not a directory";
        return false;
    }
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string game = path.lexically_relative(root).generic_string();
        const fs::file_status status = it->symlink_status(ec);
        if (ec) {
            break;
        }
        if (fs::is_directory(status)) {
            (*tree)[game] = TreeEntry{true, 0};
        } else if (fs::is_regular_file(status)) {
            const uintmax_t size = it->file_size(ec);
            if (ec) {
                break;
            }
            (*tree)[game] = TreeEntry{false, size};
        } else {
            *error = path.string() + " is neither a regular file nor a directory" +
                     (fs::is_symlink(status) ? " (links are not followed)" : "");
            return false;
        }
    }
    if (ec) {
        *error = "cannot read " + root + ": " + ec.message();
        return false;
    }
    return true;
}

std::string RefusedName(const std::string& gamePath) {
    if (gamePath.empty()) {
        return "the name is empty";
    }
    if (gamePath[0] == '#' || gamePath[0] == '[' || gamePath[0] == '{') {
        return std::string("a name beginning with '") + gamePath[0] +
               "' would read as a comment or a section marker in the version index";
    }
    size_t start = 0;
    while (start <= gamePath.size()) {
        const size_t stop = std::min(gamePath.find('/', start), gamePath.size());
        const std::string component = gamePath.substr(start, stop - start);
        if (component.empty() || component == "." || component == "..") {
            return "'" + component + "' is no file or directory name";
        }
        for (const char c : component) {
            const unsigned char u = static_cast<unsigned char>(c);
            if (c == '-') {
                return "'" + component +
                       "' holds a '-', which the version index can only read as a path "
                       "separator";
            }
            if (u < 0x20 || u > 0x7E) {
                return "'" + component +
                       "' holds a character outside printable ASCII, which players' systems "
                       "would spell differently";
            }
            if (std::string("\\:*?\"<>|").find(c) != std::string::npos) {
                return "'" + component + "' holds '" + c + "', which Windows refuses in names";
            }
        }
        if (component.back() == '.' || component.back() == ' ') {
            return "'" + component + "' ends in a dot or a blank, which Windows drops";
        }
        start = stop + 1;
    }
    // What the updater itself will make of the name must agree.
    try {
        if (version_index::TargetOfListedFile(ListedName(gamePath)) != gamePath) {
            return "the updater would install it elsewhere";
        }
    } catch (const std::exception& refused) {
        return refused.what();
    }
    return "";
}

std::string ListedDirectory(const std::string& gamePath) {
    std::string name = gamePath;
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

std::string ListedName(const std::string& gamePath) {
    return ListedDirectory(gamePath) + ".upd";
}

bool SameContent(const std::string& a, const std::string& b, std::string* error) {
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    if (!fa || !fb) {
        *error = "cannot read " + (fa ? b : a);
        return false;
    }
    std::vector<char> ba(1 << 16);
    std::vector<char> bb(1 << 16);
    while (true) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        const std::streamsize na = fa.gcount();
        const std::streamsize nb = fb.gcount();
        if (fa.bad() || fb.bad()) {
            *error = "cannot read " + (fa.bad() ? a : b);
            return false;
        }
        if (na != nb || !std::equal(ba.begin(), ba.begin() + na, bb.begin())) {
            return false;
        }
        if (na == 0) {
            return true;
        }
    }
}

}  // namespace brfpublish
