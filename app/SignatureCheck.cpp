#include "app/SignatureCheck.h"

#include <utility>

SignatureCheck::SignatureCheck(HWND window, std::wstring path)
    : reader_([this, window, path = std::move(path)] {
        signature_ = PackageSignature::read(path);
        PostMessageA(window, kDoneMessage, 0, 0);
      }) {}

SignatureCheck::~SignatureCheck() {
  if (reader_.joinable())
    reader_.join();
}

const PackageSignature& SignatureCheck::verdict() {
  if (reader_.joinable())
    reader_.join();
  return signature_;
}
