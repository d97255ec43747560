#include "host_messages.h"

#include "ovrin_host.h"
#include "platform/platform.h"

namespace ovrin {
namespace {

MessageBoxHandler gHandler = nullptr;
void* gContext = nullptr;

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler, void* context) {
  platform::ScopedProcessLock lock;
  gHandler = handler;
  gContext = context;
}

int ShowMessage(const char* text, unsigned style) {
  MessageBoxHandler handler;
  void* context;
  {
    platform::ScopedProcessLock lock;
    handler = gHandler;
    context = gContext;
  }
  // The box is modal: the lock must not be held while it is shown.
  return handler != nullptr ? handler(text, style, context) : platform::DefaultMessageBox(text, style);
}

}  // namespace ovrin
