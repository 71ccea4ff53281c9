// What the portable core takes from Windows, for its native build on Linux: the lock of the
// port-name slot, which must be usable without start-up code, as a POSIX read-write lock with its
// static initialiser; and the message box styles of the failure boxes' table. Never on the
// Windows build's include path.
#pragma once
#include <pthread.h>

using SRWLOCK = pthread_rwlock_t;
#define SRWLOCK_INIT PTHREAD_RWLOCK_INITIALIZER

inline void AcquireSRWLockExclusive(SRWLOCK* lock) { pthread_rwlock_wrlock(lock); }
inline void ReleaseSRWLockExclusive(SRWLOCK* lock) { pthread_rwlock_unlock(lock); }
inline void AcquireSRWLockShared(SRWLOCK* lock) { pthread_rwlock_rdlock(lock); }
inline void ReleaseSRWLockShared(SRWLOCK* lock) { pthread_rwlock_unlock(lock); }

#define MB_OK 0x00000000U
#define MB_OKCANCEL 0x00000001U
#define MB_ICONERROR 0x00000010U
