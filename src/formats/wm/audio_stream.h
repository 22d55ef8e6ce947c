#pragma once

#include <cstdint>
#include <memory>

#include "stream.h"
#include "wm_reader.h"

namespace melvanto {

// Presents a component's stream (borrowed, never freed here) to the runtime's reader.
class TAudioStream : public wmf::IStream {
 public:
  explicit TAudioStream(TStream* stream) : Stream(stream) {}

  // Success when at least one byte moved.
  wmf::HRESULT Read(void* pv, std::uint32_t cb, std::uint32_t* pcbRead) override;
  wmf::HRESULT Write(const void* pv, std::uint32_t cb, std::uint32_t* pcbWritten) override;
  wmf::HRESULT Seek(std::int64_t move, std::uint32_t origin, std::uint64_t* newPosition) override;
  // Moves to the given size from the start; the stream keeps its length.
  wmf::HRESULT SetSize(std::uint64_t newSize) override;
  wmf::HRESULT CopyTo(wmf::IStream* target, std::uint64_t cb, std::uint64_t* pcbRead,
                      std::uint64_t* pcbWritten) override;
  wmf::HRESULT Commit(std::uint32_t flags) override;
  wmf::HRESULT Revert() override;
  wmf::HRESULT LockRegion(std::uint64_t offset, std::uint64_t cb, std::uint32_t lockType) override;
  wmf::HRESULT UnlockRegion(std::uint64_t offset, std::uint64_t cb, std::uint32_t lockType) override;
  // The size only; no region locking.
  wmf::HRESULT Stat(wmf::STATSTG* stat, std::uint32_t flags) override;
  wmf::HRESULT Clone(std::shared_ptr<wmf::IStream>* stream) override;

  static constexpr wmf::HRESULT kFailure = wmf::Code(0xFFFFFFFF);

 private:
  TStream* Stream;
};

}  // namespace melvanto
