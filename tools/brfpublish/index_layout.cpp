#include "brfpublish/index_layout.h"

#include <algorithm>
#include <numeric>

#include "index/version_index.h"
#include "shared/base/s_text.h"

namespace brfpublish {

namespace {

struct Node {
    size_t release;
    std::vector<size_t> children;  // node indexes
    size_t descendants = 0;
};

bool Contains(const std::set<std::string>& outer, const std::set<std::string>& inner) {
    return std::includes(outer.begin(), outer.end(), inner.begin(), inner.end());
}

bool Disjoint(const std::set<std::string>& a, const std::set<std::string>& b) {
    for (const std::string& path : a) {
        if (b.count(path) != 0) {
            return false;
        }
    }
    return true;
}

class Layout {
public:
    Layout(const std::vector<SectionNeeds>& releases, const EntryLines& lines,
           const std::string& last)
        : releases_(releases), lines_(lines), last_(last) {}

    std::vector<std::string> Run() {
        // Larger needs first, so that every release finds the ones that can
        // hold it already placed; ties by age, the oldest outside.
        std::vector<size_t> order(releases_.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
            const SectionNeeds& ra = releases_[a];
            const SectionNeeds& rb = releases_[b];
            if (ra.paths.size() != rb.paths.size()) {
                return ra.paths.size() > rb.paths.size();
            }
            return std::tie(ra.version, ra.build) < std::tie(rb.version, rb.build);
        });
        for (const size_t release : order) {
            Place(release);
        }
        for (Node& node : nodes_) {
            // The child with the most nested below it goes last: it and its
            // last children need no end marker.
            std::stable_sort(node.children.begin(), node.children.end(),
                             [this](size_t a, size_t b) {
                                 return nodes_[a].descendants < nodes_[b].descendants;
                             });
            // The sections that hold the last file form one chain from a
            // root down (siblings are disjoint): along it that child comes
            // after its siblings, so the file ends every walk through it.
            std::stable_partition(node.children.begin(), node.children.end(),
                                  [this](size_t child) { return !HasLast(child); });
        }
        std::vector<std::string> out;
        for (size_t r = 0; r < roots_.size(); ++r) {
            Emit(roots_[r], true, &out);
            // The last chain simply runs to the end of the file.
            if (r + 1 < roots_.size()) {
                out.push_back("");
            }
        }
        return out;
    }

private:
    const std::set<std::string>& Paths(size_t node) const {
        return releases_[nodes_[node].release].paths;
    }
    bool HasLast(size_t node) const { return !last_.empty() && Paths(node).count(last_) != 0; }

    void Place(size_t release) {
        const std::set<std::string>& needs = releases_[release].paths;
        // The tightest section that holds all of it and overlaps none of
        // the sections already nested in it.
        size_t best = nodes_.size();
        for (size_t n = 0; n < nodes_.size(); ++n) {
            if (!Contains(Paths(n), needs)) {
                continue;
            }
            bool fits = true;
            for (const size_t child : nodes_[n].children) {
                fits = fits && Disjoint(needs, Paths(child));
            }
            if (fits && (best == nodes_.size() || Paths(n).size() <= Paths(best).size())) {
                best = n;
            }
        }
        nodes_.push_back(Node{release, {}, 0});
        const size_t self = nodes_.size() - 1;
        parent_.push_back(best);
        if (best == self) {
            roots_.push_back(self);
            return;
        }
        nodes_[best].children.push_back(self);
        for (size_t up = best;; up = parent_[up]) {
            nodes_[up].descendants++;
            if (parent_[up] == up) {
                break;
            }
        }
    }

    void Emit(size_t node, bool lastPath, std::vector<std::string>* out) const {
        const SectionNeeds& release = releases_[nodes_[node].release];
        out->push_back(version_index::SectionKey(release.version, release.build));
        std::set<std::string> own = release.paths;
        for (const size_t child : nodes_[node].children) {
            for (const std::string& path : Paths(child)) {
                own.erase(path);
            }
        }
        const bool lastHere = !last_.empty() && own.erase(last_) != 0;
        for (const std::string& path : own) {
            const std::vector<std::string> entry = lines_(path);
            out->insert(out->end(), entry.begin(), entry.end());
        }
        const std::vector<size_t>& children = nodes_[node].children;
        for (size_t c = 0; c < children.size(); ++c) {
            Emit(children[c], lastPath && !lastHere && c + 1 == children.size(), out);
        }
        if (lastHere) {
            const std::vector<std::string> entry = lines_(last_);
            out->insert(out->end(), entry.begin(), entry.end());
        }
        // Whatever follows this block belongs to other sections, unless an
        // empty line or the end of the file comes first.
        if (!lastPath) {
            out->push_back(version_index::SectionEndKey(release.version, release.build));
        }
    }

    const std::vector<SectionNeeds>& releases_;
    const EntryLines& lines_;
    const std::string last_;
    std::vector<Node> nodes_;
    std::vector<size_t> parent_;  // a root's parent is itself
    std::vector<size_t> roots_;
};

}  // namespace

std::vector<std::string> LayOutSections(const std::vector<SectionNeeds>& releases,
                                        const EntryLines& lines, const std::string& last) {
    return Layout(releases, lines, last).Run();
}

}  // namespace brfpublish
