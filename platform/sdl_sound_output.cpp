#include "platform/sdl_sound_output.h"
