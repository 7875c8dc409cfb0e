// Paths of the program's code page as the system's wide-character calls take
// them, at any length.
#pragma once

#include <windows.h>

#include <string>

#include "batch/platform.h"

// `path`, in the program's code page, as the wide calls take it at any
// length: converted as the ANSI calls convert it, made full against the
// current folder, in its long form.
SystemError WidePath(const char* path, std::wstring& wide);

// A name from a wide call in the program's code page; false when the code
// page has no character for one of its own (Windows before 10 1903, whose
// code page is not UTF-8).
bool NarrowName(const wchar_t* name, std::string& narrow);
