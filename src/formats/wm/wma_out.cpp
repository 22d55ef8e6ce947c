#include "wma_out.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "au_exception.h"
#include "text_codec.h"
#include "wm_picture.h"
#include "wm_reader.h"

namespace melvanto {

namespace {

using namespace wmf;

const char kNoFileName[] = "File name is not assigned.";
const char kCannotCreate[] = "Cannot create file";
const char kNoCodec[] = "Failed to init codec";
const char kProfileRefused[] = "fff";
// The system's own text, misspelling included.
const char kBeginRefused[] = "Failed to set data writer, possible reason: required WMA codec not installed.";
const char kOutputError[] = "Windows Media output error";
const char kOutputErrorReport[] = "Windows Media output error.";

constexpr std::uint32_t kTrue32 = 0xFFFFFFFF;

// Names and descriptions the two-call way: the length, then the text up to its null.
template <class Fetch>
std::string FetchText(Fetch fetch) {
  std::uint32_t length = 0;
  if (Failed(fetch(nullptr, &length)) || length == 0) return {};
  std::u16string text(length, u'\0');
  if (Failed(fetch(text.data(), &length))) return {};
  return WideToLatin1(text.substr(0, text.find(u'\0')));
}

bool EnableVbr(IWMCodecInfo3& info, std::uint32_t codec) {
  return Succeeded(info.SetCodecEnumerationSetting(TMajorType::Audio, codec, u"_VBRENABLED",
                                                   WMT_ATTR_DATATYPE::WMT_TYPE_BOOL,
                                                   reinterpret_cast<const std::uint8_t*>(&kTrue32), 4));
}

std::shared_ptr<IWMCodecInfo3> CodecInfoOf(const std::shared_ptr<IWMProfileManager>& manager) {
  std::shared_ptr<IWMCodecInfo3> info;
  if (manager) manager->QueryCodecInfo(&info);
  return info;
}

std::uint32_t Distance(std::uint32_t a, std::uint32_t b) {
  return a > b ? a - b : b - a;
}

// The runtime's status reports, each handed to the output's handlers.
class TWMErrorCallback final : public IWMStatusCallback {
 public:
  explicit TWMErrorCallback(TWMWriterContext* context) : Context(context) {}
  HRESULT OnStatus(WMT_STATUS Status, HRESULT, WMT_ATTR_DATATYPE, const std::uint8_t*, void*) override {
    const int status = static_cast<int>(Status);
    if ((status == 0 || status == 9 || status == 26 || status == 30) && Context->Error != nullptr)
      Context->Error(Context->Owner, status & 127);
    return S_OK;
  }

 private:
  TWMWriterContext* Context;
};

// "a.b.c.d:port" from a client report's value; empty when it carries none.
std::string ClientAddressOf(WMT_ATTR_DATATYPE type, const std::uint8_t* value) {
  if (type != WMT_ATTR_DATATYPE::WMT_TYPE_BINARY || value == nullptr) return {};
  WM_CLIENT_PROPERTIES client;
  std::memcpy(&client, value, sizeof client);
  const std::uint32_t a = client.dwIPAddress;
  return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 0xFF) + '.' + std::to_string((a >> 8) & 0xFF) +
         '.' + std::to_string(a & 0xFF) + ':' + std::to_string(client.dwPort);
}

class TWMStatusCallback final : public IWMStatusCallback {
 public:
  explicit TWMStatusCallback(TWMWriterContext* context) : Context(context) {}
  HRESULT OnStatus(WMT_STATUS Status, HRESULT, WMT_ATTR_DATATYPE Type, const std::uint8_t* Value, void*) override {
    if (Status == WMT_STATUS::WMT_CLIENT_CONNECT && Context->ClientConnected != nullptr)
      Context->ClientConnected(Context->Owner, ClientAddressOf(Type, Value));
    if (Status == WMT_STATUS::WMT_CLIENT_DISCONNECT && Context->ClientDisconnected != nullptr)
      Context->ClientDisconnected(Context->Owner, ClientAddressOf(Type, Value));
    return S_OK;
  }

 private:
  TWMWriterContext* Context;
};

void ErrorHandler(TWMAOut* owner, int status) {
  owner->HandleError(status);
}
void ConnectedHandler(TWMAOut* owner, const std::string& address) {
  owner->HandleClientConnected(address);
}
void DisconnectedHandler(TWMAOut* owner, const std::string& address) {
  owner->HandleClientDisconnected(address);
}

}  // namespace

TWMAOut::TWMAOut() {
  std::shared_ptr<IWMProfileManager> manager;
  if (Failed(WMCreateProfileManager(&manager))) return;
  const auto info = CodecInfoOf(manager);
  std::uint32_t count = 0;
  if (!info || Failed(info->GetCodecInfoCount(TMajorType::Audio, &count))) return;
  for (std::uint32_t c = 0; c < count; ++c)
    Codecs_.push_back(FetchText([&](char16_t* text, std::uint32_t* length) {
      return info->GetCodecName(TMajorType::Audio, c, text, length);
    }));
}

TWMAOut::~TWMAOut() {
  Stop(false);
}

const std::vector<std::string>& TWMAOut::Formats(std::int32_t Index) {
  Formats_.clear();
  if (Index < 0 || Index >= static_cast<std::int32_t>(Codecs_.size())) return Formats_;
  std::shared_ptr<IWMProfileManager> manager;
  if (Failed(WMCreateProfileManager(&manager))) return Formats_;
  const auto info = CodecInfoOf(manager);
  const auto codec = static_cast<std::uint32_t>(Index);
  if (!info || ((VBR_ || Lossless_) && !EnableVbr(*info, codec))) return Formats_;
  std::uint32_t count = 0;
  if (Failed(info->GetCodecFormatCount(TMajorType::Audio, codec, &count))) return Formats_;
  for (std::uint32_t f = 0; f < count; ++f)
    Formats_.push_back(FetchText([&](char16_t* text, std::uint32_t* length) {
      return info->GetCodecFormatDesc(TMajorType::Audio, codec, f, nullptr, text, length);
    }));
  return Formats_;
}

TCodecFormat TWMAOut::ChosenFormat() const {
  std::lock_guard lock(ChosenLock);
  return Chosen;
}

void TWMAOut::HandleError(int) {
  SetExceptionMessage(kOutputErrorReport);
  ErrorFlag = true;
}

void TWMAOut::CreateWriter() {
  std::shared_ptr<IWMWriterFileSink> sink;
  std::shared_ptr<IWMWriter> writer;
  if (Failed(WMCreateWriterFileSink(&sink)) || Failed(WMCreateWriter(nullptr, &writer))) return;
  std::shared_ptr<IWMWriterAdvanced> advanced;
  if (Failed(writer->QueryInterface(&advanced)) || Failed(advanced->AddSink(sink)) ||
      Failed(sink->Open(WideFileName()))) {
    return;  // both are released with their last reference
  }
  Context.Callback = std::make_shared<TWMErrorCallback>(&Context);
  sink->Advise(Context.Callback, nullptr);
  Context.Writer = writer;
  Context.FileSink = sink;
  Context.Created = true;
}

void TWMAOut::ReleaseWriter() {
  if (Context.FileSink && Context.Callback) Context.FileSink->Unadvise(Context.Callback, nullptr);
  Context.FileSink.reset();
  Context.Writer.reset();
  Context.Callback.reset();
}

void TWMAOut::Prepare() {
  if (!Streamed() && WideFileName().empty()) throw EAuException(kNoFileName);
  TAuInput& input = *Input();
  input.Init();

  Context = TWMWriterContext{};
  Context.Owner = this;
  Context.Error = &ErrorHandler;
  Context.ClientConnected = &ConnectedHandler;
  Context.ClientDisconnected = &DisconnectedHandler;
  Began = false;
  {
    std::lock_guard lock(ChosenLock);
    Chosen = {};
  }
  CreateWriter();
  if (!Context.Created) throw std::runtime_error(kCannotCreate);

  InputChannels = input.Channels();
  InputBits = input.BitsPerSample();
  InputRate = input.SampleRate();
  if (CodecIndex_ >= 0)
    ProfileByIndex(CodecIndex_, FormatIndex_, VBR_ || Lossless_);
  else if (VBR_)
    ProfileByTarget(VBRQuality_);
  else
    ProfileByTarget(DesiredBitrate_);

  // 80 ms of PCM.
  Buffer.assign(static_cast<std::size_t>(InputChannels) * InputBits * InputRate / 100, 0);
  WriteAttributes();
  if (Failed(Context.Writer->BeginWriting())) throw EAuException(kBeginRefused);
  Began = true;
  Context.Time = 0;
  EndOfInput = false;
  ErrorFlag = false;
}

void TWMAOut::ProfileByIndex(std::int32_t Codec, std::int32_t Format, bool VbrSwitch) {
  std::shared_ptr<IWMProfileManager> manager;
  if (Failed(WMCreateProfileManager(&manager))) return;
  const auto info = CodecInfoOf(manager);
  std::uint32_t count = 0;
  if (!info || Failed(info->GetCodecInfoCount(TMajorType::Audio, &count))) return;
  // No profile: the writer then refuses to begin.
  if (static_cast<std::uint32_t>(Codec) >= count) return;
  if (VbrSwitch && !EnableVbr(*info, static_cast<std::uint32_t>(Codec))) return;
  std::shared_ptr<IWMStreamConfig> config;
  if (Format < 0 || Failed(info->GetCodecFormat(TMajorType::Audio, static_cast<std::uint32_t>(Codec),
                                                static_cast<std::uint32_t>(Format), &config)))
    return;
  UseStream(manager, config);
}

void TWMAOut::ProfileByTarget(std::uint32_t Target) {
  if (!VBR_ && Target < 1000) Target *= 1000;
  std::shared_ptr<IWMProfileManager> manager;
  WMCreateProfileManager(&manager);
  const auto info = CodecInfoOf(manager);
  // The wanted format is what the encoders can take; the writer converts the input to it.
  const std::uint32_t wantedChannels = std::min<std::uint32_t>(InputChannels, 2);
  const std::uint32_t wantedRate = std::min<std::uint32_t>(InputRate, 48000);
  const std::uint32_t wantedBits = 16;

  std::shared_ptr<IWMStreamConfig> result;
  std::uint32_t bestBitrate = 0, bestRate = 0, bestQuality = 0;
  std::uint32_t codecs = 0;
  if (info) info->GetCodecInfoCount(TMajorType::Audio, &codecs);
  for (std::uint32_t c = 0; c < codecs; ++c) {
    if ((VBR_ || Lossless_) && !EnableVbr(*info, c)) continue;
    std::uint32_t formats = 0;
    info->GetCodecFormatCount(TMajorType::Audio, c, &formats);
    for (std::uint32_t f = 0; f < formats; ++f) {
      std::shared_ptr<IWMStreamConfig> config;
      if (Failed(info->GetCodecFormat(TMajorType::Audio, c, f, &config)) || !config) break;
      WM_MEDIA_TYPE type;
      if (Failed(config->GetMediaType(&type)) || !type.hasWaveFormat) continue;
      bool candidate = false;
      if (Lossless_) {
        candidate = type.wave.wFormatTag == WAVE_FORMAT_WMAUDIO_LOSSLESS;
      } else if (VBR_) {
        WMT_ATTR_DATATYPE valueType;
        std::uint32_t quality = 0, size = sizeof quality;
        if (Succeeded(info->GetCodecFormatProp(TMajorType::Audio, c, f, u"_VBRQUALITY", &valueType,
                                               reinterpret_cast<std::uint8_t*>(&quality), &size)) &&
            Distance(quality, Target) < Distance(bestQuality, Target)) {
          candidate = true;
          bestQuality = quality;
        }
      } else {
        std::uint32_t bitrate = 0;
        config->GetBitrate(&bitrate);
        candidate = Distance(bitrate, Target) < Distance(bestBitrate, Target);
      }
      if (!candidate) continue;
      if ((VBR_ || Lossless_) && !result) result = config;
      if (type.wave.nChannels == wantedChannels && type.wave.wBitsPerSample == wantedBits &&
          Distance(type.wave.nSamplesPerSec, wantedRate) <= Distance(bestRate, wantedRate)) {
        result = config;
        config->GetBitrate(&bestBitrate);
        bestRate = type.wave.nSamplesPerSec;
      }
    }
  }
  if (!result) throw std::runtime_error(kNoCodec);
  UseStream(manager, result);
}

void TWMAOut::UseStream(const std::shared_ptr<IWMProfileManager>& Manager,
                        const std::shared_ptr<IWMStreamConfig>& Config) {
  std::shared_ptr<IWMProfile> profile;
  if (!Manager || Failed(Manager->CreateEmptyProfile(WMT_VER_9_0, &profile))) return;
  Config->SetStreamNumber(1);
  Config->SetStreamName(u"NAAudioStream");
  Config->SetConnectionName(u"NAAudioConnection");
  if (Failed(profile->AddStream(Config))) throw std::runtime_error(kProfileRefused);
  if (Failed(Context.Writer->SetProfile(profile))) return;
  TStreamFormat format;
  if (StreamFormatOf(*Config, &format)) {
    std::lock_guard lock(ChosenLock);
    Chosen = format.Format;
  }
  SetInputFormat();
}

void TWMAOut::SetInputFormat() {
  std::uint32_t inputs = 0;
  Context.Writer->GetInputCount(&inputs);
  for (std::uint32_t i = 0; i < inputs; ++i) {
    std::shared_ptr<IWMInputMediaProps> props;
    WM_MEDIA_TYPE type;
    if (Failed(Context.Writer->GetInputProps(i, &props)) || Failed(props->GetMediaType(&type))) continue;
    if (type.majortype != TMajorType::Audio || !type.hasWaveFormat) continue;
    type.wave.wFormatTag = WAVE_FORMAT_PCM;
    type.wave.nChannels = static_cast<std::uint16_t>(InputChannels);
    type.wave.nSamplesPerSec = InputRate;
    type.wave.wBitsPerSample = static_cast<std::uint16_t>(InputBits);
    type.wave.nBlockAlign = static_cast<std::uint16_t>(InputBits * InputChannels / 8);
    type.wave.nAvgBytesPerSec = type.wave.nBlockAlign * InputRate;
    Context.InputNumber = i;
    Context.ByteRate = type.wave.nAvgBytesPerSec;
    props->SetMediaType(type);
    Context.Writer->SetInputProps(i, props);
    return;
  }
}

void TWMAOut::WriteAttributes() {
  std::shared_ptr<IWMHeaderInfo> header;
  if (Failed(Context.Writer->QueryInterface(&header))) return;
  const TId3v2Tags& tags = *Id3v2Tags_;
  // The names other programs read: the track counts from 1 (WM/TrackNumber, not the
  // zero-based WM/Track) and the comment is the Description.
  const std::pair<const std::u16string*, std::u16string> values[] = {
      {&g_wszWMAuthor, tags.Artist()},
      {&g_wszWMAlbumTitle, tags.Album()},
      {&g_wszWMGenre, tags.Genre()},
      {&g_wszWMYear, Latin1ToWide(tags.Year())},
      {&g_wszWMTrackNumber, Latin1ToWide(tags.Track())},
      {&g_wszWMTitle, tags.Title()},
      {&g_wszWMDescription, tags.Comment()},
      {&g_wszWMCopyright, tags.Copyright()},
  };
  for (const auto& [name, value] : values) {
    if (value.empty()) continue;
    header->SetAttribute(0, *name, WMT_ATTR_DATATYPE::WMT_TYPE_STRING,
                         reinterpret_cast<const std::uint8_t*>(value.data()),
                         static_cast<std::uint16_t>(std::min<std::size_t>(value.size() * 2, 0xFFFE)));
  }
  for (const TTagPicture& picture : tags.Pictures()) {
    const std::vector<std::uint8_t> bytes =
        EncodeWmPicture({Latin1ToWide(picture.MimeType), picture.Type, picture.Description, picture.Data});
    // A picture the header refuses (empty, too large) is left out; the sound is still written.
    if (!bytes.empty())
      header->AddAttribute(0, g_wszWMPicture, nullptr, WMT_ATTR_DATATYPE::WMT_TYPE_BINARY, bytes.data(),
                           static_cast<std::uint32_t>(bytes.size()));
  }
}

bool TWMAOut::DoOutput(bool Abort) {
  if (ErrorFlag) throw EAuException(kOutputError);
  if (!CanOutput()) return true;
  if (Abort || EndOfInput) return false;
  const std::uint32_t bytes =
      Input()->FillBuffer(Buffer.data(), static_cast<std::uint32_t>(Buffer.size()), EndOfInput);
  // The last call writes an empty sample: the end of the input.
  WriteBlock(bytes);
  return true;
}

void TWMAOut::WriteBlock(std::uint32_t Bytes) {
  std::shared_ptr<INSSBuffer> sample;
  if (Failed(Context.Writer->AllocateSample(Bytes, &sample)))
    throw EAuException("Failed to write data: 8007000E");
  Context.Sample = sample;
  std::uint8_t* data = nullptr;
  sample->GetBuffer(&data);
  if (Bytes > 0) std::memcpy(data, Buffer.data(), Bytes);
  sample->SetLength(Bytes);
  if (Context.ByteRate > 0)
    Context.Time += std::llround(static_cast<double>(Bytes) * 10000000.0 / Context.ByteRate);
  const HRESULT hr =
      Context.Writer->WriteSample(Context.InputNumber, static_cast<std::uint64_t>(Context.Time), 0, sample);
  Context.Sample.reset();
  if (Failed(hr)) {
    char code[9];
    std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(hr));
    throw EAuException(std::string("Failed to write data: ") + code);
  }
}

void TWMAOut::Done() {
  if (TAuInput* input = Input(); input != nullptr) input->Flush();
  // After a failed Prepare only what exists is ended and released.
  if (Began && Context.Writer) Context.Writer->EndWriting();
  Began = false;
  ReleaseWriter();
  Context.Created = false;
  Buffer = {};
}

TWMStreamedOut::TWMStreamedOut() = default;

TWMStreamedOut::~TWMStreamedOut() {
  Stop(false);
}

TStreamedAudioEvent TWMStreamedOut::OnClientConnected() const {
  std::lock_guard lock(HandlersLock);
  return OnClientConnected_;
}
void TWMStreamedOut::SetOnClientConnected(TStreamedAudioEvent handler) {
  std::lock_guard lock(HandlersLock);
  OnClientConnected_ = std::move(handler);
}
TStreamedAudioEvent TWMStreamedOut::OnClientDisconnected() const {
  std::lock_guard lock(HandlersLock);
  return OnClientDisconnected_;
}
void TWMStreamedOut::SetOnClientDisconnected(TStreamedAudioEvent handler) {
  std::lock_guard lock(HandlersLock);
  OnClientDisconnected_ = std::move(handler);
}

void TWMStreamedOut::PostClientEvent(TStreamedAudioEvent handler, const std::string& Address) {
  if (!handler) return;
  PostNotify([this, handler = std::move(handler), Address](TComponent* Sender) {
    ClientAddress_ = Address;
    handler(Sender);
    ClientAddress_.clear();
  });
}
void TWMStreamedOut::HandleClientConnected(const std::string& Address) {
  PostClientEvent(OnClientConnected(), Address);
}
void TWMStreamedOut::HandleClientDisconnected(const std::string& Address) {
  PostClientEvent(OnClientDisconnected(), Address);
}

void TWMStreamedOut::CreateWriter() {
  std::shared_ptr<IWMWriterNetworkSink> sink;
  std::shared_ptr<IWMWriter> writer;
  if (Failed(WMCreateWriterNetworkSink(&sink)) || Failed(WMCreateWriter(nullptr, &writer))) return;
  sink->SetNetworkProtocol(0);
  // Told before the sink listens: a client may connect the moment it does, and its connect
  // must not go unreported.
  auto callback = std::make_shared<TWMStatusCallback>(&Context);
  sink->Advise(callback, nullptr);
  std::uint32_t port = Port_;
  if (Failed(sink->SetListenAddress(BindAddress_))) {
    sink->Unadvise(callback, nullptr);
    throw EAuException("Not an IPv4 address to listen on: " + BindAddress_);
  }
  if (const HRESULT hr = sink->Open(&port); Failed(hr)) {
    sink->Unadvise(callback, nullptr);
    // Said plainly: the user can pick another port or address, unlike a failure within.
    const std::string where = (BindAddress_.empty() ? std::string("all addresses") : BindAddress_) + " port " +
                              std::to_string(Port_);
    if (hr == E_ADDRESS_IN_USE) throw EAuException("Cannot listen on " + where + ": the port is in use");
    if (hr == E_ADDRESS_NOT_AVAILABLE)
      throw EAuException("Cannot listen on " + where + ": the address is not one of this machine's");
    return;
  }
  if (MaxClients_ != 0) sink->SetMaximumClients(MaxClients_);
  std::shared_ptr<IWMWriterAdvanced> advanced;
  if (Failed(writer->QueryInterface(&advanced)) || Failed(advanced->AddSink(sink))) {
    sink->Close();
    sink->Unadvise(callback, nullptr);
    return;
  }
  Context.Callback = std::move(callback);
  ListeningPort_ = port;
  Context.Writer = writer;
  Context.NetworkSink = sink;
  Context.Created = true;
}

void TWMStreamedOut::ReleaseWriter() {
  if (Context.NetworkSink) {
    std::shared_ptr<IWMWriterAdvanced> advanced;
    if (Context.Writer && Succeeded(Context.Writer->QueryInterface(&advanced)))
      advanced->RemoveSink(Context.NetworkSink);
    // Closing joins the sink's thread: no status report comes after this.
    Context.NetworkSink->Close();
    if (Context.Callback) Context.NetworkSink->Unadvise(Context.Callback, nullptr);
  }
  Context.NetworkSink.reset();
  ListeningPort_ = 0;
  TWMAOut::ReleaseWriter();
}

}  // namespace melvanto
