#pragma once
// A held package's digest and signature read on a thread of its own. The system hashes
// the whole file to judge it, seconds for a package of gigabytes, so the window's thread
// only starts the check and takes the results when `kDoneMessage` arrives.
//
//   SignatureCheck(window, package, digest, signature)
//                   starts reading through the package's handle: its MD5 when `digest`,
//                   its signature when `signature`; posts kDoneMessage to `window` when done.
//   verdict(), md5()  wait for the reading (done once the message came).
// The package must outlive the check; destruction waits for a reading still under way.
#include <windows.h>

#include <string>
#include <thread>

#include "app/HeldPackage.h"
#include "app/PackageSignature.h"

class SignatureCheck {
public:
  static constexpr UINT kDoneMessage = WM_APP + 68;

  SignatureCheck(HWND window, const HeldPackage& package, bool digest, bool signature);
  SignatureCheck(const SignatureCheck&) = delete;
  SignatureCheck& operator=(const SignatureCheck&) = delete;
  ~SignatureCheck();

  const PackageSignature& verdict();
  // Lowercase hex; empty when not asked for or unreadable.
  const std::string& md5();

private:
  void wait();

  PackageSignature signature_;
  std::string md5_;
  std::thread reader_;
};
