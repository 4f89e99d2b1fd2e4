// A list of text lines in which each line is a header entry of the form
// name ":" value. The HTTP client assembles its request header in one.
#pragma once

#include <string>
#include <vector>

class TExStringList {
public:
    // The lines in order, each without a line end.
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Lines() const { return lines_; }

    // Appends a line, or inserts it at its place when the list is sorted.
    // Returns its index.
    int Add(const std::string& line);
    void Put(int index, const std::string& line);
    void Delete(int index);
    void Clear() { lines_.clear(); }

    // A sorted list keeps its lines in case-insensitive order; turning the
    // flag on sorts the lines present.
    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);

    // Every line followed by CR LF.
    std::string Text() const;

    // Index of the first line whose name (the text before its first colon)
    // equals `name` ignoring case; -1 if there is none. A line without a
    // colon has no name. A sorted list is searched by bisection.
    int IndexOfName(const std::string& name) const;
    // The value of the named line: what follows the colon, less one leading
    // space. Empty when there is no such line.
    std::string GetValue(const std::string& name) const;
    // Writes name ": " value over the named line or appends it; an empty
    // value removes the line.
    void SetValue(const std::string& name, const std::string& value);

    // The text comparison of the list: case-insensitive, <0, 0 or >0.
    static int CompareText(const std::string& a, const std::string& b);

private:
    std::vector<std::string> lines_;
    bool sorted_ = false;
};
