#include "help_text.h"

#include <initializer_list>
#include <string_view>
#include <utility>

#include "convert_options.h"
#include "settings.h"

namespace melvanto::cli {

namespace {

using TField = std::pair<std::string_view, std::string>;

std::string Filled(std::string text, std::initializer_list<TField> fields) {
  for (const auto& [field, value] : fields) text.replace(text.find(field), field.size(), value);
  return text;
}

}  // namespace

std::string ConvertHelp() {
  return Filled(kConvertHelp, {
                                  {"{directions}", DirectionNameList()},
                                  {"{numbers}", DirectionNumberList()},
                                  {"{cbr}", ConstantBitRateList()},
                                  {"{modes}", StereoModeList()},
                              });
}

std::string ProgramHelp() {
  const std::string settings = SettingsFileLocation();
  return Filled(kProgramHelp, {
                                  {"{settings}", settings.empty() ? "none (no home folder is known)" : settings},
                                  {"{output}", DefaultOutputFolder()},
                              });
}

}  // namespace melvanto::cli
