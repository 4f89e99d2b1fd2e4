#include <cstdio>

#include "platform/message_box.h"

namespace plat {

// Without a window toolkit the message goes to stderr and the box is answered
// with its first button, as a user pressing Return would.
int DefaultMessageBox(const MessageBoxRequest& request) {
    std::fprintf(stderr, "[%s] %s\n", request.caption, request.text);
    switch (request.flags & 0x0F) {
        case kMbYesNo:
            return kIdYes;
        default:
            return kIdOk;
    }
}

}  // namespace plat
