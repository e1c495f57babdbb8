// The default noise list for Windows: places where Windows keeps caches, logs and counters that
// change on their own between two snapshots taken minutes apart. Used while a workspace has no
// noise.txt; none of its entries may name a location that starts with the machine (a test
// checks it).
#include "workspace/noise.h"

namespace keldrun {

const char* defaultNoiseText() {
  return R"(# Keldrun's default noise list for Windows. Differences below these paths are hidden
# when two snapshots are compared (and counted; --with-noise shows them). Copy it to noise.txt
# in the workspace to change it, or set "nd" to 0 in Keldrun.cfg to compare without it.

# Files
# Prefetch traces, rewritten whenever a program starts.
*:\Windows\Prefetch
# Windows Update's download cache, filled and emptied by the update service.
*:\Windows\SoftwareDistribution\Download
# Windows Update's database and its logs, touched at every update check.
*:\Windows\SoftwareDistribution\DataStore
# The event logs, appended to all the time.
*:\Windows\System32\winevt\Logs
# Servicing and setup logs (CBS, DISM, WindowsUpdate).
*:\Windows\Logs
# Logs of system services (WMI, firewall, SRUM traces).
*:\Windows\System32\LogFiles
# The System Resource Usage Monitor's database, updated every hour.
*:\Windows\System32\sru
# The WMI repository, rewritten by the WMI service.
*:\Windows\System32\wbem\Repository
# Transaction logs of the registry hives, written at every flush.
*:\Windows\System32\config\*.log*
*:\Windows\System32\config\*.blf
*:\Windows\System32\config\*.regtrans-ms
# Device installation logs.
*:\Windows\inf\setupapi*.log
# The system's temporary folder.
*:\Windows\Temp
# Each user's temporary folder.
*:\Users\*\AppData\Local\Temp
# Thumbnail caches of Explorer.
*:\Users\*\AppData\Local\Microsoft\Windows\Explorer\thumbcache_*.db
# Icon caches of Explorer.
*:\Users\*\AppData\Local\Microsoft\Windows\Explorer\iconcache_*.db
*:\Users\*\AppData\Local\IconCache.db
# The browsers' cache and history database of Windows.
*:\Users\*\AppData\Local\Microsoft\Windows\INetCache
*:\Users\*\AppData\Local\Microsoft\Windows\WebCache
# Shortcuts to recently opened documents.
*:\Users\*\AppData\Roaming\Microsoft\Windows\Recent
# The user's registry hive and its logs: their changes show key by key in the registry section.
*:\Users\*\NTUSER.DAT
*:\Users\*\ntuser.dat.log*
*:\Users\*\AppData\Local\Microsoft\Windows\UsrClass.dat*
# The search index.
*:\ProgramData\Microsoft\Search\Data
# Scan history and signature updates of Windows Defender.
*:\ProgramData\Microsoft\Windows Defender\Scans
# Paging, swap and hibernation files, rewritten at every start.
*:\pagefile.sys
*:\swapfile.sys
*:\hiberfil.sys
# Restore points and volume shadow copies.
*:\System Volume Information

# Registry
# The hardware description, rebuilt at every start.
HKEY_LOCAL_MACHINE\HARDWARE
# Performance counter names and indexes, rewritten when counters are registered or rebuilt.
HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib
# The prefetcher's state.
HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Prefetcher
# The random number generator's seed, replaced at every start.
HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Cryptography\RNG\Seed
# The time of the last shutdown.
HKEY_LOCAL_MACHINE\SYSTEM\*\Control\Windows\ShutdownTime
# The reliability monitor's last-alive time stamps.
HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Reliability
# Device properties: first and last arrival dates of every device, rewritten at each start.
HKEY_LOCAL_MACHINE\SYSTEM\*\Enum\*\*\*\Properties
# MUI cache: display names of programs run, added as programs start.
HKEY_CURRENT_USER\Software\Classes\Local Settings\Software\Microsoft\Windows\Shell\MuiCache
HKEY_USERS\*\Software\Classes\Local Settings\Software\Microsoft\Windows\Shell\MuiCache
# Shell bags: the size and view of every folder window opened.
HKEY_CURRENT_USER\Software\Microsoft\Windows\Shell\BagMRU
HKEY_CURRENT_USER\Software\Microsoft\Windows\Shell\Bags
HKEY_CURRENT_USER\Software\Classes\Local Settings\Software\Microsoft\Windows\Shell\BagMRU
HKEY_CURRENT_USER\Software\Classes\Local Settings\Software\Microsoft\Windows\Shell\Bags
# Run counts and times of programs started from Explorer.
HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\UserAssist
# Usage counters of the taskbar and Start menu.
HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\FeatureUsage
# Recently opened documents and the file dialogs' recent lists.
HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\RecentDocs
HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\ComDlg32
# Per-session state of Explorer.
HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\SessionInfo
)";
}

}  // namespace keldrun
