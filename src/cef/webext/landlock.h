// Landlock, the kernel's unprivileged access control, as far as the library
// uses it. Debian 12's kernel headers stop at ABI 2, so the constants are
// defined here; which of them the kernel knows is asked at run time.
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace quillo::landlock {

#ifndef SYS_landlock_create_ruleset
inline constexpr long kCreateRulesetSyscall = 444;
inline constexpr long kAddRuleSyscall = 445;
inline constexpr long kRestrictSelfSyscall = 446;
#else
inline constexpr long kCreateRulesetSyscall = SYS_landlock_create_ruleset;
inline constexpr long kAddRuleSyscall = SYS_landlock_add_rule;
inline constexpr long kRestrictSelfSyscall = SYS_landlock_restrict_self;
#endif

inline constexpr uint32_t kCreateRulesetVersion = 1u << 0;
inline constexpr int kRulePathBeneath = 1;

// File-system rights, with the ABI version that brought them.
inline constexpr uint64_t kExecute = 1ull << 0;
inline constexpr uint64_t kWriteFile = 1ull << 1;
inline constexpr uint64_t kReadFile = 1ull << 2;
inline constexpr uint64_t kReadDir = 1ull << 3;
inline constexpr uint64_t kRemoveDir = 1ull << 4;
inline constexpr uint64_t kRemoveFile = 1ull << 5;
inline constexpr uint64_t kMakeChar = 1ull << 6;
inline constexpr uint64_t kMakeDir = 1ull << 7;
inline constexpr uint64_t kMakeReg = 1ull << 8;
inline constexpr uint64_t kMakeSock = 1ull << 9;
inline constexpr uint64_t kMakeFifo = 1ull << 10;
inline constexpr uint64_t kMakeBlock = 1ull << 11;
inline constexpr uint64_t kMakeSym = 1ull << 12;
inline constexpr uint64_t kRefer = 1ull << 13;     // ABI 2
inline constexpr uint64_t kTruncate = 1ull << 14;  // ABI 3
inline constexpr uint64_t kIoctlDev = 1ull << 15;  // ABI 5

// Network rights (ABI 4).
inline constexpr uint64_t kBindTcp = 1ull << 0;
inline constexpr uint64_t kConnectTcp = 1ull << 1;

// Scopes (ABI 6).
inline constexpr uint64_t kScopeAbstractUnixSocket = 1ull << 0;
inline constexpr uint64_t kScopeSignal = 1ull << 1;

struct RulesetAttr {
  uint64_t handledAccessFs;
  uint64_t handledAccessNet;  // ABI 4
  uint64_t scoped;            // ABI 6
};

struct __attribute__((packed)) PathBeneathAttr {
  uint64_t allowedAccess;
  int32_t parentFd;
};

// The kernel's Landlock ABI version: 0 when it has none (too old, or
// switched off at boot), with errno telling which.
inline int Abi() {
  const long version = syscall(kCreateRulesetSyscall, nullptr, 0, kCreateRulesetVersion);
  return version < 0 ? 0 : static_cast<int>(version);
}

// The file-system rights the kernel of that ABI version knows.
inline uint64_t FsRightsOf(int abi) {
  if (abi < 1) return 0;
  uint64_t rights = (kMakeSym << 1) - 1;  // ABI 1: bits 0 to 12
  if (abi >= 2) rights |= kRefer;
  if (abi >= 3) rights |= kTruncate;
  if (abi >= 5) rights |= kIoctlDev;
  return rights;
}

}  // namespace quillo::landlock
