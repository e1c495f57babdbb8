// The text printers: an indented tree for compare, the node and its list for show, tab-separated
// lines for search. Every name goes through appendText, so no snapshot can put a control
// character on the terminal or split a line.
#include <cstdio>

#include "cli/item_columns.h"
#include "cli/options.h"
#include "cli/printers.h"
#include "views/comparison_context.h"
#include "views/list_columns.h"
#include "views/tree_fill.h"

namespace keldrun {

namespace {

class TextComparePrinter : public ComparePrinter {
 public:
  TextComparePrinter(Output* out, bool color) : out_(out) {
    // The screens' colours as 24-bit terminal colours; unchanged keeps the terminal's own.
    for (int state = 0; state < kDiffStateCount; state++) {
      for (int bold = 0; bold < 2; bold++) {
        std::string& s = colorOn_[state][bold];
        if (!color) continue;
        if (bold) s = "\033[1m";
        if (state == kUnchanged) continue;
        uint32_t rgb = stateColor(state);
        char buf[32];
        std::snprintf(buf, sizeof buf, "\033[38;2;%u;%u;%um", (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
        s += buf;
      }
    }
    if (color) colorOff_ = "\033[0m";
  }

  void begin(const SnapshotRef&, const SnapshotRef&) override {}

  void beginSection(int section) override {
    columns_ = ItemColumns(section);
    out_->put(sectionName(section)).put('\n');
  }

  void node(const std::u16string&, const std::u16string& name, int depth, int state, bool ownChanged) override {
    std::string& t = out_->text();
    depth_ = size_t(depth);
    t.append(depth_ * 2, ' ');
    t += colorOn_[state][ownChanged];
    appendText(&t, name.data(), name.size());
    t += colorOff_;
    t += "  [";
    t += stateWord(state);
    if (ownChanged) t += ", own content";
    if (nodeNoise_) t += ", noise";
    t += "]\n";
    out_->flushIfFull();
  }

  void row(const ContentRow& row) override {
    {
      RowWriter w(&out_->text(), depth_ * 2 + RowWriter::kRowGuess);
      w.spaces(depth_ * 2 + 4).put(colorOn_[row.state][0]).cstr(row.label);
      columns_.text(w, row, "  ");
      w.put(colorOff_);
      if (row.noise) w.put("  [noise]");
      w.put('\n');
    }
    out_->flushIfFull();
  }

  void endSection(const std::string& message) override {
    if (!message.empty()) out_->put("  ").put(message).put('\n');
  }

  void end(bool) override {}

 private:
  Output* out_;
  std::string colorOn_[kDiffStateCount][2];
  std::string colorOff_;
  ItemColumns columns_{0};
  size_t depth_ = 0;
};

class TextShowPrinter : public ShowPrinter {
 public:
  explicit TextShowPrinter(Output* out) : out_(out) {}

  void begin(const SnapshotRef& s, int section, const std::u16string& path, const std::u16string& message) override {
    section_ = section;
    out_->utf8(s.info->name).put("  ").latin1(s.info->date).put("  ").latin1(s.info->computer);
    out_->put("  (").put(sectionName(section)).put(")\n");
    if (!message.empty()) out_->text(message).put('\n');
    else if (!path.empty()) out_->text(path).put('\n');
  }

  void child(const std::u16string& name, bool hasChildren) override {
    out_->put(hasChildren ? "  + " : "    ").text(name).put('\n');
  }

  void row(const ContentRow& row) override {
    std::string& t = out_->text();
    if (!titled_) {
      titled_ = true;
      columns_ = ItemColumns(section_);
      std::vector<std::string> titles = columnTitles(section_);
      t += '\n';
      for (size_t i = 0; i < titles.size(); i++) (t += i ? " | " : "  ") += titles[i];
      t += '\n';
    }
    {
      // The screen's columns, the label column "Info" last.
      RowWriter w(&t, RowWriter::kRowGuess);
      columns_.text(w, row.item, " | ", "  ");
      w.put(" | ").cstr(row.label);
      ItemColumns::digest(w, row.ext);
      w.put('\n');
    }
    out_->flushIfFull();
  }

  void end() override {}

 private:
  Output* out_;
  int section_ = 0;
  bool titled_ = false;
  ItemColumns columns_{0};
};

class TextSearchPrinter : public SearchPrinter {
 public:
  explicit TextSearchPrinter(Output* out) : out_(out) {}
  void begin(const SnapshotRef&, int section, const std::u16string&) override {
    registry_ = section == kSectionRegistry;
  }
  void match(const SearchRow& row) override {
    out_->text(row.path).put('\t').text(row.name);
    if (registry_) out_->put('\t').text(row.data);
    out_->put('\n');
    out_->flushIfFull();
  }
  void end(const SearchResult&) override {}

 private:
  Output* out_;
  bool registry_ = true;
};

}  // namespace

std::unique_ptr<ComparePrinter> makeTextComparePrinter(Output* out, bool color) {
  return std::make_unique<TextComparePrinter>(out, color);
}
std::unique_ptr<ShowPrinter> makeTextShowPrinter(Output* out) { return std::make_unique<TextShowPrinter>(out); }
std::unique_ptr<SearchPrinter> makeTextSearchPrinter(Output* out) {
  return std::make_unique<TextSearchPrinter>(out);
}

}  // namespace keldrun
