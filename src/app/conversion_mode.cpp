#include "conversion_mode.h"
