#include "toolkit/message_box_model.h"

namespace keldrun {

const char16_t* messageCaption(MessageBoxKind kind) {
  switch (kind) {
    case MessageBoxKind::kError: return u"Error";
    case MessageBoxKind::kInformation: return u"Info";
    case MessageBoxKind::kWarning: break;
  }
  return u"Warning";
}

std::vector<std::u16string> messageLines(const std::u16string& text) {
  std::vector<std::u16string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find(u'\n', start);
    if (nl == std::u16string::npos) nl = text.size();
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  if (lines.empty()) lines.emplace_back();
  return lines;
}

MessageBoxLayout layoutMessageBox(const std::u16string& text, int buttonSet, MessageBoxKind kind,
                                  const std::function<int(const std::u16string&)>& measure) {
  MessageBoxLayout out;
  bool thirdDefault = (buttonSet & kDefaultThirdButton) != 0;
  int set = buttonSet & ~kDefaultThirdButton;
  if (set != kButtonsYesNoCancel && set != kButtonsYesNo) set = kButtonsOk;

  std::vector<std::u16string> lines = messageLines(text);
  int width = 0;
  for (const std::u16string& line : lines) {
    int w = measure(line);
    if (w > width) width = w;
  }
  if (set == kButtonsYesNoCancel && width < 150) width = 150;
  if (set == kButtonsYesNo && width < 90) width = 90;
  int n = int(lines.size());
  out.lineCount = n;
  out.textWidth = width;
  out.text = LayoutRect{70, 20, 70 + width + 5, 20 + 15 * n};

  int y = 15 * n + 50;
  auto button = [&](int id, const char16_t* label, int icon, int x) {
    out.buttons.push_back({id, label, icon, LayoutRect{x, y, x + 70, y + 22}});
  };
  if (set == kButtonsOk) {
    int icon = kind == MessageBoxKind::kError ? 1 : (kind == MessageBoxKind::kInformation ? 0 : -1);
    button(kMessageButton1, u"Ok", icon, (width + 15) / 2);
  } else if (set == kButtonsYesNoCancel) {
    button(kMessageButton1, u"Yes", 0, 5);
    button(kMessageButton2, u"No", 1, (width + 15) / 2);
    button(kMessageButton3, u"Cancel", -1, width + 9);
    out.cancelHasFocus = thirdDefault;
  } else {
    button(kMessageButton1, u"Yes", 0, (width + 90) / 2 - 80);
    button(kMessageButton2, u"No", 1, (width + 90) / 2 + 10);
  }
  out.width = width + 90;
  out.height = 15 * n + 110;
  return out;
}

int messageResultForButton(int id) {
  switch (id) {
    case kMessageButton1: return kResultYes;
    case kMessageButton2: return kResultNo;
    default: return kResultCancel;
  }
}

}  // namespace keldrun
