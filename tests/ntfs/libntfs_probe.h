// What libntfs-3g says of a record, read the plain way, for tests that
// check the program's decoding against it.
#pragma once

#include <ntfs-3g/attrib.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/types.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace vr::test {

inline std::string LowBytes(const ntfschar* name, int length) {
  std::string s;
  for (int i = 0; i < length; ++i) s.push_back(static_cast<char>(le16_to_cpu(name[i]) & 0xFF));
  return s;
}

inline std::string FirstFileName(ntfs_inode* ni) {
  ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
  std::string name;
  if (ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
    const auto* fn = reinterpret_cast<const FILE_NAME_ATTR*>(
        reinterpret_cast<const uint8_t*>(ctx->attr) + le16_to_cpu(ctx->attr->value_offset));
    std::vector<ntfschar> units(fn->file_name_length);
    std::memcpy(units.data(),
                reinterpret_cast<const uint8_t*>(fn) + offsetof(FILE_NAME_ATTR, file_name),
                units.size() * sizeof(ntfschar));
    name = LowBytes(units.data(), static_cast<int>(units.size()));
  }
  ntfs_attr_put_search_ctx(ctx);
  return name;
}

// Whether the record has a $DATA attribute without a name (enumerating
// every attribute, so that no lookup rule stands in for the answer).
inline bool HasUnnamedData(ntfs_inode* ni) {
  ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
  bool found = false;
  while (!found &&
         ntfs_attr_lookup(AT_UNUSED, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
    found = ctx->attr->type == AT_DATA && ctx->attr->name_length == 0;
  }
  ntfs_attr_put_search_ctx(ctx);
  return found;
}

}  // namespace vr::test
