#include "app/qt/qt_settings.h"

#include <QSettings>
#include <QString>

namespace vr {

namespace {

QString KeyOf(const std::string& section, const std::string& key) {
  return QString::fromStdString(section) + "/" + QString::fromStdString(key);
}

class QtSettingsStore : public platform::SettingsStore {
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

}  // namespace

std::unique_ptr<platform::SettingsStore> MakeQtSettings() {
  return std::make_unique<QtSettingsStore>();
}

}  // namespace vr
