#include "reports/report_writer.h"

#include <cstdio>

#include "base/files.h"
#include "base/text.h"
#include "base/text_table.h"
#include "engine/file_extension.h"
#include "engine/section_filter.h"
#include "views/list_columns.h"

namespace keldrun {

namespace {

const char kPageHead[] =
    "<html><head>"
    "<META http-equiv=Content-Type content='text/html; charset=unicode'>"
    "<style>td,body,#h{font-family:microsoft sans serif,arial;font-size:11px;}"
    "td{vertical-align:top;background-color:#fff;word-wrap:break-word;word-break:break-all;}"
    "table{background-color:#ddd;}"
    "#c1{color:#006;}"
    "#c2{color:#060;}"
    "#c3{color:#800;}"
    "#tit{font-weight:bold;font-size:13px;}"
    "#h{font-weight:bold;background-color:#eee;}</style>"
    "<title>";
const char kTableEnd[] = "</table><br>";
const char kPageEnd[] = "</body></html>";

void noHeading(ReportWriter*, const std::u16string&, int, const char*) {}
void noItem(ReportWriter*, const Item&, int, const char*) {}

void replaceAll(std::string* s, const std::string& from, const std::string& to) {
  for (size_t at = s->find(from); at != std::string::npos; at = s->find(from, at + to.size())) {
    s->replace(at, from.size(), to);
  }
}

// The section title (UTF-8, as the names are) with the snapshot names escaped: a name is the
// user's text and must not add markup. One pass, so that a name holding a placeholder is not expanded again.
std::string expandTitle(const ReportSource* source, const std::string& text) {
  if (!source) return text;
  std::string a = ReportWriter::escapeHtml(source->nameA);
  std::string b = ReportWriter::escapeHtml(source->nameB);
  std::string title = source->view ? "view " + a : a + " vs " + b;
  static const char* const kMarks[] = {"$snap_name$", "$snap2_name$", "$pg_title$"};
  const std::string* values[] = {&a, &b, &title};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool hit = false;
    for (int k = 0; k < 3; k++) {
      size_t n = std::char_traits<char>::length(kMarks[k]);
      if (text.compare(i, n, kMarks[k]) == 0) {
        out += *values[k];
        i += n;
        hit = true;
        break;
      }
    }
    if (!hit) out.push_back(text[i++]);
  }
  return out;
}

// The page base name as it appears inside the index page's attribute and script strings:
// characters that could end the string or the attribute, or that a URL does not carry as
// they are, in their %XX form (a UTF-8 file name reads back as the same name).
std::string urlName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '-' || c == '_' || c == '~';
    if (plain) {
      out.push_back(char(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

// A row's label, then the file's recorded content digest when it has one.
std::string withDigest(std::string label, const FileExt* ext) {
  std::string digest = digestText(ext);
  if (!digest.empty()) label += "  " + digest;
  return label;
}

}  // namespace

ReportWriter::ReportWriter(FileSystem* fs) : fs_(fs), heading_(noHeading), item_(noItem) {}

ReportWriter::~ReportWriter() {
  if (!out_.isOpen()) return;
  closePage();
  if (!failed()) commitPages(basePath_);
}

void ReportWriter::setSource(const ReportSource* source) {
  hasSource_ = source != nullptr;
  source_ = source ? *source : ReportSource();
  included_[1] = included_[2] = included_[3] = true;
  outside_ = false;
  prefix_.clear();
  limits_ = DisplayLimits();
}

void ReportWriter::setIncludedStates(bool added, bool modified, bool deleted) {
  included_[kAdded] = added;
  included_[kModified] = modified;
  included_[kDeleted] = deleted;
}

void ReportWriter::setPrefixFilter(const std::u16string& prefix) {
  prefix_ = foldPath(prefix);
  while (!prefix_.empty() && prefix_.back() == u'\\') prefix_.pop_back();
}

bool ReportWriter::createPage(const std::string& path) {
  auto page = std::make_unique<ReplacingFile>(fs_);
  if (!page->create(path)) {
    failed_ = true;
    return false;
  }
  out_.open(page->file());
  pages_.push_back(std::move(page));
  return true;
}

bool ReportWriter::open(const std::string& path, int pageLimit) {
  if (out_.isOpen()) closePage();
  pages_.clear();
  lastPage_ = 0;
  rowsOnPage_ = 0;
  tableOpen_ = false;
  filesFirstPage_ = appsFirstPage_ = -1;
  failed_ = false;
  out_.resetFailure();
  pattern_ = path.size() >= 4 ? path.substr(0, path.size() - 4) : std::string();
  pageLimit_ = pageLimit < 0 ? 0 : pageLimit;
  basePath_ = path;
  if (!createPage(path)) return false;
  writeHead("Keldrun export");
  return true;
}

void ReportWriter::writeHead(const char* title) {
  out_.writeAscii(kPageHead, sizeof kPageHead - 1);
  writeAscii(title);
  writeAscii("</title></head><body>");
}

void ReportWriter::writeAscii(const char* text) {
  out_.writeAscii(text, std::char_traits<char>::length(text));
}

void ReportWriter::closePage() {
  writeAscii(kTableEnd);
  tableOpen_ = false;
  writeAscii(kPageEnd);
  if (!out_.close()) failed_ = true;
  if (!pages_.empty() && !pages_.back()->close()) failed_ = true;
}

bool ReportWriter::startPage() {
  if (out_.isOpen()) closePage();
  lastPage_++;
  rowsOnPage_ = 0;
  if (!createPage(pageFileName(lastPage_))) return false;
  writeHead("");
  return true;
}

void ReportWriter::beginSection(int section, const SectionRows& rows) {
  section_ = section;
  heading_ = rows.heading ? rows.heading : noHeading;
  item_ = rows.item ? rows.item : noItem;
  if (lastPage_ > 0) rowsOnPage_ = pageLimit_;
  oldReader_ = makeItemReader(section);
  newReader_ = makeItemReader(section);
  if (pageLimit_ != 0 && rowsOnPage_ >= pageLimit_) {
    startPage();
  } else if (tableOpen_) {
    writeAscii(kTableEnd);
    tableOpen_ = false;
  }
  storedHeader_ = rows.header;
  if (!rows.title.empty()) {
    writeAscii("<div id=tit>");
    out_.writeWide(fromUtf8(expandTitle(source(), rows.title)));
    writeAscii("</div><br>");
  }
  writeAscii(storedHeader_);
  tableOpen_ = true;
  if (section == kSectionFiles) filesFirstPage_ = lastPage_;
  if (section == kSectionApps) appsFirstPage_ = lastPage_;
}

void ReportWriter::countRow(bool mayBreak) {
  rowsOnPage_++;
  if (pageLimit_ == 0 || rowsOnPage_ < pageLimit_ || !mayBreak) return;
  if (!startPage()) return;
  writeAscii(storedHeader_);
  tableOpen_ = true;
}

const std::u16string& ReportWriter::escapeHtml(const std::u16string& text, std::u16string* buffer) {
  size_t extra = 0;
  for (char16_t c : text) extra += c == u'<' ? 3 : c == u'&' ? 4 : 0;
  if (extra == 0) return text;
  buffer->clear();
  buffer->reserve(text.size() + extra);
  for (char16_t c : text) {
    if (c == u'<') {
      buffer->append(u"&lt;");
    } else if (c == u'&') {
      buffer->append(u"&amp;");
    } else {
      buffer->push_back(c);
    }
  }
  return *buffer;
}

std::string ReportWriter::escapeHtml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '&') {
      out += "&amp;";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void ReportWriter::writeEscaped(const std::u16string& text) {
  out_.writeWide(escapeHtml(text, &escapeBuffer_));
}

bool ReportWriter::insidePrefix(const std::u16string& path) const {
  if (prefix_.empty()) return true;
  std::u16string p = foldPath(path);
  if (p.size() < prefix_.size() || p.compare(0, prefix_.size(), prefix_) != 0) return false;
  // Whole components only: "...\Software" does not take in "...\SoftwareOld".
  return p.size() == prefix_.size() || p[prefix_.size()] == u'\\';
}

void ReportWriter::flushPending() {
  if (!pending_.held) return;
  pending_.held = false;
  if (!stateIncluded(pending_.state)) {
    deferred_ = pending_;
    deferred_.held = true;
    return;
  }
  if (!outside_) heading_(this, pending_.path, pending_.state, pending_.label);
}

void ReportWriter::writeDeferred() {
  if (!deferred_.held) return;
  deferred_.held = false;
  if (!outside_) heading_(this, deferred_.path, deferred_.state, deferred_.label);
}

// The group's heading is written with its first row that is not noise.
void ReportWriter::writeChild(const Item& item, int state, const char* label) {
  if (noiseJudge_ && noiseJudge_(section_, item, state, state == kAdded)) return;
  flushPending();
  if (!stateIncluded(state)) return;
  writeDeferred();
  if (!outside_) item_(this, item, state, label);
}

void ReportWriter::writeDifferenceRows(const std::u16string& path, const TreeEntry* oldNode,
                                       const TreeEntry* newNode) {
  if ((!oldNode && !newNode) || !hasSource_ || !oldReader_ || !newReader_) return;
  uint32_t oldTable = oldNode ? oldNode->contentTable : 0;
  uint32_t newTable = newNode ? newNode->contentTable : 0;
  bool haveOld = oldTable && source_.fileA && oldReader_->open(source_.fileA, oldTable);
  if (oldTable && !haveOld) return;
  SnapshotFile* fileB = source_.fileB;
  bool haveNew = newTable && fileB && newReader_->open(fileB, newTable);
  if (newTable && !haveNew) return;

  // The prefix test belongs to the group, whether its heading is written at once, deferred or
  // never: a stale answer from the previous group would hide or show the wrong rows.
  outside_ = !insidePrefix(path);
  deferred_.held = false;
  pending_.held = true;
  pending_.path = path;
  pending_.state = !oldNode ? kAdded : !newNode ? kDeleted : kModified;
  pending_.label = pending_.state == kAdded ? "add" : pending_.state == kDeleted ? "del" : "mod";

  Item o, n;
  bool hasO = haveOld && oldReader_->next(&o);
  bool hasN = haveNew && newReader_->next(&n);
  bool any = hasO || hasN;
  while (hasO || hasN) {
    if (hasO && hasN) {
      int c = oldReader_->order(o, n);
      if (c < 0) {
        writeChild(o, kDeleted, withDigest("del", oldReader_->ext(o)).c_str());
        hasO = oldReader_->next(&o);
      } else if (c > 0) {
        writeChild(n, kAdded, withDigest("add", newReader_->ext(n)).c_str());
        hasN = newReader_->next(&n);
      } else {
        uint8_t marks = oldReader_->marks(o, *newReader_, n);
        if ((marks || oldReader_->differs(o, n)) &&
            !(noiseJudge_ && noiseJudge_(section_, o, kModified, false))) {
          flushPending();
          if (stateIncluded(kModified)) {
            writeDeferred();
            if (!outside_) {
              // A file's marks (a date kept over new content, a replaced file) and each side's
              // recorded digest follow its label.
              std::string mark = marks ? " [" + fileMarkText(marks) + "]" : std::string();
              item_(this, o, kModified, withDigest("old" + mark, oldReader_->ext(o)).c_str());
              item_(this, n, kModified, withDigest("new" + mark, newReader_->ext(n)).c_str());
            }
          }
        }
        hasO = oldReader_->next(&o);
        hasN = newReader_->next(&n);
      }
    } else if (hasO) {
      writeChild(o, kDeleted, withDigest("del", oldReader_->ext(o)).c_str());
      hasO = oldReader_->next(&o);
    } else {
      writeChild(n, kAdded, withDigest("add", newReader_->ext(n)).c_str());
      hasN = newReader_->next(&n);
    }
  }
  if (!any && (!oldNode || !newNode)) flushPending();
  pending_.held = false;
  deferred_.held = false;
}

bool ReportWriter::commitPages(const std::string& firstPagePath) {
  size_t placed = 0;
  for (; placed < pages_.size(); placed++) {
    const std::string& path = placed == 0 ? firstPagePath : pages_[placed]->target();
    if (!pages_[placed]->commitAs(path)) break;
  }
  if (placed == pages_.size()) {
    pages_.clear();
    return true;
  }
  for (size_t i = 0; i < placed; i++)
    fs_->removeFile(i == 0 ? firstPagePath : pages_[i]->target());
  pages_.clear();
  failed_ = true;
  return false;
}

bool ReportWriter::finish() {
  if (out_.isOpen()) closePage();
  if (failed() || pages_.empty()) {
    pages_.clear();
  } else if (lastPage_ == 0) {
    commitPages(basePath_);
  } else {
    // The index page goes in last: until then an earlier report of this name stays whole.
    std::string index = indexPage();
    ReplacingFile indexFile(fs_);
    TextOutput page;
    if (indexFile.create(basePath_)) page.open(indexFile.file(), false);
    page.writeBytes(index.data(), index.size());
    if (!page.close() || !indexFile.close()) failed_ = true;
    if (!failed_ && commitPages(pageFileName(0)) && !indexFile.commit()) {
      for (int i = 0; i <= lastPage_; i++) fs_->removeFile(pageFileName(i));
      failed_ = true;
    }
    if (failed_) pages_.clear();
  }
  oldReader_.reset();
  newReader_.reset();
  escapeBuffer_.clear();
  escapeBuffer_.shrink_to_fit();
  return !failed();
}

std::string ReportWriter::pageFileName(int i) const {
  char number[16];
  std::snprintf(number, sizeof number, "_%03d.htm", i);
  return pattern_ + number;
}

std::string ReportWriter::pageLinks(int current, LinkForm form) const {
  std::string out;
  char link[160];
  for (int i = 0; i <= lastPage_; i++) {
    if (i == filesFirstPage_ || i == appsFirstPage_) out += " | ";
    const char* mark = i == current ? " class=c" : "";
    if (form == LinkForm::kIndexPage) {
      std::snprintf(link, sizeof link, "<a href='#' id=a%d onclick=\"return go('%03d',this)\"%s>%d</a> ",
                    i, i, mark, i + 1);
    } else {
      std::snprintf(link, sizeof link, "<a href='#%03d'%s>%d</a> ", i, mark, i + 1);
    }
    out += link;
  }
  return out;
}

std::string ReportWriter::indexPage() const {
  size_t slash = basePath_.find_last_of("\\/");
  std::string name = slash == std::string::npos ? basePath_ : basePath_.substr(slash + 1);
  name = name.size() >= 4 ? name.substr(0, name.size() - 4) : std::string();
  std::string page = text(kTextIndexTemplate);
  replaceAll(&page, "$links$", pageLinks(0, LinkForm::kIndexPage));
  replaceAll(&page, "$pg$", urlName(name));
  return page;
}

}  // namespace keldrun
