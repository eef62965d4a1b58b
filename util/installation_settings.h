// The installation's settings as the utilities see them: one key of the
// installation file ("Nuri.ini" in the directory named by KELROOT).
//
// The utilities sit below the configuration-file reader (startup/ini_file),
// so they cannot read the file themselves. The session set-up registers a
// reader here (startup/session: SetUpSession); until then every setting reads
// as "" and the utilities fall back to their defaults. Register the reader
// before the first use of a setting: the utilities read their settings once
// per process and keep what they got.
#ifndef KEL_UTIL_INSTALLATION_SETTINGS_H_
#define KEL_UTIL_INSTALLATION_SETTINGS_H_

#include <string>
#include <string_view>

namespace kel {

// Returns the value of `key` in `section` of the installation file, "" when
// the file, the section or the key is missing. Must not fail.
using InstallationSettingReader = std::string (*)(std::string_view section, std::string_view key);

// Installs `reader` (nullptr: back to the reader that finds nothing).
void SetInstallationSettingReader(InstallationSettingReader reader);

// One key through the reader in force; "" when none is registered.
std::string ReadInstallationSetting(std::string_view section, std::string_view key);

}  // namespace kel

#endif  // KEL_UTIL_INSTALLATION_SETTINGS_H_
