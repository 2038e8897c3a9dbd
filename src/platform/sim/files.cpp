// Drives, volumes and files: placeholder until the volume functions exist.
#include "platform/sim/sim.h"

void SimResetFiles() {}
