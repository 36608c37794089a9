// A whole NTFS volume as independent readers see it: every file and named
// stream hashed through libntfs-3g with its run list, the cluster bitmap and
// the MFT zone, and what ntfsfix and The Sleuth Kit say of the image. Taken
// before and after a run that writes the volume, two audits show what the
// run changed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/ntfs_fixtures.h"

namespace testsupport {

struct AuditedStream {
  int64_t record = 0;
  uint64_t size = 0;
  uint64_t hash = 0;  // FNV-1a of the bytes
  bool folder = false;
  bool compressed = false, sparse = false, encrypted = false;
  int dataStreams = 0;           // $DATA attributes of the file, the unnamed one included
  std::vector<LibntfsRun> runs;  // of this stream; empty when resident
};

struct VolumeAudit {
  // "docs\a.txt" for a file's unnamed data, "docs\a.txt:extra" for a named
  // stream, "docs" for a folder (no hash). Each name of a hard-linked file
  // has its entry.
  std::map<std::string, AuditedStream> streams;
  int64_t clusterSize = 0;
  int64_t totalClusters = 0;
  int64_t mftZoneStart = 0, mftZoneEnd = 0;  // as libntfs-3g sets them on mount
  std::vector<uint8_t> bitmap;               // $Bitmap, bit c = cluster c in use
};

// Reads the image at `image` whole; false and `error` when libntfs-3g cannot
// mount it or a file cannot be read.
bool AuditNtfsVolume(const std::string& image, VolumeAudit& audit, std::string& error);

// The entries whose size or content differ, or that are missing or new,
// one line each ("changed: path", "missing: path", "new: path").
std::vector<std::string> ContentChanges(const VolumeAudit& before, const VolumeAudit& after);

// Whether the allocated runs follow each other without a gap (holes of a
// sparse file do not count as fragments).
bool Contiguous(const std::vector<LibntfsRun>& runs);
int64_t AllocatedClusters(const std::vector<LibntfsRun>& runs);

// Unnamed data streams by record number (one entry per file, however many
// names it has), folders excluded.
std::map<int64_t, const AuditedStream*> FilesByRecord(const VolumeAudit& audit);
// Records whose unnamed data runs differ between the two audits.
int RecordsWithChangedRuns(const VolumeAudit& before, const VolumeAudit& after);

// Free space outside the MFT zone: all of it and its largest extent, in
// clusters.
struct FreeSpace {
  int64_t free = 0;
  int64_t largest = 0;
  int64_t largestStart = -1;
  int64_t extents = 0;
};
FreeSpace FreeOutsideMftZone(const VolumeAudit& audit);
bool ClusterUsed(const VolumeAudit& audit, int64_t lcn);

// ntfsfix -n, fsstat and fls -r on the image; an empty result when every
// one exits 0, else what failed with its output. `names` gets fls's names
// of allocated entries (with their depth), sorted.
std::string OtherToolsVerdict(const std::string& image, std::vector<std::string>& names);

}  // namespace testsupport
