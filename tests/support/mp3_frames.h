#pragma once

// The MPEG audio Layer III frames of a file, read from their headers and side information:
// enough to tell whether an encoder used the bit reservoir (a frame whose main data begins
// in an earlier frame has a main_data_begin above zero).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace melvanto::testing {

struct Mp3Frame {
  std::size_t Offset = 0, Bytes = 0;
  unsigned MainDataBegin = 0;
};

// Every frame from the first header (after an ID3v2 tag) to the first byte that starts
// none (an ID3v1 record, the end); empty when the file starts with no frame.
inline std::vector<Mp3Frame> Mp3Frames(const std::vector<std::uint8_t>& file) {
  static const unsigned kKbpsV1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static const unsigned kKbpsV2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
  static const unsigned kRates[3] = {44100, 48000, 32000};
  std::size_t at = 0;
  if (file.size() >= 10 && file[0] == 'I' && file[1] == 'D' && file[2] == '3')
    at = 10 + ((file[6] & 0x7Fu) << 21 | (file[7] & 0x7Fu) << 14 | (file[8] & 0x7Fu) << 7 | (file[9] & 0x7Fu));
  std::vector<Mp3Frame> frames;
  while (at + 6 <= file.size() && file[at] == 0xFF && (file[at + 1] & 0xE0) == 0xE0) {
    const unsigned version = (file[at + 1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const unsigned layer = (file[at + 1] >> 1) & 3;    // 1 is Layer III
    const unsigned rateIndex = (file[at + 2] >> 2) & 3;
    if (version == 1 || layer != 1 || rateIndex == 3) break;
    const bool mpeg1 = version == 3;
    const unsigned kbps = (mpeg1 ? kKbpsV1 : kKbpsV2)[file[at + 2] >> 4];
    const unsigned rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    if (kbps == 0) break;
    const std::size_t bytes = (mpeg1 ? 144000u : 72000u) * kbps / rate + ((file[at + 2] >> 1) & 1);
    if (at + bytes > file.size()) break;
    const std::size_t side = at + 4 + ((file[at + 1] & 1) == 0 ? 2 : 0);  // after the CRC if any
    const unsigned first = file[side], second = file[side + 1];
    const unsigned begin = mpeg1 ? (first << 1 | second >> 7) : first;
    frames.push_back({at, bytes, begin});
    at += bytes;
  }
  return frames;
}

}  // namespace melvanto::testing
