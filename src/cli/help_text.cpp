#include "help_text.h"

#include <string_view>
#include <utility>

#include "convert_options.h"

namespace melvanto::cli {

std::string ConvertHelp() {
  std::string text = kConvertHelp;
  const std::pair<std::string_view, std::string> fields[] = {
      {"{directions}", DirectionNameList()},
      {"{numbers}", DirectionNumberList()},
      {"{cbr}", ConstantBitRateList()},
      {"{modes}", StereoModeList()},
  };
  for (const auto& [field, value] : fields) text.replace(text.find(field), field.size(), value);
  return text;
}

}  // namespace melvanto::cli
