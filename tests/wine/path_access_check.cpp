// The access rules with the Win32 path resolver, on a real Windows file
// system under Wine: short names are expanded, links are followed, and the
// Windows path model refuses what lies outside the shared folder.
#include <windows.h>

#include <string>

#include "files/narrow_text.h"
#include "files/path_access.h"
#include "files/path_resolver.h"
#include "tests/wine/wine_check.h"

namespace {

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

void MakeFile(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

std::wstring LongForm(const std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetLongPathNameW(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : path;
}

std::wstring ShortForm(const std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : path;
}

}  // namespace

int main() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring base =
      LongForm(temp) + L"zuvo-access-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring share = base + L"\\share";
  const std::wstring longFolder = share + L"\\Long Folder Name";
  const std::wstring secret = base + L"\\secret";
  CreateDirectoryW(base.c_str(), nullptr);
  CreateDirectoryW(share.c_str(), nullptr);
  CreateDirectoryW((share + L"\\sub").c_str(), nullptr);
  CreateDirectoryW(longFolder.c_str(), nullptr);
  CreateDirectoryW(secret.c_str(), nullptr);
  MakeFile(share + L"\\a.txt");
  MakeFile(longFolder + L"\\f.txt");
  MakeFile(secret + L"\\s.txt");

  std::unique_ptr<zuvo::PathResolver> resolver = zuvo::CreatePlatformPathResolver();
  zuvo::PathAccess access(*resolver, zuvo::PathStyle::kWindows);
  {
    wine_check::Context context("plain paths");
    const auto root = access.ResolveShare(U16(share));
    CHECK(root.has_value());
    if (root) {
      CHECK(access.IsInside(U16(share + L"\\a.txt"), *root));
      CHECK(access.IsInside(U16(share + L"\\sub\\..\\a.txt"), *root));
      CHECK(access.IsInside(U16(share + L"\\missing\\x.txt"), *root));
      CHECK(!access.IsInside(U16(share + L"\\..\\secret\\s.txt"), *root));
      CHECK(!access.IsInside(U16(secret + L"\\s.txt"), *root));
      CHECK(!access.IsInside(U16(share + L"\\a.txt:stream"), *root));
      CHECK(!access.IsInside(U16(share + L"\\nul.txt"), *root));
    }
  }
  {
    wine_check::Context context("short names");
    const std::wstring shortFolder = ShortForm(longFolder);
    const auto root = access.ResolveShare(U16(longFolder));
    CHECK(root.has_value());
    if (root && shortFolder != longFolder) {
      CHECK(access.IsInside(U16(shortFolder + L"\\f.txt"), *root));
      const auto shortRoot = access.ResolveShare(U16(shortFolder));
      CHECK(shortRoot.has_value() && *shortRoot == *root);
    } else {
      std::printf("note: no short name for %ls\n", longFolder.c_str());
    }
  }
  {
    wine_check::Context context("links");
    const std::wstring link = share + L"\\outlink";
    // Some systems report success without making the link; test only a link
    // that is there.
    if (CreateSymbolicLinkW(link.c_str(), secret.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) &&
        GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) {
      const auto root = access.ResolveShare(U16(share));
      CHECK(root.has_value());
      if (root) {
        CHECK(!access.IsInside(U16(link + L"\\s.txt"), *root));
        CHECK(!access.IsInside(U16(link), *root));
      }
      const zuvo::PathNode node = resolver->Inspect(U16(link));
      CHECK(node.kind == zuvo::PathNode::Kind::kLink);
      RemoveDirectoryW(link.c_str());
    } else {
      std::printf("note: no symbolic links here\n");
    }
  }

  {
    wine_check::Context context("narrow text");
    CHECK(zuvo::ToNarrowExact(u"a.txt") == std::string("a.txt"));
    CHECK(zuvo::ToNarrowExact(u"") == std::string());
    CHECK(!zuvo::ToNarrowExact(u"a\xD800.txt"));
    // Fullwidth dots and backslash never turn into "..\".
    const auto fullwidth = zuvo::ToNarrowExact(u"\uFF0E\uFF0E\uFF3Csecret.txt");
    CHECK(!fullwidth || fullwidth->find("..") == std::string::npos);
    if (GetACP() == 1252) {
      CHECK(!fullwidth);
      CHECK(zuvo::ToNarrowExact(u"caf\u00E9") == std::string("caf\xE9"));
    }
    std::printf("note: ANSI code page %u\n", GetACP());
  }

  DeleteFileW((share + L"\\a.txt").c_str());
  DeleteFileW((longFolder + L"\\f.txt").c_str());
  DeleteFileW((secret + L"\\s.txt").c_str());
  for (const std::wstring& folder : {longFolder, share + L"\\sub", share, secret, base}) {
    RemoveDirectoryW(folder.c_str());
  }
  return wine_check::Finish("path_access_check");
}
