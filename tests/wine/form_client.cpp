// The options window, shown by the server through "/xroptions" and driven
// from a second thread with window messages, as a user's clicks and keys
// would: its frame, size, position, controls and focus order are read back
// and compared with the design, a screenshot is saved, and Apply, Cancel,
// the folder browser and the close box are exercised against the registry.
//
// The folder applied lies outside the ANSI code page; "--restarted" then
// checks, in a new process, that the window shows it again.
//
// Usage: form_client [screenshot.bmp] | form_client --restarted
#include <windows.h>
// (windows.h first: the OLE headers need its types)
#include <initguid.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ZuvoFileSharing.h"
#include "tests/wine/wine_check.h"

namespace {

constexpr wchar_t kCaption[] = L"Zuvo File Sharing - Preferences";
constexpr wchar_t kKey[] = L"SOFTWARE\\Dravoux\\Parlix2\\RegisteredPlugins\\ZuvoFiles";
// Japanese, Greek and Cyrillic: no ANSI code page holds all three.
constexpr wchar_t kApplied[] =
    L"C:\\Applied \u65e5\u672c\u8a9e \u0395\u03bb\u03bb\u03ac\u03b4\u03b1 \u0416";

// The design, in twips, and where each control lives; kept apart from the
// server's own table on purpose.
struct Expected {
  int id;
  const wchar_t* name;
  bool inFrame;
  int left, top, width, height;
  const wchar_t* text;  // nullptr: not checked
};
const Expected kControls[] = {
    {103, L"Text3", false, 120, 4560, 255, 285, nullptr},
    {121, L"Command1", false, 5040, 3930, 1095, 375, L"Cancel"},
    {123, L"Command3", false, 5280, 960, 375, 300, L"..."},
    {130, L"Frame1", false, 120, 600, 6015, 3135, L"Zuvo File Sharing"},
    {112, L"Check2", true, 240, 1440, 1935, 255, L"Include Sub Folders"},
    {101, L"Text1", true, 1320, 360, 3735, 285, nullptr},
    {111, L"Check1", true, 240, 1800, 3615, 255, L"Start with Zuvo File Sharing Turned on"},
    {141, L"Label1", true, 5280, 2760, 495, 255, nullptr},
    {148, L"Label8", true, 4320, 2760, 735, 255, nullptr},
    {147, L"Label7", true, 3360, 2760, 735, 255, nullptr},
    {146, L"Label6", true, 2280, 2760, 855, 255, nullptr},
    {145, L"Label5", true, 1560, 2760, 495, 255, nullptr},
    {144, L"Label4", true, 240, 2760, 1095, 255, L"Thanks To..."},
    {143, L"Label3", true, 240, 840, 5655, 495,
     L"This is folder you give others access to. Note if this folder contains to many files it "
     L"will cause your computer to lag when someone asks for a file list."},
    {142, L"Label2", true, 240, 360, 1455, 255, L"Shared Folder"},
    {102, L"Text2", false, 120, 4920, 255, 285, nullptr},
    {122, L"Command2", false, 3840, 3930, 1095, 375, L"Apply"},
    {150, L"Label10", false, 120, 4080, 1095, 255, L"v2.0"},
    {162, L"Image2", false, 0, 0, 6270, 585, nullptr},
    {161, L"Image1", false, 0, 3840, 6270, 570, nullptr},
};
constexpr int kApply = 122, kCancel = 121, kBrowse = 123, kCheck1 = 111, kCheck2 = 112,
              kText1 = 101;

DWORD g_uiThread = 0;

std::wstring Text(HWND window) {
  wchar_t buffer[512] = {};
  GetWindowTextW(window, buffer, 512);
  return buffer;
}

std::wstring Stored(const wchar_t* name) {
  wchar_t data[512] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return data;
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
  for (int waited = 0; waited < milliseconds; waited += 20) {
    if (condition()) return true;
    Sleep(20);
  }
  return condition();
}

HWND FindForm() {
  HWND form = nullptr;
  WaitFor([&] {
    form = FindWindowW(L"ZuvoOptionsForm", kCaption);
    return form && IsWindowVisible(form);
  });
  return form;
}

HWND Control(HWND form, int id) {
  HWND control = GetDlgItem(form, id);
  return control ? control : GetDlgItem(GetDlgItem(form, 130), id);
}

HWND Focused() {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(g_uiThread, &info);
  return info.hwndFocus;
}

// Clicks a button the way the keyboard's space bar or a mouse click would
// end: the control sends BN_CLICKED to its parent.
void Click(HWND control) { PostMessageW(control, BM_CLICK, 0, 0); }

void SaveScreenshot(HWND form, const char* path) {
  RECT bounds;
  GetWindowRect(form, &bounds);
  const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, bounds.left, bounds.top, SRCCOPY);
  GdiFlush();
  const int stride = ((width * 3) + 3) & ~3;
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + stride * height;
  if (FILE* out = std::fopen(path, "wb")) {
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
    std::fwrite(bits, static_cast<size_t>(stride) * height, 1, out);
    std::fclose(out);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

void CheckLayout(HWND form) {
  wine_check::Context context("layout");
  const LONG style = GetWindowLongW(form, GWL_STYLE);
  const LONG exStyle = GetWindowLongW(form, GWL_EXSTYLE);
  CHECK(style & WS_CAPTION);
  CHECK(style & WS_SYSMENU);
  CHECK(!(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME)));
  CHECK(exStyle & WS_EX_DLGMODALFRAME);
  // Off the task bar: an owned window that does not ask for a button.
  CHECK(GetWindow(form, GW_OWNER) != nullptr);
  CHECK(!(exStyle & WS_EX_APPWINDOW));
  CHECK(SendMessageW(form, WM_GETICON, ICON_BIG, 0) != 0);
  CHECK(SendMessageW(form, WM_GETICON, ICON_SMALL, 0) != 0);
  CHECK_EQ_WSTR(kCaption, Text(form));

  RECT client;
  GetClientRect(form, &client);
  CHECK_EQ_INT(418, client.right);
  CHECK_EQ_INT(293, client.bottom);
  RECT bounds;
  GetWindowRect(form, &bounds);
  const int centreX = (bounds.left + bounds.right) / 2, centreY = (bounds.top + bounds.bottom) / 2;
  CHECK(std::abs(centreX - GetSystemMetrics(SM_CXSCREEN) / 2) <= 1);
  CHECK(std::abs(centreY - GetSystemMetrics(SM_CYSCREEN) / 2) <= 1);

  const HWND frame = GetDlgItem(form, 130);
  for (const Expected& expected : kControls) {
    wine_check::Context control(wine_check::Narrow(expected.name));
    const HWND window = Control(form, expected.id);
    CHECK(window != nullptr);
    if (!window) continue;
    CHECK(GetParent(window) == (expected.inFrame ? frame : form));
    RECT r;
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    CHECK_EQ_INT(expected.left / 15, r.left);
    CHECK_EQ_INT(expected.top / 15, r.top);
    CHECK_EQ_INT(expected.width / 15, r.right - r.left);
    CHECK_EQ_INT(expected.height / 15, r.bottom - r.top);
    if (expected.text) CHECK_EQ_WSTR(expected.text, Text(window));
  }
  // The holder fields lie below the visible area.
  for (int id : {102, 103}) {
    RECT r;
    GetWindowRect(GetDlgItem(form, id), &r);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    CHECK(r.top >= client.bottom);
  }
}

void CheckFocusOrder(HWND form) {
  wine_check::Context context("focus order");
  CHECK(WaitFor([&] { return Focused() == Control(form, kApply); }));
  const int order[] = {kCheck1, kText1, kBrowse, kCheck2, kCancel, kApply};
  for (int id : order) {
    const HWND from = Focused();
    PostMessageW(from, WM_KEYDOWN, VK_TAB, 0);
    const bool moved = WaitFor([&] { return Focused() == Control(form, id); }, 2000);
    const std::string label = "tab to " + std::to_string(id);
    wine_check::Context step(label);
    CHECK(moved);
  }
}

BOOL CALLBACK FindDialog(HWND window, LPARAM out) {
  wchar_t name[32] = {};
  GetClassNameW(window, name, 32);
  if (lstrcmpW(name, L"#32770") == 0 && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(out) = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK AppendText(HWND child, LPARAM out) {
  wchar_t buffer[256] = {};
  GetWindowTextW(child, buffer, 256);
  *reinterpret_cast<std::wstring*>(out) += std::wstring(buffer) + L"|";
  return TRUE;
}

// The folder browser: its title text, then Cancel, which leaves the box.
void CheckBrowseCancel(HWND form) {
  wine_check::Context context("folder browser");
  const std::wstring before = Text(Control(form, kText1));
  Click(Control(form, kBrowse));
  HWND dialog = nullptr;
  CHECK(WaitFor([&] {
    dialog = nullptr;
    EnumThreadWindows(g_uiThread, FindDialog, reinterpret_cast<LPARAM>(&dialog));
    return dialog != nullptr;
  }));
  if (!dialog) return;
  std::wstring texts;
  EnumChildWindows(dialog, AppendText, reinterpret_cast<LPARAM>(&texts));
  CHECK(texts.find(L"Select Profile Export Directory") != std::wstring::npos);
  CHECK(GetWindow(dialog, GW_OWNER) == form);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  CHECK(WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }));
  Sleep(100);
  CHECK_EQ_WSTR(before, Text(Control(form, kText1)));
}

bool Gone(HWND form) { return !IsWindow(form) || !IsWindowVisible(form); }

}  // namespace

int main(int argc, char** argv) {
  const bool restarted = argc > 1 && std::string(argv[1]) == "--restarted";
  const char* screenshot = argc > 1 && !restarted ? argv[1] : nullptr;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  g_uiThread = GetCurrentThreadId();
  _beta* plugin = nullptr;
  CHECK_HR(S_OK, CoCreateInstance(CLSID_beta, nullptr, CLSCTX_INPROC_SERVER, IID__beta,
                                  reinterpret_cast<void**>(&plugin)));
  if (!plugin) return wine_check::Finish("form_client");
  VARIANT_BOOL ok = 0;
  plugin->Initialize(0, nullptr, nullptr, &ok);

  auto showOptions = [&](const std::function<void(HWND)>& drive) {
    std::thread driver([&] {
      const HWND form = FindForm();
      CHECK(form != nullptr);
      if (form) drive(form);
    });
    BSTR command = SysAllocString(L"/xroptions");
    BSTR argument = SysAllocString(L"");
    BSTR reply = SysAllocString(L"x");
    VARIANT_BOOL handled = 0;
    CHECK_HR(S_OK, plugin->ParseCommand(command, argument, nullptr, &reply, &handled));
    CHECK_EQ_INT(VARIANT_TRUE, handled);
    CHECK_EQ_INT(0, SysStringLen(reply));
    SysFreeString(command);
    SysFreeString(argument);
    SysFreeString(reply);
    driver.join();
  };

  if (restarted) {  // A new process shows the folder applied before.
    wine_check::Context context("restarted");
    showOptions([&](HWND form) {
      CHECK_EQ_WSTR(kApplied, Text(Control(form, kText1)));
      Click(Control(form, kCancel));
      CHECK(WaitFor([&] { return Gone(form); }));
    });
    CHECK_EQ_WSTR(kApplied, Stored(L"Shared Folder"));
    plugin->Release();
    CoUninitialize();
    return wine_check::Finish("form_client");
  }
  {  // Apply stores what the window shows.
    wine_check::Context context("apply");
    showOptions([&](HWND form) {
      CheckLayout(form);
      CHECK_EQ_WSTR(L"C:\\Shared Files", Text(Control(form, kText1)));
      CHECK_EQ_INT(BST_UNCHECKED, SendMessageW(Control(form, kCheck1), BM_GETCHECK, 0, 0));
      CHECK_EQ_INT(BST_CHECKED, SendMessageW(Control(form, kCheck2), BM_GETCHECK, 0, 0));
      if (screenshot) SaveScreenshot(form, screenshot);
      CheckFocusOrder(form);
      BOOL lossy = FALSE;
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, kApplied, -1, nullptr, 0, nullptr, &lossy);
      CHECK(lossy);  // the ANSI code page cannot carry the folder
      SendMessageW(Control(form, kText1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kApplied));
      Click(Control(form, kCheck1));
      WaitFor([&] { return SendMessageW(Control(form, kCheck1), BM_GETCHECK, 0, 0) != 0; });
      Click(Control(form, kApply));
      CHECK(WaitFor([&] { return Gone(form); }));
    });
    CHECK_EQ_WSTR(kApplied, Stored(L"Shared Folder"));
    CHECK_EQ_WSTR(L"1", Stored(L"Start On"));
    CHECK_EQ_WSTR(L"1", Stored(L"Sub Folders"));
  }
  {  // Cancel discards an edit and a cancelled browse changes nothing.
    wine_check::Context context("cancel");
    showOptions([&](HWND form) {
      CHECK_EQ_WSTR(kApplied, Text(Control(form, kText1)));
      CHECK_EQ_INT(BST_CHECKED, SendMessageW(Control(form, kCheck1), BM_GETCHECK, 0, 0));
      SendMessageW(Control(form, kText1), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(L"C:\\Discarded"));
      CheckBrowseCancel(form);
      Click(Control(form, kCancel));
      CHECK(WaitFor([&] { return Gone(form); }));
    });
    CHECK_EQ_WSTR(kApplied, Stored(L"Shared Folder"));
  }
  {  // The close box unloads the form without storing.
    wine_check::Context context("close");
    showOptions([&](HWND form) {
      CHECK_EQ_WSTR(kApplied, Text(Control(form, kText1)));
      SendMessageW(Control(form, kText1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"C:\\Closed"));
      PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
      CHECK(WaitFor([&] { return Gone(form); }));
    });
    CHECK_EQ_WSTR(kApplied, Stored(L"Shared Folder"));
  }
  plugin->Release();
  CoUninitialize();
  return wine_check::Finish("form_client");
}
