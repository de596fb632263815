// The Registry module on the Windows registry, run under Wine. The test
// script prepares the settings key with `reg add` before "--read" and
// checks what "--write" stored with `reg query` afterwards; this program
// also reads the values back through the system's own calls, wide and
// narrow, to see the text as stored and as older narrow readers see it.
//
// Usage: registry_client --read | --write
#include <windows.h>

#include <string>
#include <thread>

#include "base/message_box_win32.h"
#include "settings/registry.h"
#include "tests/wine/wine_check.h"

namespace {

constexpr char16_t kKey[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Dravoux\\Parlix2\\RegisteredPlugins\\ZuvoFiles";
constexpr wchar_t kWideKey[] = L"SOFTWARE\\Dravoux\\Parlix2\\RegisteredPlugins\\ZuvoFiles";

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// What the registry holds, read with the wide API; "<missing>" when absent.
std::wstring StoredValue(const wchar_t* name) {
  wchar_t data[600] = {};
  DWORD size = sizeof(data);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kWideKey, name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return data;
}

// A message-box seam that records instead of showing.
class RecordingMessageBox : public zuvo::MessageBoxSeam {
 public:
  void Show(const std::u16string& text, const std::u16string& title) override {
    texts += text;
    titles += title;
    ++count;
  }
  std::u16string texts, titles;
  int count = 0;
};

void TestRead(zuvo::Registry& registry) {
  wine_check::Context context("read");
  const std::wstring long254(254, L'a');
  const struct {
    const char16_t* name;
    std::wstring expected;
  } cases[] = {
      {u"Shared Folder", L"C:\\Shared Files"},
      {u"Start On", L"1"},
      {u"Sub Folders", L"0"},
      {u"Padded", L"abc  "},  // leading blanks go, trailing ones stay
      {u"Empty", L""},
      {u"Long254", long254},
      {u"Long255", L"Error"},  // does not fit the 255-unit buffer
      {u"Missing", L"Error"},
  };
  for (const auto& entry : cases) {
    wine_check::Context value(wine_check::Narrow(Wide(entry.name).c_str()));
    CHECK_EQ_WSTR(entry.expected, Wide(registry.ReadValue(kKey, entry.name)));
  }
  CHECK_EQ_WSTR(L"Error", Wide(registry.ReadValue(std::u16string(kKey) + u"\\Nope", u"Start On")));
  // A root name in the wrong case passes the prefix test and names no key.
  CHECK_EQ_WSTR(L"", Wide(registry.ReadValue(u"HKEY_Local_Machine\\SOFTWARE", u"x")));
}

void TestWrite(zuvo::Registry& registry) {
  wine_check::Context context("write");
  registry.WriteValue(kKey, u"Shared Folder", u"D:\\New Share");
  registry.WriteValue(kKey, u"Start On", u"0");
  registry.WriteValue(kKey, u"Sub Folders", u"");
  CHECK_EQ_WSTR(L"D:\\New Share", StoredValue(L"Shared Folder"));
  CHECK_EQ_WSTR(L"0", StoredValue(L"Start On"));
  CHECK_EQ_WSTR(L"", StoredValue(L"Sub Folders"));
  CHECK_EQ_WSTR(L"D:\\New Share", Wide(registry.ReadValue(kKey, u"Shared Folder")));
  CHECK_EQ_WSTR(L"", Wide(registry.ReadValue(kKey, u"Sub Folders")));

  // A narrow reader (an older version) sees a text its code page carries.
  char narrow[64] = {};
  DWORD narrowSize = sizeof narrow;
  CHECK(RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dravoux\\Parlix2\\RegisteredPlugins\\ZuvoFiles",
                     "Shared Folder", RRF_RT_REG_SZ, nullptr, narrow,
                     &narrowSize) == ERROR_SUCCESS);
  CHECK(std::string(narrow) == "D:\\New Share");

  // Text is stored as it is, in or outside the ANSI code page, never as a
  // look-alike (such as the backslash a best-fit mapping would make of a
  // full-width reverse solidus).
  const std::u16string texts[] = {u"caf\u00e9", u"a\uff3cb", u"C:\\\u65e5\u672c\u8a9e",
                                  u"\U0001F600", std::u16string(u"lone ") + char16_t(0xD800)};
  for (const std::u16string& text : texts) {
    registry.WriteValue(kKey, u"Unicode", text);
    CHECK_EQ_WSTR(Wide(text), StoredValue(L"Unicode"));
    CHECK_EQ_WSTR(Wide(text), Wide(registry.ReadValue(kKey, u"Unicode")));
  }
  // A value an older version stored through the narrow call reads the same.
  if (GetACP() == 1252) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWideKey, 0, KEY_WRITE, &key);
    CHECK(RegSetValueExA(key, "Narrow", 0, REG_SZ, reinterpret_cast<const BYTE*>("caf\xe9"), 5) ==
          ERROR_SUCCESS);
    RegCloseKey(key);
    CHECK_EQ_WSTR(L"caf\u00e9", Wide(registry.ReadValue(kKey, u"Narrow")));
  }

  // The module never creates a key.
  registry.WriteValue(std::u16string(kKey) + u"\\Child", u"x", u"y");
  HKEY child = nullptr;
  CHECK(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kWideKey) + L"\\Child").c_str(), 0,
                      KEY_READ, &child) == ERROR_FILE_NOT_FOUND);
}

void TestMalformedPath(zuvo::RegistryBackend& backend) {
  wine_check::Context context("malformed path");
  RecordingMessageBox box;
  zuvo::Registry registry(backend, box);
  CHECK_EQ_WSTR(L"", Wide(registry.ReadValue(u"SOFTWARE\\A", u"x")));
  registry.WriteValue(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\", u"x", u"y");
  CHECK_EQ_INT(2, box.count);
  CHECK_EQ_WSTR(
      L"Incorrect Format:\n\nSOFTWARE\\AIncorrect Format:\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\",
      Wide(box.texts));
}

// The text of a dialog's static controls (the box's message; the control's
// identifier differs between systems).
BOOL CALLBACK AppendStaticText(HWND child, LPARAM out) {
  wchar_t className[32] = {}, buffer[512] = {};
  GetClassNameW(child, className, 32);
  if (lstrcmpiW(className, L"Static") == 0 && GetWindowTextW(child, buffer, 512) > 0) {
    *reinterpret_cast<std::wstring*>(out) += buffer;
  }
  return TRUE;
}

std::wstring StaticText(HWND dialog) {
  std::wstring text;
  EnumChildWindows(dialog, AppendStaticText, reinterpret_cast<LPARAM>(&text));
  return text;
}

// The real message box: a second thread finds it, reads its text and
// presses OK with a window message, as a user would.
void TestRealMessageBox(zuvo::RegistryBackend& backend) {
  wine_check::Context context("message box");
  zuvo::Win32MessageBox box;
  zuvo::Registry registry(backend, box);
  std::wstring seenText, seenTitle;
  std::thread answer([&] {
    for (int i = 0; i < 200; ++i) {
      HWND dialog = FindWindowW(L"#32770", nullptr);
      if (dialog) {
        wchar_t title[256] = {};
        GetWindowTextW(dialog, title, 256);
        seenText = StaticText(dialog);
        seenTitle = title;
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
      }
      Sleep(50);
    }
  });
  CHECK_EQ_WSTR(L"", Wide(registry.ReadValue(u"hkey_local_machine\\SOFTWARE", u"x")));
  answer.join();
  CHECK_EQ_WSTR(L"Incorrect Format:\n\nhkey_local_machine\\SOFTWARE", seenText);
  CHECK_EQ_WSTR(L"ZuvoFileSharing", seenTitle);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  std::unique_ptr<zuvo::RegistryBackend> backend = zuvo::OpenPlatformRegistry({});
  RecordingMessageBox box;
  zuvo::Registry registry(*backend, box);
  if (mode == "--read") {
    TestRead(registry);
    TestMalformedPath(*backend);
    TestRealMessageBox(*backend);
  } else if (mode == "--write") {
    TestWrite(registry);
  } else {
    std::printf("usage: registry_client --read | --write\n");
    return 2;
  }
  CHECK_EQ_INT(0, box.count);  // well-formed paths show no message
  return wine_check::Finish("registry_client");
}
