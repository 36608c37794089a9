#include "support/volume_images.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testsupport {

std::string TempDir() {
  // Never destroyed: the exit handler below still needs it.
  static const std::string* dir = [] {
    const char* base = std::getenv("VODURU_TEST_TMP");
    std::string root = base != nullptr && *base != '\0' ? base : "/tmp";
    ::mkdir(root.c_str(), 0755);
    auto* d = new std::string(root + "/voduru-" + std::to_string(::getpid()));
    ::mkdir(d->c_str(), 0755);
    // Images are removed when the test program ends, unless kept for a look.
    if (std::getenv("VODURU_KEEP_TMP") == nullptr)
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(*dir, ignored);
      });
    return d;
  }();
  return *dir;
}

std::string TempPath(const std::string& name) {
  static std::atomic<int> counter{0};
  return TempDir() + "/" + std::to_string(++counter) + "-" + name;
}

std::string ShellQuote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

int RunCommand(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> buf{};
  size_t n = 0;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) output.append(buf.data(), n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunCommand(const std::string& command) {
  std::string ignored;
  return RunCommand(command, ignored);
}

bool MakeWholeDisk(const std::string& disk, const std::string& table,
                   const std::vector<std::string>& volumes, const std::vector<std::string>& types,
                   std::vector<uint64_t>& starts, std::string& error) {
  const std::string sfdisk = FindTool("sfdisk");
  if (sfdisk.empty()) {
    error = "sfdisk not found (install fdisk)";
    return false;
  }
  constexpr uint64_t kAlign = 2048;  // sectors: 1 MiB
  std::string script = "label: " + table + "\n";
  uint64_t next = kAlign;
  starts.clear();
  for (size_t i = 0; i < volumes.size(); ++i) {
    std::error_code ec;
    const uint64_t bytes = std::filesystem::file_size(volumes[i], ec);
    if (ec || bytes % 512 != 0) {
      error = volumes[i] + ": no volume image";
      return false;
    }
    const uint64_t sectors = bytes / 512;
    starts.push_back(next);
    script += "start=" + std::to_string(next) + ", size=" + std::to_string(sectors) +
              ", type=" + types.at(i) + "\n";
    next += (sectors + kAlign - 1) / kAlign * kAlign;
  }
  // Room after the last partition for GPT's backup table.
  const uint64_t total = next + kAlign;
  ::unlink(disk.c_str());
  std::string cmd = "truncate -s " + std::to_string(total * 512) + " " + ShellQuote(disk) +
                    " && printf '%s' " + ShellQuote(script) + " | " + ShellQuote(sfdisk) +
                    " --no-reread --no-tell-kernel -q " + ShellQuote(disk);
  for (size_t i = 0; i < volumes.size(); ++i)
    cmd += " && dd status=none conv=notrunc bs=512 seek=" + std::to_string(starts[i]) +
           " if=" + ShellQuote(volumes[i]) + " of=" + ShellQuote(disk);
  std::string out;
  if (RunCommand(cmd, out) != 0) {
    error = cmd + ": " + out;
    return false;
  }
  return true;
}

std::string FindTool(const std::string& name) {
  std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string candidate = path.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

namespace {

bool MakeFat(const std::string& path, int sizeKb, int fatBits, const std::string& options,
             const std::string& label, std::string& error) {
  const std::string tool = FindTool("mkfs.fat");
  if (tool.empty()) {
    error = "mkfs.fat not found";
    return false;
  }
  ::unlink(path.c_str());
  std::string cmd = ShellQuote(tool) + " -C -F " + std::to_string(fatBits) + " " + options;
  if (!label.empty()) cmd += " -n " + ShellQuote(label);
  cmd += " " + ShellQuote(path) + " " + std::to_string(sizeKb);
  std::string out;
  if (RunCommand(cmd, out) != 0) {
    error = cmd + ": " + out;
    return false;
  }
  return true;
}

}  // namespace

bool MakeFatImage(const std::string& path, int sizeKb, int fatBits, const std::string& extraArgs,
                  const std::string& label, std::string& error) {
  return MakeFat(path, sizeKb, fatBits, "-R 1 -a " + extraArgs, label, error);
}

bool MakeFatImageDefaultReserved(const std::string& path, int sizeKb, int fatBits,
                                 const std::string& extraArgs, const std::string& label,
                                 std::string& error) {
  return MakeFat(path, sizeKb, fatBits, extraArgs, label, error);
}

bool MakeNtfsImage(const std::string& path, int sizeMb, int clusterSize, const std::string& label,
                   std::string& error, const std::string& extraArgs) {
  const std::string tool = FindTool("mkntfs");
  if (tool.empty()) {
    error = "mkntfs not found";
    return false;
  }
  ::unlink(path.c_str());
  std::string out;
  if (RunCommand("truncate -s " + std::to_string(sizeMb) + "M " + ShellQuote(path), out) != 0) {
    error = out;
    return false;
  }
  std::string cmd = ShellQuote(tool) + " -F -q -f " + extraArgs;
  if (clusterSize > 0) cmd += " -c " + std::to_string(clusterSize);
  if (!label.empty()) cmd += " -L " + ShellQuote(label);
  cmd += " " + ShellQuote(path);
  if (RunCommand(cmd, out) != 0) {
    error = cmd + ": " + out;
    return false;
  }
  return true;
}

bool MakeExt4Image(const std::string& path, int sizeMb, const std::string& label,
                   std::string& error) {
  const std::string tool = FindTool("mkfs.ext4");
  if (tool.empty()) {
    error = "mkfs.ext4 not found (install e2fsprogs)";
    return false;
  }
  ::unlink(path.c_str());
  std::string out;
  std::string cmd = "truncate -s " + std::to_string(sizeMb) + "M " + ShellQuote(path) + " && " +
                    ShellQuote(tool) + " -q -F";
  if (!label.empty()) cmd += " -L " + ShellQuote(label);
  cmd += " " + ShellQuote(path);
  if (RunCommand(cmd, out) != 0) {
    error = cmd + ": " + out;
    return false;
  }
  return true;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace testsupport
