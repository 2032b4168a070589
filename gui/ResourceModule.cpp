#include "gui/ResourceModule.h"

namespace {
HMODULE g_module = nullptr;
} // namespace

HMODULE ResourceModule::get() { return g_module ? g_module : GetModuleHandleW(nullptr); }

void ResourceModule::set(HMODULE module) { g_module = module; }
