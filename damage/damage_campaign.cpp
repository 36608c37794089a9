// The damaged-volume campaign: builds FAT12, FAT16 and NTFS fixture volumes,
// damages copies in the classes a defragmenter must never write over (bit
// flips and zeroed sectors in boot sectors, FATs, folders, MFT records,
// index blocks, run lists and bitmaps; truncations; loops; cross-links;
// files no folder reaches), runs the Checked View and the Fast View,
// exclusive and shared, and a Defrag on each, every run in a child process
// of its own with a time limit, and reports crashes, hangs, writes to the
// image, run-time errors no check named, and clean ends on volumes that
// an independent reader (fsck.fat -n, libntfs-3g) calls damaged.
//
//   damage_campaign [IMAGES [SEED [FINDINGS-FOLDER [SECONDS [CLASSES]]]]]
//
// IMAGES damaged images (default 2000); case i is damaged from seed SEED + i,
// so a run with the same seed damages the same images. CLASSES, a list like
// "NTFS volume bitmap,FAT12 FAT entry", keeps only the images of those
// damage classes (the others are damaged, then skipped).
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/headless_run.h"
#include "drivers/builtin_drivers.h"
#include "independent_check.h"
#include "platform/block_device.h"
#include "platform/platform.h"
#include "support/damaged_images.h"
#include "support/fat_fixtures.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"

namespace {

using Image = std::vector<uint8_t>;
using Rng = std::mt19937_64;

constexpr int kTimeLimitSeconds = 30;

struct Base {
  std::string name;
  bool ntfs;
  Image image;
};

struct Mode {
  const char* name;
  int checked, defrag;
  bool shared;
};
const Mode kModes[] = {{"checked", -1, -1, false},
                       {"checked-shared", -1, -1, true},
                       {"fast", 0, -1, false},
                       {"fast-shared", 0, -1, true},
                       {"defrag", -1, 0, false}};

// What one run of one view came to.
enum class Outcome { kClean, kStopped, kCrash, kHang, kWrite, kBareError, kOptimiser };

struct ChildReport {
  int failed = 0, internalFault = 0, wrote = 0, optimiser = 0;
  char firstError[160] = {};
};

int64_t Pick(Rng& rng, int64_t low, int64_t high) {  // low .. high - 1
  if (high <= low) return low;
  return std::uniform_int_distribution<int64_t>(low, high - 1)(rng);
}

void FlipBits(Image& im, int64_t from, int64_t to, Rng& rng) {
  const int flips = static_cast<int>(Pick(rng, 1, 9));
  for (int k = 0; k < flips; ++k) {
    const int64_t at = Pick(rng, from, std::min<int64_t>(to, im.size()));
    if (at < static_cast<int64_t>(im.size())) im[at] ^= static_cast<uint8_t>(1u << Pick(rng, 0, 8));
  }
}

void ZeroSector(Image& im, int64_t from, int64_t to, Rng& rng) {
  const int64_t sector = Pick(rng, from / 512, std::max<int64_t>(from / 512 + 1, to / 512));
  for (int64_t i = sector * 512; i < sector * 512 + 512 && i < static_cast<int64_t>(im.size()); ++i)
    im[i] = 0;
}

// A field of 1, 2 or 4 bytes set to a value damage likes: 0, all ones, the
// top bit, or random.
void PokeField(Image& im, int64_t at, Rng& rng) {
  const int width = std::vector<int>{1, 2, 4}[Pick(rng, 0, 3)];
  const uint32_t values[] = {0u, 0xFFFFFFFFu, 0x80008000u, static_cast<uint32_t>(rng())};
  const uint32_t v = values[Pick(rng, 0, 4)];
  for (int i = 0; i < width && at + i < static_cast<int64_t>(im.size()); ++i)
    im[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string DamageFat(Image& im, Rng& rng) {
  const testsupport::PlainFatLayout l = testsupport::ParseFatLayout(im);
  const int64_t fat = int64_t{l.reservedSectors} * 512;
  const int64_t root = int64_t{l.rootDirSector} * 512;
  const int64_t data = int64_t{l.firstDataSector} * 512;
  const int64_t end = static_cast<int64_t>(im.size());
  switch (Pick(rng, 0, 9)) {
    case 0: PokeField(im, Pick(rng, 0x0B, 0x27), rng); return "boot field";
    case 1: FlipBits(im, fat, root, rng); return "FAT bits";
    case 2: {  // one FAT entry: a loop, a free mark, an end, a bad mark, or random
      const uint32_t c = static_cast<uint32_t>(Pick(rng, 2, l.clusters + 2));
      const uint32_t values[] = {c, 0, 0xFFFF, 0xFFF7,
                                 static_cast<uint32_t>(Pick(rng, 2, l.clusters + 2))};
      testsupport::PatchFatEntry(im, c, values[Pick(rng, 0, 5)] & (l.bits == 12 ? 0xFFF : 0xFFFF));
      return "FAT entry";
    }
    case 3: FlipBits(im, root, data, rng); return "root folder bits";
    case 4: {  // a root entry's start cluster or size
      const int64_t e = root + 32 * Pick(rng, 0, 16);
      PokeField(im, e + (Pick(rng, 0, 2) ? 26 : 28), rng);
      return "root entry field";
    }
    case 5: FlipBits(im, data, std::min(end, data + 64 * 1024), rng); return "folder and data bits";
    case 6: ZeroSector(im, 0, data, rng); return "zeroed system sector";
    case 7: im.resize(static_cast<size_t>(Pick(rng, 512, end))); return "truncation";
    default: {  // two entries of the root sharing a start cluster
      const int64_t a = root + 32 * Pick(rng, 0, 12), b = root + 32 * Pick(rng, 0, 12);
      im[b + 26] = im[a + 26];
      im[b + 27] = im[a + 27];
      return "shared start cluster";
    }
  }
}

std::string DamageNtfs(Image& im, Rng& rng) {
  testsupport::damage::Mft mft(im);
  if (!mft.Valid()) return "none";
  const int64_t recordBytes = mft.RecordBytes();
  const int64_t in = Pick(rng, 0, std::min<int64_t>(mft.Records(), 700));
  const int64_t at = mft.Offset(in);
  switch (Pick(rng, 0, 11)) {
    case 0: PokeField(im, Pick(rng, 0x0B, 0x50), rng); return "boot field";
    case 1:
      if (at >= 0) FlipBits(im, at, at + recordBytes, rng);
      return "MFT record bits";
    case 2:
      if (at >= 0) PokeField(im, at + Pick(rng, 4, 0x30), rng);
      return "MFT record header";
    case 3: {  // a run list of a non-resident attribute
      for (int tries = 0; tries < 50; ++tries) {
        const int64_t r = Pick(rng, 0, std::min<int64_t>(mft.Records(), 700));
        if (!mft.IsBase(r)) continue;
        const int64_t a = mft.Attribute(r, 0x80);
        std::vector<uint8_t>& b = mft.Record(r);
        if (a < 0 || b[a + 8] == 0) continue;
        const int64_t runs = a + (b[a + 0x20] | b[a + 0x21] << 8);
        const int64_t len = b[a + 4] | b[a + 5] << 8;
        const int64_t pos = Pick(rng, runs, std::min<int64_t>(a + len, recordBytes));
        b[pos] ^= static_cast<uint8_t>(1u << Pick(rng, 0, 8));
        mft.Store();
        return "run list";
      }
      return "none";
    }
    case 4: {  // an index block
      std::vector<int64_t> blocks;
      for (int64_t p = 0; p + 4096 <= static_cast<int64_t>(im.size()); p += 4096)
        if (std::memcmp(&im[p], "INDX", 4) == 0) blocks.push_back(p);
      if (blocks.empty()) return "none";
      const int64_t p = blocks[Pick(rng, 0, blocks.size())];
      if (Pick(rng, 0, 2)) {
        FlipBits(im, p, p + 4096, rng);
      } else {
        PokeField(im, p + Pick(rng, 0x18, 0x60), rng);
      }
      return "index block";
    }
    case 5: {  // the volume bitmap: clusters freed or taken
      const std::vector<uint8_t>& b = mft.Record(6);
      const int64_t a = mft.Attribute(6, 0x80);
      if (a < 0) return "none";
      const auto runs = testsupport::damage::DecodeRuns(b, a + (b[a + 0x20] | b[a + 0x21] << 8),
                                                        a + (b[a + 4] | b[a + 5] << 8));
      if (runs.empty()) return "none";
      const int64_t cluster = (im[0x0D] * 512);
      const int64_t from = runs[0].first * cluster;
      FlipBits(im, from, from + static_cast<int64_t>(im.size()) / cluster / 8, rng);
      return "volume bitmap";
    }
    case 6:
      if (at >= 0) ZeroSector(im, at, at + recordBytes, rng);
      return "zeroed MFT sector";
    case 7: im.resize(static_cast<size_t>(Pick(rng, 512, im.size()))); return "truncation";
    case 8: {
      testsupport::damage::LinkTwoFiles(mft);
      mft.Store();
      return "cross-link";
    }
    case 9: {
      std::string name;
      testsupport::damage::OrphanCopy(mft, name);
      mft.Store();
      return "unreachable file";
    }
    default: {  // an attribute length, type or name field of a record
      if (at < 0) return "none";
      std::vector<uint8_t>& b = mft.Record(in);
      const int64_t first = b[0x14] | b[0x15] << 8;
      if (first + 0x20 > recordBytes) return "none";
      PokeField(b, first + std::vector<int>{0, 4, 8, 9, 10, 0x20}[Pick(rng, 0, 6)], rng);
      mft.Store();
      return "attribute header";
    }
  }
}

// Makes `image` equal to `base` again, copying back only the pages that
// differ.
void Mend(Image& image, const Image& base) {
  if (image.size() != base.size()) {
    const size_t kept = std::min(image.size(), base.size());
    image.resize(base.size());
    std::memcpy(image.data() + kept, base.data() + kept, base.size() - kept);
  }
  constexpr size_t kPage = 4096;
  for (size_t at = 0; at < base.size(); at += kPage) {
    const size_t n = std::min(kPage, base.size() - at);
    if (std::memcmp(image.data() + at, base.data() + at, n) == 0) continue;
    std::memcpy(image.data() + at, base.data() + at, n);
  }
}

bool IsBareError(const std::string& text) {
  static const char* kRunTime[] = {"Overflow", "Subscript out of range", "Division by zero",
                                   "Out of memory", "Invalid procedure call"};
  for (const char* t : kRunTime)
    if (text == t) return true;
  return false;
}

// The image a child's view runs on, write-protected: a write by any path
// (the drivers, libntfs-3g, the raw-write path) ends the child in
// OnImageWrite, which reports it. Only whole pages inside the image can be
// protected (its neighbours on the heap must stay writable); the bytes
// before the first and after the last such page are kept and compared
// afterwards. Cheaper than copying the whole image and comparing it.
uint8_t* g_protectedFrom = nullptr;
uint8_t* g_protectedTo = nullptr;
int g_reportFd = -1;

void OnImageWrite(int, siginfo_t* info, void*) {
  const auto* at = static_cast<uint8_t*>(info->si_addr);
  if (at >= g_protectedFrom && at < g_protectedTo) {
    ChildReport r;
    r.wrote = 1;
    std::memcpy(r.firstError, "wrote to the image", sizeof "wrote to the image");
    (void)!write(g_reportFd, &r, sizeof r);
    _exit(0);
  }
  signal(SIGSEGV, SIG_DFL);  // any other fault is a crash
  raise(SIGSEGV);
}

class ProtectedImage {
 public:
  ProtectedImage(std::vector<uint8_t>& bytes, int reportFd) : bytes_(bytes) {
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<uintptr_t>(bytes.data());
    const auto end = begin + bytes.size();
    const uintptr_t from = (begin + page - 1) & ~(page - 1), to = end & ~(page - 1);
    if (to > from) {
      head_ = from - begin;
      tail_ = end - to;
      g_protectedFrom = reinterpret_cast<uint8_t*>(from);
      g_protectedTo = reinterpret_cast<uint8_t*>(to);
      g_reportFd = reportFd;
      struct sigaction action {};
      action.sa_sigaction = OnImageWrite;
      action.sa_flags = SA_SIGINFO;
      sigaction(SIGSEGV, &action, nullptr);
      if (mprotect(g_protectedFrom, to - from, PROT_READ) != 0) {
        head_ = bytes.size();
        tail_ = 0;
      }
    } else {
      head_ = bytes.size();
      tail_ = 0;
    }
    edges_.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(head_));
    edges_.insert(edges_.end(), bytes.end() - static_cast<std::ptrdiff_t>(tail_), bytes.end());
  }
  // The unprotected edges differ from what they were.
  bool EdgesChanged() const {
    return std::memcmp(edges_.data(), bytes_.data(), head_) != 0 ||
           std::memcmp(edges_.data() + head_, bytes_.data() + bytes_.size() - tail_, tail_) != 0;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t head_ = 0, tail_ = 0;
  std::vector<uint8_t> edges_;
};

// One view in a child process: the report comes back through a pipe. The
// child takes the image's bytes over for its memory drive instead of copying
// them: after the fork they are the child's own (copy-on-write), and the
// parent's image is untouched.
Outcome RunChild(Image& image, const Mode& mode, std::string& detail) {
  int fds[2];
  if (pipe(fds) != 0) return Outcome::kCrash;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    alarm(kTimeLimitSeconds);
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    auto device = std::make_shared<platform::MemoryDevice>(std::move(image), false);
    const ProtectedImage guard(device->Bytes(), fds[1]);
    platform::MapMemoryDrive(
        'c', device,
        mode.shared ? std::vector<std::string>{"pagefile.sys"} : std::vector<std::string>{});
    const vr::HeadlessRun run =
        vr::Run_Headless_Command('c', vr::Integer(mode.checked), vr::Integer(mode.defrag));
    ChildReport r;
    r.failed = run.failed;
    r.internalFault = run.internalFault;
    r.optimiser = run.optimiserReached;
    r.wrote = guard.EdgesChanged();
    for (const std::string& line : run.lines) {
      if (line.rfind("Err=", 0) == 0 && r.firstError[0] == 0)
        std::snprintf(r.firstError, sizeof r.firstError, "%s", line.c_str() + 4);
    }
    if (r.firstError[0] == 0 && !run.lines.empty())
      std::snprintf(r.firstError, sizeof r.firstError, "%s", run.lines.back().c_str());
    (void)!write(fds[1], &r, sizeof r);
    _exit(0);
  }
  close(fds[1]);
  ChildReport r;
  const ssize_t got = read(fds[0], &r, sizeof r);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  detail = r.firstError;
  if (WIFSIGNALED(status)) {
    detail = strsignal(WTERMSIG(status));
    return WTERMSIG(status) == SIGALRM ? Outcome::kHang : Outcome::kCrash;
  }
  if (got != static_cast<ssize_t>(sizeof r)) return Outcome::kCrash;
  if (r.wrote) return Outcome::kWrite;
  if (r.internalFault || IsBareError(detail)) return Outcome::kBareError;
  if (r.optimiser) return Outcome::kOptimiser;
  return r.failed ? Outcome::kStopped : Outcome::kClean;
}

// The independent reader's verdict in a child of its own (libntfs-3g may
// itself fall over on a damaged volume).
bool ReaderSaysSound(const Base& base, const Image& image, const std::string& scratch,
                     std::string& why) {
  if (!base.ntfs) return damage::FatReaderSaysSound(image, scratch, why);
  int fds[2];
  if (pipe(fds) != 0) return true;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    alarm(kTimeLimitSeconds);
    std::string text;
    const char sound = damage::NtfsReaderSaysSound(image, text) ? 1 : 0;
    (void)!write(fds[1], &sound, 1);
    (void)!write(fds[1], text.data(), std::min<size_t>(text.size(), 200));
    _exit(0);
  }
  close(fds[1]);
  char buffer[256] = {};
  ssize_t got = 0;
  for (ssize_t n; got < static_cast<ssize_t>(sizeof buffer - 1) &&
                  (n = read(fds[0], buffer + got, sizeof buffer - 1 - got)) > 0;)
    got += n;
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  if (got < 1) {
    why = "libntfs-3g failed on it";
    return false;
  }
  why.assign(buffer + 1, static_cast<size_t>(got - 1));
  return buffer[0] == 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int images = argc > 1 ? std::atoi(argv[1]) : 2000;
  const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261209;
  const std::string findings = argc > 3 ? argv[3] : testsupport::TempPath("damage-findings");
  std::filesystem::create_directories(findings);
  const int budget = argc > 4 ? std::atoi(argv[4]) : 0;  // seconds; 0: none
  std::vector<std::string> only;                         // damage classes to run; empty: all
  for (std::string list = argc > 5 ? argv[5] : ""; !list.empty();) {
    const size_t comma = list.find(',');
    only.push_back(list.substr(0, comma));
    list = comma == std::string::npos ? "" : list.substr(comma + 1);
  }
  const auto start = std::chrono::steady_clock::now();

  std::vector<Base> bases;
  bases.push_back(
      {"FAT12", false,
       testsupport::ReadImageFile(
           testsupport::BuildFat12Fixture(testsupport::TempPath("damage12.img")).Path())});
  bases.push_back(
      {"FAT16", false,
       testsupport::ReadImageFile(
           testsupport::BuildFat16Fixture(testsupport::TempPath("damage16.img")).Path())});
  testsupport::NtfsFixture ntfs;
  testsupport::NtfsFixtureOptions options;
  options.sizeMb = 16;
  std::string error;
  if (!testsupport::BuildNtfsFixture(testsupport::TempPath("damage-ntfs.img"), options, ntfs,
                                     error)) {
    std::fprintf(stderr, "damage_campaign: %s\n", error.c_str());
    return 1;
  }
  bases.push_back({"NTFS", true, testsupport::ReadFileBytes(ntfs.Path())});

  // The healthy volumes first: every view must end cleanly on them.
  int healthyFaults = 0;
  for (Base& b : bases) {
    for (const Mode& m : kModes) {
      std::string detail;
      const Outcome o = RunChild(b.image, m, detail);
      const bool expected = m.defrag >= 0 ? o == Outcome::kOptimiser : o == Outcome::kClean;
      if (!expected) {
        ++healthyFaults;
        std::printf("healthy %s %s: %s\n", b.name.c_str(), m.name, detail.c_str());
      }
    }
  }

  std::map<Outcome, int> totals;
  std::map<std::string, std::map<Outcome, int>> byClass;
  std::map<std::string, int> cleanByClass;  // images a reader calls damaged, ended clean
  int cleanOnDamaged = 0, imagesDamaged = 0, runs = 0, fastClean = 0;
  const std::string scratch = testsupport::TempPath("damage-check.img");
  std::vector<Image> work;
  for (const Base& b : bases) work.push_back(b.image);
  for (int i = 0; imagesDamaged < images; ++i) {
    if (budget > 0 &&
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > budget) {
      std::printf("time budget of %d s spent after %d cases\n", budget, i);
      break;
    }
    Rng rng(seed + static_cast<uint64_t>(i));
    const Base& base = bases[std::vector<int>{0, 1, 2, 2}[i % 4]];
    // Each base has one working copy, damaged in place and mended after the
    // case: copying a whole image for every case cost more than the views.
    Image& image = work[static_cast<size_t>(&base - bases.data())];
    const std::string what = base.ntfs ? DamageNtfs(image, rng) : DamageFat(image, rng);
    if (image == base.image) continue;  // the damage changed nothing
    if (!only.empty() &&
        std::find(only.begin(), only.end(), base.name + " " + what) == only.end()) {
      Mend(image, base.image);
      continue;
    }
    ++imagesDamaged;
    bool anyClean = false;
    std::vector<std::string> cleanModes;
    for (const Mode& m : kModes) {
      std::string detail;
      const Outcome o = RunChild(image, m, detail);
      ++runs;
      ++totals[o];
      ++byClass[base.name + " " + what][o];
      // A Fast View checks less by design and never hands over to the
      // optimiser; the runs that must catch the damage are the others.
      const bool fast = m.checked == 0;
      if (fast && o == Outcome::kClean) ++fastClean;
      if (!fast && (o == Outcome::kClean || o == Outcome::kOptimiser)) {
        anyClean = true;
        cleanModes.push_back(m.name);
      }
      if (o == Outcome::kCrash || o == Outcome::kHang || o == Outcome::kWrite ||
          o == Outcome::kBareError) {
        const std::string file = findings + "/case-" + std::to_string(i) + ".img";
        testsupport::WriteFileBytes(file, image);
        std::printf("FINDING case %d %s %s %s: %s %s (%s)\n", i, base.name.c_str(), what.c_str(),
                    m.name,
                    o == Outcome::kCrash   ? "crash"
                    : o == Outcome::kHang  ? "hang"
                    : o == Outcome::kWrite ? "write"
                                           : "bare run-time error",
                    detail.c_str(), file.c_str());
      }
    }
    if (anyClean) {
      std::string why;
      if (!ReaderSaysSound(base, image, scratch, why)) {
        ++cleanOnDamaged;
        ++cleanByClass[base.name + " " + what];
        const std::string file = findings + "/clean-" + std::to_string(i) + ".img";
        testsupport::WriteFileBytes(file, image);
        std::string modes;
        for (const std::string& m : cleanModes) modes += " " + m;
        std::printf("CLEAN ON DAMAGED case %d %s %s:%s; reader: %s (%s)\n", i, base.name.c_str(),
                    what.c_str(), modes.c_str(), why.c_str(), file.c_str());
      }
    }
    Mend(image, base.image);
    std::fflush(stdout);
  }
  std::remove(scratch.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // Runs by outcome, and (last column) the images of the class that ended
  // clean although the independent reader calls them damaged.
  std::printf("\n%-34s %6s %6s %6s %6s %6s %6s %6s %8s\n", "damage class", "clean", "stop", "optim",
              "crash", "hang", "write", "bare", "damaged");
  for (const auto& [name, o] : byClass) {
    auto n = [&](Outcome k) { return o.count(k) ? o.at(k) : 0; };
    std::printf("%-34s %6d %6d %6d %6d %6d %6d %6d %8d\n", name.c_str(), n(Outcome::kClean),
                n(Outcome::kStopped), n(Outcome::kOptimiser), n(Outcome::kCrash), n(Outcome::kHang),
                n(Outcome::kWrite), n(Outcome::kBareError),
                cleanByClass.count(name) ? cleanByClass.at(name) : 0);
  }
  auto t = [&](Outcome k) { return totals.count(k) ? totals.at(k) : 0; };
  std::printf("\nimages damaged %d, runs %d, %.0f s\n", imagesDamaged, runs, seconds);
  std::printf("crashes %d, hangs %d, writes %d, bare run-time errors %d\n", t(Outcome::kCrash),
              t(Outcome::kHang), t(Outcome::kWrite), t(Outcome::kBareError));
  std::printf(
      "clean ends of a Checked View or Defrag on images the independent reader calls "
      "damaged: %d\n",
      cleanOnDamaged);
  std::printf("clean Fast View runs on damaged images (information): %d\n", fastClean);
  std::printf("healthy volumes with a fault: %d\n", healthyFaults);
  return t(Outcome::kCrash) + t(Outcome::kHang) + t(Outcome::kWrite) + t(Outcome::kBareError) +
                     healthyFaults ==
                 0
             ? 0
             : 1;
}
