#include "stream_session.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

#include "conversion_mode.h"
#include "main_thread.h"
#include "media_probe.h"
#include "mp3_in.h"
#include "real_time_pacer.h"
#include "settings_apply.h"
#include "text_codec.h"
#include "wave_in.h"
#include "wm_in.h"
#include "wma_out.h"

namespace melvanto {
namespace {

// Hands a reader's PCM on no faster than it plays; the streamed output itself would encode
// a whole file in seconds and its clients would get it all at once.
class TPacedInput final : public TAuInput {
 public:
  explicit TPacedInput(TAuInput& source)
      : Source(source), Pacer(Clock, source.Channels() * source.BitsPerSample() / 8 * source.SampleRate()) {}
  ~TPacedInput() override { NotifyDestruction(); }

  std::uint32_t GetBitsPerSample() override { return Source.BitsPerSample(); }
  std::uint32_t GetChannels() override { return Source.Channels(); }
  std::uint32_t GetSampleRate() override { return Source.SampleRate(); }

  void GetData(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override {
    std::lock_guard lock(DataLock);
    GetDataInternal(Buffer, Bytes);
  }

  // From any thread: the data ends now (a waiting delivery returns at once).
  void Cancel() { Pacer.Cancel(); }
  // The first block went out: the output listens and has begun writing.
  bool Started() const { return Started_.load(); }

 protected:
  void InitInternal() override { Source.Init(); }
  void FlushInternal() override { Source.Flush(); }
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override {
    if (!EndOfData_) Source.GetData(Buffer, Bytes);
    if (EndOfData_ || Bytes == 0 || Buffer == nullptr || !Pacer.Admit(Bytes)) {
      EndOfData_ = true;
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    if (!Started_.exchange(true)) WakeMainThreadWaiters();
  }

 private:
  TAuInput& Source;
  TSteadyPaceClock Clock;
  TRealTimePacer Pacer;
  std::atomic<bool> Started_{false};
};

}  // namespace

struct TStreamSession::TParts {
  std::unique_ptr<TAuFileIn> Source;
  std::optional<TPacedInput> Paced;
  // Last, so that it stops before what it reads goes.
  TWMStreamedOut Out;
};

TStreamSession::TStreamSession(TStreamView& view, TStreamRequest request, const TOptionsSetting& settings)
    : View_(view), Request_(std::move(request)), Settings_(settings), Parts_(std::make_unique<TParts>()) {}

TStreamSession::~TStreamSession() {
  Stop();
}

std::string TStreamSession::Start() {
  const TMediaInfo info = ProbeMedia(Request_.File);
  if (!info.Error.empty()) return info.Error;
  TParts& p = *Parts_;
  // The readers' own tag accessors: read once the file is named.
  std::function<TId3v2Tags*()> sourceTags;
  if (info.Container == "WAV") {
    auto wav = std::make_unique<TWaveIn>();
    sourceTags = [wav = wav.get()] { return wav->Id3v2Tags(); };
    p.Source = std::move(wav);
  } else {
    // The MP3 reader is the WMA reader's kind: one set of switches for both.
    std::unique_ptr<TWMIn> wm = info.Container == "MP3" ? std::make_unique<TMP3In>() : std::make_unique<TWMIn>();
    wm->SetHighPrecision(false);
    wm->SetOutputChannels(TChannelsNumber::cnMonoOrStereo);
    sourceTags = [wm = wm.get()] { return wm->Id3v2Tags(); };
    p.Source = std::move(wm);
  }
  p.Source->SetFileName(Request_.File);
  p.Source->SetLoop(Request_.Loop);
  if (!p.Source->Valid()) return "not a file the readers recognise";
  p.Paced.emplace(*p.Source);

  TWMStreamedOut& out = p.Out;
  out.SetPort(Request_.Port);
  out.SetBindAddress(Request_.BindAddress);
  out.SetMaxClients(Request_.MaxClients);
  // The stream's header carries the file's own tags, its name for a missing title.
  TOptionsSetting settings = Settings_;
  settings.CommonOptions.IsShowTagEditor = true;
  out.Id3v2Tags()->Clear();
  out.Id3v2Tags()->SetTitle(Utf8ToWide(NameWithoutExtension(Request_.File)));
  const TId3v2Tags& tags = *sourceTags();
  ApplyWMASettings(out, settings, TagInfoOf(tags));
  CarryUnshownTags(tags, *out.Id3v2Tags());
  out.SetOnClientConnected([this](TComponent*) { View_.ClientConnected(Parts_->Out.ClientAddress()); });
  out.SetOnClientDisconnected([this](TComponent*) { View_.ClientLeft(Parts_->Out.ClientAddress()); });
  out.SetOnDone([this](TComponent*) {
    Ended_ = true;
    Failure_ = Parts_->Out.ExceptionMessage();
  });
  out.SetInput(&*p.Paced);
  out.Run();
  return {};
}

bool TStreamSession::Serving() const {
  return Parts_->Paced && Parts_->Paced->Started() && Parts_->Out.ListeningPort() != 0;
}

std::uint32_t TStreamSession::Port() const {
  return Parts_->Out.ListeningPort();
}

std::uint32_t TStreamSession::BitRate() const {
  return Parts_->Out.ChosenFormat().BitRate;
}

void TStreamSession::Stop() {
  if (Parts_->Paced) Parts_->Paced->Cancel();
  Parts_->Out.Stop(false);
}

}  // namespace melvanto
