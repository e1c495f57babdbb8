#include "reports/report_viewer.h"

#include <climits>
#include <cstdio>

#include "base/files.h"
#include "base/text_table.h"

namespace keldrun {

namespace {

void replaceAll(std::string* s, const std::string& from, const std::string& to) {
  for (size_t at = s->find(from); at != std::string::npos; at = s->find(from, at + to.size())) {
    s->replace(at, from.size(), to);
  }
}

// The page file's bytes as UTF-16 little-endian units, its byte order mark included, in
// chunks of kViewerChunkBytes.
void readChunks(const std::string& path, std::vector<std::u16string>* chunks) {
  FILE* f = openRegularFile(path);
  if (!f) return;
  std::vector<unsigned char> buffer(kViewerChunkBytes);
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
    std::u16string chunk;
    chunk.reserve(got / 2);
    for (size_t i = 0; i + 1 < got; i += 2) chunk.push_back(char16_t(buffer[i] | (buffer[i + 1] << 8)));
    chunks->push_back(std::move(chunk));
  }
  std::fclose(f);
}

}  // namespace

bool viewerDocument(const ReportWriter& writer, int page, ViewerDocument* out) {
  *out = ViewerDocument();
  std::string frame = text(kTextViewerTemplate);
  replaceAll(&frame, "$links$", writer.pageLinks(page, LinkForm::kViewer));
  size_t content = frame.find("$content$");
  if (content == std::string::npos) return false;
  out->before = frame.substr(0, content);
  out->after = frame.substr(content + 9);
  readChunks(writer.pageFileName(page), &out->chunks);
  return true;
}

int pageOfLink(const std::u16string& url) {
  size_t hash = url.find(u'#');
  if (hash == std::u16string::npos) return -1;
  size_t i = hash + 1;
  while (i < url.size() && url[i] == u' ') i++;
  long long n = 0;
  for (; i < url.size() && url[i] >= u'0' && url[i] <= u'9'; i++) {
    n = n * 10 + (url[i] - u'0');
    if (n > INT_MAX) return INT_MAX;  // no such page: an empty one between the bars
  }
  return int(n);
}

std::string helpPage(int entry, const std::string& executablePath) {
  std::string page = text(entry);
  char url[1024];
  const std::pair<int, int> images[] = {{kTextIconImage, kIconImageId}, {kTextLogoImage, kLogoImageId}};
  for (const auto& [name, id] : images) {
    std::snprintf(url, sizeof url, text(kTextImageUrl), executablePath.c_str(), id);
    replaceAll(&page, text(name), url);
  }
  std::string version = text(kTextVersion);
  replaceAll(&page, text(kTextVersionMark), version.empty() ? version : version.substr(1));
  return page;
}

}  // namespace keldrun
