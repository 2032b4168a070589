// The control for the planted-DLL tests: a program that imports winhttp.dll the plain
// way. Where the test's environment lets a DLL beside a program win, this one loads it.
#include <windows.h>
#include <winhttp.h>

int main() { return WinHttpCheckPlatform() ? 0 : 1; }
