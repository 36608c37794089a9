#include "independent_check.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"
#include "drivers/ntfs/ntfs3g_device.h"
#include "support/fat_fixtures.h"
#include "support/volume_images.h"

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/mft.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/volume.h>
}

namespace damage {

bool FatReaderSaysSound(const std::vector<uint8_t>& image, const std::string& scratch,
                        std::string& why) {
  testsupport::WriteImageFile(scratch, image);
  std::string out;
  const int status =
      testsupport::RunFatTool("fsck.fat -n " + testsupport::ShellQuote(scratch), &out);
  if (status == 0) return true;
  why = "fsck.fat -n: " + out.substr(0, 200);
  return false;
}

bool NtfsReaderSaysSound(const std::vector<uint8_t>& image, std::string& why) {
  auto device = std::make_shared<platform::MemoryDevice>(image, true);
  std::string error;
  auto volume = platform::Ntfs3gVolume::Mount(device, true, error);
  if (!volume) {
    why = "libntfs-3g does not mount it: " + error;
    return false;
  }
  ntfs_volume* vol = volume->Volume();
  const int64_t clusters = vol->nr_clusters;
  std::vector<uint8_t> lcnBitmap(static_cast<size_t>((clusters + 7) / 8));
  if (ntfs_attr_pread(vol->lcnbmp_na, 0, static_cast<s64>(lcnBitmap.size()), lcnBitmap.data()) !=
      static_cast<s64>(lcnBitmap.size())) {
    why = "cluster bitmap unreadable";
    return false;
  }
  std::vector<uint8_t> mftBitmap(static_cast<size_t>(vol->mftbmp_na->data_size));
  ntfs_attr_pread(vol->mftbmp_na, 0, static_cast<s64>(mftBitmap.size()), mftBitmap.data());
  const int64_t records = vol->mft_na->initialized_size / vol->mft_record_size;
  std::vector<uint8_t> owned(static_cast<size_t>(clusters), 0);
  for (int64_t n = 0; n < records && n / 8 < static_cast<int64_t>(mftBitmap.size()); ++n) {
    if (!((mftBitmap[n / 8] >> (n % 8)) & 1)) continue;
    ntfs_inode* ni = ntfs_inode_open(vol, static_cast<MFT_REF>(n));
    if (ni == nullptr) {
      if (n < 16) continue;  // reserved records need not be files
      // libntfs-3g opens base records only; an extension record is read raw.
      MFT_RECORD* m = nullptr;
      const bool extension =
          ntfs_file_record_read(vol, static_cast<MFT_REF>(n), &m, nullptr) == 0 &&
          m->base_mft_record != 0;
      free(m);
      if (extension) continue;
      why = "record " + std::to_string(n) + " in use does not open";
      return false;
    }
    if (ni->mrec->base_mft_record != 0) {
      ntfs_inode_close(ni);
      continue;
    }
    ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
    bool sound = ctx != nullptr;
    while (sound &&
           ntfs_attr_lookup(AT_UNUSED, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
      const ATTR_RECORD* a = ctx->attr;
      if (!a->non_resident) continue;
      runlist_element* rl = ntfs_mapping_pairs_decompress(vol, a, nullptr);
      if (rl == nullptr) {
        why = "record " + std::to_string(n) + ": run list unreadable";
        sound = false;
        break;
      }
      for (runlist_element* r = rl; sound && r->length; ++r) {
        if (r->lcn < 0) continue;
        for (int64_t c = r->lcn; c < r->lcn + r->length; ++c) {
          if (c >= clusters) {
            why = "record " + std::to_string(n) + ": a run past the volume";
            sound = false;
            break;
          }
          if (owned[c] && n != 8) {
            why = "record " + std::to_string(n) + ": cluster " + std::to_string(c) + " owned twice";
            sound = false;
            break;
          }
          owned[c] = 1;
          if (!((lcnBitmap[c / 8] >> (c % 8)) & 1)) {
            why = "record " + std::to_string(n) + ": cluster " + std::to_string(c) +
                  " free in $Bitmap";
            sound = false;
            break;
          }
        }
      }
      free(rl);
    }
    if (ctx) ntfs_attr_put_search_ctx(ctx);
    ntfs_inode_close(ni);
    if (!sound) return false;
  }
  return true;
}

}  // namespace damage
