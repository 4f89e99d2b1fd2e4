#include "platform/message_box.h"

#include <utility>

namespace plat {

// Each platform supplies the box shown when no handler is installed.
int DefaultMessageBox(const MessageBoxRequest& request);

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}
}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
    Handler() = std::move(handler);
}

int ShowMessageBox(const char* text, const char* caption, uint32_t flags, BoxOwner owner) {
    const MessageBoxRequest request{text ? text : "", caption ? caption : "", flags, owner};
    if (Handler()) {
        return Handler()(request);
    }
    return DefaultMessageBox(request);
}

}  // namespace plat
