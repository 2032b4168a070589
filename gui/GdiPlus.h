#pragma once
// GDI+ with what it needs from the system headers (the build leaves COM's out).
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
