// melvanto-cli stream run as a user runs it, its stream played by ffmpeg and read by plain
// TCP clients on the loopback address. The program's settings folder is a temporary one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "loopback_client.h"
#include "stream_options.h"
#include "temp_dir.h"
#include "text_file.h"
#include "tools.h"
#include "unique_fd.h"

namespace melvanto::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// melvanto-cli in a child process of its own, its standard output read line by line as it
// comes. Killed on destruction if it still runs.
class TCliProcess {
 public:
  TCliProcess(const std::string& env, const std::string& args, const std::string& errFile) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(writeEnd.Get(), 1);
      const std::string command =
          "exec " + env + Quote(MELVANTO_CLI_PATH) + " " + args + " 2>" + Quote(errFile) + " </dev/null";
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    out_ = std::move(readEnd);
  }
  ~TCliProcess() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  pid_t Pid() const { return pid_; }

  // The next whole line of its output; nothing at its end. A minute without one is taken for
  // a hang and ends the program (its status is then -1): only a safety net, the lines come as
  // soon as there is something to say.
  std::optional<std::string> NextLine() {
    for (;;) {
      if (const auto end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        all_ += line + "\n";
        return line;
      }
      pollfd p{out_.Get(), POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0) {
        ::kill(pid_, SIGKILL);
        return std::nullopt;
      }
      char chunk[1024];
      const ssize_t n = ::read(out_.Get(), chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Reads up to the first line that contains text; empty when none comes.
  std::string LineWith(const std::string& text) {
    while (const auto line = NextLine())
      if (line->find(text) != std::string::npos) return *line;
    return {};
  }
  // Everything read so far.
  const std::string& Output() const { return all_; }

  // The exit status; -1 when a signal ended it.
  int Wait() {
    int raw = 0;
    if (::waitpid(pid_, &raw, 0) != pid_) return -2;
    ended_ = true;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  UniqueFd out_;
  std::string buffer_, all_;
};

// The port of the "Streaming ... at http://127.0.0.1:PORT/ ..." line, 0 when it has none.
std::uint32_t PortOf(const std::string& line) {
  const std::string from = "http://127.0.0.1:";
  const auto at = line.find(from);
  return at == std::string::npos ? 0 : static_cast<std::uint32_t>(std::atoi(line.c_str() + at + from.size()));
}

// The bit rate of that line, in bytes per second.
double ByteRateOf(const std::string& line) {
  const auto at = line.find("WMA, ");
  return at == std::string::npos ? 0 : std::atof(line.c_str() + at + 5) * 1000 / 8;
}

// A loopback client that has asked for the stream.
class TClient : public TLoopbackClient {
 public:
  explicit TClient(std::uint32_t port) : TLoopbackClient(port) {
    if (Connected()) Send("GET / HTTP/1.0\r\n\r\n");
  }
};

// Where the ASF data starts in what a client got: after the HTTP response and the ASF
// header; nothing when it does not start with them.
std::optional<std::size_t> DataStart(const std::string& got) {
  const auto body = got.find("\r\n\r\n");
  if (body == std::string::npos || got.size() < body + 4 + 24) return std::nullopt;
  std::uint64_t headerSize = 0;
  std::memcpy(&headerSize, got.data() + body + 4 + 16, 8);  // the header object's size, little-endian
  return body + 4 + headerSize;
}

// The data a client got, or nothing as above.
std::optional<std::size_t> DataBytes(const std::string& got) {
  const auto start = DataStart(got);
  if (!start) return std::nullopt;
  return got.size() < *start ? 0 : got.size() - *start;
}

// The stream's packet size, from the header's file properties; 0 when they are not found.
std::uint32_t PacketSize(const std::string& got) {
  const unsigned char guid[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  const auto at = got.find(std::string(reinterpret_cast<const char*>(guid), sizeof guid));
  // Past the GUID, size, file ID, file size, date, packet count, three durations and flags.
  constexpr std::size_t kMinimumPacketSize = 16 + 8 + 16 + 8 + 8 + 8 + 8 + 8 + 8 + 4;
  if (at == std::string::npos || got.size() < at + kMinimumPacketSize + 4) return 0;
  std::uint32_t size = 0;
  std::memcpy(&size, got.data() + at + kMinimumPacketSize, 4);
  return size;
}

// What a player (ffmpeg) decoded of the first seconds of the stream on port, measured by sox;
// zero for nothing.
struct TPlayed {
  double Seconds = 0, Rms = 0;
  std::string Stat;  // sox's own words, for failure messages
};
TPlayed Play(std::uint32_t port, const std::string& seconds) {
  TPlayed played;
  played.Stat = CaptureText("timeout 60 ffmpeg -nostdin -v error -i http://127.0.0.1:" + std::to_string(port) +
                            "/ -t " + seconds + " -f wav - | sox -t wav - -n stat 2>&1 | cat");
  const auto length = played.Stat.find("Length (seconds):"), rms = played.Stat.find("RMS     amplitude:");
  if (length != std::string::npos) played.Seconds = std::atof(played.Stat.c_str() + length + 17);
  if (rms != std::string::npos) played.Rms = std::atof(played.Stat.c_str() + rms + 18);
  return played;
}

class CliStream : public ::testing::Test {
 protected:
  std::string Env() const {
    return "env HOME=" + Quote(home_.String()) + " XDG_CONFIG_HOME=" + Quote((home_ / "config").string()) + " ";
  }
  std::string Err() const { return (home_ / "stderr").string(); }
  // A tone made by sox, WAV PCM at CD quality.
  std::string Tone(double seconds) {
    const std::string path = (dir_ / "tone.wav").string();
    EXPECT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + Quote(path) + " synth " + std::to_string(seconds) +
                      " sine 440 vol 0.5"));
    return path;
  }
  // A whole run that needs no signal: its exit status, standard output and errors.
  int Run(const std::string& args, std::string* out = nullptr) {
    TCliProcess cli(Env(), args, Err());
    std::string text;
    while (const auto line = cli.NextLine()) text += *line + "\n";
    if (out != nullptr) *out = text;
    return cli.Wait();
  }

  TempDir home_, dir_;
};

TEST_F(CliStream, TwoPlayersAtOnceHearTheFile_EachComingAndGoingIsPrinted_CtrlCEndsWithZero) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("sox");
  // Looped: however late the players start on a busy machine, there is audio for them.
  TCliProcess cli(Env(), "stream --port 0 --loop " + Quote(Tone(5)), Err());
  const std::string serving = cli.LineWith("Streaming ");
  const std::uint32_t port = PortOf(serving);
  ASSERT_NE(port, 0u) << serving << ReadText(Err());
  EXPECT_NE(serving.find("tone.wav"), std::string::npos) << serving;

  TPlayed played[2];
  std::vector<std::thread> players;
  for (int i = 0; i < 2; ++i) players.emplace_back([&, i] { played[i] = Play(port, "3"); });
  for (auto& p : players) p.join();
  for (const TPlayed& p : played) {
    EXPECT_GT(p.Seconds, 2.5) << p.Stat;
    // The tone at half scale has an RMS of about 0.35: sound, not silence.
    EXPECT_NEAR(p.Rms, 0.35, 0.05) << p.Stat;
  }

  // Each player came and went, told apart by its address.
  std::vector<std::string> joined, left;
  while (left.size() < 2) {
    const auto line = cli.NextLine();
    ASSERT_TRUE(line) << cli.Output();
    if (line->rfind("Listener 127.0.0.1:", 0) != 0) continue;
    const std::string address = line->substr(9, line->find(' ', 9) - 9);
    (line->ends_with(" connected") ? joined : left).push_back(address);
  }
  ASSERT_EQ(joined.size(), 2u) << cli.Output();
  EXPECT_NE(joined[0], joined[1]);
  EXPECT_TRUE(std::is_permutation(joined.begin(), joined.end(), left.begin())) << cli.Output();

  ASSERT_EQ(::kill(cli.Pid(), SIGINT), 0);
  EXPECT_EQ(cli.LineWith("Stopped"), "Stopped");
  EXPECT_EQ(cli.Wait(), 0) << ReadText(Err());
  EXPECT_EQ(ReadText(Err()), "");
}

TEST_F(CliStream, Mp3AndWmaFilesAreStreamedToo_ToldByContentNotByName) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  MELVANTO_REQUIRE_COMMAND("sox");
  if (!HaveMp3Encoder()) GTEST_SKIP() << "ffmpeg without an MP3 encoder";
  for (const auto& [name, codec] : {std::pair{"mp3 named as.wav", "libmp3lame"}, std::pair{"song.wma", "wmav2"}}) {
    SCOPED_TRACE(name);
    const std::string path = (dir_ / name).string();
    ASSERT_TRUE(Shell("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 -c:a " +
                      std::string(codec) + " -b:a 128k -f " + (std::string(codec) == "wmav2" ? "asf " : "mp3 ") +
                      Quote(path)));
    TCliProcess cli(Env(), "stream --port 0 --loop " + Quote(path), Err());
    const std::uint32_t port = PortOf(cli.LineWith("Streaming "));
    ASSERT_NE(port, 0u) << ReadText(Err());
    const TPlayed played = Play(port, "1.5");
    // Past the one-second file's end: looped.
    EXPECT_GT(played.Seconds, 1.2) << played.Stat;
    EXPECT_GT(played.Rms, 0.03) << played.Stat;
    ASSERT_EQ(::kill(cli.Pid(), SIGINT), 0);
    EXPECT_EQ(cli.Wait(), 0);
  }
}

TEST_F(CliStream, MaxClientsOneTurnsTheSecondListenerAway) {
  MELVANTO_REQUIRE_COMMAND("sox");
  TCliProcess cli(Env(), "stream --port=0 --max-clients=1 --loop " + Quote(Tone(2)), Err());
  const std::uint32_t port = PortOf(cli.LineWith("Streaming "));
  ASSERT_NE(port, 0u) << ReadText(Err());
  TClient first(port);
  ASSERT_TRUE(first.Connected());
  EXPECT_NE(cli.LineWith(" connected"), "");
  TClient second(port);
  ASSERT_TRUE(second.Connected());
  EXPECT_EQ(second.Read(12), "HTTP/1.0 503");
  // The first one is served all the while.
  EXPECT_EQ(first.Read(15), "HTTP/1.0 200 OK");
  ASSERT_EQ(::kill(cli.Pid(), SIGINT), 0);
  EXPECT_EQ(cli.Wait(), 0);
  EXPECT_EQ(cli.Output().find("Listener", cli.Output().find(" connected") + 1), std::string::npos)
      << "the one turned away is no listener: " << cli.Output();
}

TEST_F(CliStream, AFileThatCannotBeReadOrAPortInUseFailsWithOne_BadArgumentsWithTwo) {
  MELVANTO_REQUIRE_COMMAND("sox");
  const std::string missing = (dir_ / "no such.wav").string();
  EXPECT_EQ(Run("stream --port 0 " + Quote(missing)), 1);
  EXPECT_EQ(ReadText(Err()), "melvanto-cli: " + missing + ": no such file\n");

  const std::string text = (dir_ / "notes.wav").string();
  WriteText(text, "not audio at all, whatever its name says\n");
  EXPECT_EQ(Run("stream --port 0 " + Quote(text)), 1);
  EXPECT_NE(ReadText(Err()).find(text + ": not a WAV, WMA or MP3 file"), std::string::npos) << ReadText(Err());

  // A port another program listens on.
  const TListeningSocket taken;
  ASSERT_NE(taken.Port(), 0u);
  const std::string port = std::to_string(taken.Port());
  std::string out;
  EXPECT_EQ(Run("stream --port " + port + " " + Quote(Tone(1)), &out), 1);
  EXPECT_NE(ReadText(Err()).find("Cannot listen on 127.0.0.1 port " + port + ": the port is in use"),
            std::string::npos)
      << ReadText(Err());
  EXPECT_EQ(out.find("Streaming"), std::string::npos) << out;

  const std::vector<std::string> usageErrors = {
      "stream", "stream a.wav b.wav", "stream --port 65536 a.wav", "stream --bind localhost a.wav",
      "stream --loop=yes a.wav", "stream --max-clients 0 a.wav", "stream --wma-codec x a.wav",
      // A typed WMA choice the codecs do not have is the user's mistake too.
      "stream --wma-codec 99 --port 0 " + Quote(Tone(1))};
  for (const std::string& args : usageErrors)
    EXPECT_EQ(Run(args), 2) << args << ": " << ReadText(Err());

  // The help says how to open the stream to the network, within 80 columns.
  std::string help;
  EXPECT_EQ(Run("stream --loop --help", &help), 0);
  EXPECT_NE(help.find("0.0.0.0 opens it to every network"), std::string::npos) << help;
  for (std::size_t start = 0, end; (end = help.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
}

TEST(CliStreamArgs, OptionsTakeTheirValuesEitherWay_AndWmaOnesAsConvertDoes) {
  const cli::TStreamArgs a = cli::ParseStreamArgs(
      {"--port=0", "--bind", "0.0.0.0", "--max-clients=3", "--loop", "--wma-codec=1", "--wma-vbr", "--", "-x.wav"});
  EXPECT_EQ(a.Stream.File, "-x.wav");
  EXPECT_EQ(a.Stream.Port, 0u);
  EXPECT_EQ(a.Stream.BindAddress, "0.0.0.0");
  EXPECT_EQ(a.Stream.MaxClients, 3u);
  EXPECT_TRUE(a.Stream.Loop);
  EXPECT_EQ(a.Wma.WmaCodec, 1);
  EXPECT_TRUE(a.Wma.WmaVbr);
  // Defaults: this machine only, the usual port.
  const cli::TStreamArgs d = cli::ParseStreamArgs({"song.mp3"});
  EXPECT_EQ(d.Stream.BindAddress, "127.0.0.1");
  EXPECT_EQ(d.Stream.Port, 8080u);
  EXPECT_FALSE(d.Stream.Loop);
  EXPECT_EQ(cli::StreamUrl("127.0.0.1", "box", 8080), "http://127.0.0.1:8080/");
  EXPECT_EQ(cli::StreamUrl("0.0.0.0", "box", 81), "http://box:81/");
  EXPECT_EQ(cli::StreamUrl("0.0.0.0", "", 81), "http://0.0.0.0:81/");
}

TEST_F(CliStream, LoopKeepsAListenerPastTheFilesEnd_WithoutItTheStreamEndsWithZero) {
  MELVANTO_REQUIRE_COMMAND("sox");
  const std::string tone = Tone(1);
  TCliProcess cli(Env(), "stream --port 0 --loop " + Quote(tone), Err());
  const std::string serving = cli.LineWith("Streaming ");
  const std::uint32_t port = PortOf(serving);
  ASSERT_NE(port, 0u) << ReadText(Err());
  TClient client(port);
  ASSERT_TRUE(client.Connected());
  // Three passes' worth, all on one connection.
  const std::size_t wanted = static_cast<std::size_t>(3 * ByteRateOf(serving));
  std::string got;
  while (DataBytes(got).value_or(0) < wanted) {
    const std::string more = client.Read(4096);
    ASSERT_FALSE(more.empty()) << "dropped after " << got.size() << " bytes";
    got += more;
  }
  ASSERT_EQ(::kill(cli.Pid(), SIGINT), 0);
  EXPECT_EQ(cli.Wait(), 0);

  std::string out;
  EXPECT_EQ(Run("stream --port 0 " + Quote(tone), &out), 0) << ReadText(Err());
  EXPECT_NE(out.find("The end of " + tone + ": the stream is over"), std::string::npos) << out;
}

TEST_F(CliStream, AListenerNeverGetsTheStreamMuchFasterThanItPlays) {
  MELVANTO_REQUIRE_COMMAND("sox");
  TCliProcess cli(Env(), "stream --port 0 --loop " + Quote(Tone(3)), Err());
  const std::string serving = cli.LineWith("Streaming ");
  const std::uint32_t port = PortOf(serving);
  const double rate = ByteRateOf(serving);
  ASSERT_NE(port, 0u) << ReadText(Err());
  ASSERT_GT(rate, 1000) << serving;

  // A client that joins gets the stream from then on, and the pace is never ahead of the time
  // since the stream began: whatever the load, it cannot have more than the time since it
  // connected is worth, plus a packet or two in flight. Counted from before the connect, and
  // read late at worst, this bound holds on a busy machine; a pace a fifth too fast breaks it
  // within these eight seconds (the packets' own overhead is a few percent of the rate).
  const Clock::time_point joined = Clock::now();
  TClient client(port);
  ASSERT_TRUE(client.Connected());
  std::string got;
  std::vector<std::pair<double, std::size_t>> samples;  // seconds since joining, bytes got
  const auto since = [&] { return std::chrono::duration<double>(Clock::now() - joined).count(); };
  while (since() < 8) {
    const std::string more = client.Read(512);
    ASSERT_FALSE(more.empty()) << "the stream ended";
    got += more;
    samples.emplace_back(since(), got.size());
  }
  const double elapsed = since();
  const auto data = DataBytes(got);
  ASSERT_TRUE(data) << got.substr(0, 200);
  const std::uint32_t packet = PacketSize(got);
  ASSERT_GT(packet, 0u);
  // The packet being sent when it joined, and the next, which may go out a moment early.
  EXPECT_LE(*data, 1.1 * rate * elapsed + 2 * packet)
      << "rate " << rate << " B/s over " << elapsed << " s, packets of " << packet;

  // Both sides, on a quiet machine only (a stall of the stream or of this reader moves bytes
  // between seconds): from the first second on, within 10 % of the rate.
  if (std::getenv("MELVANTO_PACE_BOTH_WAYS") == nullptr) return;
  std::size_t i = 0;
  while (i < samples.size() && samples[i].first < 1) ++i;
  ASSERT_LT(i, samples.size());
  const double window = samples.back().first - samples[i].first;
  const double measured = static_cast<double>(samples.back().second - samples[i].second) / window;
  EXPECT_NEAR(measured, rate, rate * 0.1) << "over " << window << " s";
}

}  // namespace
}  // namespace melvanto::testing
