#include "settings/form_view_win32.h"

#include <shlobj.h>

#include <string>
#include <vector>

#include "settings/form_resources.h"
#include "settings/frm_options.h"

namespace zuvo {
namespace {

namespace ids = form_ids;

constexpr int kTwipsPerPixel = 15;
constexpr int kClientWidth = 6270 / kTwipsPerPixel;   // 418
constexpr int kClientHeight = 4395 / kTwipsPerPixel;  // 293
constexpr wchar_t kFormClass[] = L"ZuvoOptionsForm";
constexpr wchar_t kFrameClass[] = L"ZuvoOptionsFrame";
constexpr wchar_t kOwnerClass[] = L"ZuvoOptionsOwner";

enum class Kind { kTextBox, kButton, kCheckBox, kFrame, kLabel, kPicture };

// One control of the form's design, in creation order. Positions are in
// twips, relative to the form's client area or, for |inFrame|, to Frame1.
struct ControlDesign {
  int id;
  Kind kind;
  const wchar_t* text;
  bool inFrame;
  int left, top, width, height;
  int bitmap;  // pictures: the resource
};

const ControlDesign kDesign[] = {
    {ids::kText3, Kind::kTextBox, L"1", false, 120, 4560, 255, 285, 0},
    {ids::kCommand1, Kind::kButton, L"Cancel", false, 5040, 3930, 1095, 375, 0},
    {ids::kCommand3, Kind::kButton, L"...", false, 5280, 960, 375, 300, 0},
    {ids::kFrame1, Kind::kFrame, L"Zuvo File Sharing", false, 120, 600, 6015, 3135, 0},
    {ids::kCheck2, Kind::kCheckBox, L"Include Sub Folders", true, 240, 1440, 1935, 255, 0},
    {ids::kText1, Kind::kTextBox, L"C:\\", true, 1320, 360, 3735, 285, 0},
    {ids::kCheck1, Kind::kCheckBox, L"Start with Zuvo File Sharing Turned on", true, 240, 1800,
     3615, 255, 0},
    {ids::kLabel1 + 0, Kind::kLabel, L"Ann", true, 5280, 2760, 495, 255, 0},
    {ids::kLabel1 + 7, Kind::kLabel, L"Marek", true, 4320, 2760, 735, 255, 0},
    {ids::kLabel1 + 6, Kind::kLabel, L"Sunita", true, 3360, 2760, 735, 255, 0},
    {ids::kLabel1 + 5, Kind::kLabel, L"Tomasz", true, 2280, 2760, 855, 255, 0},
    {ids::kLabel1 + 4, Kind::kLabel, L"Ines", true, 1560, 2760, 495, 255, 0},
    {ids::kLabel1 + 3, Kind::kLabel, L"Thanks To...", true, 240, 2760, 1095, 255, 0},
    {ids::kLabel1 + 2, Kind::kLabel,
     L"This is folder you give others access to. Note if this folder contains to many files it "
     L"will cause your computer to lag when someone asks for a file list.",
     true, 240, 840, 5655, 495, 0},
    {ids::kLabel1 + 1, Kind::kLabel, L"Shared Folder", true, 240, 360, 1455, 255, 0},
    {ids::kText2, Kind::kTextBox, L"1", false, 120, 4920, 255, 285, 0},
    {ids::kCommand2, Kind::kButton, L"Apply", false, 3840, 3930, 1095, 375, 0},
    {ids::kLabel1 + 9, Kind::kLabel, L"v2.0", false, 120, 4080, 1095, 255, 0},
    {ids::kImage2, Kind::kPicture, nullptr, false, 0, 0, 6270, 585, IDB_BANNER_TOP},
    {ids::kImage1, Kind::kPicture, nullptr, false, 0, 3840, 6270, 570, IDB_BANNER_BOTTOM},
};

// Keyboard focus order: Apply, the start-on check box, the folder box, the
// browse button, the sub-folders check box, Cancel.
const int kTabOrder[] = {ids::kCommand2, ids::kCheck1, ids::kText1,
                         ids::kCommand3, ids::kCheck2, ids::kCommand1};

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

std::u16string FromWide(const std::wstring& text) { return {text.begin(), text.end()}; }
std::wstring ToWide(const std::u16string& text) { return {text.begin(), text.end()}; }

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The window of one showing of the form. It mirrors the form's texts and
// check states in its controls and turns the user's actions into the form's
// events; edits reach the form at once, so a remote request served while
// the window is open reads what the user typed.
class FormWindow {
 public:
  FormWindow(frmOptions& form, HWND& current) : form_(form), current_(current) {}
  ~FormWindow() {
    if (window_) DestroyWindow(window_);
    if (owner_) DestroyWindow(owner_);
    for (HBITMAP bitmap : bitmaps_) DeleteObject(bitmap);
    if (labelBrush_) DeleteObject(labelBrush_);
    if (bigIcon_) DestroyIcon(bigIcon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
    if (font_) DeleteObject(font_);
    current_ = nullptr;
  }
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  bool Create();
  void RunModal();

 private:
  static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code, HWND control);
  void ShowTexts();
  bool MoveFocus(HWND from, bool backwards);
  HWND Control(int id) const;

  frmOptions& form_;
  HWND& current_;
  HWND owner_ = nullptr;
  HWND window_ = nullptr;
  HWND frame_ = nullptr;
  std::vector<HBITMAP> bitmaps_;
  HBITMAP lowerBanner_ = nullptr;
  HBRUSH labelBrush_ = nullptr;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  HFONT font_ = nullptr;
  bool updating_ = false;  // the window is being filled from the form
};

void RegisterClasses(HMODULE module) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.hInstance = module;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  if (!GetClassInfoExW(module, kFormClass, &windowClass)) {
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = kFormClass;
    RegisterClassExW(&windowClass);
  }
  if (!GetClassInfoExW(module, kFrameClass, &windowClass)) {
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = kFrameClass;
    RegisterClassExW(&windowClass);
  }
  if (!GetClassInfoExW(module, kOwnerClass, &windowClass)) {
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = kOwnerClass;
    RegisterClassExW(&windowClass);
  }
}

HWND FormWindow::Control(int id) const {
  HWND control = GetDlgItem(window_, id);
  return control ? control : GetDlgItem(frame_, id);
}

bool FormWindow::Create() {
  const HMODULE module = ThisModule();
  RegisterClasses(module);

  // A fixed dialog frame with a close box only; the window belongs to a
  // hidden owner, which keeps it off the task bar.
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT bounds = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&bounds, style, FALSE, exStyle);
  const int width = bounds.right - bounds.left;
  const int height = bounds.bottom - bounds.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  owner_ =
      CreateWindowExW(0, kOwnerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, nullptr);
  window_ = CreateWindowExW(exStyle, kFormClass, kFormCaption, style, x, y, width, height, owner_,
                            nullptr, module, nullptr);
  if (!window_) return false;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormProc));

  bigIcon_ = static_cast<HICON>(
      LoadImageW(module, MAKEINTRESOURCEW(IDI_FRM_OPTIONS), IMAGE_ICON, 32, 32, 0));
  smallIcon_ = static_cast<HICON>(
      LoadImageW(module, MAKEINTRESOURCEW(IDI_FRM_OPTIONS), IMAGE_ICON, 16, 16, 0));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  // The form's font: MS Sans Serif, 8 points (11 pixels at 96 dots per inch).
  font_ =
      CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  const HFONT font = font_ ? font_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  for (const ControlDesign& design : kDesign) {
    const wchar_t* className = L"STATIC";
    DWORD controlStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD controlExStyle = 0;
    switch (design.kind) {
      case Kind::kTextBox:
        className = L"EDIT";
        controlStyle |= WS_TABSTOP | ES_AUTOHSCROLL;
        controlExStyle = WS_EX_CLIENTEDGE;
        break;
      case Kind::kButton:
        className = L"BUTTON";
        controlStyle |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
      case Kind::kCheckBox:
        className = L"BUTTON";
        controlStyle |= WS_TABSTOP | BS_AUTOCHECKBOX;
        break;
      case Kind::kFrame:
        className = kFrameClass;
        controlStyle |= WS_CLIPCHILDREN;
        controlExStyle = WS_EX_CONTROLPARENT;
        break;
      case Kind::kLabel:
        controlStyle |= SS_LEFT;
        break;
      case Kind::kPicture:
        controlStyle |= SS_BITMAP;
        break;
    }
    const HWND parent = design.inFrame ? frame_ : window_;
    const HWND control =
        CreateWindowExW(controlExStyle, className, design.text ? design.text : L"", controlStyle,
                        design.left / kTwipsPerPixel, design.top / kTwipsPerPixel,
                        design.width / kTwipsPerPixel, design.height / kTwipsPerPixel, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(design.id)), module, nullptr);
    if (!control) return false;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (design.kind == Kind::kFrame) {
      frame_ = control;
      SetWindowLongPtrW(frame_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      SetWindowLongPtrW(frame_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrameProc));
    }
    if (design.kind == Kind::kPicture) {
      const HBITMAP bitmap = static_cast<HBITMAP>(
          LoadImageW(module, MAKEINTRESOURCEW(design.bitmap), IMAGE_BITMAP, 0, 0, 0));
      if (bitmap) {
        bitmaps_.push_back(bitmap);
        SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        if (design.id == ids::kImage1) lowerBanner_ = bitmap;
      }
    }
  }
  // The version label shows the lower banner through its background.
  if (lowerBanner_) labelBrush_ = CreatePatternBrush(lowerBanner_);
  return true;
}

void FormWindow::ShowTexts() {
  updating_ = true;
  SetWindowTextW(Control(ids::kText1), ToWide(form_.Text1).c_str());
  SetWindowTextW(Control(ids::kText2), ToWide(form_.Text2).c_str());
  SetWindowTextW(Control(ids::kText3), ToWide(form_.Text3).c_str());
  SendMessageW(Control(ids::kCheck1), BM_SETCHECK, form_.Check1 ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageW(Control(ids::kCheck2), BM_SETCHECK, form_.Check2 ? BST_CHECKED : BST_UNCHECKED, 0);
  updating_ = false;
}

void FormWindow::OnCommand(int id, int code, HWND control) {
  if (updating_) return;
  switch (id) {
    case ids::kText1:
    case ids::kText2:
    case ids::kText3:
      if (code == EN_CHANGE) {
        std::u16string text = FromWide(WindowText(control));
        (id == ids::kText1 ? form_.Text1 : id == ids::kText2 ? form_.Text2 : form_.Text3) = text;
      }
      break;
    case ids::kCheck1:
    case ids::kCheck2:
      if (code == BN_CLICKED) {
        const int state = SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
        (id == ids::kCheck1 ? form_.Check1 : form_.Check2) = state;
      }
      break;
    case ids::kCommand2:  // Apply
      if (code == BN_CLICKED) form_.Command2_Click();
      break;
    case ids::kCommand1:  // Cancel
      if (code == BN_CLICKED) form_.Command1_Click();
      break;
    case ids::kCommand3:  // "..."
      if (code == BN_CLICKED) {
        form_.Command3_Click();
        ShowTexts();
      }
      break;
  }
}

LRESULT FormWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lParam);
      if (labelBrush_ && GetDlgCtrlID(control) == ids::kLabel1 + 9) {
        // Align the banner pattern with the banner under the label.
        RECT label;
        GetWindowRect(control, &label);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&label), 2);
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetBrushOrgEx(dc, -label.left, 3840 / kTwipsPerPixel - label.top, nullptr);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(labelBrush_);
      }
      break;
    }
    case WM_CLOSE:
      // The window's close command unloads the form without storing.
      form_.Form_Close();
      return 0;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK FormWindow::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || self->window_ != window) return DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

// Frame1 is a container: it draws its etched border and caption and passes
// its children's notifications on to the form.
LRESULT CALLBACK FormWindow::FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORSTATIC:
      if (self) return self->HandleMessage(message, wParam, lParam);
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      const HFONT old = static_cast<HFONT>(
          SelectObject(dc, self && self->font_ ? self->font_ : GetStockObject(DEFAULT_GUI_FONT)));
      TEXTMETRICW metrics;
      GetTextMetricsW(dc, &metrics);
      RECT border = client;
      border.top = metrics.tmHeight / 2;
      DrawEdge(dc, &border, EDGE_ETCHED, BF_RECT);
      const std::wstring caption = WindowText(window);
      SIZE extent;
      GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
      RECT label = {6, 0, 6 + extent.cx + 4, metrics.tmHeight};
      FillRect(dc, &label, GetSysColorBrush(COLOR_BTNFACE));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      TextOutW(dc, 8, 0, caption.c_str(), static_cast<int>(caption.size()));
      SelectObject(dc, old);
      EndPaint(window, &paint);
      return 0;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool FormWindow::MoveFocus(HWND from, bool backwards) {
  const int count = static_cast<int>(std::size(kTabOrder));
  int at = -1;
  for (int i = 0; i < count; ++i) {
    const HWND control = Control(kTabOrder[i]);
    if (control == from || IsChild(control, from)) at = i;
  }
  for (int step = 1; step <= count; ++step) {
    const int next =
        ((at < 0 ? (backwards ? 0 : -1) : at) + (backwards ? -step : step) + 2 * count) % count;
    const HWND control = Control(kTabOrder[next]);
    if (IsWindowEnabled(control) && IsWindowVisible(control)) {
      SetFocus(control);
      if (GetDlgCtrlID(control) == ids::kText1) SendMessageW(control, EM_SETSEL, 0, -1);
      return true;
    }
  }
  return false;
}

BOOL CALLBACK CollectEnabledWindow(HWND other, LPARAM list) {
  if (IsWindowVisible(other) && IsWindowEnabled(other)) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(other);
  }
  return TRUE;
}

void FormWindow::RunModal() {
  current_ = window_;
  // Activation loads the stored settings, so the user starts from them.
  form_.Form_Activate();
  ShowTexts();

  // Modal to the rest of this thread's windows, as the host's own dialogs.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow,
                    reinterpret_cast<LPARAM>(&disabled));
  for (HWND other : disabled) EnableWindow(other, FALSE);

  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
  SetFocus(Control(ids::kCommand2));

  MSG msg;
  bool quit = false;
  while (form_.visible() && !form_.unloaded()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      quit = got == 0;
      break;
    }
    const bool ours = msg.hwnd == window_ || IsChild(window_, msg.hwnd);
    if (ours && msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
      MoveFocus(GetFocus(), GetKeyState(VK_SHIFT) < 0);
      continue;
    }
    if (ours && msg.message == WM_CHAR && msg.wParam == L'\t') continue;
    if (ours && IsDialogMessageW(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  for (HWND other : disabled) {
    if (IsWindow(other)) EnableWindow(other, TRUE);
  }
  ShowWindow(window_, SW_HIDE);
  // The quit request belongs to the host's message loop.
  if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
}

}  // namespace

void Win32FormView::RunModal(frmOptions& form) {
  FormWindow window(form, window_);
  if (!window.Create()) return;
  window.RunModal();
}

std::u16string Win32FormView::BrowseForFolder(frmOptions&) {
  // The wide calls: a folder outside the ANSI code page comes back as it
  // is, not with "?" for the characters the code page lacks.
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW info = {};
  info.hwndOwner = window_;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName;
  info.lpszTitle = L"Select Profile Export Directory";
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = nullptr;
  info.lParam = 0;
  info.iImage = 0;
  PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
  if (!item) return {};
  wchar_t path[MAX_PATH] = {};
  std::u16string result;
  if (SHGetPathFromIDListW(item, path)) result = FromWide(path);
  CoTaskMemFree(item);
  return result;
}

}  // namespace zuvo
