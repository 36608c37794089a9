// Real volumes made at test time by the real tools (mkfs.fat, mkntfs,
// mkfs.ext4) in a temporary folder, and a helper to run shell commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The folder for test files: $VODURU_TEST_TMP, else /tmp; a fresh
// subfolder per test program run (created; removed at exit unless
// VODURU_KEEP_TMP is set).
std::string TempDir();
// A path in TempDir() for `name`, unique per call.
std::string TempPath(const std::string& name);

// Runs `command` with /bin/sh; returns its exit status and puts standard
// output and standard error, interleaved, in `output`.
int RunCommand(const std::string& command, std::string& output);
// The same, but the output is not wanted.
int RunCommand(const std::string& command);
// Quotes `text` for the shell.
std::string ShellQuote(const std::string& text);

// A FAT image of `sizeKb` KiB with `fatBits` 12, 16 or 32, one reserved
// sector and no alignment ("mkfs.fat -R 1 -a", as the classic volumes
// were), plus `extraArgs`. Returns false and fills `error` with the
// tool's output on failure.
bool MakeFatImage(const std::string& path, int sizeKb, int fatBits, const std::string& extraArgs,
                  const std::string& label, std::string& error);
// The same with mkfs.fat's own reserved-sector count (and alignment).
bool MakeFatImageDefaultReserved(const std::string& path, int sizeKb, int fatBits,
                                 const std::string& extraArgs, const std::string& label,
                                 std::string& error);
// An NTFS image of `sizeMb` MiB ("mkntfs -F -q -f"), clusters of
// `clusterSize` bytes (0: mkntfs's choice), plus `extraArgs`.
bool MakeNtfsImage(const std::string& path, int sizeMb, int clusterSize, const std::string& label,
                   std::string& error, const std::string& extraArgs = "");
// An ext4 image of `sizeMb` MiB (mkfs.ext4 -q -F).
bool MakeExt4Image(const std::string& path, int sizeMb, const std::string& label,
                   std::string& error);

// A whole-disk image at `disk` with a partition table made by sfdisk
// (`table` "dos" for MBR or "gpt") holding the volume images `volumes` in
// that order, each in a partition of its own starting on a 1 MiB boundary;
// `types` gives each partition's type as sfdisk takes it ("6", "7", a GPT
// type GUID). `starts` receives each partition's first sector.
bool MakeWholeDisk(const std::string& disk, const std::string& table,
                   const std::vector<std::string>& volumes, const std::vector<std::string>& types,
                   std::vector<uint64_t>& starts, std::string& error);

// The path of a tool, searched in PATH and the sbin folders; "" if absent.
std::string FindTool(const std::string& name);

// Whole-file helpers.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace testsupport
