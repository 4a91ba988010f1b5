// Clang's thread-safety attributes under short names, so that a field says
// which mutex guards it and a function says which lock it needs; the clang
// build with -Wthread-safety checks every access against them. Other
// compilers see nothing.
#pragma once

#if defined(__clang__)
#define AD_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define AD_THREAD_ATTRIBUTE(x)
#endif

#define AD_CAPABILITY(name) AD_THREAD_ATTRIBUTE(capability(name))
#define AD_SCOPED_CAPABILITY AD_THREAD_ATTRIBUTE(scoped_lockable)
#define AD_GUARDED_BY(m) AD_THREAD_ATTRIBUTE(guarded_by(m))
#define AD_PT_GUARDED_BY(m) AD_THREAD_ATTRIBUTE(pt_guarded_by(m))
#define AD_ACQUIRED_BEFORE(...) AD_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define AD_REQUIRES(...) AD_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define AD_ACQUIRE(...) AD_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define AD_RELEASE(...) AD_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define AD_TRY_ACQUIRE(...) AD_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define AD_ASSERT_CAPABILITY(x) AD_THREAD_ATTRIBUTE(assert_capability(x))
#define AD_EXCLUDES(...) AD_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define AD_RETURN_CAPABILITY(x) AD_THREAD_ATTRIBUTE(lock_returned(x))
#define AD_NO_THREAD_SAFETY_ANALYSIS AD_THREAD_ATTRIBUTE(no_thread_safety_analysis)
