// The simulated "SetupApi.dll": its exported entry points, reached by the
// command only through GetProcAddress.
#pragma once

#include "platform/win32.h"

struct SimExport {
  const char* name;
  FARPROC address;
};

// Every entry point the simulated library exports, by name.
const SimExport* SimSetupApiExports(std::size_t* count);
