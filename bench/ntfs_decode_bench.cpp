// Decodes every FILE record in use of a large NTFS volume, raw (the volume
// held exclusively), and prints records per second beside the time `cat`
// needs to read the same MFT bytes.
//
//   bench_ntfs_decode [IMAGE]     (without IMAGE a volume of 100,000 files is built)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "bench_support.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_geometry.h"
#include "platform/platform.h"
#include "runtime/bytes.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace {

using namespace vr;

bool SetGeometry(const std::string& image) {
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> boot(512);
  if (!in.read(reinterpret_cast<char*>(boot.data()), 512)) return false;
  VolumeSession.BootSector.ReDim(511);
  std::copy(boot.begin(), boot.end(), VolumeSession.BootSector.data());
  VolumeSession.IsNtfs = kTrue;
  Set_Ntfs_Geometry(boot);
  VolumeSession.TotalClusters =
      static_cast<int32_t>(I64(boot, 0x28) / VolumeSession.SectorsPerCluster);
  return VolumeSession.SectorsPerCluster > 0 && VolumeSession.SectorsPerFileRecord > 0;
}

// Decodes every record in use; returns how many.
long DecodeAll(long& failures) {
  long decoded = 0;
  failures = 0;
  ByteArray buffer;
  VbArray<Long> lengths, lcns;
  const long records = Mft_Record_Count();
  for (long n = 0; n < records; ++n) {
    if (!Is_Active(Long(static_cast<int32_t>(n)))) continue;
    ResetErrorState();
    RecordInfo info;
    Decode_FILE(VolumeSession.VolumeHandle, static_cast<int32_t>(n), lengths, lcns, buffer, info);
    ++decoded;
    if (ErrorState.ErrorCount != 0) ++failures;
  }
  return decoded;
}

// The MFT's bytes copied into a file of their own, for `cat` to read.
bool CopyMftBytes(const std::string& image, const std::string& out) {
  std::ifstream in(image, std::ios::binary);
  std::ofstream dst(out, std::ios::binary | std::ios::trunc);
  const int64_t clusterBytes = int64_t{VolumeSession.SectorsPerCluster} * 512;
  std::vector<char> chunk(static_cast<size_t>(clusterBytes));
  for (int64_t i = 1; i <= VolumeSession.MftRunLengths.UBound(); ++i) {
    in.seekg(int64_t{VolumeSession.MftRunLcns(i)} * clusterBytes);
    for (int64_t c = 0; c < VolumeSession.MftRunLengths(i); ++c) {
      if (!in.read(chunk.data(), clusterBytes)) return false;
      dst.write(chunk.data(), clusterBytes);
    }
  }
  return static_cast<bool>(dst);
}

}  // namespace

int main(int argc, char** argv) {
  std::string image;
  if (argc > 1) {
    image = argv[1];
  } else {
    image = bench::BuildLargeNtfsVolume("bench_ntfs_decode");
    if (image.empty()) return 1;
  }
  if (!SetGeometry(image)) {
    std::fprintf(stderr, "bench_ntfs_decode: %s is not an NTFS volume\n", image.c_str());
    return 1;
  }
  platform::SetDriveMap({platform::DriveEntry{'c', image, {}}});
  VolumeSession.VolumeHandle = Open_Drive("c:", kAccessRead, 0);
  VolumeSession.SharedMode = 0;
  Install_MFT_Hooks();
  if (VolumeSession.VolumeHandle == -1 || !Load_Mft()) {
    std::fprintf(stderr, "bench_ntfs_decode: cannot load the MFT: %s\n",
                 ErrorState.ErrorText.c_str());
    return 1;
  }

  long decoded = 0, failures = 0;
  const double decodeSeconds = bench::BestOf(3, [&] { decoded = DecodeAll(failures); });
  Close_Drive(VolumeSession.VolumeHandle);

  const std::string mftCopy = testsupport::TempPath("mft.bin");
  if (!CopyMftBytes(image, mftCopy)) {
    std::fprintf(stderr, "bench_ntfs_decode: cannot copy the MFT bytes\n");
    return 1;
  }
  const double mftBytes = static_cast<double>(std::filesystem::file_size(mftCopy));
  const double catSeconds = bench::BestOfCommand(3, "cat " + testsupport::ShellQuote(mftCopy));

  std::printf("Records in use decoded: %ld (%ld with an error)\n", decoded, failures);
  std::printf("MFT bytes:              %.1f MB\n", mftBytes / 1048576.0);
  std::printf("%-24s %10s %16s\n", "", "seconds", "records/second");
  std::printf("%-24s %10.3f %16.0f\n", "VoduRU raw decode", decodeSeconds, decoded / decodeSeconds);
  std::printf("%-24s %10.3f %16.0f\n", "cat of the MFT bytes", catSeconds, decoded / catSeconds);
  return failures == 0 ? 0 : 1;
}
