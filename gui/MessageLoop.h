#pragma once
// Window class registration and the UI thread's message loop.
#include <windows.h>

// Registers "SimpleWindow" and initialises the common controls; a failure is shown in a
// message box and start-up goes on.
void registerWindowClass(HINSTANCE moduleInstance);
// The instance given to registerWindowClass (the process's own module before that).
HINSTANCE moduleInstance();
// Runs until WM_QUIT and returns its code; -1 when a message cannot be fetched. Queued
// messages of a "SimpleWindow" window (or of its child windows) are first offered to
// the window object's preTranslateMessage.
int runMessageLoop();
