// Damage made to order on NTFS images in memory, for the damaged-volume
// tests and the damage campaign: FILE records read and written back through
// their update sequence, the MFT bitmap, and the damages that need more than
// a flipped bit (two files sharing clusters, a file no folder reaches).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport::damage {

// The MFT of an NTFS image held in `image` (1 KB or larger records, the MFT
// in any number of runs). Records taken with Record() are fixed up; Store()
// writes every one of them back with its update sequence applied.
class Mft {
 public:
  explicit Mft(std::vector<uint8_t>& image);

  bool Valid() const { return records_ > 0; }
  int64_t Records() const { return records_; }
  int64_t RecordBytes() const { return recordBytes_; }
  // Byte offset of record r in the image, -1 when the MFT's runs do not hold it.
  int64_t Offset(int64_t r) const;
  std::vector<uint8_t>& Record(int64_t r);
  bool InUse(int64_t r) const;
  void SetInUse(int64_t r);
  // A base record in use whose first attribute is $STANDARD_INFORMATION.
  bool IsBase(int64_t r);
  bool IsFolder(int64_t r);
  // The first $FILE_NAME: name (low bytes) and parent record; "" / -1.
  std::string Name(int64_t r);
  int64_t Parent(int64_t r);
  // Offset in Record(r) of the first attribute of `type` ("" name: unnamed,
  // "*": any name); -1 when none.
  int64_t Attribute(int64_t r, int type, const std::string& name = "");
  // A user file of the root folder (not a folder, not a $ name); -1.
  int64_t FindUserFile();
  // Writes a header field (16 bits at 0x04-0x17, 32 bits from 0x18) in the
  // image itself, outside the update sequence (after storing the records
  // taken so far).
  void PokeHeader(int64_t r, int offset, uint32_t value);
  // Sets code unit i of the first $FILE_NAME's name.
  void SetNameUnit(int64_t r, int i, uint16_t unit);
  // Moves the name of a user record's named attribute past its attribute;
  // the record, or -1.
  int64_t BreakAttributeName();
  void Store();

 private:
  std::vector<uint8_t>& image_;
  int64_t clusterBytes_ = 0;
  int64_t recordBytes_ = 0;
  int64_t records_ = 0;
  std::vector<std::pair<int64_t, int64_t>> mftRuns_;     // (lcn, clusters)
  std::vector<std::pair<int64_t, int64_t>> bitmapRuns_;  // of $MFT:$BITMAP
  std::map<int64_t, std::vector<uint8_t>> taken_;
};

// Located runs (lcn, clusters) of a run list at `at` (sparse runs left out).
std::vector<std::pair<int64_t, int64_t>> DecodeRuns(const std::vector<uint8_t>& b, size_t at,
                                                    size_t end);

struct CrossLink {
  int64_t victim = -1;  // the record whose run list now names the owner's clusters
  std::string victimName;
  int64_t owner = -1;
  std::string ownerName;
};
// Two user files of one run each and the same length: the victim's run
// list is replaced by the owner's.
CrossLink LinkTwoFiles(Mft& mft);

// A copy of a small user file (all attributes resident) in a free MFT
// record, marked in use: a file no folder reaches. Its record, or -1.
int64_t OrphanCopy(Mft& mft, std::string& name);

}  // namespace testsupport::damage
