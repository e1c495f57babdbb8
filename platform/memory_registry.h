// An in-memory, read-mostly registry built from registry text (platform/registry_text.h):
// Wine's hive files and registry editor files, deletions included.
//
// The POSIX registry seam reads a Wine prefix through it, and tests build registries from text
// with it: MemoryRegistryEnv is an Env whose registry is such a registry.
//
// Layout of the tree: one top key "REGISTRY" with "Machine" (HKEY_LOCAL_MACHINE) and "User"
// (HKEY_USERS, one subkey per user). The five predefined roots map onto it as Windows maps them:
// HKEY_CURRENT_USER is User\<current user>; HKEY_CLASSES_ROOT merges the user's
// Software\Classes over the machine's (subkeys of both, values of the user's key where it
// exists); HKEY_CURRENT_CONFIG is Machine\System\CurrentControlSet\Hardware Profiles\Current.
// Registry symbolic links (a key holding a REG_LINK "SymbolicLinkValue" with an absolute path
// such as "\Registry\Machine\System\ControlSet001") are followed when a path is opened, except
// a link to a key on the way there (the link itself, its ancestors, or a key reached through an
// earlier link), which opens as the link key: its link value, no subkeys. A walk of the tree
// thus never enters a key it is already in.
//
// Threads: any number of threads may read (open keys, enumerate) at once. Changing the registry
// (load, apply, set, delete) needs the registry to itself: no key may be open meanwhile.
#ifndef KELDRUN_PLATFORM_MEMORY_REGISTRY_H_
#define KELDRUN_PLATFORM_MEMORY_REGISTRY_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/registry_text.h"

namespace keldrun {

class MemoryRegistry : public std::enable_shared_from_this<MemoryRegistry> {
 public:
  // An empty registry whose current user is userSid; Machine and User\<userSid> exist.
  static std::shared_ptr<MemoryRegistry> create(const std::u16string& userSid = kDefaultUserSid);
  static constexpr const char16_t* kDefaultUserSid = u"S-1-5-21-0-0-0-1000";

  ~MemoryRegistry();
  MemoryRegistry(const MemoryRegistry&) = delete;
  MemoryRegistry& operator=(const MemoryRegistry&) = delete;

  // Loads a Wine hive file's text. Its keys go below the key named by its ";; All keys relative
  // to" line (below `base`, a path from the top such as u"REGISTRY\\Machine", when that is not
  // empty); *loadedBase (if not null) gets the path used. Values are decoded when first read,
  // so a large hive loads in one pass over its key lines. False (with *error) when the text is
  // not a hive file.
  bool loadHive(std::string text, const std::u16string& base, std::u16string* loadedBase,
                std::string* error);
  bool loadHiveFile(const std::string& path, const std::u16string& base,
                    std::u16string* loadedBase, std::string* error);

  // Applies a registry editor file: creates keys, sets values, deletes "[-key]" subtrees and
  // "name"=- values. Stops at the first line it cannot read and returns false with *error
  // ("line N: ..."); what came before stays applied.
  bool applyReg(const std::string& bytes, std::string* error);
  bool applyRegFile(const std::string& path, std::string* error);

  // Edits below one of the five roots (kHive*). Paths are relative to the root, components
  // separated by '\'. setValue and createKey create missing keys on the way.
  bool createKey(int hive, const std::u16string& path);
  bool setValue(int hive, const std::u16string& path, const std::u16string& name, uint32_t type,
                const std::vector<uint8_t>& data);
  bool deleteValue(int hive, const std::u16string& path, const std::u16string& name);
  bool deleteKey(int hive, const std::u16string& path);
  // Makes the key at path a symbolic link to target (an absolute path, "\Registry\Machine\...").
  bool createLink(int hive, const std::u16string& path, const std::u16string& target);

  // Opens one of the five roots; null for an unknown index or a root that does not exist.
  std::unique_ptr<RegistryKey> openHive(int hive);

  const std::u16string& currentUser() const { return currentUser_; }
  void setCurrentUser(const std::u16string& sid) { currentUser_ = sid; }
  // Keys in the tree (the top key and the Machine and User keys included).
  size_t keyCount() const;

  struct Node;

 private:
  MemoryRegistry();
  Node* rootNode(int hive, bool forWriting);

  std::unique_ptr<Node> top_;
  std::vector<std::unique_ptr<std::string>> texts_;  // hive texts that lazy keys decode from
  std::u16string currentUser_;
};

// An Env whose registry is a MemoryRegistry. Drives, folders and the computer name come from
// `files` when given; without it there are no drives and the computer name is "KELDRUN-TEST".
class MemoryRegistryEnv : public Env {
 public:
  explicit MemoryRegistryEnv(std::shared_ptr<MemoryRegistry> registry, Env* files = nullptr)
      : registry_(std::move(registry)), files_(files) {}

  uint32_t logicalDrives() override { return files_ ? files_->logicalDrives() : 0; }
  int driveType(char16_t letter) override {
    return files_ ? files_->driveType(letter) : kDriveNoRootDir;
  }
  std::unique_ptr<FolderListing> listFolder(const std::u16string& folder) override {
    return files_ ? files_->listFolder(folder) : nullptr;
  }
  std::unique_ptr<RegistryKey> openHive(int hive) override { return registry_->openHive(hive); }
  std::u16string computerName() override {
    return files_ ? files_->computerName() : u"KELDRUN-TEST";
  }

  MemoryRegistry* registry() { return registry_.get(); }

 private:
  std::shared_ptr<MemoryRegistry> registry_;
  Env* files_;
};

}  // namespace keldrun

#endif  // KELDRUN_PLATFORM_MEMORY_REGISTRY_H_
