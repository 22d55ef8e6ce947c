// TWMStreamedOut: the encoded stream served over HTTP to real clients (ffprobe, ffmpeg) on a
// loopback address, and the client events on the user-interface thread.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "fakes.h"
#include "loopback_client.h"
#include "tools.h"
#include "wma_out.h"

namespace melvanto::testing {
namespace {

std::vector<std::uint8_t> Tone(std::size_t frames) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < frames; ++i) {
    const auto v = static_cast<std::int16_t>(12000 * std::sin(i * 2 * M_PI * 440 / 44100));
    for (int c = 0; c < 2; ++c) {
      out.push_back(static_cast<std::uint8_t>(v & 0xFF));
      out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
  }
  return out;
}

// Delivers its first blocks freely, then one block per permit: the run stays on while the
// test connects its clients.
class THeldIn : public TMemoryIn {
 public:
  THeldIn(std::size_t frames, int freeBlocks)
      : TMemoryIn(Tone(frames), {16, 2, 44100}, 4096), freeBlocks_(freeBlocks) {}
  Gate gate;

 protected:
  void GetDataInternal(const std::uint8_t*& Buffer, std::uint32_t& Bytes) override {
    if (++blocks_ > freeBlocks_) gate.Pass();
    TMemoryIn::GetDataInternal(Buffer, Bytes);
  }

 private:
  int freeBlocks_;
  int blocks_ = 0;
};

class WmStreamedOut : public ::testing::Test {
 protected:
  void SetUp() override {
    out.SetOnClientConnected([this](TComponent* sender) {
      EXPECT_EQ(sender, &out);
      EXPECT_EQ(std::this_thread::get_id(), mainThread);
      ++connected;
    });
    out.SetOnClientDisconnected([this](TComponent* sender) {
      EXPECT_EQ(sender, &out);
      EXPECT_EQ(std::this_thread::get_id(), mainThread);
      ++disconnected;
    });
    out.SetOnDone([this](TComponent*) { done = true; });
    out.SetDesiredBitrate(128);
  }

  // Starts the run and waits until the sink listens; returns its port.
  std::uint32_t Start(TAuInput& in) {
    out.SetInput(&in);
    out.Run();
    EXPECT_TRUE(PumpUntil([&] { return out.ListeningPort() != 0 || !out.Busy(); }));
    return out.ListeningPort();
  }
  void Finish(THeldIn& in) {
    in.gate.Open();
    EXPECT_TRUE(PumpUntil([&] { return done; }));
    EXPECT_EQ(out.ExceptionMessage(), "");
  }

  const std::thread::id mainThread = std::this_thread::get_id();
  TWMStreamedOut out;
  int connected = 0, disconnected = 0;
  bool done = false;
};

TEST_F(WmStreamedOut, FfprobeIdentifiesTheStreamAsWma) {
  MELVANTO_REQUIRE_COMMAND("ffprobe");
  THeldIn in(44100 * 10, 4);
  const std::uint32_t port = Start(in);
  ASSERT_NE(port, 0u);
  std::string probed;
  std::thread client([&] {
    probed = CaptureText(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels -of default=nw=1 "
        "http://127.0.0.1:" +
        std::to_string(port));
  });
  EXPECT_TRUE(PumpUntil([&] { return connected == 1; }));
  Finish(in);
  client.join();
  EXPECT_NE(probed.find("codec_name=wmav2"), std::string::npos) << probed;
  EXPECT_NE(probed.find("sample_rate=44100"), std::string::npos) << probed;
  EXPECT_NE(probed.find("channels=2"), std::string::npos) << probed;
  EXPECT_TRUE(PumpUntil([&] { return disconnected == 1; }));
  EXPECT_EQ(out.ListeningPort(), 0u) << "the sink is closed with the run";
}

TEST_F(WmStreamedOut, TwoClientsAtOnceBothReceiveTheStream) {
  MELVANTO_REQUIRE_COMMAND("ffmpeg");
  THeldIn in(44100 * 10, 4);
  // A port chosen by the caller this time: one the system has just found free.
  std::uint32_t chosen = 0;
  {
    UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(probe.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::getsockname(probe.Get(), reinterpret_cast<sockaddr*>(&a), &length), 0);
    chosen = ntohs(a.sin_port);
  }
  out.SetPort(chosen);
  const std::uint32_t port = Start(in);
  ASSERT_EQ(port, chosen);
  EXPECT_EQ(out.Port(), chosen);
  std::string decoded[2];
  std::vector<std::thread> clients;
  for (int i = 0; i < 2; ++i)
    clients.emplace_back([&, i] {
      decoded[i] = CaptureText("ffmpeg -nostdin -v error -i http://127.0.0.1:" + std::to_string(port) +
                               " -t 1 -f s16le - | wc -c");
    });
  EXPECT_TRUE(PumpUntil([&] { return connected == 2; }));
  Finish(in);
  for (auto& c : clients) c.join();
  // About a second of 44.1 kHz stereo 16-bit PCM each (counted from the first packet each got).
  for (const std::string& bytes : decoded) {
    EXPECT_GT(std::atof(bytes.c_str()), 176400 * 0.8) << bytes;
    EXPECT_LE(std::atof(bytes.c_str()), 176400 + 4096) << bytes;
  }
  EXPECT_TRUE(PumpUntil([&] { return disconnected == 2; }));
}

TEST_F(WmStreamedOut, ConnectAndDisconnectEventsArriveOnTheMainThread) {
  THeldIn in(44100 * 4, 2);
  out.SetMaxClients(1);
  const std::uint32_t port = Start(in);
  ASSERT_NE(port, 0u);
  TLoopbackClient first(port);
  ASSERT_TRUE(first.Connected());
  ASSERT_TRUE(first.Send("GET / HTTP/1.0\r\n\r\n"));
  EXPECT_TRUE(PumpUntil([&] { return connected == 1; }));

  // Beyond the limit a client is turned away, and no event tells of it.
  TLoopbackClient second(port);
  ASSERT_TRUE(second.Connected());
  EXPECT_EQ(second.Read(12), "HTTP/1.0 503");
  first.Close();
  EXPECT_TRUE(PumpUntil([&] { return disconnected == 1; }));
  EXPECT_EQ(connected, 1);

  // A client that joins while data flows gets the response, then the ASF header.
  TLoopbackClient third(port);
  ASSERT_TRUE(third.Connected());
  EXPECT_TRUE(PumpUntil([&] { return connected == 2; }));
  in.gate.Allow(100);  // a few packets' worth
  const std::string head = third.Read(512);
  const auto body = head.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos) << head;
  EXPECT_EQ(head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  const unsigned char asfHeaderGuid[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
  EXPECT_EQ(head.substr(body + 4, 8), std::string(reinterpret_cast<const char*>(asfHeaderGuid), 8));
  Finish(in);
  EXPECT_TRUE(PumpUntil([&] { return disconnected == 2; }));
}

TEST_F(WmStreamedOut, AClientThatNeverReadsIsDroppedAndTheRunGoesOn) {
  // 90 s at 128 kbit/s: more than the sink keeps for one client, even with the system's buffers.
  THeldIn in(44100 * 90, 2);
  const std::uint32_t port = Start(in);
  TLoopbackClient idle(port, 4096);
  ASSERT_TRUE(idle.Connected());
  EXPECT_TRUE(PumpUntil([&] { return connected == 1; }));
  // All but the last blocks: the run cannot end, so the drop is not the one of the closing sink.
  in.gate.Allow(44100 * 90 * 4 / 4096 - 20);
  EXPECT_TRUE(PumpUntil([&] { return disconnected == 1; })) << "dropped while the run goes on";
  EXPECT_TRUE(out.Busy());
  Finish(in);
  EXPECT_EQ(disconnected, 1);
}

TEST_F(WmStreamedOut, ClientEventsTellTheClientsAddressWhileTheyAreHandled) {
  std::vector<std::string> joined, left;
  out.SetOnClientConnected([&](TComponent*) { joined.push_back(out.ClientAddress()); });
  out.SetOnClientDisconnected([&](TComponent*) { left.push_back(out.ClientAddress()); });
  out.SetBindAddress("127.0.0.1");
  THeldIn in(44100, 2);
  const std::uint32_t port = Start(in);
  ASSERT_NE(port, 0u);
  TLoopbackClient client(port);
  ASSERT_TRUE(client.Connected());
  EXPECT_TRUE(PumpUntil([&] { return joined.size() == 1; }));
  EXPECT_EQ(out.ClientAddress(), "") << "only inside a handler";
  client.Close();
  EXPECT_TRUE(PumpUntil([&] { return left.size() == 1; }));
  Finish(in);
  ASSERT_EQ(joined.size(), 1u);
  EXPECT_EQ(joined[0].rfind("127.0.0.1:", 0), 0u) << joined[0];
  EXPECT_NE(joined[0], "127.0.0.1:" + std::to_string(port)) << "the client's end, not ours";
  EXPECT_EQ(left, joined);
}

TEST_F(WmStreamedOut, EventsWithoutHandlersAreNotPosted) {
  out.SetOnClientConnected(nullptr);
  THeldIn in(44100, 2);
  const std::uint32_t port = Start(in);
  TLoopbackClient client(port);
  ASSERT_TRUE(client.Connected());
  client.Close();
  // The disconnect handler is still set: its event proves the connect was seen and dropped.
  EXPECT_TRUE(PumpUntil([&] { return disconnected == 1; }));
  EXPECT_EQ(connected, 0);
  Finish(in);
}

TEST_F(WmStreamedOut, FailuresReleaseThePortAndABusyPortCannotBeServed) {
  // A failed Prepare after the sink opened: the sink is closed by Done.
  TMemoryIn in(Tone(4410), {16, 2, 44100});
  out.SetVBR(true);
  EXPECT_EQ(RunOnce(out, in), "Failed to init codec");
  EXPECT_EQ(out.ListeningPort(), 0u);

  // A port someone else listens on.
  const TListeningSocket taken(htonl(INADDR_ANY));
  ASSERT_NE(taken.Port(), 0u);
  out.SetVBR(false);
  out.SetBindAddress("not.an.address");
  EXPECT_EQ(RunOnce(out, in), "Not an IPv4 address to listen on: not.an.address");
  out.SetBindAddress("");
  out.SetPort(taken.Port());
  EXPECT_EQ(RunOnce(out, in), "Cannot listen on all addresses port " + std::to_string(taken.Port()) +
                                  ": the port is in use");
}

}  // namespace
}  // namespace melvanto::testing
