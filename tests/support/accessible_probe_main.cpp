// What a screen reader sees of the installer's window, through the system's accessibility
// library only (AccessibleObjectFromWindow, SetWinEventHook):
//   accessible_probe tree <title>           the client area, then each child: role, name,
//                                           state, value, screen rectangle (tab separated, UTF-8)
//   accessible_probe press <title> <name>   accDoDefaultAction on the child so named
//   accessible_probe watch <title> <log> <seconds> <name>
//                                           takes the focus to <name>, then logs the focus,
//                                           value and show events ("value\t35%") until
//                                           <log>.stop appears or <seconds> pass
//   accessible_probe contrast               sets the window and text colours of a
//                                           high-contrast scheme (yellow on black) for the
//                                           session's programs started after it
#include <windows.h>
#include <oleacc.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// The import library's IID_IAccessible resolves to a stub, not the data.
const IID kIAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
std::wstring g_title;
HWND g_window = nullptr;
FILE* g_log = nullptr;

BOOL CALLBACK match(HWND window, LPARAM) {
  wchar_t text[256] = {}, cls[64] = {};
  GetWindowTextW(window, text, 256);
  GetClassNameW(window, cls, 64);
  const bool found = IsWindowVisible(window) && std::wstring(cls) == L"SimpleWindow" &&
                     std::wstring(text).compare(0, g_title.size(), g_title) == 0;
  if (found) g_window = window;
  return !found;
}

std::string utf8(const std::wstring& text) {
  std::string out(text.size() * 3, '\0');
  out.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], int(out.size()),
                                        nullptr, nullptr)));
  return out;
}

VARIANT child(LONG id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

// Name (or value) of a child as UTF-8.
std::string text(IAccessible* acc, LONG id, bool value = false) {
  BSTR s = nullptr;
  value ? acc->get_accValue(child(id), &s) : acc->get_accName(child(id), &s);
  const std::wstring out = s ? std::wstring(s, SysStringLen(s)) : std::wstring();
  SysFreeString(s);
  return utf8(out);
}

std::string line(IAccessible* acc, LONG id) {
  VARIANT role, state;
  VariantInit(&role);
  VariantInit(&state);
  acc->get_accRole(child(id), &role);
  acc->get_accState(child(id), &state);
  LONG x = 0, y = 0, w = 0, h = 0;
  acc->accLocation(&x, &y, &w, &h, child(id));
  char out[4096];
  std::snprintf(out, sizeof out, "%ld\t%s\t0x%lx\t%s\t%ld,%ld,%ld,%ld\n", role.lVal, text(acc, id).c_str(), state.lVal,
                text(acc, id, true).c_str(), x, y, w, h);
  return out;
}

LONG childNamed(IAccessible* acc, const std::wstring& name) {
  LONG count = 0;
  acc->get_accChildCount(&count);
  for (LONG id = 1; id <= count; ++id)
    if (text(acc, id) == utf8(name)) return id;
  return 0;
}

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG id, DWORD, DWORD) {
  IAccessible* acc = nullptr;
  VARIANT which;
  VariantInit(&which);
  if (object != OBJID_CLIENT || FAILED(AccessibleObjectFromEvent(window, DWORD(object), DWORD(id), &acc, &which)))
    return;
  const bool value = event == EVENT_OBJECT_VALUECHANGE;
  const char* kind = value ? "value" : event == EVENT_OBJECT_FOCUS ? "focus" : event == EVENT_OBJECT_SHOW ? "show" : "";
  if (*kind) std::fprintf(g_log, "%s\t%s\n", kind, text(acc, which.lVal, value).c_str());
  std::fflush(g_log);
  acc->Release();
}

} // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"contrast") {
    // The programs already running keep the colours they read; each window is told.
    const int elements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
    const COLORREF colours[] = {RGB(0, 0, 0), RGB(255, 255, 0)};
    return SetSysColors(2, elements, colours) ? 0 : 6;
  }
  if (argc < 3) return 2;
  CoInitialize(nullptr);
  g_title = argv[2];
  EnumWindows(match, 0);
  IAccessible* acc = nullptr;
  if (!g_window || FAILED(AccessibleObjectFromWindow(g_window, DWORD(OBJID_CLIENT), kIAccessible,
                                                     reinterpret_cast<void**>(&acc))))
    return 3;
  int code = 0;
  if (mode == L"tree") {
    LONG count = 0;
    acc->get_accChildCount(&count);
    std::string out;
    for (LONG id = CHILDID_SELF; id <= count; ++id) out += line(acc, id);
    std::fwrite(out.data(), 1, out.size(), stdout);
  } else if (mode == L"press" && argc >= 4) {
    const LONG id = childNamed(acc, argv[3]);
    code = id && SUCCEEDED(acc->accDoDefaultAction(child(id))) ? 0 : 4;
  } else if (mode == L"watch" && argc >= 6 && (g_log = _wfopen(argv[3], L"wb"))) {
    DWORD process = 0;
    GetWindowThreadProcessId(g_window, &process);
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_VALUECHANGE, nullptr, onEvent, process, 0,
                                         WINEVENT_OUTOFCONTEXT);
    if (const LONG id = childNamed(acc, argv[5])) acc->accSelect(SELFLAG_TAKEFOCUS, child(id));
    const std::wstring stop = std::wstring(argv[3]) + L".stop";
    const DWORD end = GetTickCount() + DWORD(_wtoi(argv[4])) * 1000;
    while (hook && GetTickCount() < end && GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    code = hook ? 0 : 5;
    if (hook) UnhookWinEvent(hook);
    std::fclose(g_log);
  }
  acc->Release();
  CoUninitialize();
  return code;
}
