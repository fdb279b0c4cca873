// A recording stand-in for the message box: a test links it in place of platform/win32/Message.cpp
// so a malformed path records its prompt instead of opening a modal box nobody can dismiss.
#pragma once

#include <string>
#include <vector>

namespace standin {

extern std::vector<std::wstring> g_messages;

} // namespace standin
