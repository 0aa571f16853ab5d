// <windows.h> for the Windows bindings. The seams name their operations after the
// Windows functions, which <windows.h> defines as macros for their A/W forms;
// those macros are removed here so the names stay the seams' own. Bindings call
// the W forms explicitly.
#pragma once

#include <windows.h>

#undef CreateProcess
#undef DeleteFile
#undef FindFirstFile
#undef GetFileAttributes
#undef GetPrivateProfileString
#undef GetTempPath
#undef QueryFullProcessImageName
#undef SearchPath
#undef WritePrivateProfileString
