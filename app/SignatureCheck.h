#pragma once
// A package's signature read on a thread of its own. The system hashes the whole file to
// judge it, seconds for a package of gigabytes, so the window's thread only starts the
// check and takes the verdict when `kDoneMessage` arrives.
//
//   SignatureCheck(window, path)   starts reading; posts kDoneMessage to `window` when done.
//   verdict()                      waits for the reading (done once the message came).
// Destruction waits for a reading still under way.
#include <windows.h>

#include <string>
#include <thread>

#include "app/PackageSignature.h"

class SignatureCheck {
public:
  static constexpr UINT kDoneMessage = WM_APP + 68;

  SignatureCheck(HWND window, std::wstring path);
  SignatureCheck(const SignatureCheck&) = delete;
  SignatureCheck& operator=(const SignatureCheck&) = delete;
  ~SignatureCheck();

  const PackageSignature& verdict();

private:
  PackageSignature signature_;
  std::thread reader_;
};
