/* Preloaded into the tool: from the Nth thread on (OST_FAIL_THREADS_FROM, default 1)
   no thread can be started, as when the system refuses clone() or has no address
   space left for a stack. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>

typedef int (*create_fn)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) {
  static int calls;
  static create_fn real;
  if (!real) real = (create_fn)dlsym(RTLD_NEXT, "pthread_create");
  const char* from = getenv("OST_FAIL_THREADS_FROM");
  if (++calls >= (from ? atoi(from) : 1)) return EAGAIN;
  return real(thread, attr, start, arg);
}
