// What the report viewer (dialog 910) and the help pages show, apart from the browser control:
// the document of one page of a split report between its two link bars, the page a link asks
// for, and the help pages with their images and version.
#ifndef KELDRUN_REPORTS_REPORT_VIEWER_H_
#define KELDRUN_REPORTS_REPORT_VIEWER_H_

#include <string>
#include <vector>

#include "reports/report_writer.h"

namespace keldrun {

// Bytes of a page file written into the document at a time; even, so that no UTF-16 unit is
// split between two writes.
constexpr size_t kViewerChunkBytes = 102398;

// Page n of a split report as the viewer writes it: the viewer template up to "$content$"
// (ANSI), the page file's bytes as UTF-16 in chunks, then the rest of the template. The link
// bars mark page n. False when the template has no "$content$" (nothing is then written).
struct ViewerDocument {
  std::string before;
  std::vector<std::u16string> chunks;  // empty when the page file cannot be read
  std::string after;
};
bool viewerDocument(const ReportWriter& writer, int page, ViewerDocument* out);

// The page a link of the viewer's bars asks for: the decimal number after the first "#"
// (leading blanks skipped; no digits give 0). -1 when the URL has no "#".
int pageOfLink(const std::u16string& url);

// A help page (entry kTextAboutPage or kTextHowToPage) ready to write: each image file name
// replaced by "res://<executable>/img/<id>", "$ver$" by the version without its "v".
constexpr int kIconImageId = 138;
constexpr int kLogoImageId = 139;
std::string helpPage(int entry, const std::string& executablePath);

}  // namespace keldrun

#endif  // KELDRUN_REPORTS_REPORT_VIEWER_H_
