#pragma once
// The program's narrow texts are GBK (code page 936) on every system: literals,
// configuration texts, paths typed or chosen. Wherever one is shown or handed to a wide
// system call it is converted here, explicitly, never through the system's ANSI code
// page, so an English or Japanese Windows shows the same Chinese. Names compared byte
// for byte stay narrow.
#include <string>

std::wstring gbkToWide(const std::string& text);
std::string wideToGbk(const std::wstring& text);
