#include "runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "part_file.h"
#include "runner_components.h"
#include "settings_apply.h"
#include "text_codec.h"
#include "unique_fd.h"

namespace melvanto {

namespace {

constexpr const char* kProductName = "Melvanto";
constexpr const char* kProgressHint = "Encoding...";
constexpr const char* kOverwriteQuestion = " already exists. Replace it?";
constexpr const char* kSameFile = "the output file would overwrite the input file";
constexpr const char* kIsAnInput = "the output file is also an input of this batch: ";
constexpr const char* kAlsoAnOutput = "the output file is also the output of ";
constexpr const char* kKept = "the output file exists and was kept";
constexpr const char* kUpToDate = "up to date";
constexpr const char* kStopped = "stopped; nothing was written";
constexpr const char* kStoppedBeforeStart = "stopped before its conversion began";

const char* SourceName(TConversionMode mode) {
  switch (SourceFormatOf(mode)) {
    case TSourceFormat::sfWav:
      return "WAV";
    case TSourceFormat::sfMp3:
      return "MP3";
    case TSourceFormat::sfWma:
      return "WMA";
  }
  return "audio";
}

// Why a file cannot be converted from, or empty when the reader takes it.
std::string InputProblem(TAuFileIn& input, const std::string& F, TConversionMode mode) {
  const std::string invalid = std::string("not a valid ") + SourceName(mode) + " file";
  struct stat st {};
  if (::stat(F.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "file not found";
    return std::string("cannot read the file: ") + std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return invalid + " (it is a folder)";
  if (::access(F.c_str(), R_OK) != 0) return std::string("cannot read the file: ") + std::strerror(errno);
  try {
    if (!input.Valid()) return invalid;
  } catch (const std::exception& e) {
    return invalid + " (" + e.what() + ")";
  }
  return {};
}

// Whether two names are one file (a link or another spelling of the same path included).
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// A path that names one file one way however its folder is spelt (through a link, with "."
// or ".." in it), its folder made yet or not.
std::string NameKey(const std::string& O) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::weakly_canonical(FolderOf(O), error);
  return error ? O : (folder / NameWithoutFolder(O)).string();
}

// Who a name is: its path with the folder resolved, and the file it names now, if any.
struct TNameId {
  std::string Key;
  std::optional<std::pair<dev_t, ino_t>> Inode;
};

TNameId IdOf(const std::string& name) {
  TNameId id{NameKey(name), std::nullopt};
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) id.Inode = std::pair(st.st_dev, st.st_ino);
  return id;
}

bool Same(const TNameId& a, const TNameId& b) {
  return a.Key == b.Key || (a.Inode && a.Inode == b.Inode);
}

// The names of a batch by their identities, each part kept for the first file that has it.
class TNameIndex {
 public:
  void Add(const TNameId& id, std::size_t index) {
    Keys.emplace(id.Key, index);
    if (id.Inode) Inodes.emplace(*id.Inode, index);
  }
  // The first file with either part of id.
  std::optional<std::size_t> Find(const TNameId& id) const {
    std::optional<std::size_t> found;
    if (const auto k = Keys.find(id.Key); k != Keys.end()) found = k->second;
    if (const auto i = id.Inode ? Inodes.find(*id.Inode) : Inodes.end(); i != Inodes.end())
      found = found ? std::min(*found, i->second) : i->second;
    return found;
  }

 private:
  std::map<std::string, std::size_t> Keys;
  std::map<std::pair<dev_t, ino_t>, std::size_t> Inodes;
};

// At least the WAV writer's window for its header fields: restoring these bytes undoes
// every header change an append makes.
constexpr std::size_t kAppendHeadBytes = 64 * 1024;

std::string SystemText(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

std::string WithSlash(const std::string& folder) {
  return folder.empty() || folder.back() == '/' ? folder : folder + '/';
}

// Makes folder (with its parents, as mkdir -p: through links, the user named it) and below it
// each level of subfolder ("a/b/"), each made and opened relative to its parent and never
// through a link, so that no output lands outside the output folder. Empty, or the problem.
std::string MakeOutputFolders(const std::string& folder, const std::string& subfolder) {
  const std::string top = folder.empty() ? "." : folder;
  std::error_code error;
  std::filesystem::create_directories(top, error);
  if (error) return "cannot create the output folder " + top + ": " + error.message();
  UniqueFd parent(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.Valid()) return SystemText("cannot open the output folder " + top, errno);
  std::string path = WithSlash(top);
  for (std::size_t start = 0, end; (end = subfolder.find('/', start)) != std::string::npos; start = end + 1) {
    const std::string level = subfolder.substr(start, end - start);
    path += level;
    if (::mkdirat(parent.Get(), level.c_str(), 0777) != 0 && errno != EEXIST)
      return SystemText("cannot create the folder " + path, errno);
    UniqueFd next(::openat(parent.Get(), level.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.Valid()) {
      const int why = errno;
      struct stat st {};
      if (::fstatat(parent.Get(), level.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return path + " is a symbolic link; outputs are never written through one";
      return SystemText("cannot open the folder " + path, why);
    }
    parent = std::move(next);
    path += '/';
  }
  return {};
}

bool DiskFull(const std::string& O) {
  struct statvfs fs {};
  return ::statvfs(FolderOf(O).c_str(), &fs) == 0 && fs.f_bavail == 0;
}

void ApplyWaveOptions(TWaveOut& output, const TWaveOutputOptions& options) {
  if (options.Encoding)
    output.SetWavType(*options.Encoding == TWaveEncoding::weIMAADPCM ? TWavType::wtDVIADPCM
                                                                     : TWavType::wtPCM);
  if (options.BlockSize) output.SetBlockSize(*options.BlockSize);
  // Off, the writer gives wide or multichannel PCM the extensible header.
  if (options.Extensible) output.SetCreateNonMsHeaders(false);
  if (options.Append) output.SetFileMode(TFileOutputMode::foAppend);
}

// The seconds with one decimal, as the warning shows them.
std::string Seconds(std::int64_t bytes, std::int64_t bytesPerSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / static_cast<double>(bytesPerSecond));
  return text;
}

}  // namespace

TConversionRunner::TConversionRunner(TRunnerView& view, const std::vector<std::string>& files,
                                     TRunnerContext context)
    : View_(view),
      Batch_(std::make_shared<TBatchFiles>()),
      Context_(std::move(context)),
      Components_(std::make_unique<TRunnerComponents>()) {
  Batch_->Files = files;
  Initialise();
}

TConversionRunner::TConversionRunner(TRunnerView& view, std::shared_ptr<TBatchFiles> batch,
                                     TRunnerContext context)
    : View_(view),
      Batch_(batch ? std::move(batch) : std::make_shared<TBatchFiles>()),
      OwnBatch_(false),
      Context_(std::move(context)),
      Components_(std::make_unique<TRunnerComponents>()) {
  Initialise();
}

TConversionRunner::~TConversionRunner() {
  try {
    Close();
  } catch (const std::exception&) {
    // The components still stop in their own destructors.
  }
}

void TConversionRunner::Initialise() {
  TRunnerComponents& c = *Components_;
  for (TAuFileIn* input : {static_cast<TAuFileIn*>(&c.WaveIn1), static_cast<TAuFileIn*>(&c.MP3In1),
                           static_cast<TAuFileIn*>(&c.WMIn1)}) {
    input->SetLoop(false);
    input->SetEndSample(-1);
  }
  for (TWMIn* input : {static_cast<TWMIn*>(&c.MP3In1), &c.WMIn1}) {
    input->SetHighPrecision(false);
    input->SetOutputChannels(TChannelsNumber::cnMonoOrStereo);
  }
  c.WaveOut1.SetWavType(TWavType::wtPCM);
  c.WaveOut1.SetBlockSize(512);
  c.WaveOut1.SetCreateNonMsHeaders(true);
  c.WaveOut1.SetFileMode(TFileOutputMode::foRewrite);
  c.WaveOut1.SetShareMode(0);
  ApplyWaveOptions(c.WaveOut1, Context_.Wave);
  c.MP3Out1.SetInput(&c.WaveIn1);
  c.MP3Out1.SetBitRate(TMP3BitRate::mbr128);
  c.MP3Out1.SetEnableBitReservoir(true);
  c.MP3Out1.SetStrictISO(false);
  c.MP3Out1.SetVBRQuality(TMP3Quality::mp3ql0);
  c.MP3Out1.SetEnableVBR(false);
  c.MP3Out1.SetAverageBitrate(TMP3BitRate::mbrAuto);
  c.MP3Out1.SetMaximumBitrate(TMP3BitRate::mbrAuto);
  c.WMAOut1.SetInput(&c.WaveIn1);
  c.WMAOut1.SetDesiredBitrate(128);
  c.WMAOut1.SetLossless(false);
  c.WMAOut1.SetVBR(false);
  c.WMAOut1.SetVBRQuality(0);

  for (TAuOutput* output : {static_cast<TAuOutput*>(&c.WaveOut1), static_cast<TAuOutput*>(&c.MP3Out1),
                            static_cast<TAuOutput*>(&c.WMAOut1)}) {
    output->SetOnDone([this](TComponent* Sender) { OutputDone(Sender); });
    output->SetOnProgress(
        [this, output](TComponent*) { View_.SetProgress(std::max(0, output->Progress())); });
  }

  View_.SetCaption(kProductName);
  View_.SetProgressHint(kProgressHint);
  View_.SetSelectedTracks(std::to_string(Batch_->Files.size()));
  View_.PostBatchStep(TBatchStep::bsStart);
}

TAuFileIn& TConversionRunner::CurrentInput() {
  switch (SourceFormatOf(Mode_)) {
    case TSourceFormat::sfMp3:
      return Components_->MP3In1;
    case TSourceFormat::sfWma:
      return Components_->WMIn1;
    case TSourceFormat::sfWav:
      break;
  }
  return Components_->WaveIn1;
}

TAuFileOut& TConversionRunner::CurrentOutput() {
  switch (TargetFormatOf(Mode_)) {
    case TTargetFormat::tfMp3:
      return Components_->MP3Out1;
    case TTargetFormat::tfWma:
      return Components_->WMAOut1;
    case TTargetFormat::tfWav:
      break;
  }
  return Components_->WaveOut1;
}

// Which step it is tells the view's payload only: what comes next follows from the runner's
// own state (a held file first).
void TConversionRunner::BatchStep(TBatchStep /*Param*/) {
  if (Closed_) return;
  try {
    Step();
  } catch (const std::exception& e) {
    if (InFile_ && !Running_) {
      FinishFile(TFileResult::frFailed, e.what());
    } else if (!InFile_) {
      // Nothing was taken, so nothing can move on: the batch ends here.
      View_.CloseWindow();
    }
  }
}

void TConversionRunner::Step() {
  if (Holding_) {
    Holding_ = false;
    StartFile(HeldFile_, HeldIndex_);
    return;
  }
  if (Batch_->Plan.size() != Batch_->Files.size() && !PlanOutputs()) {
    View_.CloseWindow();
    return;
  }
  if (Batch_->FileIndex >= static_cast<std::int32_t>(Batch_->Files.size())) {
    View_.CloseWindow();
    return;
  }
  const std::int32_t index = Batch_->FileIndex++;
  StartFile(Batch_->Files[static_cast<std::size_t>(index)], index);
}

bool TConversionRunner::PlanOutputs() {
  const std::vector<std::string>& files = Batch_->Files;
  // Portable names are for folders that ignore case, where "Art/x" and "art/X" are one file.
  const bool foldCase = Batch_->NamePattern && Batch_->NamePattern->Portable;
  const auto idOf = [foldCase](const std::string& name) {
    TNameId id = IdOf(name);
    if (foldCase)
      std::transform(id.Key.begin(), id.Key.end(), id.Key.begin(), AsciiLower);
    return id;
  };
  std::vector<TNameId> inputs;
  TNameIndex inputIndex, outputIndex;
  for (std::size_t i = 0; i < files.size(); ++i) {
    inputs.push_back(idOf(files[i]));
    inputIndex.Add(inputs.back(), i);
  }
  std::vector<TPlannedOutput> plan(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (Batch_->Stopping && Batch_->Stopping()) return false;
    TPlannedOutput& p = plan[i];
    const std::string stem = OutputStem(i);
    p.Folder = OutputFolderFor(files[i]);
    p.Subfolder = stem.substr(0, stem.rfind('/') + 1);
    p.Output = WithSlash(p.Folder) + stem + TargetExtension(Mode_);
    const TNameId output = idOf(p.Output);
    // An output that is its own input is CheckInput's to report.
    if (!Same(output, inputs[i])) {
      if (const auto input = inputIndex.Find(output); input && *input != i)
        p.Conflict = kIsAnInput + files[*input];
      else if (const auto other = outputIndex.Find(output))
        p.Conflict = kAlsoAnOutput + files[*other];
    }
    outputIndex.Add(output, i);
  }
  for (const TPlannedOutput& p : plan)
    Batch_->FoldersToClean[FolderOf(p.Output)].insert(NameWithoutFolder(p.Output));
  Batch_->Plan = std::move(plan);
  return true;
}

std::string TConversionRunner::OutputFolderFor(const std::string& F) const {
  const TCommonOptions& options = Context_.Settings.CommonOptions;
  return options.SameAsInputFolder ? FolderOf(F) : options.OutputFolder;
}

std::string TConversionRunner::OutputStem(std::size_t index) const {
  const std::string& F = Batch_->Files[index];
  if (Batch_->NamePattern) {
    // An unreadable file still has its name; the conversion reports it.
    const TFileTags tags = ReadFileTags(F, SourceFormatOf(Mode_)).value_or(TFileTags{});
    if (auto named = ExpandNamePattern(*Batch_->NamePattern, NameFieldsOf(tags.Info, F, tags.GenreText)))
      return *named;
  }
  const bool keepTree =
      !Context_.Settings.CommonOptions.SameAsInputFolder && index < Batch_->Subfolders.size();
  return (keepTree ? Batch_->Subfolders[index] : std::string()) + NameWithoutExtension(F);
}

void TConversionRunner::StartFile(const std::string& F, std::int32_t index) {
  if (!NameOutput(F, index) || !CheckInput(F, index) || !CheckNotWrittenYet() || !CheckUpToDate(F) ||
      !ClaimOutput(F, index) || !MakeFolders(index) || !AskAboutExistingOutput())
    return;
  ConfigureOutput();
  if (!PrepareTarget()) return;
  TAuFileIn& input = CurrentInput();
  switch (SourceFormatOf(Mode_)) {
    case TSourceFormat::sfWav: StatedBytes_ = Components_->WaveIn1.StatedSize(); break;
    case TSourceFormat::sfMp3: StatedBytes_ = Components_->MP3In1.StatedSize(); break;
    case TSourceFormat::sfWma: StatedBytes_ = Components_->WMIn1.StatedSize(); break;
  }
  BytesPerSecond_ = std::int64_t{input.SampleRate()} * input.Channels() * (input.BitsPerSample() / 8);
  CurrentOutput().Run();
  Running_ = true;
}

bool TConversionRunner::NameOutput(const std::string& F, std::int32_t index) {
  Current_ = TFileResult{F, {}, TFileResult::frFailed, {}, {}};
  Part_.clear();
  AppendBefore_ = TAppendBefore{};
  InFile_ = true;
  View_.SetInputFileName(NameWithoutFolder(F));
  View_.SetProgressCaption(kProgressHint);
  View_.SetCompleted(std::to_string(index));
  View_.SetOutputFolder(OutputFolderFor(F));
  // The view may close the runner from inside any of its calls: nothing is started then.
  if (Closed_) return false;

  TAuFileIn& input = CurrentInput();
  TAuFileOut& output = CurrentOutput();
  input.SetFileName(F);
  if (Mode_ != TConversionMode::cmWavToMp3 && Mode_ != TConversionMode::cmWavToWma) output.SetInput(&input);
  const std::string O = Batch_->Plan[static_cast<std::size_t>(index)].Output;
  output.SetFileName(O);
  View_.SetOutputFileName(NameWithoutFolder(O));
  Current_.Output = O;
  return !Closed_;
}

bool TConversionRunner::CheckInput(const std::string& F, std::int32_t index) {
  if (const std::string problem = InputProblem(CurrentInput(), F, Mode_); !problem.empty()) {
    FinishFile(TFileResult::frFailed, problem);
    return false;
  }
  if (SameFile(F, Current_.Output)) {
    FinishFile(TFileResult::frFailed, kSameFile);
    return false;
  }
  if (std::string conflict = Batch_->Plan[static_cast<std::size_t>(index)].Conflict; !conflict.empty()) {
    FinishFile(TFileResult::frFailed, std::move(conflict));
    return false;
  }
  return true;
}

bool TConversionRunner::CheckNotWrittenYet() {
  struct stat output {};
  if (::stat(Current_.Output.c_str(), &output) != 0) return true;
  const auto written = Batch_->Written.find({output.st_dev, output.st_ino});
  if (written == Batch_->Written.end()) return true;
  FinishFile(TFileResult::frFailed, kAlsoAnOutput + written->second);
  return false;
}

bool TConversionRunner::CheckUpToDate(const std::string& F) {
  if (!Batch_->SkipUpToDate) return true;
  struct stat input {}, output{};
  if (::stat(F.c_str(), &input) != 0 || ::stat(Current_.Output.c_str(), &output) != 0) return true;
  const timespec& in = input.st_mtim;
  const timespec& out = output.st_mtim;
  if (out.tv_sec < in.tv_sec || (out.tv_sec == in.tv_sec && out.tv_nsec < in.tv_nsec)) return true;
  FinishFile(TFileResult::frSkipped, kUpToDate);
  return false;
}

bool TConversionRunner::MakeFolders(std::int32_t index) {
  const TPlannedOutput& p = Batch_->Plan[static_cast<std::size_t>(index)];
  if (std::string problem = MakeOutputFolders(p.Folder, p.Subfolder); !problem.empty()) {
    FinishFile(TFileResult::frFailed, std::move(problem));
    return false;
  }
  return true;
}

bool TConversionRunner::ClaimOutput(const std::string& F, std::int32_t index) {
  const TNameId id = IdOf(Current_.Output);
  // Looked at now: a link made since the plan counts too.
  const auto busy = std::find_if(Batch_->BusyOutputs.begin(), Batch_->BusyOutputs.end(),
                                 [&](const std::string& other) { return Same(id, IdOf(other)); });
  if (busy != Batch_->BusyOutputs.end()) {
    // Another runner writes the output now; the file waits here until that runner frees it.
    Holding_ = true;
    HeldFile_ = F;
    HeldIndex_ = index;
    InFile_ = false;
    Batch_->Waiting.push_back([this, alive = std::weak_ptr<int>(Alive_)] {
      if (!alive.expired()) View_.PostBatchStep(TBatchStep::bsOutputFreed);
    });
    return false;
  }
  Batch_->BusyOutputs.push_back(Current_.Output);
  Claimed_ = Current_.Output;
  return true;
}

bool TConversionRunner::AskAboutExistingOutput() {
  const std::string& O = Current_.Output;
  // A link counts as the output, dangling or not: a Yes replaces the link itself.
  struct stat existing {};
  if (::lstat(O.c_str(), &existing) != 0 || Appending()) return true;
  bool replace = Batch_->ReplaceExisting.value_or(false);
  if (!Batch_->ReplaceExisting) {
    const TOverwriteAnswer answer = View_.AskOverwrite(O + kOverwriteQuestion, O);
    // A view whose question runs an event loop may have closed this runner meanwhile.
    if (Closed_) return false;
    replace = answer == TOverwriteAnswer::oaYes || answer == TOverwriteAnswer::oaYesToAll;
    if (answer == TOverwriteAnswer::oaYesToAll || answer == TOverwriteAnswer::oaNoToAll)
      Batch_->ReplaceExisting = replace;
  }
  if (!replace) {
    FinishFile(TFileResult::frSkipped, kKept);
    return false;
  }
  return true;
}

void TConversionRunner::ConfigureOutput() {
  TRunnerComponents& c = *Components_;
  // Several files with tags of their own: each output carries its source file's.
  const bool ownTags = Batch_->Files.size() > 1 && !Context_.Settings.CommonOptions.IsSameTag;
  // What the editor does not show (copyright, pictures, the comment's language) comes from
  // the source in every case.
  TId3v2Tags& source = *SourceTags();
  switch (TargetFormatOf(Mode_)) {
    case TTargetFormat::tfMp3:
      ApplyMP3Settings(c.MP3Out1, Context_.Settings);
      // The source's own values go on a copy for this file; the batch's stay as they are.
      FillMp3Tags(c.MP3Out1, ownTags ? TagInfoOf(source) : Context_.Tags);
      CarryUnshownTags(source, *c.MP3Out1.Id3v2Tags());
      break;
    case TTargetFormat::tfWma:
      c.WMAOut1.Id3v2Tags()->Clear();
      if (ownTags) c.WMAOut1.SetId3v2Tags(&source);
      ApplyWMASettings(c.WMAOut1, Context_.Settings, Context_.Tags);
      CarryUnshownTags(source, *c.WMAOut1.Id3v2Tags());
      break;
    case TTargetFormat::tfWav:
      // No editor is shown for WAV outputs: they carry their source's own tags.
      c.WaveOut1.Id3v2Tags()->Clear();
      c.WaveOut1.SetId3v2Tags(&source);
      break;
  }
}

TId3v2Tags* TConversionRunner::SourceTags() {
  TRunnerComponents& c = *Components_;
  switch (SourceFormatOf(Mode_)) {
    case TSourceFormat::sfMp3:
      return c.MP3In1.Id3v2Tags();
    case TSourceFormat::sfWma:
      return c.WMIn1.Id3v2Tags();
    case TSourceFormat::sfWav:
      break;
  }
  return c.WaveIn1.Id3v2Tags();
}

bool TConversionRunner::PrepareTarget() {
  const std::string& O = Current_.Output;
  if (const auto clean = Batch_->FoldersToClean.find(FolderOf(O)); clean != Batch_->FoldersToClean.end()) {
    RemoveDeadPartFiles(clean->first, clean->second);
    Batch_->FoldersToClean.erase(clean);
  }
  struct stat existing {};
  // Appending needs the old file itself; it is undone from what is recorded here.
  if (Appending() && ::stat(O.c_str(), &existing) == 0) return RecordAppendBefore();
  std::string part = PartFileName(O, ::getpid());
  if (const int error = CreatePartFile(part); error != 0) {
    FinishFile(TFileResult::frFailed, SystemText("cannot create the output file", error));
    return false;
  }
  Part_ = std::move(part);
  CurrentOutput().SetFileName(Part_);
  return true;
}

bool TConversionRunner::RecordAppendBefore() {
  const UniqueFd file(::open(Current_.Output.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!file.Valid() || ::fstat(file.Get(), &st) != 0) {
    FinishFile(TFileResult::frFailed, SystemText("cannot read the output file", errno));
    return false;
  }
  TAppendBefore before;
  before.Size = st.st_size;
  before.Head.resize(std::min<std::size_t>(kAppendHeadBytes, static_cast<std::size_t>(st.st_size)));
  const ssize_t got = ::pread(file.Get(), before.Head.data(), before.Head.size(), 0);
  if (got != static_cast<ssize_t>(before.Head.size())) {
    FinishFile(TFileResult::frFailed, SystemText("cannot read the output file", got < 0 ? errno : EIO));
    return false;
  }
  before.Recorded = true;
  AppendBefore_ = std::move(before);
  return true;
}

bool TConversionRunner::Appending() const {
  return TargetFormatOf(Mode_) == TTargetFormat::tfWav &&
         Components_->WaveOut1.FileMode() == TFileOutputMode::foAppend;
}

void TConversionRunner::OutputDone(TComponent* Sender) {
  if (Closed_ || !Running_ || Sender != static_cast<TComponent*>(&CurrentOutput())) return;
  Running_ = false;
  try {
    std::string message = RunFailure();
    const auto status = message.empty() ? TFileResult::frConverted : TFileResult::frFailed;
    FinishFile(status, std::move(message));
  } catch (const std::exception& e) {
    if (InFile_) FinishFile(TFileResult::frFailed, e.what());
  }
}

std::string TConversionRunner::RunFailure() {
  std::string message = CurrentOutput().ExceptionMessage();
  if (message.empty() && !Part_.empty()) {
    if (const int error = PublishPartFile(Part_, Current_.Output); error != 0)
      message = SystemText("the output could not be put in place", error);
    else
      Part_.clear();
  }
  if (message.empty()) {
    AppendBefore_ = TAppendBefore{};
    if (struct stat written {}; ::stat(Current_.Output.c_str(), &written) == 0)
      Batch_->Written.emplace(std::pair(written.st_dev, written.st_ino), Current_.Input);
    Current_.Warning = RunWarning();
    return message;
  }
  // Asked before the broken output is removed, which frees its blocks again.
  if (DiskFull(Current_.Output)) message = "the disk is full: " + message;
  UndoOutput();
  return message;
}

std::string TConversionRunner::RunWarning() {
  if (SourceFormatOf(Mode_) == TSourceFormat::sfWav) {
    if (const std::int64_t damaged = Components_->WaveIn1.DamagedBlocks(); damaged > 0)
      return "the input is damaged: " + std::to_string(damaged) +
             (damaged == 1 ? " of its blocks was" : " of its blocks were") + " decoded clamped or as silence";
  }
  if (StatedBytes_ <= 0 || BytesPerSecond_ <= 0) return {};
  const std::int64_t read = CurrentInput().Position();
  // Short by more than 1 % and more than a second: decoder delay and padding, and a stated
  // length rounded to the container's units, never come near that.
  const std::int64_t allowed = std::max(StatedBytes_ / 100, BytesPerSecond_);
  if (StatedBytes_ - read <= allowed) return {};
  return Seconds(read, BytesPerSecond_) + " s of " + Seconds(StatedBytes_, BytesPerSecond_) +
         " s of audio could be read; the input is damaged";
}

void TConversionRunner::FinishFile(TFileResult::TStatus status, std::string message) {
  InFile_ = false;
  if (status != TFileResult::frConverted) UndoOutput();
  Current_.Status = status;
  Current_.Message = std::move(message);
  Record(Current_);
  ReleaseOutput();
  View_.PostBatchStep(TBatchStep::bsAfterFile);
}

void TConversionRunner::Record(TFileResult result) {
  Results_.push_back(std::move(result));
  // The result is kept whatever the view makes of it: a view that cannot show it must not
  // end the batch, nor leave a claimed output or a held file behind.
  try {
    View_.FileFinished(Results_.back());
  } catch (const std::exception&) {
  }
}

void TConversionRunner::ReleaseOutput() {
  if (Claimed_.empty()) return;
  auto& busy = Batch_->BusyOutputs;
  if (const auto at = std::find(busy.begin(), busy.end(), Claimed_); at != busy.end()) busy.erase(at);
  Claimed_.clear();
  // Each held runner looks again; one whose output is still busy holds again.
  std::vector<std::function<void()>> waiting = std::move(Batch_->Waiting);
  Batch_->Waiting.clear();
  for (const auto& wake : waiting) wake();
}

void TConversionRunner::UndoOutput() {
  if (!Part_.empty()) {
    DiscardPartFile(Part_);
    Part_.clear();
  }
  if (!AppendBefore_.Recorded) return;
  const TAppendBefore before = std::move(AppendBefore_);
  AppendBefore_ = TAppendBefore{};
  const UniqueFd file(::open(Current_.Output.c_str(), O_RDWR | O_CLOEXEC));
  struct stat st {};
  if (!file.Valid() || ::fstat(file.Get(), &st) != 0) return;
  std::vector<std::uint8_t> head(before.Head.size());
  // Untouched (refused before a byte was written): left alone, its times too.
  if (st.st_size == before.Size &&
      ::pread(file.Get(), head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
      head == before.Head)
    return;
  if (::ftruncate(file.Get(), before.Size) != 0) return;
  if (::pwrite(file.Get(), before.Head.data(), before.Head.size(), 0) ==
      static_cast<ssize_t>(before.Head.size()))
    ::fsync(file.Get());
}

void TConversionRunner::bStopClick() {
  View_.CloseWindow();
}

void TConversionRunner::Close() {
  if (Closed_) return;
  Closed_ = true;
  TAuFileOut& output = CurrentOutput();
  // A run that ended on its own, its done event not yet handed over, was not stopped: it is
  // reported as it ended (a failed one's output removed).
  const bool endedByItself = Running_ && !output.Busy();
  // Synchronous: the component lets go of the file and no done event follows.
  output.Stop(false);
  if (endedByItself) {
    Running_ = false;
    InFile_ = false;
    Current_.Message = RunFailure();
    Current_.Status = Current_.Message.empty() ? TFileResult::frConverted : TFileResult::frFailed;
    Record(Current_);
  } else if (Running_ || InFile_) {
    Current_.Status = TFileResult::frStopped;
    Current_.Message = Running_ ? kStopped : kStoppedBeforeStart;
    UndoOutput();
    Running_ = false;
    InFile_ = false;
    Record(Current_);
  }
  if (Holding_) {
    // Taken from the batch, so no other runner will convert it.
    Holding_ = false;
    Record(TFileResult{HeldFile_, {}, TFileResult::frStopped, kStoppedBeforeStart, {}});
  }
  ReleaseOutput();
  // Our view of the batch goes; a shared list stays with the runners still on it.
  if (OwnBatch_)
    Batch_->Files.clear();
  else
    Batch_ = std::make_shared<TBatchFiles>();
  TRunnerComponents& c = *Components_;
  c.WaveIn1.SetFileName({});
  c.WaveOut1.SetFileName({});
  c.MP3In1.SetFileName({});
  c.WMIn1.SetFileName({});
  c.MP3Out1.SetFileName({});
  c.WMAOut1.SetFileName({});
}

void SetBatchInputs(TBatchFiles& batch, const std::vector<TInputFile>& files) {
  batch.Files = PathsOf(files);
  batch.Subfolders.clear();
  for (const TInputFile& f : files) batch.Subfolders.push_back(f.Subfolder);
}

}  // namespace melvanto
