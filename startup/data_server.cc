#include "startup/data_server.h"

#include "startup/ini_file.h"
#include "util/fixed_text.h"

namespace kel {
namespace {

std::string Trimmed(std::string text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

RecordManagerConfig ReadDataServerSetting(const std::string& install_root, Env& env) {
  const std::string file = install_root + "Nuri.ini";
  RecordManagerConfig config;
  config.server = Trimmed(env.GetVariable("KELDB"));
  if (config.server.empty()) config.server = Trimmed(IniRead(file, "Dades", "Servidor"));
  const std::string schema = Trimmed(IniRead(file, "Dades", "Esquema"));
  if (!schema.empty()) config.schema = schema;
  config.allow_network_fs = LeadingNumber(Trimmed(IniRead(file, "Dades", "XarxaLocal"))) != 0;
  config.library = Trimmed(env.GetVariable("KELBTR"));
  if (config.library.empty()) config.library = Trimmed(IniRead(file, "Dades", "Gestor"));
  config.install_root = MapPath(install_root);
  if (!config.install_root.empty() && config.install_root.back() != '/') {
    config.install_root += '/';
  }
  return config;
}

void ConfigureDataFiles(const std::string& install_root, Env& env) {
  ConfigureRecordManager(ReadDataServerSetting(install_root, env));
}

}  // namespace kel
