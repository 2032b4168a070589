// GDI+ from the system folder only. gdiplus.dll is not a known DLL on every Windows the
// installer runs on, so an import of it would be looked for beside the program first,
// where a planted copy would run with administrator rights. Instead, each flat function
// the wrapper classes of <gdiplus.h> call is defined here as a jump through its own slot.
// A slot holds a stand-in that fails like GDI+ before its start (GdiplusNotInitialized,
// or no memory from GdipAlloc) until the first GdiplusStartup loads the DLL from the
// system folder and fills every slot. The stand-ins pop their arguments as the real
// functions do, so a caller's stack stays right either way.
#include "gui/GdiPlus.h"

// X(name, bytes of arguments on i686, what the stand-in returns: 18 is GdiplusNotInitialized).
// A call to a flat function missing here fails to link, so the list cannot fall behind.
#define QX_GDIPLUS_FUNCTIONS(X) \
  X(GdipAddPathPath, 12, 18) \
  X(GdipAddPathString, 32, 18) \
  X(GdipAlloc, 4, 0) \
  X(GdipBitmapGetPixel, 16, 18) \
  X(GdipBitmapLockBits, 20, 18) \
  X(GdipBitmapUnlockBits, 8, 18) \
  X(GdipCloneBrush, 8, 18) \
  X(GdipCloneImage, 8, 18) \
  X(GdipCreateBitmapFromFile, 8, 18) \
  X(GdipCreateBitmapFromScan0, 24, 18) \
  X(GdipCreateBitmapFromStream, 8, 18) \
  X(GdipCreateFontFamilyFromName, 12, 18) \
  X(GdipCreateFromHDC, 8, 18) \
  X(GdipCreateImageAttributes, 4, 18) \
  X(GdipCreateMatrix, 4, 18) \
  X(GdipCreatePath, 8, 18) \
  X(GdipCreateSolidFill, 8, 18) \
  X(GdipCreateStringFormat, 12, 18) \
  X(GdipDeleteBrush, 4, 18) \
  X(GdipDeleteFontFamily, 4, 18) \
  X(GdipDeleteGraphics, 4, 18) \
  X(GdipDeleteMatrix, 4, 18) \
  X(GdipDeletePath, 4, 18) \
  X(GdipDeleteStringFormat, 4, 18) \
  X(GdipDisposeImage, 4, 18) \
  X(GdipDisposeImageAttributes, 4, 18) \
  X(GdipDrawImageRectI, 24, 18) \
  X(GdipDrawImageRectRectI, 56, 18) \
  X(GdipFillPath, 12, 18) \
  X(GdipFree, 4, 18) \
  X(GdipGetImageEncoders, 12, 18) \
  X(GdipGetImageEncodersSize, 8, 18) \
  X(GdipGetImageGraphicsContext, 8, 18) \
  X(GdipGetImageHeight, 8, 18) \
  X(GdipGetImagePixelFormat, 8, 18) \
  X(GdipGetImageWidth, 8, 18) \
  X(GdipGetPathWorldBounds, 16, 18) \
  X(GdipGraphicsClear, 8, 18) \
  X(GdipResetPath, 4, 18) \
  X(GdipSaveImageToFile, 16, 18) \
  X(GdipScaleMatrix, 16, 18) \
  X(GdipSetCompositingMode, 8, 18) \
  X(GdipSetCompositingQuality, 8, 18) \
  X(GdipSetImageAttributesWrapMode, 16, 18) \
  X(GdipSetInterpolationMode, 8, 18) \
  X(GdipSetPageUnit, 8, 18) \
  X(GdipSetPathFillMode, 8, 18) \
  X(GdipSetPixelOffsetMode, 8, 18) \
  X(GdipSetSmoothingMode, 8, 18) \
  X(GdipTransformPath, 8, 18) \
  X(GdipTranslateMatrix, 16, 18) \
  X(GdiplusShutdown, 4, 0)

#if defined(__i386__)
#define QX_GDIPLUS_THUNK(name, bytes, fails)                                                     \
  ".globl _" #name "@" #bytes "\n_" #name "@" #bytes ":\n\tjmp *_qxGdiplusSlot_" #name "\n"     \
  "_qxGdiplusFails_" #name ":\n\tmovl $" #fails ", %eax\n\tret $" #bytes "\n"
#define QX_GDIPLUS_STARTUP_THUNK ".globl _GdiplusStartup@12\n_GdiplusStartup@12:\n\tjmp *_qxGdiplusSlot_GdiplusStartup\n"
#else
#define QX_GDIPLUS_THUNK(name, bytes, fails)                                                     \
  ".globl " #name "\n" #name ":\n\tjmp *qxGdiplusSlot_" #name "(%rip)\n"                          \
  "qxGdiplusFails_" #name ":\n\tmovl $" #fails ", %eax\n\tret\n"
#define QX_GDIPLUS_STARTUP_THUNK ".globl GdiplusStartup\nGdiplusStartup:\n\tjmp *qxGdiplusSlot_GdiplusStartup(%rip)\n"
#endif

asm(".text\n" QX_GDIPLUS_FUNCTIONS(QX_GDIPLUS_THUNK) QX_GDIPLUS_STARTUP_THUNK);

namespace {

Gdiplus::Status WINAPI loadAndStart(ULONG_PTR* token, const Gdiplus::GdiplusStartupInput* input,
                                    Gdiplus::GdiplusStartupOutput* output);

} // namespace

// The slots, each first holding its stand-in; the stand-ins are labels of the block above.
#define QX_GDIPLUS_DECLARE(name, bytes, fails) void qxGdiplusFails_##name();
#define QX_GDIPLUS_SLOT(name, bytes, fails) void* qxGdiplusSlot_##name = reinterpret_cast<void*>(&qxGdiplusFails_##name);
extern "C" {
QX_GDIPLUS_FUNCTIONS(QX_GDIPLUS_DECLARE)
QX_GDIPLUS_FUNCTIONS(QX_GDIPLUS_SLOT)
void* qxGdiplusSlot_GdiplusStartup = reinterpret_cast<void*>(&loadAndStart);
}

namespace {

struct Slot {
  const char* name;
  void** slot;
};

#define QX_GDIPLUS_ENTRY(name, bytes, fails) {#name, &qxGdiplusSlot_##name},
const Slot kSlots[] = {QX_GDIPLUS_FUNCTIONS(QX_GDIPLUS_ENTRY){"GdiplusStartup", &qxGdiplusSlot_GdiplusStartup}};

// Every slot is filled, or none: a half-loaded GDI+ would mix real calls with stand-ins.
Gdiplus::Status WINAPI loadAndStart(ULONG_PTR* token, const Gdiplus::GdiplusStartupInput* input,
                                    Gdiplus::GdiplusStartupOutput* output) {
  HMODULE module = LoadLibraryExW(L"gdiplus.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module)
    return Gdiplus::GdiplusNotInitialized;
  void* found[sizeof kSlots / sizeof kSlots[0]] = {};
  for (size_t i = 0; i < sizeof kSlots / sizeof kSlots[0]; ++i) {
    found[i] = reinterpret_cast<void*>(GetProcAddress(module, kSlots[i].name));
    if (!found[i])
      return Gdiplus::GdiplusNotInitialized;
  }
  for (size_t i = 0; i < sizeof kSlots / sizeof kSlots[0]; ++i)
    *kSlots[i].slot = found[i];
  return reinterpret_cast<decltype(&loadAndStart)>(qxGdiplusSlot_GdiplusStartup)(token, input, output);
}

} // namespace
