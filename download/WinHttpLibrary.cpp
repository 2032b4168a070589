#include "download/WinHttpLibrary.h"

namespace {

template <typename Function>
bool bind(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(GetProcAddress(module, name));
  return function != nullptr;
}

} // namespace

const WinHttpLibrary& WinHttpLibrary::get() {
  static const WinHttpLibrary library;
  return library;
}

WinHttpLibrary::WinHttpLibrary() {
  HMODULE module = LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module)
    return;
  loaded_ = bind(module, "WinHttpOpen", open) && bind(module, "WinHttpCrackUrl", crackUrl) &&
            bind(module, "WinHttpConnect", connect) && bind(module, "WinHttpOpenRequest", openRequest) &&
            bind(module, "WinHttpSetOption", setOption) &&
            bind(module, "WinHttpAddRequestHeaders", addRequestHeaders) &&
            bind(module, "WinHttpSetStatusCallback", setStatusCallback) &&
            bind(module, "WinHttpSendRequest", sendRequest) &&
            bind(module, "WinHttpReceiveResponse", receiveResponse) &&
            bind(module, "WinHttpQueryHeaders", queryHeaders) &&
            bind(module, "WinHttpQueryDataAvailable", queryDataAvailable) &&
            bind(module, "WinHttpReadData", readData) && bind(module, "WinHttpCloseHandle", closeHandle) &&
            bind(module, "WinHttpSetTimeouts", setTimeouts) &&
            bind(module, "WinHttpGetIEProxyConfigForCurrentUser", getUserProxyConfig) &&
            bind(module, "WinHttpGetProxyForUrl", getProxyForUrl);
}
