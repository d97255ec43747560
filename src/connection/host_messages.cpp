#include "host_messages.h"

#include "ovrin_host.h"
#include "platform/platform.h"

namespace ovrin {
namespace {

// Guarded by the process lock.
MessageBoxInvoker gInvoke = nullptr;
void (*gTarget)() = nullptr;
void* gContext = nullptr;

int InvokeHandler(const char* text, unsigned style, void (*target)(), void* context) {
  return reinterpret_cast<MessageBoxHandler>(target)(text, style, context);
}

}  // namespace

void SetMessageBoxInvoker(MessageBoxInvoker invoke, void (*target)(), void* context) {
  platform::ScopedProcessLock lock;
  gInvoke = target != nullptr ? invoke : nullptr;
  gTarget = target;
  gContext = context;
}

void SetMessageBoxHandler(MessageBoxHandler handler, void* context) {
  SetMessageBoxInvoker(InvokeHandler, reinterpret_cast<void (*)()>(handler), context);
}

int ShowMessage(const char* text, unsigned style) {
  MessageBoxInvoker invoke;
  void (*target)();
  void* context;
  {
    platform::ScopedProcessLock lock;
    invoke = gInvoke;
    target = gTarget;
    context = gContext;
  }
  // The box is modal: the lock must not be held while it is shown.
  return invoke != nullptr ? invoke(text, style, target, context) : platform::DefaultMessageBox(text, style);
}

}  // namespace ovrin
