#include "util/installation_settings.h"

namespace kel {
namespace {

InstallationSettingReader& ReaderSlot() {
  static InstallationSettingReader reader = nullptr;
  return reader;
}

}  // namespace

void SetInstallationSettingReader(InstallationSettingReader reader) { ReaderSlot() = reader; }

std::string ReadInstallationSetting(std::string_view section, std::string_view key) {
  InstallationSettingReader reader = ReaderSlot();
  return reader == nullptr ? std::string() : reader(section, key);
}

}  // namespace kel
