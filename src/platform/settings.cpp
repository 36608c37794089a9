// The settings store in force: the one the program installs at start-up
// (QSettings, see app/qt/qt_settings.h), else an in-memory store, so that
// no engine or test ever reaches the user's own settings.
#include <map>

#include "platform/platform.h"

namespace platform {

namespace {

class MemorySettingsStore : public SettingsStore {
 public:
  std::optional<std::string> Get(const std::string& section, const std::string& key) override {
    auto it = values_.find({section, key});
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }
  void Save(const std::string& section, const std::string& key, const std::string& value) override {
    values_[{section, key}] = value;
  }
  void Delete(const std::string& section, const std::string& key) override {
    values_.erase({section, key});
  }

 private:
  std::map<std::pair<std::string, std::string>, std::string> values_;
};

std::unique_ptr<SettingsStore>& Store() {
  static std::unique_ptr<SettingsStore> store;
  return store;
}

}  // namespace

SettingsStore& Settings() {
  if (!Store()) Store() = std::make_unique<MemorySettingsStore>();
  return *Store();
}

void SetSettingsStore(std::unique_ptr<SettingsStore> store) { Store() = std::move(store); }

std::unique_ptr<SettingsStore> MakeMemorySettings() {
  return std::make_unique<MemorySettingsStore>();
}

}  // namespace platform
