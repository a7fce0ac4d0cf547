// <windows.h> for the Windows programs and files that call Windows themselves
// (the forwarders, the inspector, the benchmark's stopwatch), followed by the
// platform's declarations: the types agree, the constants are the system's
// macros, and calls made here go to Windows directly.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// 32-bit Windows has no GetClassLongPtrW: the header maps the name to
// GetClassLongW by a macro, which would rename the platform's own call too.
#undef GetClassLongPtrW

#include "platform.h"
