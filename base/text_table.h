// The program's fixed texts: pages, templates, messages, file names, format strings and setting
// keys, fetched by entry number. They are kept compressed in the executable and expanded once,
// on the first call of text().
#ifndef KELDRUN_BASE_TEXT_TABLE_H_
#define KELDRUN_BASE_TEXT_TABLE_H_

namespace keldrun {

// Entry numbers of the texts in use.
enum TextEntry : int {
  kTextAgreementPage = 0,    // installer's agreement page (HTML)
  kTextAboutPage = 1,        // About page (HTML, "$ver$", "ico.gif", "logo.gif")
  kTextHowToPage = 2,        // How to use page (HTML)
  kTextIndexTemplate = 4,    // index page of paged reports ("$links$", "$pg$")
  kTextViewerTemplate = 5,   // report viewer frame ("$links$", "$content$")
  kTextVersion = 6,          // "v1.6"
  kTextVersionMark = 7,      // "$ver$"
  kTextUninstallArg = 11,    // "-uninstall"
  kTextUninstallDone = 12,
  kTextUninstallIncomplete = 13,
  kTextImageUrl = 23,        // "res://%s/img/%d"
  kTextOlderSettingsFile = 24,  // "Keldrun.ini"
  kTextSettingsFile = 25,    // "Keldrun.cfg"
  kTextInvalidName = 31,
  kTextStop = 32,
  kTextProgressFormat = 33,
  kTextCompletionFormat = 34,
  kTextDone = 37,
  kTextRegeditKey = 38,
  kTextUninstallKey = 39,
  kTextTreeViewClass = 40,
  kTextRegeditTitle = 41,
  kTextRegeditExe = 42,
  kTextLogoImage = 43,
  kTextIconImage = 44,
  kTextProgramTitle = 53,    // "Corvellan Software Keldrun"
  kTextTitleSeparator = 55,  // " - "
  kTextTabSnapshots = 61,
  kTextEnterText = 62,
  kTextSearching = 63,
  kTextNotFound = 64,
  kTextSelectIncludeOptions = 65,
  kTextFoundFormat = 66,
  kTextTabRegistry = 67,
  kTextTabFiles = 68,
  kTextTabApplications = 70,
  kTextTabHelp = 71,
  kTextAboutMenu = 72,
  kTextSnapshotNameFormat = 77,  // "snap%03d.snp"
  kTextDefaultSnapshotName = 78, // "Snapshot #%d"
  kTextEmpty = 84,
  kTextKeyFullScan = 88,         // "a1", then "d", "e", "f", "g", "h", "i", "j", "k" up to 96
  kTextKeyCatalog = 101,         // "p"
  kTextKeyWritten = 102,         // "q"
  kTextKeyReport1 = 106,         // "te1" .. "te11" up to 116
  kTextKeyReportText1 = 117,     // "teh1" .. "teh5" up to 121
  kTextSetupFolderFormat = 124,
  kTextFeedbackAddress = 128,
  kTextLastEntry = 128,
};

// The zero-terminated text of entry `index` (0 to kTextLastEntry); an entry that holds no text
// gives "". Returns null for any other index. The pointer stays valid until the process ends.
// Safe to call from several threads.
const char* text(int index);

}  // namespace keldrun

#endif  // KELDRUN_BASE_TEXT_TABLE_H_
