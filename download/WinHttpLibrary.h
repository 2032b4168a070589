#pragma once
// WinHTTP, reached through a table of its functions. It is not among the DLLs Windows
// always takes from its own folder, so importing it would let a winhttp.dll placed beside
// the installer (a Downloads folder) run with administrator rights; it is loaded from the
// system folder only instead.
#include <windows.h>
#include <winhttp.h>

class WinHttpLibrary {
public:
  // Loaded on first use and kept until the process ends; safe from any thread.
  static const WinHttpLibrary& get();

  // False when the DLL or one of the functions could not be found: no call may be made.
  bool loaded() const { return loaded_; }

  decltype(&::WinHttpOpen) open = nullptr;
  decltype(&::WinHttpCrackUrl) crackUrl = nullptr;
  decltype(&::WinHttpConnect) connect = nullptr;
  decltype(&::WinHttpOpenRequest) openRequest = nullptr;
  decltype(&::WinHttpSetOption) setOption = nullptr;
  decltype(&::WinHttpAddRequestHeaders) addRequestHeaders = nullptr;
  decltype(&::WinHttpSetStatusCallback) setStatusCallback = nullptr;
  decltype(&::WinHttpSendRequest) sendRequest = nullptr;
  decltype(&::WinHttpReceiveResponse) receiveResponse = nullptr;
  decltype(&::WinHttpQueryHeaders) queryHeaders = nullptr;
  decltype(&::WinHttpQueryDataAvailable) queryDataAvailable = nullptr;
  decltype(&::WinHttpReadData) readData = nullptr;
  decltype(&::WinHttpCloseHandle) closeHandle = nullptr;
  decltype(&::WinHttpSetTimeouts) setTimeouts = nullptr;
  decltype(&::WinHttpGetIEProxyConfigForCurrentUser) getUserProxyConfig = nullptr;
  decltype(&::WinHttpGetProxyForUrl) getProxyForUrl = nullptr;

private:
  WinHttpLibrary();
  bool loaded_ = false;
};
