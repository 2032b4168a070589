#include "app/SignatureCheck.h"

SignatureCheck::SignatureCheck(HWND window, const HeldPackage& package, bool digest, bool signature)
    : reader_([this, window, &package, digest, signature] {
        if (digest)
          md5_ = package.md5();
        if (signature)
          signature_ = PackageSignature::read(package.path(), package.handle());
        PostMessageA(window, kDoneMessage, 0, 0);
      }) {}

SignatureCheck::~SignatureCheck() { wait(); }

void SignatureCheck::wait() {
  if (reader_.joinable())
    reader_.join();
}

const PackageSignature& SignatureCheck::verdict() {
  wait();
  return signature_;
}

const std::string& SignatureCheck::md5() {
  wait();
  return md5_;
}
