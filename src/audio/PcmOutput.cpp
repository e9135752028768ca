#include "audio/PcmOutput.h"
