// The folder walk and the file search on the Windows file system, run under
// Wine: a tree made in a temporary folder is listed and searched through
// DirRecurse; a window of this thread sees its posted message handled during
// the recursive walk. Given a folder (argument 1) that the test script filled
// with Unix links leading outside it and a folder path longer than MAX_PATH,
// it checks that nothing outside is listed, walked or opened, and that the
// search reaches the long path.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "files/dir_recurse.h"
#include "files/event_pump_win32.h"
#include "files/shared_file.h"
#include "tests/wine/wine_check.h"

namespace {

std::wstring W(std::u16string_view text) { return {text.begin(), text.end()}; }
std::u16string U(const std::wstring& text) { return {text.begin(), text.end()}; }

void MakeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
  CloseHandle(file);
}

// The listed paths relative to |root| (which each must begin with).
std::vector<std::wstring> Relative(const zuvo::PathList& list, const std::wstring& root) {
  std::vector<std::wstring> out;
  for (const std::u16string_view path : list) {
    const std::wstring wide = W(path);
    if (wide.compare(0, root.size(), root) != 0) {
      out.push_back(L"<outside>" + wide);
    } else {
      out.push_back(wide.substr(root.size()));
    }
  }
  return out;
}

std::wstring Joined(const std::vector<std::wstring>& parts) {
  std::wstring out;
  for (const std::wstring& part : parts) out += part + L"|";
  return out;
}

int g_pumped = 0;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    ++g_pumped;
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// What |path| opened beneath |share| reads, or "<status N>".
std::wstring Opened(zuvo::DirRecurse& files, const zuvo::PathAccess& access,
                    const std::wstring& share, const std::wstring& path) {
  zuvo::SharedFile file;
  const zuvo::FsStatus status = zuvo::OpenSharedFile(files, access, U(share), U(path), file);
  if (status != zuvo::FsStatus::kOk) return L"<status " + std::to_wstring(int(status)) + L">";
  std::wstring text;
  for (int c; (c = std::fgetc(file.get())) != EOF;) text.push_back(static_cast<wchar_t>(c));
  return text;
}

// The prepared share: "in\inside.txt" ("ok"), Unix links "passwd_link" (to
// /etc/passwd), "outlink" (to a folder outside holding "secret.txt") and
// "in\secret_link.txt", and a long folder path ending in "deep.txt".
void CheckLinksAndLongPaths(zuvo::DirRecurse& files, const std::wstring& share) {
  const std::unique_ptr<zuvo::PathResolver> resolver = zuvo::CreatePlatformPathResolver();
  const zuvo::PathAccess access(*resolver, zuvo::PathStyle::kWindows);
  const auto outside = [](const std::wstring& listed) {
    return listed.find(L"outlink") != listed.npos || listed.find(L"secret.txt") != listed.npos;
  };
  {
    wine_check::Context context("links: listings");
    zuvo::PathList list;
    files.ListFilesRecursive(list, U(share), u"*");
    const std::wstring all = Joined(Relative(list, share));
    CHECK(!outside(all));
    CHECK(all.find(L"\\in\\inside.txt|") != all.npos);
    list.clear();
    files.ListSubFolders(list, U(share));
    CHECK(Joined(Relative(list, share)).find(L"outlink") == std::wstring::npos);
    list.clear();
    const zuvo::DirRecurse::Beneath where{U(share), u"outlink"};
    files.ListFiles(list, U(share + L"\\outlink"), u"*", &where);
    files.ListSubFolders(list, U(share + L"\\outlink"), &where);
    CHECK_EQ_WSTR(L"", Joined(Relative(list, share)));
  }
  {
    wine_check::Context context("links: opening");
    CHECK_EQ_WSTR(L"ok\n", Opened(files, access, share, share + L"\\in\\inside.txt"));
    const std::wstring refused =
        L"<status " + std::to_wstring(int(zuvo::FsStatus::kBadPath)) + L">";
    CHECK_EQ_WSTR(refused, Opened(files, access, share, share + L"\\passwd_link"));
    CHECK_EQ_WSTR(refused, Opened(files, access, share, share + L"\\in\\secret_link.txt"));
    CHECK_EQ_WSTR(refused, Opened(files, access, share, share + L"\\outlink\\secret.txt"));
    CHECK_EQ_WSTR(L"<status " + std::to_wstring(int(zuvo::FsStatus::kNotFound)) + L">",
                  Opened(files, access, share, share + L"\\in"));
  }
  {
    wine_check::Context context("links: search and long paths");
    std::u16string name = u"secret.txt", folder = U(share);
    CHECK_EQ_WSTR(L"", W(files.FindFileInTree(name, folder)));
    name = u"DEEP.TXT";
    const std::wstring found = W(files.FindFileInTree(name, folder));
    CHECK(found.size() >= 258);
    CHECK(found.size() >= 9 && found.compare(found.size() - 9, 9, L"\\deep.txt") == 0);
    CHECK_EQ_WSTR(L"deep\n", Opened(files, access, share, found));
  }
}

}  // namespace

int main(int argc, char** argv) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"zuvo-walk-" + std::to_wstring(GetTickCount());
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub").c_str(), nullptr);
  CreateDirectoryW((root + L"\\sub\\deep").c_str(), nullptr);
  MakeFile(root + L"\\a.txt");
  MakeFile(root + L"\\b.log");
  MakeFile(root + L"\\Hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  MakeFile(root + L"\\System.txt", FILE_ATTRIBUTE_SYSTEM);
  MakeFile(root + L"\\sub\\c.txt");
  MakeFile(root + L"\\sub\\deep\\d.txt");
  // A link back up the tree: a walk that followed it would never end.
  const bool linked = CreateSymbolicLinkW((root + L"\\sub\\loop").c_str(), root.c_str(),
                                          SYMBOLIC_LINK_FLAG_DIRECTORY) != 0;

  std::unique_ptr<zuvo::FileSystem> fs = zuvo::CreatePlatformFileSystem();
  zuvo::Win32EventPump pump;
  zuvo::DirRecurse files(*fs, pump, zuvo::PathStyle::kWindows);

  {
    wine_check::Context context("ListFiles");
    zuvo::PathList list;
    files.ListFiles(list, U(root), u"*.txt");
    CHECK_EQ_WSTR(L"\\a.txt|", Joined(Relative(list, root)));
    list.clear();
    files.ListFiles(list, U(root), u"*.log;*.txt");
    CHECK_EQ_WSTR(L"\\b.log|\\a.txt|", Joined(Relative(list, root)));
  }
  {
    wine_check::Context context("ListFilesRecursive");
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ZuvoPumpCheck";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"ZuvoPumpCheck", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    PostMessageW(window, WM_APP, 0, 0);
    zuvo::PathList list;
    files.ListFilesRecursive(list, U(root), u"*.txt");
    CHECK_EQ_WSTR(L"\\a.txt|\\sub\\c.txt|\\sub\\deep\\d.txt|", Joined(Relative(list, root)));
    CHECK_EQ_INT(1, g_pumped);  // the waiting message was handled during the walk
    DestroyWindow(window);
  }
  {
    wine_check::Context context("ListSubFolders");
    zuvo::PathList list;
    files.ListSubFolders(list, U(root));
    CHECK_EQ_WSTR(L"\\sub|", Joined(Relative(list, root)));
    list.clear();
    files.ListSubFolders(list, U(root + L"\\sub"));
    // The link is no folder to list.
    CHECK_EQ_WSTR(L"\\sub\\deep|", Joined(Relative(list, root)));
  }
  {
    wine_check::Context context("FindFileInTree");
    std::u16string name = u"d.txt", folder = U(root);
    const std::wstring found = W(files.FindFileInTree(name, folder));
    CHECK_EQ_WSTR(root + L"\\sub\\deep\\d.txt", found);
    CHECK_EQ_WSTR(root, W(folder));  // passed through the code page unchanged
    name = u"nothing.here";
    CHECK_EQ_WSTR(L"", W(files.FindFileInTree(name, folder)));
    // A name the ANSI code page cannot hold exactly is not searched for.
    name = u"\u4e2d.txt";
    CHECK_EQ_WSTR(L"", W(files.FindFileInTree(name, folder)));
    name = u"a.txt";
    std::u16string missing = U(root + L"\\nope");
    CHECK_EQ_WSTR(L"", W(files.FindFileInTree(name, missing)));
  }
  if (!linked) std::printf("note: no symbolic links here\n");
  if (argc > 1) {
    const std::string share = argv[1];
    CheckLinksAndLongPaths(files, std::wstring(share.begin(), share.end()));
  }

  return wine_check::Finish("files_client");
}
