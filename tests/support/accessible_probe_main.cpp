// What a screen reader sees of the installer's window, through the system's accessibility
// library only (AccessibleObjectFromWindow, SetWinEventHook):
//   accessible_probe tree <title>                   one line per child of the client area:
//                                                   role, name, state, value, screen rectangle
//                                                   (tab separated, UTF-8)
//   accessible_probe press <title> <name>           accDoDefaultAction on the child so named
//   accessible_probe watch <title> <log> <seconds> <name>
//                                                   logs the window's focus, state, value and
//                                                   show/hide events ("focus\t<name>", ...),
//                                                   after taking the focus to <name>; ends at
//                                                   <log>.stop or after <seconds>
#include <windows.h>
#include <oleacc.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

// The import library's IID_IAccessible resolves to a stub, not the data.
const IID kIAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

struct Found {
  std::wstring title;
  HWND window = nullptr;
};

BOOL CALLBACK match(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<Found*>(data);
  wchar_t text[256] = {}, cls[64] = {};
  GetWindowTextW(window, text, 256);
  GetClassNameW(window, cls, 64);
  if (IsWindowVisible(window) && std::wstring(cls) == L"SimpleWindow" &&
      std::wstring(text).compare(0, found->title.size(), found->title) == 0) {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring take(BSTR text) {
  std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return out;
}

VARIANT child(LONG id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

std::wstring nameOf(IAccessible* acc, LONG id) {
  BSTR name = nullptr;
  acc->get_accName(child(id), &name);
  return take(name);
}

std::wstring valueOf(IAccessible* acc, LONG id) {
  BSTR value = nullptr;
  acc->get_accValue(child(id), &value);
  return take(value);
}

std::string line(IAccessible* acc, LONG id) {
  VARIANT role, state;
  VariantInit(&role);
  VariantInit(&state);
  acc->get_accRole(child(id), &role);
  acc->get_accState(child(id), &state);
  LONG x = 0, y = 0, w = 0, h = 0;
  acc->accLocation(&x, &y, &w, &h, child(id));
  char numbers[3][64];
  std::snprintf(numbers[0], 64, "%ld", role.vt == VT_I4 ? role.lVal : -1L);
  std::snprintf(numbers[1], 64, "0x%lx", state.vt == VT_I4 ? state.lVal : 0L);
  std::snprintf(numbers[2], 64, "%ld,%ld,%ld,%ld", x, y, w, h);
  return std::string(numbers[0]) + "\t" + utf8(nameOf(acc, id)) + "\t" + numbers[1] + "\t" +
         utf8(valueOf(acc, id)) + "\t" + numbers[2] + "\n";
}

LONG childNamed(IAccessible* acc, const std::wstring& name) {
  LONG count = 0;
  acc->get_accChildCount(&count);
  for (LONG id = 1; id <= count; ++id)
    if (nameOf(acc, id) == name) return id;
  return 0;
}

FILE* g_log = nullptr;

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG id, DWORD, DWORD) {
  if (object != OBJID_CLIENT) return;
  IAccessible* acc = nullptr;
  VARIANT which;
  VariantInit(&which);
  if (FAILED(AccessibleObjectFromEvent(window, DWORD(object), DWORD(id), &acc, &which)) || !acc) return;
  const LONG childId = which.vt == VT_I4 ? which.lVal : CHILDID_SELF;
  const char* kind = event == EVENT_OBJECT_FOCUS         ? "focus"
                     : event == EVENT_OBJECT_VALUECHANGE ? "value"
                     : event == EVENT_OBJECT_STATECHANGE ? "state"
                     : event == EVENT_OBJECT_SHOW        ? "show"
                     : event == EVENT_OBJECT_HIDE        ? "hide"
                                                         : nullptr;
  if (kind) {
    const std::wstring detail = event == EVENT_OBJECT_VALUECHANGE ? valueOf(acc, childId) : nameOf(acc, childId);
    std::fprintf(g_log, "%s\t%s\n", kind, utf8(detail).c_str());
    std::fflush(g_log);
  }
  acc->Release();
}

} // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 3) return 2;
  const std::wstring mode = argv[1];
  CoInitialize(nullptr);
  Found found;
  found.title = argv[2];
  EnumWindows(match, reinterpret_cast<LPARAM>(&found));
  if (!found.window) return 3;
  IAccessible* acc = nullptr;
  if (FAILED(AccessibleObjectFromWindow(found.window, DWORD(OBJID_CLIENT), kIAccessible,
                                        reinterpret_cast<void**>(&acc))) || !acc)
    return 4;
  int code = 0;
  if (mode == L"tree") {
    LONG count = 0;
    acc->get_accChildCount(&count);
    std::string out = line(acc, CHILDID_SELF);
    for (LONG id = 1; id <= count; ++id) out += line(acc, id);
    std::fwrite(out.data(), 1, out.size(), stdout);
  } else if (mode == L"press" && argc >= 4) {
    const LONG id = childNamed(acc, argv[3]);
    code = id && SUCCEEDED(acc->accDoDefaultAction(child(id))) ? 0 : 5;
  } else if (mode == L"watch" && argc >= 6) {
    const std::wstring log = argv[3];
    g_log = _wfopen(log.c_str(), L"wb");
    if (!g_log) return 6;
    DWORD process = 0;
    GetWindowThreadProcessId(found.window, &process);
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_VALUECHANGE, nullptr, onEvent, process, 0,
                                         WINEVENT_OUTOFCONTEXT);
    if (!hook) return 7;
    std::fprintf(g_log, "hooked\n");
    std::fflush(g_log);
    const LONG id = childNamed(acc, argv[5]);
    if (id) acc->accSelect(SELFLAG_TAKEFOCUS, child(id));
    const std::wstring stop = log + L".stop";
    const DWORD end = GetTickCount() + DWORD(_wtoi(argv[4])) * 1000;
    while (GetTickCount() < end && GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    UnhookWinEvent(hook);
    std::fclose(g_log);
  }
  acc->Release();
  CoUninitialize();
  return code;
}
