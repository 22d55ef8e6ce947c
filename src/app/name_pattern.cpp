#include "name_pattern.h"

#include <array>
#include <string_view>

#include "conversion_mode.h"
#include "id3.h"
#include "text_codec.h"

namespace melvanto {

namespace {

constexpr std::array<std::string_view, 7> kFields = {"artist", "album", "title", "track",
                                                     "year",   "genre", "name"};

const std::string& ValueOf(const TNameFields& fields, const std::string& field) {
  if (field == "artist") return fields.Artist;
  if (field == "album") return fields.Album;
  if (field == "title") return fields.Title;
  if (field == "track") return fields.Track;
  if (field == "year") return fields.Year;
  if (field == "genre") return fields.Genre;
  return fields.Name;
}

// "{track:02}" -> field "track", width 2; false when the braces hold no known field.
bool ParseField(const std::string& inside, TNamePattern::TPiece& piece) {
  const auto colon = inside.find(':');
  piece.Field = inside.substr(0, colon);
  bool known = false;
  for (const std::string_view f : kFields) known = known || f == piece.Field;
  if (!known) return false;
  if (colon == std::string::npos) return true;
  // Only the track is a number to pad: "0" and one digit.
  const std::string format = inside.substr(colon + 1);
  if (piece.Field != "track" || format.size() != 2 || format[0] != '0' || format[1] < '1' || format[1] > '9')
    return false;
  piece.Width = format[1] - '0';
  return true;
}

bool IsControl(const std::string& s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  // C0, DEL, and C1 as UTF-8 (0xC2 0x80..0x9F).
  return c < 0x20 || c == 0x7F ||
         (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0x9F &&
          static_cast<unsigned char>(s[i + 1]) >= 0x80);
}

// The most bytes of one level: a name's limit is 255, and the hidden part file written
// first adds some 25 to the output's name and extension.
constexpr std::size_t kLevelBytes = 200;

// Replaces what cannot be in one level of a path with '_'; a name that would mean this
// folder or its parent becomes "_".
std::string SafeName(const std::string& text, bool portable) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsControl(text, i)) {
      out += '_';
      if (static_cast<unsigned char>(text[i]) == 0xC2) ++i;
    } else if (text[i] == '/' ||
               (portable && std::string_view("<>:\"\\|?*").find(text[i]) != std::string_view::npos)) {
      out += '_';
    } else {
      out += text[i];
    }
  }
  if (portable)
    for (auto at = out.size(); at > 0 && (out[at - 1] == '.' || out[at - 1] == ' '); --at) out[at - 1] = '_';
  if (out.empty() || out == "." || out == "..") return "_";
  return out;
}

// The leading number of a track ("3/12" -> "3", "007" -> "7"), empty for none.
std::string TrackNumber(const std::string& track) {
  std::size_t end = 0;
  while (end < track.size() && track[end] >= '0' && track[end] <= '9') ++end;
  std::size_t start = 0;
  while (start + 1 < end && track[start] == '0') ++start;
  return track.substr(start, end - start);
}

}  // namespace

std::optional<TNamePattern> ParseNamePattern(const std::string& text, std::string& problem) {
  TNamePattern pattern;
  pattern.Levels.emplace_back();
  for (std::size_t i = 0; i < text.size();) {
    auto& level = pattern.Levels.back();
    if (text[i] == '/') {
      pattern.Levels.emplace_back();
      ++i;
    } else if (text[i] == '{') {
      const auto close = text.find('}', i);
      if (close == std::string::npos) {
        problem = "unclosed '{' in '" + text + "'";
        return std::nullopt;
      }
      TNamePattern::TPiece piece;
      if (!ParseField(text.substr(i + 1, close - i - 1), piece)) {
        problem = "unknown field " + text.substr(i, close - i + 1) +
                  " (the fields are {artist} {album} {title} {track} {track:02} {year} {genre} {name})";
        return std::nullopt;
      }
      level.push_back(piece);
      i = close + 1;
    } else {
      const auto next = text.find_first_of("/{", i);
      level.push_back({text.substr(i, next - i), {}, 0});
      i = next == std::string::npos ? text.size() : next;
    }
  }
  for (const auto& level : pattern.Levels) {
    if (level.empty()) {
      problem = "an empty folder name in '" + text + "' (a '/' at the start or end, or two together)";
      return std::nullopt;
    }
  }
  return pattern;
}

TNameFields NameFieldsOf(const TTagInfo& tags, const std::string& F, const std::u16string& genreText) {
  TNameFields fields;
  fields.Artist = WideToUtf8(tags.Artist);
  fields.Album = WideToUtf8(tags.Album);
  fields.Title = WideToUtf8(tags.Title);
  fields.Track = TrackNumber(WideToUtf8(tags.Track));
  fields.Year = WideToUtf8(tags.Year);
  if (!genreText.empty())
    fields.Genre = WideToUtf8(genreText);
  else if (tags.Genre > 0 && static_cast<std::size_t>(tags.Genre) < kDisplayGenreCount)
    fields.Genre = kDisplayGenres[static_cast<std::size_t>(tags.Genre)];
  fields.Name = NameWithoutExtension(F);
  return fields;
}

std::optional<std::string> ExpandNamePattern(const TNamePattern& pattern, const TNameFields& fields) {
  std::string path;
  for (const auto& level : pattern.Levels) {
    std::string name;
    for (const TNamePattern::TPiece& piece : level) {
      if (piece.Field.empty()) {
        name += piece.Text;
        continue;
      }
      std::string value = ValueOf(fields, piece.Field);
      if (value.empty()) return std::nullopt;
      if (value.size() < static_cast<std::size_t>(piece.Width))
        value.insert(0, piece.Width - value.size(), '0');
      name += SafeName(value, pattern.Portable);
    }
    if (!path.empty()) path += '/';
    std::string safe = SafeName(CutUtf8(name, kLevelBytes), pattern.Portable);
    // A name starting with '.' is hidden, and folder searches pass it by (".38 Special").
    if (safe.front() == '.') safe.front() = '_';
    path += safe;
  }
  return path;
}

}  // namespace melvanto
