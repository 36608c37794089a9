// The attribute type codes and the file-reference mask are part of the NTFS
// layout header.
#pragma once

#include "platform/ntfs_layout.h"
