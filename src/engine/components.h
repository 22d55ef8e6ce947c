#pragma once

// The pipeline components in one include: inputs, outputs, their threads and events.
#include "au_exception.h"
#include "au_thread.h"
#include "component.h"
#include "event_handler.h"
#include "file_stream.h"
#include "input.h"
#include "main_thread.h"
#include "output.h"
#include "stream.h"
#include "tagged_file.h"
#include "wide_name.h"
