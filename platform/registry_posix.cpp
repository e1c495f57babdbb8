#include <map>
#include <mutex>

#include "platform/memory_registry.h"
#include "platform/registry.h"

namespace keldrun {

std::shared_ptr<MemoryRegistry> loadPrefixRegistry(const std::string& prefix, std::string* error) {
  std::string dir = prefix;
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  // The current user is the one user.reg belongs to; Wine's own default until it is read.
  std::shared_ptr<MemoryRegistry> registry = MemoryRegistry::create();
  std::string problems;
  auto load = [&](const char* file, const std::u16string& base, std::u16string* loadedBase) {
    std::string why;
    if (!registry->loadHiveFile(dir + file, base, loadedBase, &why))
      problems += (problems.empty() ? "" : "; ") + std::string(file) + ": " + why;
  };
  load("system.reg", u"Machine", nullptr);
  std::u16string userBase;
  load("user.reg", u"", &userBase);
  const std::u16string kUserPrefix = u"User\\";
  if (userBase.size() > kUserPrefix.size() &&
      userBase.compare(0, kUserPrefix.size(), kUserPrefix) == 0 &&
      userBase.find(u'\\', kUserPrefix.size()) == std::u16string::npos)
    registry->setCurrentUser(userBase.substr(kUserPrefix.size()));
  load("userdef.reg", u"User\\.Default", nullptr);
  if (error) *error = problems;
  return registry;
}

std::shared_ptr<MemoryRegistry> prefixRegistry(const std::string& prefix, std::string* error) {
  static std::mutex mu;  // guards loaded
  static std::map<std::string, std::pair<std::shared_ptr<MemoryRegistry>, std::string>> loaded;
  std::lock_guard<std::mutex> hold(mu);
  auto it = loaded.find(prefix);
  if (it == loaded.end()) {
    std::string why;
    std::shared_ptr<MemoryRegistry> r = loadPrefixRegistry(prefix, &why);
    it = loaded.emplace(prefix, std::make_pair(r, why)).first;
  }
  if (error) *error = it->second.second;
  return it->second.first;
}

std::unique_ptr<RegistryKey> openPrefixHive(const std::string& prefix, int hive) {
  return prefixRegistry(prefix, nullptr)->openHive(hive);
}

}  // namespace keldrun
