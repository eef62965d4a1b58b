#include "platform/wait_hooks.h"

#include <algorithm>
#include <vector>

namespace kel {
namespace {

std::vector<WaitHook>& Hooks() {
  static std::vector<WaitHook> hooks;
  return hooks;
}

}  // namespace

void RegisterWaitHook(WaitHook hook) {
  auto& hooks = Hooks();
  if (std::find(hooks.begin(), hooks.end(), hook) == hooks.end()) hooks.push_back(hook);
}

void UnregisterWaitHook(WaitHook hook) {
  auto& hooks = Hooks();
  hooks.erase(std::remove(hooks.begin(), hooks.end(), hook), hooks.end());
}

void RunWaitHooks() {
  // A hook may register or unregister others: iterate over a copy.
  std::vector<WaitHook> hooks = Hooks();
  for (WaitHook hook : hooks) hook();
}

}  // namespace kel
