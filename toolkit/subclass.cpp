#include "toolkit/subclass.h"

#include <unordered_map>
#include <vector>

namespace keldrun {

namespace {

struct Link {
  SubclassProc proc;
  UINT_PTR id;
  DWORD_PTR data;
  bool removed;
};

struct Chain {
  WNDPROC original = nullptr;
  std::vector<Link> links;  // oldest first; called from the back
  // For each message being handled (they nest), how many links below the running one are
  // still to be called.
  std::vector<size_t> next;
  bool destroyed = false;  // WM_NCDESTROY came, maybe while another message ran
};

thread_local std::unordered_map<HWND, Chain> chains;

Chain* chainOf(HWND w) {
  auto it = chains.find(w);
  return it == chains.end() ? nullptr : &it->second;
}

LRESULT CALLBACK chainProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam);

// Once no message is running through the chain: drops the links taken out, and the chain
// itself when none is left and ours is still the window's procedure.
void tidy(HWND w, Chain* c) {
  if (!c->next.empty()) return;
  std::vector<Link>& links = c->links;
  for (size_t i = links.size(); i-- > 0;)
    if (links[i].removed) links.erase(links.begin() + long(i));
  if (!links.empty() || c->destroyed) return;
  if (GetWindowLongPtrW(w, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&chainProc)) return;
  SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(c->original));
  chains.erase(w);
}

LRESULT CALLBACK chainProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  Chain* c = chainOf(w);  // stays valid: only the outermost call below erases it
  if (!c) return DefWindowProcW(w, message, wparam, lparam);
  c->next.push_back(c->links.size());
  LRESULT r = defSubclassProc(w, message, wparam, lparam);
  c->next.pop_back();
  if (message == WM_NCDESTROY) c->destroyed = true;
  if (c->destroyed && c->next.empty()) {
    // The window is gone, and whatever links were left with it: its handle may come back.
    chains.erase(w);
    return r;
  }
  tidy(w, c);
  return r;
}

}  // namespace

bool subclassWindow(HWND w, SubclassProc proc, UINT_PTR id, DWORD_PTR data) {
  if (!w || !proc || GetWindowThreadProcessId(w, nullptr) != GetCurrentThreadId()) return false;
  Chain* c = chainOf(w);
  if (!c) {
    Chain fresh;
    fresh.original = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(w, GWLP_WNDPROC));
    if (!fresh.original) return false;
    c = &chains.emplace(w, std::move(fresh)).first->second;
    SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&chainProc));
  }
  for (Link& link : c->links) {
    if (link.proc == proc && link.id == id && !link.removed) {
      link.data = data;
      return true;
    }
  }
  c->links.push_back(Link{proc, id, data, false});
  return true;
}

void removeSubclass(HWND w, SubclassProc proc, UINT_PTR id) {
  Chain* c = chainOf(w);
  if (!c) return;
  for (Link& link : c->links)
    if (link.proc == proc && link.id == id) link.removed = true;
  tidy(w, c);
}

LRESULT defSubclassProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam) {
  Chain* c = chainOf(w);
  if (!c || c->next.empty()) return DefWindowProcW(w, message, wparam, lparam);
  for (;;) {
    size_t& below = c->next.back();
    if (below == 0) return CallWindowProcW(c->original, w, message, wparam, lparam);
    Link link = c->links[--below];
    if (link.removed) continue;
    return link.proc(w, message, wparam, lparam, link.id, link.data);
  }
}

}  // namespace keldrun
