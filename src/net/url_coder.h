// URL coding of form data: letters and digits stay, a space becomes "+",
// every other byte "%" and two upper-case hexadecimal digits.
#pragma once

#include <functional>
#include <string>

class TUrlCoder {
public:
    using TOnErrorEvent = std::function<void(TUrlCoder* sender, const std::string& operation,
                                             const std::string& errMsg)>;

    std::string InputString;
    TOnErrorEvent OnError;

    // Neither raises: a failure fires OnError and gives back the input.
    std::string URLEncode(const std::string& text);
    // Stops at a "%" that is not followed by two hexadecimal digits.
    std::string URLDecode(const std::string& text);

    std::string GetEncodeString() { return URLEncode(InputString); }
    std::string GetDecodeString() { return URLDecode(InputString); }
};
