#pragma once

#include <stdexcept>
#include <string>

namespace melvanto {

// The one exception type of the pipeline components: a message and nothing else.
class EAuException : public std::runtime_error {
 public:
  explicit EAuException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace melvanto
