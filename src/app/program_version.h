#pragma once

namespace melvanto {

// The one version number both programs show ("2.0").
const char* ProgramVersion();
// The day the build was configured, as YYYYMMDD (from SOURCE_DATE_EPOCH when set, so that a
// package build is reproducible).
const char* BuildDate();
// The licence the program is under; Debian's FFmpeg, built with its GPL parts, requires it.
const char* ProgramLicence();

}  // namespace melvanto
