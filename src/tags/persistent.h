#pragma once

#include <stdexcept>
#include <string>

namespace melvanto {

// The conversion error of the assign protocol ("Cannot assign a X to a Y").
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Base of objects that copy their state from one another. A class that knows how to
// copy from a source overrides Assign; one that knows how to copy into a destination
// overrides AssignTo. When neither knows, the copy fails with EConvertError.
class TPersistent {
 public:
  virtual ~TPersistent() = default;

  virtual void Assign(const TPersistent* Source);
  virtual const char* ClassName() const { return "TPersistent"; }

 protected:
  virtual void AssignTo(TPersistent* Dest) const;
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

}  // namespace melvanto
