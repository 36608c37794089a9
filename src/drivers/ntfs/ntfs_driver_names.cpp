#include "drivers/ntfs/ntfs_driver_names.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

namespace platform {

namespace {

// A name in libntfs-3g's UTF-16, freed on scope exit.
struct Utf16 {
  ntfschar* s = nullptr;
  int len = 0;
  explicit Utf16(const std::string& text) { len = ntfs_mbstoucs(text.c_str(), &s); }
  ~Utf16() { std::free(s); }
  Utf16(const Utf16&) = delete;
  Utf16& operator=(const Utf16&) = delete;
};

std::string Utf8(const ntfschar* name, int len) {
  char* text = nullptr;
  if (ntfs_ucstombs(name, len, &text, 0) < 0 || text == nullptr) return std::string();
  std::string s(text);
  std::free(text);
  return s;
}

bool SameName(ntfs_volume* vol, const ntfschar* a, int alen, const ntfschar* b, int blen) {
  return ntfs_names_are_equal(a, static_cast<size_t>(alen), b, static_cast<size_t>(blen),
                              IGNORE_CASE, vol->upcase, vol->upcase_len);
}

struct Listed {
  std::string name;
  int type = 0;
  uint64_t reference = 0;
  bool folder = false;  // as the index entry says
};

struct ListContext {
  std::vector<Listed> names;
  // For a search by name: the wanted name and the reference found.
  ntfs_volume* vol = nullptr;
  const Utf16* wanted = nullptr;
  uint64_t found = 0;
  std::string foundName;
};

int Collect(void* context, const ntfschar* name, const int len, const int type, const s64,
            const MFT_REF mref, const unsigned kind) {
  auto* c = static_cast<ListContext*>(context);
  if (c->wanted != nullptr) {
    if (c->found == 0 && SameName(c->vol, name, len, c->wanted->s, c->wanted->len)) {
      c->found = mref;
      c->foundName = Utf8(name, len);
    }
    return 0;
  }
  c->names.push_back({Utf8(name, len), type, mref, kind == NTFS_DT_DIR});
  return 0;
}

// The stored spelling of `asked` among the names of `ni` in `parent`.
std::string StoredName(ntfs_inode* ni, uint64_t parent, const Utf16& asked,
                       const std::string& fallback) {
  std::string name = fallback;
  ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
  if (ctx == nullptr) return name;
  while (ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
    const ATTR_RECORD* a = ctx->attr;
    if (a->non_resident) continue;
    const auto* fn = reinterpret_cast<const FILE_NAME_ATTR*>(reinterpret_cast<const uint8_t*>(a) +
                                                             le16_to_cpu(a->value_offset));
    if (MREF_LE(fn->parent_directory) != MREF(parent)) continue;
    // The name sits unaligned inside the packed attribute.
    std::vector<ntfschar> text(fn->file_name_length);
    std::memcpy(text.data(),
                reinterpret_cast<const uint8_t*>(fn) + offsetof(FILE_NAME_ATTR, file_name),
                text.size() * sizeof(ntfschar));
    if (SameName(ni->vol, text.data(), fn->file_name_length, asked.s, asked.len)) {
      name = Utf8(text.data(), fn->file_name_length);
      if (fn->file_name_type != FILE_NAME_DOS) break;
    }
  }
  ntfs_attr_put_search_ctx(ctx);
  return name;
}

// The reference of `name` in the folder `dir`; 0 when it is not there.
uint64_t FindInFolder(ntfs_inode* dir, const Utf16& name, std::string& stored) {
  // The index is ordered by upper-cased names, so the exact spelling is
  // found directly; another spelling needs a walk of the folder.
  const u64 exact = ntfs_inode_lookup_by_name(dir, name.s, name.len);
  if (exact != static_cast<u64>(-1)) return exact;
  ListContext c;
  c.vol = dir->vol;
  c.wanted = &name;
  s64 pos = 0;
  if (ntfs_readdir(dir, &pos, &c, Collect) != 0) return 0;
  stored = c.foundName;
  return c.found;
}

bool IsFolder(ntfs_inode* ni) { return (ni->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0; }

}  // namespace

nt::NTSTATUS NtfsErrnoStatus(int error) {
  switch (error) {
    case EIO: return nt::STATUS_DEVICE_DATA_ERROR;
    case EACCES:
    case EPERM: return nt::STATUS_ACCESS_DENIED;
    case ENOMEM: return static_cast<nt::NTSTATUS>(0xC0000017u);  // STATUS_NO_MEMORY
    case ENOENT: return STATUS_OBJECT_NAME_NOT_FOUND;
    default: return nt::STATUS_DISK_CORRUPT_ERROR;
  }
}

FsEntry NtfsDescribe(ntfs_inode* ni, const std::string& name) {
  FsEntry e;
  e.name = name;
  // The attribute bits NT reports; libntfs-3g's index-present bits are not.
  constexpr uint32_t kReported = 0x7F27;
  e.attributes = le32_to_cpu(ni->flags) & kReported;
  if (IsFolder(ni)) {
    e.attributes |= nt::FILE_ATTRIBUTE_DIRECTORY;
  } else if (test_nino_flag(ni, KnownSize)) {
    // Opening the inode read the size from the unnamed $DATA's record, the
    // same value that opening the attribute would read.
    e.size = static_cast<uint64_t>(ni->data_size);
  } else if (ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0)) {
    e.size = static_cast<uint64_t>(na->data_size);
    ntfs_attr_close(na);
  }
  if (e.attributes == 0) e.attributes = nt::FILE_ATTRIBUTE_NORMAL;
  e.creationTime = static_cast<uint64_t>(sle64_to_cpu(ni->creation_time));
  e.lastAccessTime = static_cast<uint64_t>(sle64_to_cpu(ni->last_access_time));
  e.lastWriteTime = static_cast<uint64_t>(sle64_to_cpu(ni->last_data_change_time));
  return e;
}

nt::NTSTATUS NtfsLookup(ntfs_volume* vol, const std::string& path, NtfsNode& node) {
  ntfs_inode* ni = ntfs_inode_open(vol, FILE_root);
  if (ni == nullptr) return NtfsErrnoStatus(errno);
  std::string name;
  size_t start = 0;
  while (start < path.size()) {
    const size_t cut = path.find('\\', start);
    const bool last = cut == std::string::npos;
    const std::string part = path.substr(start, last ? std::string::npos : cut - start);
    start = last ? path.size() : cut + 1;
    if (!IsFolder(ni)) {
      ntfs_inode_close(ni);
      return STATUS_OBJECT_PATH_NOT_FOUND;
    }
    const Utf16 u(part);
    std::string stored;
    const uint64_t ref = u.len > 0 ? FindInFolder(ni, u, stored) : 0;
    const uint64_t parent = ni->mft_no;
    ntfs_inode_close(ni);
    // The system files are not reachable by name, as on NT.
    if (ref == 0 || MREF(ref) < FILE_first_user)
      return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
    ni = ntfs_inode_open(vol, ref);
    if (ni == nullptr) return NtfsErrnoStatus(errno);
    name = stored.empty() ? StoredName(ni, parent, u, part) : stored;
  }
  node.reference = MK_MREF(ni->mft_no, le16_to_cpu(ni->mrec->sequence_number));
  node.folder = IsFolder(ni);
  node.entry = NtfsDescribe(ni, name);
  ntfs_inode_close(ni);
  return nt::STATUS_SUCCESS;
}

nt::NTSTATUS NtfsList(ntfs_volume* vol, const std::string& path, std::vector<FsEntry>& entries) {
  entries.clear();
  NtfsNode folder;
  nt::NTSTATUS status = NtfsLookup(vol, path, folder);
  if (status != nt::STATUS_SUCCESS) return status;
  if (!folder.folder) return STATUS_NOT_A_DIRECTORY;
  ntfs_inode* dir = ntfs_inode_open(vol, folder.reference);
  if (dir == nullptr) return NtfsErrnoStatus(errno);
  ListContext c;
  s64 pos = 0;
  const int rc = ntfs_readdir(dir, &pos, &c, Collect);
  const int error = errno;
  ntfs_inode_close(dir);
  if (rc != 0) return NtfsErrnoStatus(error);
  // DOS names become the short names of their files.
  std::map<uint64_t, std::string> shortNames;
  for (const Listed& l : c.names)
    if (l.type == FILE_NAME_DOS) shortNames[MREF(l.reference)] = l.name;
  for (const Listed& l : c.names) {
    if (l.type == FILE_NAME_DOS || MREF(l.reference) < FILE_first_user || l.name == "." ||
        l.name == "..")
      continue;
    // NT lists from the index: a record that cannot be read still shows
    // its name; opening it is what fails.
    FsEntry e;
    if (ntfs_inode* ni = ntfs_inode_open(vol, l.reference)) {
      e = NtfsDescribe(ni, l.name);
      ntfs_inode_close(ni);
    } else {
      e.name = l.name;
      e.attributes = l.folder ? nt::FILE_ATTRIBUTE_DIRECTORY : nt::FILE_ATTRIBUTE_NORMAL;
    }
    auto dos = shortNames.find(MREF(l.reference));
    if (dos != shortNames.end() && dos->second != l.name) e.shortName = dos->second;
    entries.push_back(std::move(e));
  }
  return nt::STATUS_SUCCESS;
}

}  // namespace platform
