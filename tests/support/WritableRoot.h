#pragma once

#include <functional>

namespace lmtest {

// RunWithWritableRoot's answer when this machine allows no user and mount namespace.
constexpr int kNoWritableRoot = 77;

// Runs `body` in a child process that may write "/": a private user and mount namespace (no root
// rights needed) whose "/" is a fresh tmpfs holding the real root's entries, bound in place, so every
// path still leads where it did. Returns the child's exit status: 0 when `body` raised no test
// failure, 1 when it did (its messages are printed as usual), kNoWritableRoot when the namespace
// cannot be made (the reason goes to stderr).
int RunWithWritableRoot(const std::function<void()>& body);

}  // namespace lmtest
