// Normalised comparison: what differs between two machines by the machine alone, mapped to the
// same placeholder on both sides, so that a golden image compared with a machine shows only real
// differences.
//
// The placeholders:
//   S-1-5-21-a-b-c-RID   <SID-RID>        a user's SID (the RID kept: two users stay apart)
//   S-1-5-21-a-b-c       <SID>            the machine's own SID
//   C:\users\NAME        %USERPROFILE%    a profile folder of that side's machine
//   \users\NAME          %HOMEPATH%       the same without its drive, in value data
//   NAME                 %USERNAME%       a profile folder's name as the whole value data
//   the computer name    %COMPUTERNAME%   in value data, as a whole word
// Node names map when the merge pairs a level (a folder users\alice meets users\bob, the key
// HKEY_USERS\S-1-5-21-1-2-3-1001 meets HKEY_USERS\S-1-5-21-4-5-6-1001); string value data maps
// when two values of one name are judged. The names of values and files are not mapped, nor
// application records, and what is equal as recorded stays equal.
#ifndef KELDRUN_ENGINE_NORMALISE_H_
#define KELDRUN_ENGINE_NORMALISE_H_

#include <string>
#include <vector>

#include "engine/snapshot.h"

namespace keldrun {

// What identifies one machine in its snapshot.
struct MachineIdentity {
  std::u16string computer;
  // Profile folders as full paths without a trailing separator ("C:\users\alice").
  std::vector<std::u16string> profiles;
};

// The machine identity a snapshot recorded: the info record's computer name, and the profile
// folders (in both the expanded and the recorded form) named by the ProfileImagePath values of
// the user SIDs under
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\ProfileList, or, when the
// snapshot holds none, the folders under "users\" and "Documents and Settings\" of each drive
// but the shared ones (Public, Default, Default User, All Users). Unreadable tables give nothing.
MachineIdentity recordedIdentity(SnapshotFile* file, const SnapshotInfo& info);

// The profile folder a ProfileImagePath value names: its data, "%SystemDrive%" taken as "C:",
// trailing separators dropped.
std::u16string profileFromImagePath(const std::u16string& data);

class Normaliser {
 public:
  static constexpr int kSideA = 0;
  static constexpr int kSideB = 1;

  Normaliser(MachineIdentity a, MachineIdentity b);

  // The name under which a node of the given side pairs: "%USERPROFILE%" when parentPath (the
  // walk's path of its parent, mapped, with or without a trailing '\') and name make one of the
  // side's profile folders; else the name with its SIDs mapped.
  std::u16string name(int side, const std::u16string& parentPath, const std::u16string& name) const;
  // Text with the SIDs, the side's profile folders (case does not matter; "C:\users\al" is not
  // a part of "C:\users\alice"), with and without the drive, a profile folder's name that is the
  // whole text, and the side's computer name (a whole word only: "PC1" stays in "PC12") mapped.
  std::u16string text(int side, const std::u16string& text) const;
  // Whether two items of one name, of the section's content tables, are equal once mapped:
  // registry string values of one type whose mapped texts are equal. Items of the other
  // sections are never equal this way.
  bool sameMapped(int section, const Item& a, const Item& b) const;

 private:
  MachineIdentity sides_[2];
};

// A text with its SIDs mapped (the rule above, shared by both sides).
std::u16string mapSids(const std::u16string& text);

}  // namespace keldrun

#endif  // KELDRUN_ENGINE_NORMALISE_H_
