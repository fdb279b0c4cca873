#include "tests/support/MessageStandIn.h"

#include "platform/Message.h"

namespace standin {

std::vector<std::wstring> g_messages;

} // namespace standin

namespace platform {

void ShowMessage(const std::wstring& prompt) {
    standin::g_messages.push_back(prompt);
}

} // namespace platform
