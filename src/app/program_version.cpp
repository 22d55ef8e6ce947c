#include "program_version.h"

namespace melvanto {

const char* ProgramVersion() { return MELVANTO_VERSION; }

const char* BuildDate() { return MELVANTO_BUILD_DATE; }

const char* ProgramLicence() { return "GPL 3 or later"; }

}  // namespace melvanto
