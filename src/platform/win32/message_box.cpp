#include <windows.h>

#include "platform/message_box.h"

namespace plat {

int DefaultMessageBox(const MessageBoxRequest& request) {
    HWND owner = request.owner == BoxOwner::FocusWindow ? GetFocus() : nullptr;
    return MessageBoxA(owner, request.text, request.caption, request.flags);
}

}  // namespace plat
