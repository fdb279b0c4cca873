// Where the game keeps its CD key: what Recover reads, in the window and in the Linux command.
#pragma once

namespace GameKey {

inline constexpr wchar_t kKeyPath[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Activision\\Call of Duty 4";
inline constexpr wchar_t kValueName[] = L"codkey";

} // namespace GameKey
