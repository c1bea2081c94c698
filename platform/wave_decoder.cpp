#include "platform/wave_decoder.h"
