#include "app/version_info.h"

namespace vr {

AboutTexts About_Texts(const std::string& windowsVersion) {
  AboutTexts t;
  t.app =
      std::string(kProductName) + " " + kFileDescription + "  -  Windows " + windowsVersion + "#";
  t.other = std::string(kLegalCopyright) + "\r\n" + kComments;
  return t;
}

}  // namespace vr
