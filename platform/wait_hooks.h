// Work that must be done before the program blocks: before it waits for a
// key, sleeps while something is locked, or exits. The record manager
// registers the commit of its pending transaction here, so that nothing the
// program wrote stays uncommitted (invisible to other workstations, and at
// risk) while the program sits idle.
#ifndef KEL_PLATFORM_WAIT_HOOKS_H_
#define KEL_PLATFORM_WAIT_HOOKS_H_

namespace kel {

using WaitHook = void (*)();

// Registers `hook` once (a second registration of the same hook is ignored).
void RegisterWaitHook(WaitHook hook);
void UnregisterWaitHook(WaitHook hook);

// Runs every registered hook, in registration order. Called by whatever is
// about to block: the key wait, the sleeps of lock retries, program exit.
void RunWaitHooks();

}  // namespace kel

#endif  // KEL_PLATFORM_WAIT_HOOKS_H_
