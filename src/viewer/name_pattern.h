// The name patterns of the "&FileName" search: * any characters (also none),
// ? one character, # one digit; every other character stands for itself.
// The whole name must match.
#pragma once

#include <string>

namespace vr {

bool Pattern_Match(const std::string& Name, const std::string& Pattern);

}  // namespace vr
