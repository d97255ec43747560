// The texts the library shows the user, and the way they are shown.
#pragma once

namespace ovrin {

constexpr const char kCantCreateEvent[] = "Can't create event object!";
constexpr const char kCantSendCommand[] = "Can't Send Command";
constexpr const char kPortListError[] = "RegOpenKeyEx error";
// "The device may not be connected properly; go on searching?", code page 936.
constexpr const char kKeepSearchingQuestion[] =
    "\xc9\xe8\xb1\xb8\xbf\xc9\xc4\xdc\xce\xb4\xbd\xd3\xba\xc3\xa3\xac\xd2\xaa"
    "\xbc\xcc\xd0\xf8\xcb\xd1\xcb\xf7\xc9\xe8\xb1\xb8\xc2\xf0\xa3\xbf";

// Shows text through the host's handler, or the platform's default; returns
// the button pressed. Blocks the calling thread until answered.
int ShowMessage(const char* text, unsigned style);

// Calls `target`, a handler of any convention, with a message; lets the C
// interface bind handlers of its own type (as the reading handler does).
using MessageBoxInvoker = int (*)(const char* text, unsigned style, void (*target)(), void* context);
void SetMessageBoxInvoker(MessageBoxInvoker invoke, void (*target)(), void* context);

}  // namespace ovrin
