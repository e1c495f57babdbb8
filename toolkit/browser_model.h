// What the embedded browser control decides apart from the browser itself: the URL handed to a
// before-navigate callback, the error-page test, the pending text written before the document
// exists, and the plain-text view used where the system has no HTML engine.
#ifndef KELDRUN_TOOLKIT_BROWSER_MODEL_H_
#define KELDRUN_TOOLKIT_BROWSER_MODEL_H_

#include <mutex>
#include <string>
#include <vector>

namespace keldrun {

// A URL longer than 11 characters that ends in "about:blank" loses its last 13 characters (the
// address a written document reports for its own links); a URL too short for that becomes empty.
std::u16string navigationTarget(const std::u16string& url);

// True when the browser landed on its own error page.
bool isBrowserErrorPage(const std::u16string& url);

// Text written while the document is not available. Writers may run on the browser's event
// callbacks, so the buffer is guarded by its own lock.
class PendingText {
 public:
  void append(const std::u16string& text);
  // Returns the pending text and empties the buffer.
  std::u16string take();
  bool empty() const;

 private:
  mutable std::mutex mu_;
  std::u16string text_;  // guarded by mu_
};

// Plain text of an HTML document for the text view: tags removed, line breaks at block tags,
// the usual character entities decoded, a byte order mark dropped, runs of blank lines kept to
// one, script and style bodies left out. Line ends are "\r\n" for an edit control.
std::u16string htmlToPlainText(const std::u16string& html);

// A link of a document as the text view offers it: where it leads (the href as written, its
// entities decoded), its plain text, and whether the page marks it with a class (the report
// viewer's bars mark the page shown so).
struct DocumentLink {
  std::u16string target;
  std::u16string text;
  bool marked = false;
};
inline bool operator==(const DocumentLink& a, const DocumentLink& b) {
  return a.target == b.target && a.text == b.text && a.marked == b.marked;
}

// The links of a document in their order, each target with its text once (the viewer's two bars
// hold the same links); anchors without an href, and script and style bodies, are left out.
std::vector<DocumentLink> documentLinks(const std::u16string& html);

// The address a link leads to from the document at base: "#..." is appended to base without its
// own fragment; an address with a scheme, a drive or a "\\" stays; anything else is taken
// relative to base's folder.
std::u16string linkAddress(const std::u16string& base, const std::u16string& target);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_BROWSER_MODEL_H_
