#pragma once
// <windows.h> for the Windows-only files: without the min/max macros (they break std::min and
// Qt's headers) and without the rarely used parts.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
