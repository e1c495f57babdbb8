// Window subclassing whose chains live in this process, in a table per thread, with the
// signature and rules of the common controls' SetWindowSubclass: a procedure, an id and a
// datum per link, the newest link called first, defSubclassProc passing a message on down.
// SetWindowSubclass keeps a window's chain in a window property and finds it twice for every
// message; under Wine each lookup is a round trip to the server, which made the controls'
// messages at start-up cost more than their work. A window's messages run on the thread that
// made it, so each thread's table holds only its own windows and needs no lock.
#ifndef KELDRUN_TOOLKIT_SUBCLASS_H_
#define KELDRUN_TOOLKIT_SUBCLASS_H_

#include <windows.h>

namespace keldrun {

using SubclassProc = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM, UINT_PTR id, DWORD_PTR data);

// Adds proc under id to w's chain, or gives an existing link of that proc and id the new data.
// False when w is not a window of this thread.
bool subclassWindow(HWND w, SubclassProc proc, UINT_PTR id, DWORD_PTR data);
// Takes the link out; safe inside the link's own call (WM_NCDESTROY). When no link is left the
// window gets its own procedure back, unless another subclass was put over ours meanwhile.
void removeSubclass(HWND w, SubclassProc proc, UINT_PTR id);
// Inside a link's call: hands the message to the next link, at the end to the window's own
// procedure.
LRESULT defSubclassProc(HWND w, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace keldrun

#endif  // KELDRUN_TOOLKIT_SUBCLASS_H_
