// The per-user settings store: QSettings (no organisation, application
// "VoduRU", the platform's native format), or an in-memory store for tests.
#include <QSettings>
#include <QString>
#include <map>

#include "platform/platform.h"

namespace platform {

namespace {

QString KeyOf(const std::string& section, const std::string& key) {
  return QString::fromStdString(section) + "/" + QString::fromStdString(key);
}

class QtSettingsStore : public SettingsStore {
 public:
  QtSettingsStore()
      : settings_(QSettings::NativeFormat, QSettings::UserScope, QString(), "VoduRU") {}
  std::optional<std::string> Get(const std::string& section, const std::string& key) override {
    const QVariant v = settings_.value(KeyOf(section, key));
    if (!v.isValid()) return std::nullopt;
    return v.toString().toStdString();
  }
  void Save(const std::string& section, const std::string& key, const std::string& value) override {
    settings_.setValue(KeyOf(section, key), QString::fromStdString(value));
    settings_.sync();
  }
  void Delete(const std::string& section, const std::string& key) override {
    settings_.remove(KeyOf(section, key));
    settings_.sync();
  }

 private:
  QSettings settings_;
};

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
  if (!Store()) Store() = std::make_unique<QtSettingsStore>();
  return *Store();
}

void SetSettingsStore(std::unique_ptr<SettingsStore> store) { Store() = std::move(store); }

std::unique_ptr<SettingsStore> MakeMemorySettings() {
  return std::make_unique<MemorySettingsStore>();
}

}  // namespace platform
