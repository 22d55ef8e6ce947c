#pragma once

#include <string>

namespace melvanto::cli {

// With {settings} and {output} filled in by ProgramHelp(); 80 columns.
inline constexpr const char* kProgramHelp = R"(usage: melvanto-cli COMMAND [options] [FILE...]

Converts audio files between WAV, MP3 and WMA with Melvanto's settings, and
shows what the readers see in a file. The settings file is read, never changed.

commands:
  convert DIRECTION [options] FILE...
                  convert files (melvanto-cli convert --help)
  info [--json] FILE...
                  container, encoding, format, length and tags
  codecs [--vbr]  the WMA codecs and formats with their numbers
  stream [options] FILE
                  serve FILE as a live WMA stream (melvanto-cli stream --help)
  genres          the genre names --genre takes

  -h, --help      this text (COMMAND --help for a command's)
  --version       the program's version

reads: WAV (PCM, float, A-law, mu-law, IMA and Microsoft ADPCM, MP3 inside WAV;
  RIFF, RF64 and Wave64 files), MP3 and WMA
settings file: {settings}
default output folder: {output}

exit status: 0 success, 1 a file failed (or was stopped), 2 a usage error,
130 interrupted (Ctrl-C, SIGTERM or SIGHUP).

examples:
  melvanto-cli convert wav-mp3 -o ~/Music/mp3 *.wav
  melvanto-cli convert wma-mp3 --mp3-vbr 2 --overwrite album/*.wma
  melvanto-cli info --json song.mp3
)";

// With the lists in braces filled in by ConvertHelp().
inline constexpr const char* kConvertHelp = R"(usage: melvanto-cli convert DIRECTION [options] FILE...

DIRECTION: {directions}
           (or their numbers {numbers})
A FILE that is a folder adds the direction's source files inside it and in its
subfolders (hidden ones skipped); their outputs keep that tree of subfolders.
Options override the settings file for this run only.

output:
  -o, --output DIR     write the outputs into DIR (made when missing)
  --same-folder        write each output next to its input
  --name PATTERN       name each output from its input's tags, e.g.
                       '{artist}/{album}/{track:02} - {title}'; the fields:
                       {artist} {album} {title} {year} {genre} {name} (the
                       input's name) {track} (its leading number; {track:02}
                       pads it to 2 digits); '/' makes subfolders; the
                       extension is added. '/' and control characters in a
                       value become '_', a value '.' or '..' becomes '_';
                       a longer name than 200 bytes is cut there.
                       A file lacking a field the pattern uses keeps the name
                       it would have without --name.
  --portable-names     with --name: <>:"\|?* and trailing dots and spaces
                       (which FAT and Windows refuse) become '_' too
  --update             skip files whose output is as new as the input or
                       newer; replace older outputs without asking
  --overwrite          replace existing outputs without asking
  --no-overwrite       skip files whose output exists
                       (otherwise: ask on a terminal, skip when not on one)
  -j, --jobs N         convert N files at once (default: one per processor)
  -q, --quiet          no progress and no summary; failures are still reported
tags (MP3 and WMA outputs; the values are used for every file):
  --title TEXT         (one file only)
  --artist TEXT  --album TEXT  --year TEXT  --comment TEXT  --track TEXT
  --genre NAME         a name from 'melvanto-cli genres'
MP3:
  --mp3-cbr KBPS       constant bit rate: {cbr}
  --mp3-vbr Q          variable bit rate, quality 0 (best) .. 9
  --mp3-min KBPS       smallest VBR bit rate     --mp3-max KBPS   largest
  --mp3-mode MODE      {modes}
  --mp3-no-reservoir   no bit reservoir: every frame stands alone
                       (less quality per bit)
WMA:
  --wma-codec N        codec number from 'melvanto-cli codecs'
  --wma-format N       format number of that codec (CBR unless --wma-vbr)
  --wma-vbr            variable bit rate ('codecs --vbr' lists its formats)
WAV output:
  --wav-type TYPE      pcm or ima-adpcm
  --block-size N       IMA ADPCM block size in bytes (a multiple of 4)
  --extensible         extensible header for more than 16 bits or 2 channels
  --append             append to existing WAV outputs of the same format
                       (no question)

Ctrl-C (also SIGTERM, SIGHUP) stops every file being converted (none of them is
written, an existing output stays as it was), prints the summary and exits
with 130.
)";

inline constexpr const char* kInfoHelp = R"(usage: melvanto-cli info [--json] FILE...

For each file: the container (WAV, WMA or MP3, told by content), the WAV
encoding, channels, sample rate, bits per sample, frames, duration and, for MP3
and WMA, the tags.
  --json    one JSON array with an object per file
A missing or unrecognised file is reported on stderr and makes the exit
status 1.
)";

inline constexpr const char* kCodecsHelp = R"(usage: melvanto-cli codecs [--vbr]

The WMA codecs and each one's formats, with the numbers --wma-codec and
--wma-format take.
  --vbr     the formats offered with variable bit rate
)";

inline constexpr const char* kStreamHelp = R"(usage: melvanto-cli stream [options] FILE

Serves FILE (WAV, MP3 or WMA) as a live WMA stream over HTTP, at the pace it
plays, to players that open the address it prints. A line tells of each
listener that comes and goes.
  --port N         TCP port (default 8080; 0 picks a free one)
  --bind ADDR      IPv4 address to listen on; the default 127.0.0.1 keeps the
                   stream on this machine, 0.0.0.0 opens it to every network
                   this machine is on
  --max-clients N  listeners at once (default 5); more are turned away
  --loop           start again at the end of the file, keeping the listeners
  --wma-codec N  --wma-format N  --wma-vbr
                   the WMA encoding, as for convert ('melvanto-cli codecs')
A listener that stops reading holds up no one: it is dropped once a megabyte
(about a minute of the stream) waits for it.
Ends at the end of the file (unless --loop) or on Ctrl-C (also SIGTERM,
SIGHUP) with exit status 0; a file that cannot be read or a port in use: 1.
)";

inline constexpr const char* kGenresHelp = R"(usage: melvanto-cli genres

The genre names that --genre accepts (letter case does not matter).
)";

// kConvertHelp with the directions, bit rates and modes the parser takes.
std::string ConvertHelp();
// kProgramHelp with this user's settings file and default output folder.
std::string ProgramHelp();

}  // namespace melvanto::cli
