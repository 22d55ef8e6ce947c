#include "runner.h"
