// The wire form under load, one figure set per run (a fresh process each, so
// that resident sizes start clean):
//
//   zuvo_bench_wire pieces
//       pieces and bytes on the wire for the listings of the end-to-end test
//       (100 entries; 10,000 cut at 200 lines; 10,000 uncut) at the IRC,
//       other and XMPP piece sizes, and the time to encode and to decode
//   zuvo_bench_wire flood CLASS SIZE
//       a hostile server sends pieces of frames that never complete from
//       131,072 addresses, all judged CLASS (stranger, buddy, reply), each
//       piece carrying SIZE (tiny: 3 bytes, irc, xmpp), until the class's
//       allowance is full, then as many again: the resident size and the
//       heap against the allowance and the charge, and the CPU time per
//       further piece (reading it and adding it)
//   zuvo_bench_wire strangers CLASS
//       four senders judged CLASS flood while a buddy's 100-line listing,
//       asked for, arrives in IRC pieces one every 2 s: does it arrive
//
// Each run ends with one line of key=value pairs.
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "purple/reply_limit.h"
#include "purple/wire_reassembly.h"

namespace zuvo::purple {
namespace {

using Clock = Reassembler::Clock;

// A listing as the end-to-end test's shares give it: N files in folders of
// 100 below a temporary folder.
std::u16string Listing(size_t files) {
  const std::string root =
      files > 100 ? "/tmp/zuvo-purple.Xb3kQ9/irc/many10k" : "/tmp/zuvo-purple.Xb3kQ9/irc/many100";
  std::string text = "Accepted Request, Offering...";
  for (size_t i = 0; i < files; ++i) {
    text += "\r" + root + "/d" + std::to_string(i / 100) + "/file-" + std::to_string(i) + ".txt";
  }
  return Ascii(text);
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

double HeapMiB() { return static_cast<double>(mallinfo2().uordblks) / (1 << 20); }

constexpr double kMiB = 1 << 20;

int Pieces() {
  struct Case {
    const char* name;
    std::u16string text;
  };
  const Case cases[] = {
      {"100 entries", Listing(100)},
      {"10,000 cut at 200 lines", LimitReplyLines(Listing(10000), 200)},
      {"10,000 uncut", Listing(10000)},
  };
  std::string summary;
  for (const Case& c : cases) {
    std::printf("%s (%zu characters):\n", c.name, c.text.size());
    for (size_t size : {kIrcPieceBytes, kOtherPieceBytes, kXmppPieceBytes}) {
      const double start = ThreadCpuSeconds();
      const std::vector<std::string> pieces = EncodeText(c.text, FrameKind::kReply, 1, size);
      const double encoded = ThreadCpuSeconds();
      Reassembler r;
      Reassembler::Result result;
      for (const std::string& p : pieces) {
        Piece piece;
        ParsePiece(p, piece);
        result = r.Add("bob", piece, SenderClass::kExpectedReply, Clock::now());
      }
      std::u16string back;
      const bool same = result.kind == Reassembler::Result::Kind::kComplete &&
                        BytesToText(result.message, back) && back == c.text;
      const double decoded = ThreadCpuSeconds();
      size_t bytes = 0;
      for (const std::string& p : pieces) bytes += p.size();
      std::printf(
          "  pieces of %5zu bytes: %4zu pieces, %7zu bytes; encode %.1f ms, decode %.1f ms%s\n",
          size, pieces.size(), bytes, (encoded - start) * 1e3, (decoded - encoded) * 1e3,
          same ? "" : "  NOT THE SAME TEXT");
      if (!same) return 1;
      if (size == kIrcPieceBytes || size == kXmppPieceBytes) {
        summary += std::string(summary.empty() ? "" : " ") +
                   (c.text.size() < 10000    ? "list100"
                    : c.text.size() < 100000 ? "cut10k"
                                             : "all10k") +
                   (size == kIrcPieceBytes ? "_irc=" : "_xmpp=") + std::to_string(pieces.size());
      }
    }
  }
  std::printf("%s\n", summary.c_str());
  return 0;
}

struct Flood {
  SenderClass judged;
  size_t payloadBytes;  // per piece
};

// A key like the libpurple host's: protocol, account, contact.
std::string Address(size_t n) {
  return "prpl-jabber:ann@example.org\nuser" + std::to_string(n) + "@hostile.example";
}

int RunFlood(const Flood& flood, const char* className, const char* sizeName) {
  constexpr size_t kAddresses = 131072;
  const Reassembler::Limits limits;
  const Reassembler::Allowance& allowance = flood.judged == SenderClass::kStranger ? limits.stranger
                                            : flood.judged == SenderClass::kBuddy  ? limits.buddy
                                                                                   : limits.reply;
  std::mt19937 random(1);
  std::string bytes(flood.payloadBytes, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  const std::string payload = EncodePayload(bytes);
  // Frames as long as a share allows, so that none completes.
  const uint32_t count = static_cast<uint32_t>(
      std::max<size_t>(2, std::min<size_t>(allowance.contactBytes / (flood.payloadBytes + 100),
                                           allowance.maxMessageBytes / flood.payloadBytes)));
  const FrameKind kind =
      flood.judged == SenderClass::kExpectedReply ? FrameKind::kReply : FrameKind::kRequest;

  // CPU time per further piece, in microseconds (the last slot: longer).
  std::vector<size_t> histogram(10001, 0);
  {
    // The allocator's and the library's first uses, before the baseline.
    Reassembler warm(limits);
    Piece p;
    p.count = 2;
    p.kind = kind;
    for (p.id = 0; p.id < 1000; ++p.id) warm.Add(Address(p.id), p, flood.judged, Clock::now());
  }
  std::vector<uint32_t> next(kAddresses, 0);  // each address's next piece
  Reassembler r(limits);
  const double residentBefore = ResidentMiB(), heapBefore = HeapMiB();
  Clock::time_point now = Clock::now();
  size_t sent = 0;
  auto piece = [&](size_t n) {
    const size_t address = n % kAddresses;
    Piece p;
    p.id = static_cast<uint32_t>(address * 2654435761u + (next[address] / count));
    p.index = next[address]++ % count;
    p.count = count;
    p.kind = kind;
    p.payload = payload;
    return std::make_pair(Address(address), PieceText(p));
  };
  auto add = [&](const std::pair<std::string, std::string>& message) {
    Piece p;
    ParsePiece(message.second, p);
    return r.Add(message.first, p, flood.judged, now).kind;
  };

  // Until the allowance is full (or every address has sent two pieces:
  // pieces over a class's cap are refused at once).
  while (r.bufferedBytes(flood.judged) + 2 * (flood.payloadBytes + 400) < allowance.totalBytes &&
         sent < 2 * kAddresses) {
    add(piece(sent++));
    if (sent == 10000 && r.bufferedBytes(flood.judged) == 0) break;  // all refused
  }
  const size_t toFill = sent;
  const double residentFull = ResidentMiB(), heapFull = HeapMiB();
  const size_t charged = r.bufferedBytes(flood.judged);

  // As many again (at least 100,000), each timed in this thread's CPU time.
  const size_t further = std::max<size_t>(toFill, 100000);
  double longest = 0, cpu = 0;
  for (size_t i = 0; i < further; ++i) {
    const auto message = piece(sent++);
    const double t0 = ThreadCpuSeconds();
    add(message);
    const double us = (ThreadCpuSeconds() - t0) * 1e6;
    cpu += us * 1e-6;
    longest = std::max(longest, us);
    ++histogram[std::min<size_t>(static_cast<size_t>(us), histogram.size() - 1)];
    if (i % 1024 == 0) now += std::chrono::milliseconds(1);
  }
  const double residentAfter = ResidentMiB(), heapAfter = HeapMiB();
  size_t p99 = 0;
  for (size_t seen = 0; p99 < histogram.size() && (seen += histogram[p99]) < further * 99 / 100;) {
    ++p99;
  }
  const double budget = static_cast<double>(allowance.totalBytes) / kMiB;
  const double grown = std::max(residentFull, residentAfter) - residentBefore;
  std::printf("flood of %s pieces (%zu bytes each, frames of %u) judged %s from %zu addresses\n",
              sizeName, flood.payloadBytes, count, className, kAddresses);
  std::printf(
      "  to fill the allowance: %zu pieces, %zu frames held, charged %.2f MiB of %.2f MiB\n",
      toFill, r.framesInProgress(), static_cast<double>(charged) / kMiB, budget);
  std::printf(
      "  resident: %.1f MiB before, %.1f full, %.1f after as many again: grew %.2f MiB, "
      "%.2f x the allowance\n",
      residentBefore, residentFull, residentAfter, grown, grown / budget);
  const double heapOverCharge =
      charged ? (heapFull - heapBefore) / (static_cast<double>(charged) / kMiB) : 0;
  std::printf("  heap in use grew %.2f MiB full, %.2f after: %.2f x the charge\n",
              heapFull - heapBefore, heapAfter - heapBefore, heapOverCharge);
  const double perPiece = cpu / static_cast<double>(further);
  std::printf(
      "  per further piece (reading and adding it): %.2f us CPU on average, 99%% under "
      "%zu us, the longest %.1f us\n",
      perPiece * 1e6, p99 + 1, longest);
  std::printf(
      "flood_%s_%s: resident_over_allowance=%.2f heap_over_charge=%.2f cpu_us=%.2f "
      "max_us=%.1f\n",
      className, sizeName, grown / budget, heapOverCharge, perPiece * 1e6, longest);
  return grown <= 2 * budget && perPiece <= 1e-3 ? 0 : 1;
}

int RunStrangers(SenderClass judged, const char* className) {
  Reassembler r;
  Clock::time_point now = Clock::now();
  const std::u16string listing = Listing(100);
  const std::vector<std::string> pieces =
      EncodeText(listing, FrameKind::kReply, 0xB0B, kIrcPieceBytes);
  const std::string payload = EncodePayload(std::string(240, 'x'));
  std::vector<uint32_t> fed(4, 0);
  size_t flooded = 0;
  Reassembler::Result last;
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& text : pieces) {
    // Between two of the buddy's pieces (2 s apart), each flooder sends
    // 5,000 pieces of frames of 200 pieces (48,000 bytes, under a request's
    // cap), two at a time, none of them whole.
    for (int i = 0; i < 20000; ++i, ++flooded) {
      const size_t flooder = static_cast<size_t>(i) % 4;
      const uint32_t n = fed[flooder]++;
      Piece p;
      p.id = static_cast<uint32_t>(flooder << 24 | (n / 398 * 2 + n % 2));
      p.index = n % 398 / 2;
      p.count = 200;
      p.kind = FrameKind::kRequest;
      p.payload = payload;
      Piece parsed;
      ParsePiece(PieceText(p), parsed);
      r.Add("eve" + std::to_string(flooder), parsed, judged, now);
    }
    Piece piece;
    ParsePiece(text, piece);
    last = r.Add("bob", piece, SenderClass::kExpectedReply, now);
    now += std::chrono::seconds(2);
  }
  std::u16string back;
  const bool arrived = last.kind == Reassembler::Result::Kind::kComplete &&
                       BytesToText(last.message, back) && back == listing;
  const size_t lines =
      arrived ? static_cast<size_t>(std::count(back.begin(), back.end(), u'\r')) : 0;
  std::printf(
      "four senders judged %s flood (%zu pieces) while bob's 100-line listing arrives in "
      "%zu IRC pieces: %zu of 100 lines arrived (%.0f ms)\n",
      className, flooded, pieces.size(), lines,
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() * 1e3);
  std::printf("strangers_%s: lines=%zu\n", className, lines);
  return arrived ? 0 : 1;
}

}  // namespace
}  // namespace zuvo::purple

int main(int argc, char** argv) {
  using namespace zuvo::purple;
  const std::string mode = argc > 1 ? argv[1] : "";
  auto judged = [&](const char* name, SenderClass& out) {
    if (!std::strcmp(name, "stranger")) return out = SenderClass::kStranger, true;
    if (!std::strcmp(name, "buddy")) return out = SenderClass::kBuddy, true;
    if (!std::strcmp(name, "reply")) return out = SenderClass::kExpectedReply, true;
    return false;
  };
  SenderClass sender{};
  if (mode == "pieces") return Pieces();
  if (mode == "flood" && argc == 4 && judged(argv[2], sender)) {
    const std::string size = argv[3];
    const size_t bytes = size == "tiny" ? 3 : size == "irc" ? 246 : size == "xmpp" ? 24573 : 0;
    if (bytes) return RunFlood({sender, bytes}, argv[2], argv[3]);
  }
  if (mode == "strangers" && argc == 3 && judged(argv[2], sender)) {
    return RunStrangers(sender, argv[2]);
  }
  std::fprintf(stderr,
               "usage: zuvo_bench_wire pieces | flood stranger|buddy|reply tiny|irc|xmpp | "
               "strangers stranger|buddy\n");
  return 2;
}
