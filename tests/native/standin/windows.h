// The one Windows facility the portable core shares with the program, for its native build on
// Linux: the lock of the port-name slot, which must be usable without start-up code, as a
// POSIX read-write lock with its static initialiser. Never on the Windows build's include path.
#pragma once
#include <pthread.h>

using SRWLOCK = pthread_rwlock_t;
#define SRWLOCK_INIT PTHREAD_RWLOCK_INITIALIZER

inline void AcquireSRWLockExclusive(SRWLOCK* lock) { pthread_rwlock_wrlock(lock); }
inline void ReleaseSRWLockExclusive(SRWLOCK* lock) { pthread_rwlock_unlock(lock); }
inline void AcquireSRWLockShared(SRWLOCK* lock) { pthread_rwlock_rdlock(lock); }
inline void ReleaseSRWLockShared(SRWLOCK* lock) { pthread_rwlock_unlock(lock); }
