// The JSON printers: one document per run (--json), streamed as it is walked, or one object per
// node and item (--jsonl), each line complete in itself. Layouts: docs/cli.md.
#include <cstring>
#include <string>
#include <vector>

#include "cli/item_columns.h"
#include "cli/options.h"
#include "cli/printers.h"

namespace keldrun {

namespace {

void appendPath(std::string* out, const std::string& utf8) {
  std::u16string path = fromUtf8(utf8);
  appendJson(out, path.data(), path.size());
}

void appendSnapshot(std::string* out, const SnapshotRef& s) {
  *out += "{\"path\":";
  appendPath(out, s.path);
  *out += ",\"name\":";
  appendUtf8Json(out, s.info->name);
  *out += ",\"computer\":";
  appendLatin1Json(out, s.info->computer);
  *out += ",\"date\":";
  appendLatin1Json(out, s.info->date);
  *out += '}';
}

// How the --json documents name a section: "section":"files","sectionNumber":1.
void appendSectionFields(std::string* out, int section) {
  *out += "\"section\":\"";
  *out += sectionName(section);
  *out += "\",\"sectionNumber\":";
  *out += char('0' + section);
}

void writeState(RowWriter& out, int state) {
  out.put(",\"state\":\"").cstr(stateWord(state)).put("\",\"stateNumber\":").put(char('0' + state));
}

void appendState(std::string* out, int state) {
  RowWriter w(out, 64);
  writeState(w, state);
}

// The JSON string literals of the paths of a walk. A node's path is its parent's and a name,
// and JSON escapes each code unit alone, so the start a path shares with an earlier one on the
// way to it is copied from that one's literal and only the rest is escaped: the paths of a
// deep tree are long, and escaping each whole took more than the rows below it.
class PathLiterals {
 public:
  // The literal of path, quotes included; valid until the next call.
  const std::string& of(const std::u16string& path) {
    // The longest earlier path that starts this one; every one left on starts_ starts last_.
    while (!starts_.empty() && !startsWith(path, starts_.back().units)) starts_.pop_back();
    size_t units = starts_.empty() ? 0 : starts_.back().units;
    literal_.resize(starts_.empty() ? 1 : starts_.back().bytes);  // the opening quote stays
    RowWriter(&literal_, 6 * (path.size() - units)).jsonChars(path.data() + units, path.size() - units);
    starts_.push_back({path.size(), literal_.size()});
    literal_ += '"';
    last_ = path;
    return literal_;
  }

 private:
  bool startsWith(const std::u16string& path, size_t units) const {
    return units <= path.size() && std::memcmp(path.data(), last_.data(), units * sizeof(char16_t)) == 0;
  }

  struct Start {
    size_t units;  // the length of an earlier path that starts last_
    size_t bytes;  // where its escapes end in literal_
  };
  std::u16string last_;      // the path of literal_
  std::string literal_ = "\"";
  std::vector<Start> starts_;
};

class JsonComparePrinter : public ComparePrinter {
 public:
  explicit JsonComparePrinter(Output* out) : out_(out) {}

  void begin(const SnapshotRef& a, const SnapshotRef& b) override {
    std::string& t = out_->text();
    t += "{\"a\":";
    appendSnapshot(&t, a);
    t += ",\"b\":";
    appendSnapshot(&t, b);
    t += ",\"sections\":[";
  }

  void beginSection(int section) override {
    std::string& t = out_->text();
    columns_ = ItemColumns(section);
    t += firstSection_ ? "\n{" : ",\n{";
    appendSectionFields(&t, section);
    t += ",\"columnTitles\":";
    appendColumnTitlesJson(&t, section);
    t += ",\"nodes\":[";
    firstSection_ = false;
    firstNode_ = true;
  }

  void node(const std::u16string& path, const std::u16string& name, int depth, int state, bool ownChanged) override {
    std::string& t = out_->text();
    closeNode();
    t += firstNode_ ? "\n{\"path\":" : ",\n{\"path\":";
    t += paths_.of(path);
    t += ",\"name\":";
    appendJson(&t, name.data(), name.size());
    t += ",\"depth\":";
    appendNumber(&t, uint64_t(depth < 0 ? 0 : depth));
    appendState(&t, state);
    if (nodeNoise_) t += ",\"noise\":true";
    t += ownChanged ? ",\"ownChanged\":true,\"rows\":[" : ",\"ownChanged\":false,\"rows\":[";
    firstNode_ = false;
    nodeOpen_ = true;
    firstRow_ = true;
    out_->flushIfFull();
  }

  void row(const ContentRow& row) override {
    {
      RowWriter w(&out_->text(), RowWriter::kRowGuess);
      if (!firstRow_) w.put(',');
      w.put("\n {\"label\":\"").cstr(row.label).put('"');
      writeState(w, row.state);
      if (row.noise) w.put(",\"noise\":true");
      w.put(",\"side\":\"").put(row.fromB ? 'B' : 'A').put("\",");
      columns_.json(w, row);
      w.put('}');
    }
    firstRow_ = false;
    out_->flushIfFull();
  }

  void endSection(const std::string& message) override {
    closeNode();
    out_->put("],\"message\":").put(message.empty() ? std::string("null") : jsonString(message));
    std::string hidden = ",\"hiddenAsNoise\":";
    appendNumber(&hidden, hiddenNoise_);
    out_->put(hidden).put('}');
  }

  void end(bool differences) override {
    out_->put("],\n\"differences\":").put(differences ? "true" : "false").put("}\n");
  }

 private:
  void closeNode() {
    if (nodeOpen_) out_->put("]}");
    nodeOpen_ = false;
  }

  Output* out_;
  ItemColumns columns_{0};
  PathLiterals paths_;
  bool firstSection_ = true, firstNode_ = true, firstRow_ = true, nodeOpen_ = false;
};

// The start of each line of a side, made once per section. A compare line names both sides
// too, so that its differences can be filed under the machine compared (B) and the reference (A).
class LineHeads {
 public:
  void set(const SnapshotRef& s, const char* side, int section, const SnapshotRef* a = nullptr,
           const SnapshotRef* b = nullptr) {
    std::string& h = side[0] == 'B' ? b_ : a_;
    h = jsonLineHead(s, section);
    if (!*side) return;
    h += std::string(",\"side\":\"") + side + "\"";
    h += ",\"snapshotIdA\":\"" + snapshotId(*a->info) + "\",\"snapshotIdB\":\"" + snapshotId(*b->info) + '"';
    h += ",\"computerA\":";
    appendLatin1Json(&h, a->info->computer);
    h += ",\"computerB\":";
    appendLatin1Json(&h, b->info->computer);
  }
  const std::string& a() const { return a_; }
  const std::string& b() const { return b_; }

 private:
  std::string a_, b_;
};

class JsonLinesComparePrinter : public ComparePrinter {
 public:
  explicit JsonLinesComparePrinter(Output* out) : out_(out) {}

  void begin(const SnapshotRef& a, const SnapshotRef& b) override {
    a_ = a;
    b_ = b;
  }

  void beginSection(int section) override {
    columns_ = ItemColumns(section);
    heads_.set(a_, "A", section, &a_, &b_);
    heads_.set(b_, "B", section, &a_, &b_);
  }

  void node(const std::u16string& path, const std::u16string& name, int, int state, bool ownChanged) override {
    std::string& t = out_->text();
    t += state == kDeleted ? heads_.a() : heads_.b();
    t += ",\"kind\":\"node\",\"path\":";
    const std::string& literal = paths_.of(path);
    t += literal;
    // Every item line of the node starts alike up to its label: made here, once per side.
    for (int side = 0; side < 2; side++) {
      std::string& h = rowHead_[side];
      h = side ? heads_.b() : heads_.a();
      h += ",\"kind\":\"item\",\"path\":";
      h += literal;
      h += ",\"label\":\"";
    }
    t += ",\"name\":";
    appendJson(&t, name.data(), name.size());
    appendState(&t, state);
    if (nodeNoise_) t += ",\"noise\":true";
    t += ownChanged ? ",\"ownChanged\":true}\n" : ",\"ownChanged\":false}\n";
    out_->flushIfFull();
  }

  void row(const ContentRow& row) override {
    {
      std::string& t = out_->text();
      t += rowHead_[row.fromB];  // appended whole, not copied into room cleared for it
      RowWriter w(&t, RowWriter::kRowGuess);
      w.cstr(row.label).put('"');
      writeState(w, row.state);
      if (row.noise) w.put(",\"noise\":true");
      w.put(',');
      columns_.json(w, row);
      w.put("}\n");
    }
    out_->flushIfFull();
  }

  // Every line is a node or an item, so that a loader needs no filter; what the noise list hid
  // is counted on standard error (and in --json).
  void endSection(const std::string&) override {}
  void end(bool) override {}

 private:
  Output* out_;
  ItemColumns columns_{0};
  LineHeads heads_;
  PathLiterals paths_;
  SnapshotRef a_{}, b_{};
  std::string rowHead_[2];  // the start of the current node's item lines of side A and of B
};

class JsonShowPrinter : public ShowPrinter {
 public:
  JsonShowPrinter(Output* out, bool lines) : out_(out), lines_(lines) {}

  void begin(const SnapshotRef& s, int section, const std::u16string& path, const std::u16string& message) override {
    path_ = path;
    columns_ = ItemColumns(section);
    heads_.set(s, "", section);
    if (lines_) return;
    std::string& t = out_->text();
    t += "{\"snapshot\":";
    appendSnapshot(&t, s);
    t += ',';
    appendSectionFields(&t, section);
    t += ",\"path\":" + jsonString(path) + ",\"message\":" + (message.empty() ? "null" : jsonString(message));
    t += ",\"columnTitles\":";
    appendColumnTitlesJson(&t, section);
    t += ",\"children\":[";
  }

  void child(const std::u16string& name, bool hasChildren) override {
    std::string& t = out_->text();
    if (lines_) {
      full_ = path_;
      if (!full_.empty() && full_.back() != u'\\') full_ += u'\\';
      full_ += name;
      t += heads_.a();
      t += ",\"kind\":\"node\",\"path\":";
      appendJson(&t, full_.data(), full_.size());
      t += ",\"name\":";
      appendJson(&t, name.data(), name.size());
      appendState(&t, kUnchanged);
      t += hasChildren ? ",\"hasChildren\":true}\n" : ",\"hasChildren\":false}\n";
      out_->flushIfFull();
      return;
    }
    t += first_ ? "\n{\"name\":" : ",\n{\"name\":";
    appendJson(&t, name.data(), name.size());
    t += hasChildren ? ",\"hasChildren\":true}" : ",\"hasChildren\":false}";
    first_ = false;
    out_->flushIfFull();
  }

  void row(const ContentRow& row) override {
    std::string& t = out_->text();
    if (lines_) {
      t += heads_.a();
      t += ",\"kind\":\"item\",\"path\":";
      appendJson(&t, path_.data(), path_.size());
      t += ",\"label\":";
      appendLatin1Json(&t, row.label);
      appendState(&t, kUnchanged);
      t += ',';
    } else {
      if (!inRows_) t += "],\"rows\":[";
      t += inRows_ ? ",\n{\"label\":" : "\n{\"label\":";
      appendLatin1Json(&t, row.label);
      t += ',';
    }
    inRows_ = true;
    {
      RowWriter w(&t, RowWriter::kRowGuess);
      columns_.json(w, row);
      w.put('}');
      if (lines_) w.put('\n');
    }
    out_->flushIfFull();
  }

  void end() override {
    if (lines_) return;
    out_->put(inRows_ ? "]}\n" : "],\"rows\":[]}\n");
  }

 private:
  Output* out_;
  bool lines_;
  LineHeads heads_;
  std::u16string path_;
  std::u16string full_;  // a child's path (--jsonl), reused from child to child
  ItemColumns columns_{0};
  bool first_ = true, inRows_ = false;
};

class JsonSearchPrinter : public SearchPrinter {
 public:
  JsonSearchPrinter(Output* out, bool lines) : out_(out), lines_(lines) {}

  void begin(const SnapshotRef& s, int section, const std::u16string& text) override {
    registry_ = section == kSectionRegistry;
    heads_.set(s, "", section);
    if (lines_) return;
    std::string& t = out_->text();
    t += "{\"snapshot\":";
    appendSnapshot(&t, s);
    t += ',';
    appendSectionFields(&t, section);
    t += ",\"text\":";
    appendJson(&t, text.data(), text.size());
    t += ",\"matches\":[";
  }

  void match(const SearchRow& row) override {
    std::string& t = out_->text();
    bool pathMatched = row.name == u"*";
    if (lines_) {
      t += heads_.a();
      t += pathMatched ? ",\"kind\":\"node\"" : ",\"kind\":\"item\"";
    } else {
      t += first_ ? "\n{" : ",\n{";
      first_ = false;
    }
    t += lines_ ? ",\"path\":" : "\"path\":";
    appendJson(&t, row.path.data(), row.path.size());
    t += ",\"name\":";
    appendJson(&t, row.name.data(), row.name.size());
    t += pathMatched ? ",\"pathMatched\":true" : ",\"pathMatched\":false";
    if (registry_) {
      t += ",\"data\":";
      appendJson(&t, row.data.data(), row.data.size());
    }
    if (lines_) {
      appendState(&t, kUnchanged);
      t += ",\"columns\":[";
      appendJson(&t, row.path.data(), row.path.size());
      t += ',';
      appendJson(&t, row.name.data(), row.name.size());
      if (registry_) {
        t += ',';
        appendJson(&t, row.data.data(), row.data.size());
      }
      t += ']';
    }
    t += lines_ ? "}\n" : "}";
    out_->flushIfFull();
  }

  // The summary follows the matches, which were printed as they were found.
  void end(const SearchResult& result) override {
    if (lines_) return;
    std::string& t = out_->text();
    t += result.searched ? "],\"searched\":true,\"status\":" : "],\"searched\":false,\"status\":";
    appendLatin1Json(&t, result.status);
    t += ",\"count\":";
    appendNumber(&t, result.count);
    t += "}\n";
  }

 private:
  Output* out_;
  bool lines_;
  LineHeads heads_;
  bool registry_ = true, first_ = true;
};

}  // namespace

std::string snapshotId(const SnapshotInfo& info) {
  uint64_t h = 14695981039346656037ull;
  auto bytes = [&h](const void* p, size_t n) {
    for (size_t i = 0; i < n; i++) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
  };
  auto word = [&bytes](uint32_t v) {
    unsigned char le[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    bytes(le, 4);
  };
  // Each text with its terminating zero, so that no two pairs of texts run together alike.
  bytes(info.computer.c_str(), info.computer.size() + 1);
  bytes(info.date.c_str(), info.date.size() + 1);
  word(info.size);
  word(info.infoOffset);
  word(info.listsSize);
  for (int s = 0; s < kSectionCount; s++) {
    word(info.sectionOffset[s]);
    word(info.listCount[s]);
    word(info.listOffset[s]);
  }
  static const char digits[] = "0123456789abcdef";
  std::string id(16, '0');
  for (int i = 15; i >= 0; i--, h >>= 4) id[size_t(i)] = digits[h & 15];
  return id;
}

void appendSnapshotIdentity(std::string* out, const SnapshotRef& s) {
  *out += ",\"snapshot\":";
  appendPath(out, s.path);
  *out += ",\"snapshotId\":\"" + snapshotId(*s.info) + "\",\"computer\":";
  appendLatin1Json(out, s.info->computer);
  *out += ",\"snapshotName\":";
  appendUtf8Json(out, s.info->name);
  *out += ",\"number\":";
  if (s.info->number < 0) *out += '-';
  appendNumber(out, uint64_t(s.info->number < 0 ? -int64_t(s.info->number) : s.info->number));
  *out += ",\"date\":";
  appendLatin1Json(out, s.info->date);
}

std::string jsonLineHead(const SnapshotRef& s, int section) {
  std::string h = "{\"schema\":";
  appendNumber(&h, kJsonLinesSchema);
  appendSnapshotIdentity(&h, s);
  h += ",\"section\":\"";
  h += sectionName(section);
  h += '"';
  return h;
}

bool chooseOutputForm(const CommandContext& ctx, OutputForm* form) {
  if (ctx.has("--json") && ctx.has("--jsonl")) {
    failConflict("--json", "--jsonl");
    return false;
  }
  *form = ctx.has("--jsonl") ? OutputForm::kJsonLines : ctx.has("--json") ? OutputForm::kJson : OutputForm::kText;
  return true;
}

std::unique_ptr<ComparePrinter> makeComparePrinter(OutputForm form, Output* out, bool color) {
  if (form == OutputForm::kJson) return std::make_unique<JsonComparePrinter>(out);
  if (form == OutputForm::kJsonLines) return std::make_unique<JsonLinesComparePrinter>(out);
  return makeTextComparePrinter(out, color);
}

std::unique_ptr<ShowPrinter> makeShowPrinter(OutputForm form, Output* out) {
  if (form == OutputForm::kText) return makeTextShowPrinter(out);
  return std::make_unique<JsonShowPrinter>(out, form == OutputForm::kJsonLines);
}

std::unique_ptr<SearchPrinter> makeSearchPrinter(OutputForm form, Output* out) {
  if (form == OutputForm::kText) return makeTextSearchPrinter(out);
  return std::make_unique<JsonSearchPrinter>(out, form == OutputForm::kJsonLines);
}

}  // namespace keldrun
