#include "app/help_topics.h"

#include "app/menu.h"

namespace vr {

std::string HelpTopicPage(int context) {
  switch (context) {
    case kHelpDrive: return "drive.html";
    case kHelpFastView: return "fast-view.html";
    case kHelpDefrag: return "defrag.html";
    case kHelpHexView: return "hex-view.html";
    case kHelpCheckedView: return "checked-view.html";
    case kHelpTools: return "tools.html";
    default: return kHelpContents;
  }
}

}  // namespace vr
