#include "app/options.h"

#include <optional>
#include <string>

#include "app/shell.h"
#include "platform/platform.h"
#include "volume/shared_state.h"

namespace vr {

namespace {

constexpr const char* kSection = "Options";

bool StoredAs(const char* key, const char* text) {
  const std::optional<std::string> v = platform::Settings().Get(kSection, key);
  return v && *v == text;
}

// Reads the check mark, sets the opposite, reads it again; stores the new
// state (the default as no key) and returns it as a flag.
Integer Toggle(MenuItem item, const char* key, bool defaultOn) {
  ShellPort& w = Shell();
  w.SetMenuChecked(item, !w.MenuChecked(item));
  const bool on = w.MenuChecked(item);
  if (on == defaultOn)
    platform::Settings().Delete(kSection, key);
  else
    platform::Settings().Save(kSection, key, defaultOn ? "No" : "Yes");
  return Flag(on);
}

}  // namespace

void Read_Options() {
  ShellPort& w = Shell();
  w.SetMenuChecked(MenuItem::Pack_, true);
  if (StoredAs("Pack", "No")) w.SetMenuChecked(MenuItem::Pack_, false);
  w.SetMenuChecked(MenuItem::Review_, true);
  if (StoredAs("ReView", "No")) w.SetMenuChecked(MenuItem::Review_, false);
  w.SetMenuChecked(MenuItem::DefragHuge_, StoredAs("DefragHuge", "Yes"));
  w.SetMenuChecked(MenuItem::PackHuge_, StoredAs("PackHuge", "Yes"));
  ViewAfterDefrag = Flag(w.MenuChecked(MenuItem::Review_));
  DefragHugeFiles = Flag(w.MenuChecked(MenuItem::DefragHuge_));
  PackHugeFiles = Flag(w.MenuChecked(MenuItem::PackHuge_));
}

void Pack__Click() { Toggle(MenuItem::Pack_, "Pack", true); }

void ReView__Click() { ViewAfterDefrag = Toggle(MenuItem::Review_, "ReView", true); }

void DefragHuge__Click() { DefragHugeFiles = Toggle(MenuItem::DefragHuge_, "DefragHuge", false); }

void PackHuge__Click() { PackHugeFiles = Toggle(MenuItem::PackHuge_, "PackHuge", false); }

}  // namespace vr
