// The searches of the viewer's Find menu: what makes an MFT record match.
#pragma once

#include <string>
#include <vector>

#include "runtime/checked.h"

namespace vr {

enum class FindKind {
  None,
  FileName,
  Subdir,
  EntryX0h,
  EntryX0hIn20h,
  B0hInNonIndex,
  Special,
  EmbedData,
  SizeOver1Mb,
  Fragmented,
  Untidy,
  TwoNames,
  Invalid,
  Null,
  Security,
  OddszIndex,
  Multi80h,
};

struct FindMenuItem {
  FindKind kind;
  const char* caption;  // as in the Find menu
};
// The sixteen items in menu order.
const std::vector<FindMenuItem>& Find_Menu();
// The search whose caption, without its "&", is Name; None when there is none.
FindKind Find_By_Name(const std::string& Name);

// What a search compares against: the lower-cased pattern of "&FileName",
// the attribute type of the two "Entry" searches.
struct FindArgs {
  std::string pattern;
  uint32_t type = 0;
};

// The attribute type an answer to "Hex entry type x0" asks for: its first
// character is one of "123456789abcdef" and it ends in "0". 0 when the answer
// is not one.
uint32_t Entry_Type_Answer(const std::string& Answer);

// Whether record RecordNumber (in use) matches. Reads the record from the
// open volume; a record that cannot be read does not match. Decoding errors
// are a match for "&Invalid" and are otherwise forgotten; a failed read of
// the volume stays recorded (and sets Failed, which ends the search).
bool Record_Matches(FindKind Kind, const FindArgs& Args, Long RecordNumber);

}  // namespace vr
