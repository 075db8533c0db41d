// A library loaded before msgstore that defines one of its platform
// functions under the same name: calls that reach it are counted, and it
// claims every path exists.
#include "msgstore/platform.h"

int g_interposed_calls = 0;

DWORD GetFileAttributesW(const WCHAR*) {
  ++g_interposed_calls;
  return FILE_ATTRIBUTE_DIRECTORY;
}
