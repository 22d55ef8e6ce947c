#include "step_loop.h"
