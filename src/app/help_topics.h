// The help pages shipped with the program, one per help context.
#pragma once

#include <string>

namespace vr {

// The page of help context `context`; the contents page for 0 or a context
// without a page of its own.
std::string HelpTopicPage(int context);
constexpr const char* kHelpContents = "contents.html";

}  // namespace vr
