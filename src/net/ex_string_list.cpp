#include "net/ex_string_list.h"

#include <algorithm>
#include <cctype>

namespace {

// The name of a line, and whether it has one at all.
bool NameOf(const std::string& line, std::string* name) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
        *name = line;
        return false;
    }
    *name = line.substr(0, colon);
    return true;
}

}  // namespace

int TExStringList::CompareText(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

int TExStringList::Add(const std::string& line) {
    if (!sorted_) {
        lines_.push_back(line);
        return Count() - 1;
    }
    auto at = std::upper_bound(
        lines_.begin(), lines_.end(), line,
        [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    at = lines_.insert(at, line);
    return static_cast<int>(at - lines_.begin());
}

void TExStringList::Put(int index, const std::string& line) {
    lines_.at(static_cast<size_t>(index)) = line;
}

void TExStringList::Delete(int index) {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TExStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) {
        std::stable_sort(
            lines_.begin(), lines_.end(),
            [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    }
    sorted_ = sorted;
}

std::string TExStringList::Text() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

int TExStringList::IndexOfName(const std::string& name) const {
    std::string lineName;
    if (!sorted_) {
        for (int i = 0; i < Count(); ++i) {
            if (NameOf(lines_[static_cast<size_t>(i)], &lineName) &&
                CompareText(lineName, name) == 0) {
                return i;
            }
        }
        return -1;
    }
    int low = 0;
    int high = Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const bool named = NameOf(lines_[static_cast<size_t>(middle)], &lineName);
        const int c = CompareText(lineName, name);
        if (c == 0) {
            return named ? middle : -1;
        }
        if (c < 0) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return -1;
}

std::string TExStringList::GetValue(const std::string& name) const {
    const int i = IndexOfName(name);
    if (i < 0) {
        return std::string();
    }
    const std::string& line = lines_[static_cast<size_t>(i)];
    std::string value =
        line.size() > name.size() + 1 ? line.substr(name.size() + 1) : std::string();
    if (!value.empty() && value[0] == ' ') {
        value.erase(0, 1);
    }
    return value;
}

void TExStringList::SetValue(const std::string& name, const std::string& value) {
    const int i = IndexOfName(name);
    if (!value.empty()) {
        const std::string line = name + ": " + value;
        if (i < 0) {
            Add(line);
        } else if (sorted_) {
            // A new value may move the line; it is put where it now belongs.
            Delete(i);
            Add(line);
        } else {
            Put(i, line);
        }
    } else if (i >= 0) {
        Delete(i);
    }
}
