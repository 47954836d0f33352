// <windows.h> for the files that call Win32 directly.  It defines
// CreateFile, DeleteFile, ReplaceFile and Yield as macros, which would
// rename the Platform operations of those names wherever platform.h is
// read after it (and not where it is read before); they are removed here
// once.  Use the A/W functions by their own names (CreateFileA,
// DeleteFileA, ReplaceFileA).
#pragma once

#include <windows.h>

#undef CreateFile
#undef DeleteFile
#undef ReplaceFile
#undef Yield
