#include "toolkit/browser_model.h"

#include <cstring>

namespace keldrun {

namespace {

bool endsWith(const std::u16string& s, const std::u16string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

char16_t lowerAscii16(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool tagNameIs(const std::u16string& name, const char* want) {
  size_t n = std::strlen(want);
  if (name.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (lowerAscii16(name[i]) != char16_t(want[i])) return false;
  }
  return true;
}

bool isBlockTag(const std::u16string& name) {
  static const char* const kBlocks[] = {"br", "p", "div", "tr", "table", "h1", "h2", "h3", "h4",
                                        "li", "ul", "ol", "hr", "title", "pre", "body", "html"};
  for (const char* b : kBlocks) {
    if (tagNameIs(name, b)) return true;
  }
  return false;
}

void appendCodePoint(std::u16string* out, unsigned long cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    out->push_back(u'\uFFFD');
  } else if (cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(char16_t(0xD800 + (cp >> 10)));
    out->push_back(char16_t(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(char16_t(cp));
  }
}

// Decodes the entity starting at html[i] == '&'; returns the characters consumed (0 when it is
// not an entity, and the '&' is then literal).
size_t decodeEntity(const std::u16string& html, size_t i, std::u16string* out) {
  size_t end = html.find(u';', i);
  if (end == std::u16string::npos || end - i > 10) return 0;
  std::u16string name = html.substr(i + 1, end - i - 1);
  static const struct {
    const char* name;
    char16_t ch;
  } kNamed[] = {{"amp", u'&'}, {"lt", u'<'}, {"gt", u'>'}, {"quot", u'"'}, {"apos", u'\''},
                {"nbsp", u' '}, {"copy", u'\u00A9'}};
  for (const auto& e : kNamed) {
    if (tagNameIs(name, e.name)) {
      out->push_back(e.ch);
      return end - i + 1;
    }
  }
  if (name.size() >= 2 && name[0] == u'#') {
    bool hex = name[1] == u'x' || name[1] == u'X';
    unsigned long cp = 0;
    size_t k = hex ? 2 : 1;
    if (k >= name.size()) return 0;
    for (; k < name.size(); ++k) {
      char16_t c = name[k];
      int d;
      if (c >= u'0' && c <= u'9') d = c - u'0';
      else if (hex && c >= u'a' && c <= u'f') d = c - u'a' + 10;
      else if (hex && c >= u'A' && c <= u'F') d = c - u'A' + 10;
      else return 0;
      cp = cp * (hex ? 16 : 10) + unsigned(d);
      if (cp > 0x10FFFF) cp = 0x110000;
    }
    appendCodePoint(out, cp);
    return end - i + 1;
  }
  return 0;
}

// Where the ASCII text lowerNeedle begins in s at or after from, letters compared folded.
size_t findFolded(const std::u16string& s, const char* lowerNeedle, size_t from) {
  size_t n = std::strlen(lowerNeedle);
  for (size_t i = from; i + n <= s.size(); ++i) {
    size_t k = 0;
    while (k < n && lowerAscii16(s[i + k]) == char16_t(lowerNeedle[k])) ++k;
    if (k == n) return i;
  }
  return std::u16string::npos;
}

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// The value of attribute `name` in a tag's text (what stands between '<' and '>'), quoted or
// not; false when the tag has no such attribute.
bool attributeOf(const std::u16string& tag, const char* name, std::u16string* value) {
  size_t i = 0;
  while (i < tag.size() && !isBlank(tag[i])) ++i;  // the tag's own name
  while (i < tag.size()) {
    while (i < tag.size() && (isBlank(tag[i]) || tag[i] == u'/')) ++i;
    size_t start = i;
    while (i < tag.size() && !isBlank(tag[i]) && tag[i] != u'=' && tag[i] != u'/') ++i;
    std::u16string attribute = tag.substr(start, i - start);
    while (i < tag.size() && isBlank(tag[i])) ++i;
    std::u16string v;
    if (i < tag.size() && tag[i] == u'=') {
      ++i;
      while (i < tag.size() && isBlank(tag[i])) ++i;
      if (i < tag.size() && (tag[i] == u'\'' || tag[i] == u'"')) {
        size_t end = tag.find(tag[i], i + 1);
        if (end == std::u16string::npos) end = tag.size();
        v = tag.substr(i + 1, end - i - 1);
        i = end + 1;
      } else {
        start = i;
        while (i < tag.size() && !isBlank(tag[i])) ++i;
        v = tag.substr(start, i - start);
      }
    }
    if (!attribute.empty() && tagNameIs(attribute, name)) {
      *value = v;
      return true;
    }
    if (attribute.empty() && i == start) ++i;  // a stray character: step over it
  }
  return false;
}

}  // namespace

std::u16string navigationTarget(const std::u16string& url) {
  if (url.size() > 11 && endsWith(url, u"about:blank")) {
    return url.size() > 13 ? url.substr(0, url.size() - 13) : std::u16string();
  }
  return url;
}

bool isBrowserErrorPage(const std::u16string& url) {
  return url.find(u"shdoclc.dll/dnserror.htm") != std::u16string::npos;
}

void PendingText::append(const std::u16string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  text_ += text;
}

std::u16string PendingText::take() {
  std::lock_guard<std::mutex> lock(mu_);
  std::u16string out;
  out.swap(text_);
  return out;
}

bool PendingText::empty() const {
  std::lock_guard<std::mutex> lock(mu_);
  return text_.empty();
}

std::u16string htmlToPlainText(const std::u16string& html) {
  std::u16string out;
  out.reserve(html.size());
  int newlines = 2;  // no blank lines at the start
  bool pendingSpace = false;
  auto newline = [&]() {
    if (newlines < 2) {
      out += u"\r\n";
      ++newlines;
    }
    pendingSpace = false;
  };
  size_t i = 0;
  while (i < html.size()) {
    char16_t c = html[i];
    if (c == 0xFEFF || c == 0) {
      ++i;
      continue;
    }
    if (c == u'<') {
      size_t close = html.find(u'>', i);
      if (close == std::u16string::npos) break;
      size_t k = i + 1;
      if (k < close && html[k] == u'/') ++k;
      size_t nameStart = k;
      while (k < close && html[k] != u' ' && html[k] != u'\t' && html[k] != u'\r' &&
             html[k] != u'\n' && html[k] != u'/') {
        ++k;
      }
      std::u16string name = html.substr(nameStart, k - nameStart);
      bool closing = html[i + 1] == u'/';
      i = close + 1;
      if (!closing && (tagNameIs(name, "script") || tagNameIs(name, "style"))) {
        // Skip to the matching end tag.
        std::u16string endTag = tagNameIs(name, "script") ? u"</script" : u"</style";
        size_t e = i;
        for (;;) {
          e = html.find(u"</", e);
          if (e == std::u16string::npos) {
            i = html.size();
            break;
          }
          bool match = true;
          for (size_t m = 0; m < endTag.size(); ++m) {
            if (e + m >= html.size() || lowerAscii16(html[e + m]) != endTag[m]) {
              match = false;
              break;
            }
          }
          if (match) {
            size_t gt = html.find(u'>', e);
            i = gt == std::u16string::npos ? html.size() : gt + 1;
            break;
          }
          e += 2;
        }
        continue;
      }
      if (tagNameIs(name, "br")) {
        newline();
      } else if (isBlockTag(name)) {
        if (newlines == 0) newline();
      } else if (!closing && newlines == 0 && (tagNameIs(name, "td") || tagNameIs(name, "th"))) {
        out += u"\t";
        pendingSpace = false;
      }
      continue;
    }
    if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n') {
      if (newlines == 0) pendingSpace = true;
      ++i;
      continue;
    }
    if (pendingSpace) out.push_back(u' ');
    pendingSpace = false;
    newlines = 0;
    if (c == u'&') {
      size_t used = decodeEntity(html, i, &out);
      if (used) {
        i += used;
        continue;
      }
    }
    out.push_back(c);
    ++i;
  }
  while (!out.empty() && (out.back() == u'\n' || out.back() == u'\r' || out.back() == u' ' ||
                          out.back() == u'\t')) {
    out.pop_back();
  }
  return out;
}

std::vector<DocumentLink> documentLinks(const std::u16string& html) {
  std::vector<DocumentLink> links;
  size_t i = 0;
  while ((i = html.find(u'<', i)) != std::u16string::npos) {
    size_t close = html.find(u'>', i);
    if (close == std::u16string::npos) break;
    std::u16string tag = html.substr(i + 1, close - i - 1);
    size_t nameEnd = 0;
    while (nameEnd < tag.size() && !isBlank(tag[nameEnd]) && tag[nameEnd] != u'/') ++nameEnd;
    std::u16string name = tag.substr(0, nameEnd);
    i = close + 1;
    if (tagNameIs(name, "script") || tagNameIs(name, "style")) {
      size_t end = findFolded(html, tagNameIs(name, "script") ? "</script" : "</style", i);
      i = end == std::u16string::npos ? html.size() : end;
      continue;
    }
    if (!tagNameIs(name, "a")) continue;
    size_t end = findFolded(html, "</a", i);
    if (end == std::u16string::npos) end = html.size();
    DocumentLink link;
    std::u16string href, cls;
    if (attributeOf(tag, "href", &href)) {
      link.target = htmlToPlainText(href);
      link.text = htmlToPlainText(html.substr(i, end - i));
      link.marked = attributeOf(tag, "class", &cls) && !cls.empty();
      bool known = false;
      for (DocumentLink& l : links) {
        if (l.target == link.target && l.text == link.text) {
          l.marked = l.marked || link.marked;
          known = true;
        }
      }
      if (!known) links.push_back(link);
    }
    i = end;
  }
  return links;
}

std::u16string linkAddress(const std::u16string& base, const std::u16string& target) {
  std::u16string page = base.substr(0, base.find(u'#'));
  if (target.empty()) return base;
  if (target[0] == u'#') return page + target;
  size_t colon = target.find(u':');
  bool scheme = colon != std::u16string::npos && colon > 0;
  for (size_t k = 0; scheme && k < colon; ++k) {
    char16_t c = lowerAscii16(target[k]);
    scheme = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' ||
             c == u'.';
  }
  if (scheme || target[0] == u'\\' || target[0] == u'/') return target;
  size_t slash = page.find_last_of(u"/\\");
  return slash == std::u16string::npos ? target : page.substr(0, slash + 1) + target;
}

}  // namespace keldrun
