#include "audio/level.h"

int32_t gEnergy;
