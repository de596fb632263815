#include <windows.h>

#include <climits>
#include <string>

#include "files/narrow_text.h"

namespace zuvo {

std::optional<std::string> ToNarrowExact(std::u16string_view text) {
  if (text.empty()) return std::string();
  if (text.size() > static_cast<size_t>(INT_MAX / 4)) return std::nullopt;
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  // The UTF-8 code page takes neither the best-fit flag nor a default
  // character; it refuses unpaired surrogates instead.
  const UINT codePage = GetACP();
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
  const int size =
      WideCharToMultiByte(codePage, flags, wide, length, nullptr, 0, nullptr, usedDefaultOut);
  if (size <= 0 || usedDefault) return std::nullopt;
  std::string narrow(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(codePage, flags, wide, length, narrow.data(), size, nullptr,
                          usedDefaultOut) != size ||
      usedDefault) {
    return std::nullopt;
  }
  // The way back must give the same text.
  const int backSize =
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), size, nullptr, 0);
  if (backSize != length) return std::nullopt;
  std::wstring back(static_cast<size_t>(backSize), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), size, back.data(), backSize);
  if (back.compare(0, back.size(), wide, static_cast<size_t>(length)) != 0) return std::nullopt;
  return narrow;
}

}  // namespace zuvo
