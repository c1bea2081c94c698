#include "platform/clip_stream.h"
