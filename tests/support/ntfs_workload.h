// Work for the optimiser on an NTFS image, added through libntfs-3g after
// the fixture is built: files written a few clusters at a time in turn, so
// that each lies in several runs, some of them deleted again to leave gaps
// between the rest; and ballast that takes the free space.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

struct FragmentedSet {
  std::string folder = "work";  // created in the root folder
  int files = 200;
  int chunks = 6;         // pieces written per file, each after one of every other file
  int chunkClusters = 2;  // clusters per piece
  int removeEvery = 3;    // files 0, n, 2n ... are deleted afterwards (0: none)
  uint32_t seed = 700000;
  bool fillFromStart = false;  // AllocateFromStart before every write (ntfs_fixtures.h)
};

// Adds the set to the image. False and `error` on a libntfs-3g failure.
bool AddFragmentedFiles(const std::string& image, const FragmentedSet& set, std::string& error);

// Writes a file of pattern bytes at `path` ("\"-separated; its folder must
// exist) that takes the volume's free space until `leaveFree` clusters are
// left, or as much as libntfs-3g gives.
bool FillFreeSpace(const std::string& image, const std::string& path, int64_t leaveFree,
                   std::string& error);

// Writes a file of `size` pattern bytes from `seed` at `path` in one go.
bool WriteWholeFile(const std::string& image, const std::string& path, uint32_t size, uint32_t seed,
                    std::string& error);

// Deletes the file at `path`.
bool DeleteOneFile(const std::string& image, const std::string& path, std::string& error);

}  // namespace testsupport
